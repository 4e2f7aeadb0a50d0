"""Events that quenby sends to the systemd journal.

No journald runs on the build machines, so the test stands in for it: it
binds the journal's datagram socket itself and reads what arrives there. It
needs root for /run and must not get in the way of a real journald.
"""

import os
import signal
import socket
import struct
import threading
import unittest

from quenbytest import SOCKET_FAILURE, Workspace, wait_for

JOURNAL_DIR = "/run/systemd/journal"
JOURNAL_SOCKET = JOURNAL_DIR + "/socket"


def parse_journal_entry(data):
    """Decodes the native journal protocol: FIELD=value lines, or for a value
    holding a newline, FIELD, a newline, a 64-bit little-endian length, the
    value and a newline."""
    fields = {}
    i = 0
    while i < len(data):
        end = data.index(b"\n", i)
        line = data[i:end]
        if b"=" in line:
            name, value = line.split(b"=", 1)
            i = end + 1
        else:
            name = line
            (size,) = struct.unpack("<Q", data[end + 1:end + 9])
            value = data[end + 9:end + 9 + size]
            if data[end + 9 + size:end + 10 + size] != b"\n":
                raise ValueError(f"binary field {name!r} not ended by a newline")
            i = end + 10 + size
        fields[name.decode()] = value
    return fields


class FakeJournal:
    """Collects every entry sent to the journal socket, with the sender's pid."""

    def __init__(self, test):
        self.entries = []
        self.closing = False
        self.syncs = 0
        made = []
        for path in ("/run/systemd", JOURNAL_DIR):
            if not os.path.isdir(path):
                os.mkdir(path)
                made.append(path)
        for path in made:
            test.addCleanup(os.rmdir, path)
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_PASSCRED, 1)
        self.sock.bind(JOURNAL_SOCKET)
        self.sock.settimeout(0.1)
        test.addCleanup(os.unlink, JOURNAL_SOCKET)
        test.addCleanup(self.close)
        # Daemons of other tests may write here meanwhile; the queue is
        # drained all the time so that none of them blocks on it.
        self.thread = threading.Thread(target=self._collect, daemon=True)
        self.thread.start()

    def _collect(self):
        while not self.closing:
            try:
                data, ancillary, _, _ = self.sock.recvmsg(1 << 20, socket.CMSG_SPACE(12))
            except socket.timeout:
                continue
            pid = None
            for level, kind, payload in ancillary:
                if level == socket.SOL_SOCKET and kind == socket.SCM_CREDENTIALS:
                    pid = struct.unpack("iII", payload[:12])[0]
            self.entries.append((pid, data))

    def close(self):
        self.closing = True
        self.thread.join(5)
        self.sock.close()

    def sync(self):
        """Returns once everything sent to the socket before the call has been collected."""
        self.syncs += 1
        marker = b"QUENBYTEST_SYNC=%d\n" % self.syncs
        with socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM) as s:
            s.sendto(marker, JOURNAL_SOCKET)
        wait_for(lambda: any(data == marker for _, data in list(self.entries)), "a sync marker")

    def entries_of(self, pid):
        return [parse_journal_entry(data) for sender, data in list(self.entries) if sender == pid]


class JournalTest(unittest.TestCase):
    def test_events(self):
        if os.geteuid() != 0:
            self.skipTest("standing in for journald needs root")
        if os.path.exists(JOURNAL_SOCKET):
            self.skipTest("a journal socket exists already; not taking its place")
        journal = FakeJournal(self)

        for mode in ("-d", "-f"):
            with self.subTest("start event", mode=mode):
                ws = Workspace(self)
                ws.configure()
                d = ws.start(mode)
                d.wait_ready()
                (entry,) = wait_for(lambda: journal.entries_of(d.proc.pid),
                                    f"the start event of quenby {mode}")
                self.assertEqual(entry["MESSAGE"], b"Nolvane Syslog Server started")
                self.assertEqual(entry["PRIORITY"], b"6")
                self.assertEqual(entry["SYSLOG_IDENTIFIER"], b"Quenby")
                self.assertEqual(entry["EVENT_ID"], b"0x40000000")
                stop = signal.SIGINT if mode == "-d" else signal.SIGTERM
                self.assertEqual(d.stop(stop), 1, d.describe())
                journal.sync()
                self.assertEqual(len(journal.entries_of(d.proc.pid)), 1)

        with self.subTest("not started by the service manager"):
            ws = Workspace(self)
            ws.configure()
            d = ws.start()
            self.assertEqual(d.wait(), 0, d.describe())
            (entry,) = wait_for(lambda: journal.entries_of(d.proc.pid),
                                "the error event of quenby without options")
            self.assertEqual(entry["PRIORITY"], b"3")
            self.assertEqual(entry["SYSLOG_IDENTIFIER"], b"Quenby")
            self.assertNotEqual(entry["MESSAGE"], b"")

        with self.subTest("socket failure in console mode is only printed"):
            ws = Workspace(self)
            ws.configure()
            holder = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            self.addCleanup(holder.close)
            holder.bind(("0.0.0.0", ws.port))
            d = ws.start("-d")
            self.assertEqual(d.wait(timeout=15), 1, d.describe())
            self.assertIn(SOCKET_FAILURE, d.output())
            journal.sync()
            self.assertEqual(journal.entries_of(d.proc.pid), [])


if __name__ == "__main__":
    unittest.main()
