"""A log file that cannot be opened or written, and storing that resumes once the cause is gone."""

import os
import re
import signal
import unittest

from quenbytest import STOP_LINE, Workspace, read_bytes, split_lines, wait_for


class LogFailureTest(unittest.TestCase):
    def test_failure_is_reported_once_and_storing_resumes(self):
        cases = [
            # (name, log directory below the workspace, make the fault, remove it, error text)
            ("missing directory", "later", lambda path: None,
             lambda path: os.mkdir(os.path.dirname(path)), "No such file or directory"),
            ("disk full", "logs", lambda path: os.symlink("/dev/full", path),
             os.unlink, "No space left on device"),
        ]
        for name, directory, make_fault, remove_fault, error in cases:
            with self.subTest(name):
                self.check_episode(directory, make_fault, remove_fault, error)

    def check_episode(self, directory, make_fault, remove_fault, error):
        ws = Workspace(self)
        log_dir = os.path.join(ws.root, directory) + "/"
        path = log_dir + "syslog.log"
        ws.configure(log_dir=log_dir)
        make_fault(path)
        d = ws.start("-d")
        d.wait_ready()

        report = re.compile(b"Unable to (?:open|write) log file " + re.escape(path.encode())
                            + b" - " + error.encode() + b"\n")
        again = f"Writing log file {path} again.\n".encode()

        # Messages are still echoed while they cannot be stored; the failure
        # is reported once, not once per message.
        d.send(b"<13>lost one")
        d.send(b"<13>lost two")
        d.wait_output(b" user.notice lost two\n")
        wait_for(lambda: report.search(d.output()), f"{report.pattern!r} ({d.describe()})")

        remove_fault(path)
        # Retries are spaced, so keep sending until one of them succeeds.
        sent = 0

        def probe():
            nonlocal sent
            d.send(b"<13>probe %03d" % sent)
            sent += 1
            return again in d.output()
        wait_for(probe, f"{again!r} on standard output ({d.describe()})")
        d.send(b"<13>final")
        wait_for(lambda: read_bytes(path).endswith(b" final\n"), f"the final record in {path}")
        self.assertEqual(d.stop(signal.SIGINT), 1, d.describe())

        out = d.output()
        self.assertEqual(len(report.findall(out)), 1, out)
        self.assertEqual(out.count(again), 1, out)
        self.assertEqual(out.count(b"log file"), 2, out)

        # The record whose write succeeded again is the first one stored;
        # everything before it is lost, everything after it stored.
        echo = [line for line in split_lines(d.since_ready())
                if not report.fullmatch(line) and line != again]
        self.assertEqual(echo[-1], STOP_LINE)
        records = echo[:-1]
        resumed_with = split_lines(out[:out.index(again)])[-1]
        first = records.index(resumed_with)
        self.assertGreaterEqual(first, 2)
        self.assertEqual(split_lines(read_bytes(path)), records[first:])
        self.assertEqual(os.listdir(log_dir), ["syslog.log"])


if __name__ == "__main__":
    unittest.main()
