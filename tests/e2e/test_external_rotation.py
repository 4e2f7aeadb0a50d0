"""Log files rotated by other programs while records keep coming (RotateLogs=0): the daemon
notices that the path no longer names its file and goes on in a new file at the path."""

import os
import re
import shutil
import signal
import socket
import threading
import unittest

from quenbytest import (STOP_LINE, Workspace, read_bytes, split_lines, split_record, wait_for,
                        wait_lines)

SEQUENCE = re.compile(rb"user\.notice seq (\d{6})\n")


class Sender(threading.Thread):
    """Sends numbered datagrams, one every 2 ms or so, until stopped."""

    def __init__(self, port):
        super().__init__(daemon=True)
        self.port = port
        self.count = 0
        self.done = threading.Event()

    def run(self):
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
            s.bind(("127.0.0.1", 0))
            while not self.done.is_set():
                s.sendto(b"<13>seq %06d" % self.count, ("127.0.0.1", self.port))
                self.count += 1
                self.done.wait(0.002)

    def finish(self):
        self.done.set()
        self.join()
        return self.count


def reopening(path):
    return f"Reopening log file {path}.\n"


def unable(path, error):
    return f"Unable to open log file {path} - {error}\n"


def again(path):
    return f"Writing log file {path} again.\n"


def open_old(test, path):
    """Keeps the file open, to read what went into it once its name is gone."""
    old = open(path, "rb")
    test.addCleanup(old.close)
    return old.read


# Each rotation works on the running daemon d and returns a function that reads the former
# file at the end.

def renamed(test, d, path):
    os.rename(path, path + ".1")
    d.wait_output(reopening(path).encode())
    return lambda: read_bytes(path + ".1")


def deleted(test, d, path):
    old = open_old(test, path)
    os.unlink(path)
    d.wait_output(reopening(path).encode())
    return old


def directory_recreated(test, d, path):
    old = open_old(test, path)
    log_dir = os.path.dirname(path)
    # Moved away first, so that the directory is gone at once and for good.
    os.rename(log_dir, log_dir + ".removed")
    shutil.rmtree(log_dir + ".removed")
    d.wait_output(unable(path, "No such file or directory").encode())
    os.mkdir(log_dir)
    d.wait_output(again(path).encode())
    return old


def replaced_by_link(test, d, path):
    target = os.path.join(d.ws.root, "elsewhere.log")
    with open(target, "wb") as f:
        f.write(b"not a log file\n")
    old = open_old(test, path)
    # The link takes the file's place in one step.
    os.symlink(target, path + ".link")
    os.rename(path + ".link", path)
    d.wait_output(unable(path, "Too many levels of symbolic links").encode())
    os.unlink(path)
    d.wait_output(again(path).encode())
    test.assertEqual(read_bytes(target), b"not a log file\n")
    return old


def copied_and_truncated(test, d, path):
    # What logrotate's copytruncate does. Records that come between the copy and the
    # truncation are lost.
    shutil.copyfile(path, path + ".1")
    os.truncate(path, 0)
    return lambda: read_bytes(path + ".1")


class ExternalRotationTest(unittest.TestCase):
    def test_rotation_while_records_flow(self):
        # (rotation, the daemon's reports, whether every record is stored)
        cases = [
            (renamed, lambda p: [reopening(p)], True),
            (deleted, lambda p: [reopening(p)], True),
            (directory_recreated,
             lambda p: [reopening(p), unable(p, "No such file or directory"), again(p)], False),
            (replaced_by_link,
             lambda p: [reopening(p), unable(p, "Too many levels of symbolic links"), again(p)],
             False),
            (copied_and_truncated, lambda p: [], False),
        ]
        for rotate, reports, lossless in cases:
            with self.subTest(rotate.__name__):
                self.check_rotation(rotate, reports, lossless)

    def numbers(self, data, where):
        """The sequence numbers of the record lines in data; every line must be a whole record."""
        found = []
        for line in split_lines(data):
            _, _, rest = split_record(line)
            m = SEQUENCE.fullmatch(rest)
            self.assertIsNotNone(m, f"{line!r} in {where}")
            found.append(int(m.group(1)))
        return found

    def check_rotation(self, rotate, reports, lossless):
        ws = Workspace(self)
        ws.configure()
        path = ws.log_path("syslog.log")
        d = ws.start("-d")
        d.wait_ready()
        sender = Sender(ws.port)
        sender.start()
        self.addCleanup(sender.finish)

        wait_lines(path, 50)
        read_old = rotate(self, d, path)
        wait_lines(path, 50)
        count = sender.finish()
        last = b" user.notice seq %06d\n" % (count - 1)
        wait_for(lambda: read_bytes(path).endswith(last), f"{last!r} at the end of {path}")
        d.wait_output(last)
        self.assertEqual(d.stop(signal.SIGINT), 1, d.describe())

        # The former file holds the first records, the new one the last,
        # and no record is in both.
        old = self.numbers(read_old(), "the former file")
        new = self.numbers(read_bytes(path), path)
        self.assertEqual(old, list(range(len(old))))
        self.assertEqual(new, list(range(count - len(new), count)))
        if lossless:
            self.assertEqual(len(old) + len(new), count)
        else:
            self.assertLessEqual(len(old) + len(new), count)

        # The console shows every record, and the reports each once, in order.
        lines = split_lines(d.since_ready())
        self.assertEqual(lines.pop(), STOP_LINE)
        shown = [line for line in lines if SEQUENCE.search(line)]
        self.assertEqual(self.numbers(b"".join(shown), "the echo"), list(range(count)))
        self.assertEqual([line for line in lines if line not in shown],
                         [r.encode() for r in reports(path)])


if __name__ == "__main__":
    unittest.main()
