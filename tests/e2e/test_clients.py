"""Real syslog clients talking to quenby: util-linux logger and Python's SysLogHandler."""

import logging
import logging.handlers
import os
import re
import shutil
import signal
import socket
import subprocess
import time
import unittest

from quenbytest import (MONTHS, TEST_TZ, TEST_TZ_OFFSET, Workspace, local_tm, split_record,
                        stamps_between, wait_lines)


def logger_stamps(t0, t1):
    """logger's RFC 3164 stamps ("%b %e %H:%M:%S") of every second from t0 to t1."""
    stamps = set()
    for s in range(int(t0), int(t1) + 1):
        tm = local_tm(s, TEST_TZ_OFFSET)
        stamps.add(f"{MONTHS[tm.tm_mon - 1]} {tm.tm_mday:2d} "
                   f"{tm.tm_hour:02d}:{tm.tm_min:02d}:{tm.tm_sec:02d}".encode())
    return stamps


def iso_stamps(t0, t1):
    """The RFC 5424 date and time, to the second, of every second from t0 to t1."""
    return {time.strftime("%Y-%m-%dT%H:%M:%S", local_tm(s, TEST_TZ_OFFSET)).encode()
            for s in range(int(t0), int(t1) + 1)}


class ClientTest(unittest.TestCase):
    def setUp(self):
        self.ws = Workspace(self)
        self.ws.configure(permit=["127.0.0.1"])
        self.daemon = self.ws.start("-f")
        self.daemon.wait_ready()
        self.log = self.ws.log_path("syslog.log")
        self.received = 0

    def tearDown(self):
        self.assertEqual(self.daemon.stop(signal.SIGTERM), 1, self.daemon.describe())

    def receive(self, send):
        """Runs send(), waits for the one record it causes; returns (line, rest, t0, t1)."""
        t0 = time.time()
        send()
        self.received += 1
        line = wait_lines(self.log, self.received)[-1]
        t1 = time.time()
        stamp, sender, rest = split_record(line)
        self.assertIn(stamp, stamps_between(t0, t1))
        self.assertEqual(sender, b"127.0.0.1")
        return line, rest, t0, t1

    def test_util_linux_logger(self):
        logger = shutil.which("logger")
        if not logger:
            self.skipTest("util-linux logger is not installed")
        short_host = socket.gethostname().split(".")[0]
        # The message after '>' still holds logger's own header: its time
        # stamp, host name and tag. Everything in it is predictable but the
        # fraction of a second and the clock-sync annotation.
        rfc5424 = re.compile(rb"1 (\S+)\.\d{6}\+05:30 (\S+) quenbytest - - "
                             rb"\[timeQuality [^\]]*\] (.*)\Z", re.S)
        cases = [
            (["--rfc3164", "-p", "auth.crit"], "root login failed",
             b"auth.crit", b"root login failed\n"),
            (["-p", "local7.debug"], "disk almost full",
             b"local7.debug", b"disk almost full\n"),
            ([], "first\nsecond", b"user.notice", b"first#012second\n"),
        ]
        for options, message, priority, tail in cases:
            with self.subTest(options=options, message=message):
                command = [logger, "-n", "127.0.0.1", "-P", str(self.ws.port), "-d",
                           "-t", "quenbytest", *options, message]
                line, rest, t0, t1 = self.receive(lambda: subprocess.run(
                    command, check=True, env=dict(os.environ, TZ=TEST_TZ)))
                self.assertTrue(rest.startswith(priority + b" "), line)
                text = rest[len(priority) + 1:]
                if "--rfc3164" in options:
                    head = f" {short_host} quenbytest: ".encode()
                    self.assertIn(text[:15], logger_stamps(t0, t1), line)
                    self.assertEqual(text[15:], head + tail)
                else:
                    m = rfc5424.match(text)
                    self.assertIsNotNone(m, line)
                    self.assertIn(m.group(1), iso_stamps(t0, t1))
                    self.assertIn(m.group(2).decode(), (socket.gethostname(), short_host))
                    self.assertEqual(m.group(3), tail)

    def test_python_syslog_handler(self):
        # SysLogHandler ends each datagram with a zero byte unless told not to.
        log = logging.getLogger("quenbytest.handler")
        log.propagate = False
        log.setLevel(logging.DEBUG)
        cases = [
            (logging.WARNING, True, "x", b"local3.warn x\n"),
            (logging.ERROR, True, "disk failure", b"local3.err disk failure\n"),
            (logging.CRITICAL, False, "meltdown", b"local3.crit meltdown\n"),
            (logging.DEBUG, True, "trace\nline", b"local3.debug trace#012line\n"),
        ]
        for level, append_nul, message, expected in cases:
            with self.subTest(level=logging.getLevelName(level), append_nul=append_nul):
                handler = logging.handlers.SysLogHandler(
                    address=("127.0.0.1", self.ws.port),
                    facility=logging.handlers.SysLogHandler.LOG_LOCAL3)
                handler.append_nul = append_nul
                log.addHandler(handler)
                try:
                    _, rest, _, _ = self.receive(lambda: log.log(level, message))
                finally:
                    log.removeHandler(handler)
                    handler.close()
                self.assertEqual(rest, expected)


if __name__ == "__main__":
    unittest.main()
