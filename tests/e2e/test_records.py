"""From raw datagrams to record lines: decoding, line ends, escaping, size limits, bursts."""

import signal
import socket
import time
import unittest

from quenbytest import (Workspace, read_bytes, split_lines, split_record, stamps_between, wait_for,
                        wait_lines)


class RecordLineTest(unittest.TestCase):
    def setUp(self):
        self.ws = Workspace(self)
        self.ws.configure(permit=["127.0.0.1"])
        self.daemon = self.ws.start("-d")
        self.daemon.wait_ready()
        self.log = self.ws.log_path("syslog.log")

    def assertRecords(self, cases):
        """Sends each datagram from 127.0.0.1; each must give one record line
        ending in the expected "facility.severity message" bytes, in the file
        and in the console echo alike."""
        cases = cases + [(b"<13>end of cases", b"user.notice end of cases\n")]
        t0 = time.time()
        for datagram, _ in cases:
            self.daemon.send(datagram)
        lines = self.wait_last_line(cases[-1][1])
        t1 = time.time()
        self.assertEqual(len(lines), len(cases), lines)
        for (datagram, expected), line in zip(cases, lines):
            with self.subTest(datagram=datagram):
                stamp, sender, rest = split_record(line)
                self.assertIn(stamp, stamps_between(t0, t1))
                self.assertEqual(sender, b"127.0.0.1")
                self.assertEqual(rest, expected)
        self.daemon.wait_output(lines[-1])
        self.assertEqual(self.daemon.since_ready(), b"".join(lines))

    def wait_last_line(self, ending):
        """Waits until the file ends in a line ending in ending; returns all its lines."""
        def check():
            data = read_bytes(self.log)
            return data if data.endswith(ending) else None
        return split_lines(wait_for(check, f"{ending!r} at the end of {self.log}"))

    def test_priority_decoding(self):
        self.assertRecords([
            (b"<34>su: root login failed", b"auth.crit su: root login failed\n"),
            (b"hello", b"user.info hello\n"),
            (b"<13>", b"user.notice \n"),
            (b"< 7>x", b"kern.debug x\n"),
            (b"<#>x", b"kern.emerg x\n"),
            (b"<80>x", b"authpriv.emerg x\n"),
            (b"<191>x", b"local7.debug x\n"),
            (b"<192>x", b"mark.emerg x\n"),
            (b"<96>x", b"(null).emerg x\n"),
            (b"<1024>x", b"kern.emerg x\n"),
            (b"<-1>x", b"(null).debug x\n"),
            (b"<4294967309>x", b"user.notice x\n"),
            (b"ab<13>cd", b"user.notice cd\n"),
            (b"<13>a<14>b", b"user.notice a<14>b\n"),
            (b"x>y<5", b"kern.notice y<5\n"),
            (b"a<13", b"user.info a<13\n"),
        ])

    def test_line_end_and_control_characters(self):
        # Each record is exactly one line, and no control character of the
        # sender reaches the file or the operator's terminal unescaped.
        self.assertRecords([
            (b"<13>no line end", b"user.notice no line end\n"),
            (b"<13>ends in LF\n", b"user.notice ends in LF\n"),
            (b"<13>ends in CR LF\r\n", b"user.notice ends in CR LF\n"),
            (b"<13>forged\nMar 07 14:05:09 10.0.0.9 auth.crit x\x1b[2J",
             b"user.notice forged#012Mar 07 14:05:09 10.0.0.9 auth.crit x#033[2J\n"),
            (b"<13>two LF\n\n", b"user.notice two LF#012\n"),
            (b"<13>lone CR\r", b"user.notice lone CR#015\n"),
            (b"<13>CR\rinside\r\n", b"user.notice CR#015inside\n"),
            (b"<13>CR CR LF\r\r\n", b"user.notice CR CR LF#015\n"),
            (b"<13>two CR LF\r\n\r\n", b"user.notice two CR LF#015#012\n"),
            (b"<13>CR LF then LF\r\n\n", b"user.notice CR LF then LF#015#012\n"),
            (b"<13>tab\tstays, \x01\x1f\x7f do not",
             b"user.notice tab\tstays, #001#037#177 do not\n"),
            (b"<13>caf\xe9 \xff", b"user.notice caf\xe9 \xff\n"),
            (b"\n", b"user.info \n"),
        ])

    def test_c1_controls(self):
        # The 8-bit controls: CSI, OSC, ST and NEL steer a terminal as their
        # ESC forms do, raw and written as UTF-8 alike. Bytes 0x80 to 0x9F
        # inside another valid UTF-8 character, and Latin-1 letters, stay.
        self.assertRecords([
            (b"<13>\x9b31m red", b"user.notice #23331m red\n"),
            (b"<13>\x9d0;title\x9c", b"user.notice #2350;title#234\n"),
            (b"<13>\x80 and \x9f", b"user.notice #200 and #237\n"),
            (b"<13>NEL\xc2\x85x", b"user.notice NEL#302#205x\n"),
            (b"<13>\xc2\x80 and \xc2\x9f", b"user.notice #302#200 and #302#237\n"),
            (b"<13>caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80 \xc2\xa0",
             b"user.notice caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80 \xc2\xa0\n"),
            (b"<13>caf\xe9\x9b", b"user.notice caf\xe9#233\n"),
            # No valid character: a cut one, an overlong form, a surrogate.
            (b"<13>cut \xe2\x82", b"user.notice cut \xe2#202\n"),
            (b"<13>overlong \xc0\x80", b"user.notice overlong \xc0#200\n"),
            (b"<13>surrogate \xed\xa0\x80", b"user.notice surrogate \xed\xa0#200\n"),
            (b"<13>\xc2\xc2\x85", b"user.notice \xc2#302#205\n"),
        ])

    def test_text_after_zero_byte_is_ignored(self):
        self.assertRecords([
            (b"a\x00<13>b", b"user.info a\n"),
            (b"\x00<13>b", b"user.info \n"),
            (b"<156>from SysLogHandler\x00", b"local3.warn from SysLogHandler\n"),
            (b"<13>cut\r\n\x00tail", b"user.notice cut\n"),
        ])

    def test_datagram_size_limit(self):
        # 1024 bytes are kept whole, anything longer is dropped whole, an
        # empty datagram is dropped silently even from a stranger.
        longest_text = b"<13>" + b"x" * 1020
        longest_plain = b"y" * 1024
        self.daemon.send(longest_text)
        self.daemon.send(b"<13>" + b"z" * 1021)
        self.daemon.send(b"<13>" + b"w" * 8000)
        self.daemon.send(longest_plain)
        self.daemon.send(b"")
        self.daemon.send(b"", src="127.0.0.9")
        self.daemon.send(b"<13>stranger", src="127.0.0.9")
        self.daemon.send(b"<13>last")
        lines = self.wait_last_line(b" user.notice last\n")
        self.daemon.wait_output(lines[-1])
        rests = [split_record(line)[2] for line in lines]
        self.assertEqual(rests, [b"user.notice " + b"x" * 1020 + b"\n",
                                 b"user.info " + longest_plain + b"\n",
                                 b"user.notice last\n"])
        denial = b"Packet from 127.0.0.9 denied. Address not in [Permit] configuration\r\n"
        self.assertEqual(self.daemon.since_ready(), lines[0] + lines[1] + denial + lines[2])

    def test_burst_is_stored_completely_and_in_order(self):
        # More datagrams than a receive buffer of a few MiB holds: a daemon
        # that paces its loop instead of draining the queue loses some.
        count = 20000
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
            s.bind(("127.0.0.1", 0))
            for i in range(count):
                s.sendto(b"<13>burst %05d" % i, ("127.0.0.1", self.ws.port))
        lines = wait_lines(self.log, count, timeout=30)
        self.assertEqual(len(lines), count)
        for i, line in enumerate(lines):
            if not line.endswith(b" user.notice burst %05d\n" % i):
                self.fail(f"line {i} is {line!r}")
        self.assertEqual(self.daemon.stop(signal.SIGINT), 1, self.daemon.describe())


if __name__ == "__main__":
    unittest.main()
