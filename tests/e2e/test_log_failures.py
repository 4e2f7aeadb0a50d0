"""A log file that cannot be opened or written (its directory missing, the disk full, a link or a
FIFO planted at its path), and storing that resumes once the cause is gone."""

import errno
import os
import signal
import subprocess
import unittest

from quenbytest import STOP_LINE, Workspace, read_bytes, split_lines, wait_for

PAGE = os.sysconf("SC_PAGESIZE")


class Fault:
    """Something in the way of the log file at path, made before the daemon starts."""
    directory = "logs"
    verb = "open"
    # What the file holds before the daemon's first record.
    earlier = b""

    def __init__(self, test, ws, path):
        self.test, self.ws, self.path = test, ws, path

    def make(self):
        pass

    def remove(self):
        os.unlink(self.path)

    def check_untouched(self):
        pass


class MissingDirectory(Fault):
    directory = "later"
    error = "No such file or directory"

    def remove(self):
        os.mkdir(os.path.dirname(self.path))


class FullDisk(Fault):
    """A file system of four pages: the log file has earlier lines that leave 6 bytes of its
    page free, a filler takes the rest, so the first record is written in part only."""
    verb = "write"
    error = "No space left on device"
    earlier = (b"e" * 63 + b"\n") * (PAGE // 64 - 1) + b"e" * 57 + b"\n"

    def make(self):
        if os.geteuid() != 0:
            self.test.skipTest("needs root to mount a small tmpfs")
        log_dir = os.path.dirname(self.path)
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={4 * PAGE}", "tmpfs",
                                  log_dir], capture_output=True)
        if mounted.returncode != 0:
            self.test.skipTest(f"cannot mount a tmpfs: {mounted.stderr!r}")
        # Registered before the daemon starts, so it runs after the daemon has ended.
        self.test.addCleanup(subprocess.run, ["umount", log_dir], check=True)
        with open(self.path, "wb") as f:
            f.write(self.earlier)
        self.filler = os.path.join(log_dir, "filler")
        with open(self.filler, "wb", buffering=0) as f:
            with self.test.assertRaises(OSError) as full:
                while True:
                    f.write(b"f" * 1024)
        self.test.assertEqual(full.exception.errno, errno.ENOSPC)

    def remove(self):
        os.unlink(self.filler)


class LinkToFile(Fault):
    error = "Too many levels of symbolic links"

    def make(self):
        self.target = os.path.join(self.ws.root, "elsewhere.log")
        with open(self.target, "wb") as f:
            f.write(b"not a log file\n")
        os.symlink(self.target, self.path)

    def check_untouched(self):
        self.test.assertEqual(read_bytes(self.target), b"not a log file\n")


class DanglingLink(Fault):
    error = "Too many levels of symbolic links"

    def make(self):
        self.target = os.path.join(self.ws.root, "nowhere.log")
        os.symlink(self.target, self.path)

    def check_untouched(self):
        self.test.assertFalse(os.path.lexists(self.target))


class HardLink(Fault):
    error = "Too many links"

    def make(self):
        self.other = os.path.join(self.ws.root, "other.log")
        with open(self.other, "wb") as f:
            f.write(b"another file\n")
        os.link(self.other, self.path)

    def check_untouched(self):
        self.test.assertEqual(read_bytes(self.other), b"another file\n")


class Fifo(Fault):
    # Opening a FIFO for writing blocks until a reader comes, unless it is opened non-blocking.
    error = "Not a regular file"

    def make(self):
        os.mkfifo(self.path)


class LogFailureTest(unittest.TestCase):
    def test_failure_is_reported_once_and_storing_resumes(self):
        for fault in (MissingDirectory, FullDisk, LinkToFile, DanglingLink, HardLink, Fifo):
            with self.subTest(fault.__name__):
                self.check_episode(fault)

    def check_episode(self, fault_class):
        ws = Workspace(self)
        log_dir = os.path.join(ws.root, fault_class.directory) + "/"
        path = log_dir + "syslog.log"
        ws.configure(log_dir=log_dir)
        fault = fault_class(self, ws, path)
        fault.make()
        d = ws.start("-d")
        d.wait_ready()

        report = (f"Unable to {fault.verb} log file {path} - {fault.error}\n").encode()
        again = f"Writing log file {path} again.\n".encode()

        # Messages are still echoed while they cannot be stored; the failure
        # is reported once, not once per message.
        d.send(b"<13>lost one")
        d.send(b"<13>lost two")
        d.wait_output(b" user.notice lost two\n")
        d.wait_output(report)

        fault.remove()
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
        self.assertEqual(out.count(report), 1, out)
        self.assertEqual(out.count(again), 1, out)
        self.assertEqual(out.count(b"log file"), 2, out)

        # The record whose write succeeded again is the first one stored;
        # everything before it is lost, everything after it stored, and no
        # part of a lost record is left in the file.
        echo = [line for line in split_lines(d.since_ready()) if line not in (report, again)]
        self.assertEqual(echo[-1], STOP_LINE)
        records = echo[:-1]
        resumed_with = split_lines(out[:out.index(again)])[-1]
        first = records.index(resumed_with)
        self.assertGreaterEqual(first, 2)
        self.assertEqual(read_bytes(path), fault.earlier + b"".join(records[first:]))
        self.assertEqual(os.listdir(log_dir), ["syslog.log"])
        fault.check_untouched()


if __name__ == "__main__":
    unittest.main()
