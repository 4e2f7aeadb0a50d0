"""Daily rotation of the log files across a local midnight, with the clock moved by faketime."""

import glob
import os
import signal
import unittest

from quenbytest import (STOP_LINE, Workspace, read_bytes, split_lines, split_record, wait_for,
                        wait_lines)

# The daemon's clock starts here and runs on at the normal rate.
FAKE_START = "@2026-03-07 23:59:57"


class RotationTest(unittest.TestCase):
    def setUp(self):
        # The library is preloaded directly rather than through the faketime
        # command, which would stand between the test and the daemon's signals.
        found = glob.glob("/usr/lib/*/faketime/libfaketime.so.1") + glob.glob(
            "/usr/lib/faketime/libfaketime.so.1")
        if not found:
            self.skipTest("libfaketime (Debian package faketime) is not installed")
        # A sanitizer build insists on being first in the library list.
        asan = os.environ.get("ASAN_OPTIONS", "")
        self.fake_clock = {"TZ": "UTC", "LD_PRELOAD": found[0], "FAKETIME": FAKE_START,
                           "ASAN_OPTIONS": asan + ":verify_asan_link_order=0" if asan
                           else "verify_asan_link_order=0"}

    def test_rotation_across_midnight(self):
        cases = [
            dict(log_type=1, permit=["127.0.0.1"], files=["syslog.log"]),
            dict(log_type=2, permit=["127.0.0.1", "127.0.0.2"],
                 files=["127.0.0.1.log", "127.0.0.2.log"]),
        ]
        for case in cases:
            with self.subTest(log_type=case["log_type"]):
                self.check_rotation(**case)

    def check_rotation(self, log_type, permit, files):
        ws = Workspace(self)
        ws.configure(log_type=log_type, rotate=1, permit=permit)
        d = ws.start("-d", env=self.fake_clock)
        d.wait_ready()
        old = ["03-07-2026." + name for name in files]
        new = ["03-08-2026." + name for name in files]
        # The whole set is opened at start, before any message.
        wait_for(lambda: sorted(os.listdir(ws.logdir)) == sorted(old),
                 f"{old} in {ws.logdir}, found {os.listdir(ws.logdir)}")
        old_log, new_log = ws.log_path(old[0]), ws.log_path(new[0])

        d.send(b"<13>before midnight")
        (line,) = wait_lines(old_log, 1)
        stamp, _, rest = split_record(line)
        self.assertTrue(stamp.startswith(b"Mar 07 23:59:5"), line)
        self.assertEqual(rest, b"user.notice before midnight\n")

        # Tick until the first record of the new day shows up in its file.
        ticks = 0

        def tick():
            nonlocal ticks
            d.send(b"<13>tick %03d" % ticks)
            ticks += 1
            return read_bytes(new_log)
        wait_for(tick, f"a record in {new_log}", timeout=15)
        d.send(b"<13>after midnight")
        wait_for(lambda: read_bytes(new_log).endswith(b" after midnight\n"),
                 f"the last record in {new_log}")
        self.assertEqual(d.stop(signal.SIGINT), 1, d.describe())

        self.assertEqual(sorted(os.listdir(ws.logdir)), sorted(old + new))
        for name in old[1:] + new[1:]:
            self.assertEqual(os.path.getsize(ws.log_path(name)), 0, name)
        old_lines = split_lines(read_bytes(old_log))
        new_lines = split_lines(read_bytes(new_log))
        texts = [split_record(line)[2] for line in old_lines + new_lines]
        self.assertEqual(texts, [b"user.notice before midnight\n"]
                         + [b"user.notice tick %03d\n" % i for i in range(ticks)]
                         + [b"user.notice after midnight\n"])
        for line in old_lines:
            self.assertTrue(line.startswith(b"Mar 07 23:59:"), line)
        # A record stamped in the very last instant of the day may open the
        # new day's file; every later one carries the new date.
        self.assertTrue(new_lines[0].startswith((b"Mar 07 23:59:59 ", b"Mar 08 00:00:")),
                        new_lines[0])
        for line in new_lines[1:]:
            self.assertTrue(line.startswith(b"Mar 08 00:00:"), line)
        # The echo on the console holds the same records, in the same order.
        self.assertEqual(d.since_ready(), b"".join(old_lines + new_lines) + STOP_LINE)


if __name__ == "__main__":
    unittest.main()
