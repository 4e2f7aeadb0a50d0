"""The permit list and the choice of file with one log file per sender (LogType=2)."""

import os
import signal
import time
import unittest

from quenbytest import (STOP_LINE, Workspace, read_bytes, split_lines, split_record,
                        stamps_between, wait_for)


def denial(address):
    return b"Packet from " + address + b" denied. Address not in [Permit] configuration\r\n"


class PermitTest(unittest.TestCase):
    def test_file_per_sender(self):
        ws = Workspace(self)
        # 127.0.0.12 is listed before 127.0.0.1 and contains it; the log
        # directory's name contains 127.0.0.3. Neither may steer a message
        # into another sender's file. "127.0.0.4 " with its trailing blank
        # gets a file but never matches a sender.
        log_dir = os.path.join(ws.root, "relay-127.0.0.3") + "/"
        os.mkdir(log_dir)
        ws.configure(log_type=2, log_dir=log_dir,
                     permit=["127.0.0.12", "# core switches", "127.0.0.1", "", "127.0.0.3",
                             "127.0.0.4 "])
        d = ws.start("-d")
        d.wait_ready()
        names = ["127.0.0.12.log", "127.0.0.1.log", "127.0.0.3.log", "127.0.0.4 .log"]
        # All files exist, empty, before the first message.
        wait_for(lambda: sorted(os.listdir(log_dir)) == sorted(names), f"{names} in {log_dir}")
        for name in names:
            self.assertEqual(os.path.getsize(log_dir + name), 0, name)

        traffic = [
            (b"127.0.0.1", b"from one"),
            (b"127.0.0.12", b"from twelve"),
            (b"127.0.0.13", b"from thirteen"),
            (b"127.0.0.3", b"from three"),
            (b"127.0.0.4", b"from four"),
            (b"127.0.0.2", b"from two"),
            (b"127.0.0.1", b"one again"),
        ]
        t0 = time.time()
        for sender, text in traffic:
            d.send(b"<13>" + text, src=sender.decode())
        d.wait_output(b" one again\n")
        t1 = time.time()
        self.assertEqual(d.stop(signal.SIGINT), 1, d.describe())

        accepted = {b"127.0.0.1", b"127.0.0.12", b"127.0.0.3"}
        echo = split_lines(d.since_ready())
        self.assertEqual(len(echo), len(traffic) + 1, echo)
        self.assertEqual(echo[-1], STOP_LINE)
        for (sender, text), line in zip(traffic, echo):
            with self.subTest(sender=sender, text=text):
                if sender in accepted:
                    stamp, addr, rest = split_record(line)
                    self.assertIn(stamp, stamps_between(t0, t1))
                    self.assertEqual((addr, rest), (sender, b"user.notice " + text + b"\n"))
                else:
                    self.assertEqual(line, denial(sender))

        expected_files = {
            "127.0.0.1.log": [echo[0], echo[6]],
            "127.0.0.12.log": [echo[1]],
            "127.0.0.3.log": [echo[3]],
            "127.0.0.4 .log": [],
        }
        for name, lines in expected_files.items():
            with self.subTest(file=name):
                self.assertEqual(split_lines(read_bytes(log_dir + name)), lines)
        self.assertEqual(sorted(os.listdir(log_dir)), sorted(names))


if __name__ == "__main__":
    unittest.main()
