"""A console that does not read: the echo drops whole lines and says how many, while receiving
and storing go on at full speed."""

import re
import signal
import socket
import unittest

from quenbytest import Workspace, config_echo, split_lines, split_record, wait_lines

NOTICE = re.compile(rb"\.\.\. (\d+) lines not shown\.\n")
COUNT = 30000
CHUNK = 1000
# About 190 bytes a line: the records' echo is well past the 4 MiB buffer and the pipe's own.
PADDING = b"p" * 130


class SlowConsoleTest(unittest.TestCase):
    def test_unread_console_drops_echo_lines_only(self):
        ws = Workspace(self)
        ws.configure()
        log = ws.log_path("syslog.log")
        d = ws.start("-f", pipe=True)
        self.assertEqual(d.wait_ready(), config_echo(ws))

        # Nobody reads the pipe from here on. Paced bursts, each stored whole
        # before the next is sent: a daemon that waits for its console stops
        # storing once the pipe is full.
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
            s.bind(("127.0.0.1", 0))
            for start in range(0, COUNT, CHUNK):
                for i in range(start, start + CHUNK):
                    s.sendto(b"<13>slow %05d %s" % (i, PADDING), ("127.0.0.1", ws.port))
                wait_lines(log, start + CHUNK)

        # The console reads again: it first learns what it missed, then
        # sees the newest record.
        d.wait_output(b" lines not shown.\n")
        d.send(b"<13>console reads again")
        records = wait_lines(log, COUNT + 1)
        d.wait_output(records[-1])
        self.assertEqual(d.stop(signal.SIGTERM), 1, d.describe())

        self.assertEqual(len(records), COUNT + 1)
        for i, line in enumerate(records[:-1]):
            if split_record(line)[2] != b"user.notice slow %05d %s\n" % (i, PADDING):
                self.fail(f"line {i} of {log} is {line!r}")

        # Every line on the console is a whole record line of the file, in
        # the file's order, or a notice that counts the records left out
        # since the previous one shown.
        where = {line: i for i, line in enumerate(records)}
        at = 0
        missed = 0
        dropped = 0
        for line in split_lines(d.since_ready()):
            notice = NOTICE.fullmatch(line)
            if notice:
                missed += int(notice.group(1))
                continue
            shown = where.get(line, -1)
            self.assertGreaterEqual(shown, at, f"{line!r} is no record of the file after "
                                               f"line {at}")
            self.assertEqual(shown - at, missed, f"before {line!r}")
            dropped += missed
            at, missed = shown + 1, 0
        self.assertEqual((at, missed), (len(records), 0))
        self.assertGreater(dropped, 0)


if __name__ == "__main__":
    unittest.main()
