"""A Quenby.ini that is there but cannot be read stops the start: its defaults would accept
every sender."""

import os
import time
import unittest

from quenbytest import BANNER, NO_PERMIT_WARNING, NOBODY, Workspace


def no_read_permission(test, ws):
    """A configuration file of root's that only root may read, and the daemon run as nobody."""
    if os.geteuid() != 0:
        test.skipTest("needs root to run the daemon as a user that may not read the file")
    ws.configure()
    os.chmod(ws.ini_path, 0o600)
    ws.open_to_others()
    return NOBODY


def directory(test, ws):
    os.mkdir(ws.ini_path)
    return None


def fifo(test, ws):
    # Reading it would wait for a writer that never comes.
    os.mkfifo(ws.ini_path)
    return None


def dangling_link(test, ws):
    # It names a file elsewhere (an unmounted file system, say) that is not there.
    os.symlink(os.path.join(ws.root, "elsewhere", "Quenby.ini"), ws.ini_path)
    return None


def expected(mode, ws, error):
    # The configuration is still loaded, so its warning comes first.
    banner = BANNER if mode == "-d" else b""
    return (NO_PERMIT_WARNING + banner + b"Unable to read configuration file "
            + ws.ini_path.encode() + b" - " + error.encode() + b"\n")


def open_sockets(proc):
    fds = f"/proc/{proc.pid}/fd"
    links = [os.readlink(os.path.join(fds, fd)) for fd in os.listdir(fds)]
    return [link for link in links if link.startswith("socket:")]


class UnreadableConfigTest(unittest.TestCase):
    def test_start_fails(self):
        # (mode, make the file unreadable, the system's text)
        cases = [
            ("-d", no_read_permission, "Permission denied"),
            ("-f", no_read_permission, "Permission denied"),
            ("-d", directory, "Is a directory"),
            ("-f", directory, "Is a directory"),
            ("-d", fifo, "Not a regular file"),
            ("-f", dangling_link, "No such file or directory"),
        ]
        # All daemons run side by side, so their 5 s pauses overlap. Started
        # on the defaults, a daemon would bind port 514 and store its records
        # in $TMPDIR.
        running = []
        for mode, make_unreadable, _ in cases:
            ws = Workspace(self)
            try:
                user = make_unreadable(self, ws)
            except unittest.SkipTest as skipped:
                running.append((ws, skipped))
                continue
            env = {"TMPDIR": ws.logdir.rstrip("/")}
            running.append((ws, ws.start(mode, env=env, user=user)))

        # While the daemons pause, before any of them ends: no socket is open.
        for (mode, make_unreadable, error), (ws, d) in zip(cases, running):
            with self.subTest(mode=mode, cause=make_unreadable.__name__, phase="pause"):
                if isinstance(d, unittest.SkipTest):
                    raise d
                d.wait_output(expected(mode, ws, error))
                self.assertEqual(open_sockets(d.proc), [])
                self.assertIsNone(d.proc.poll(), d.describe())
        for (mode, make_unreadable, error), (ws, d) in zip(cases, running):
            with self.subTest(mode=mode, cause=make_unreadable.__name__, phase="end"):
                if isinstance(d, unittest.SkipTest):
                    raise d
                self.assertEqual(d.wait(timeout=20), 1, d.describe())
                self.assertGreaterEqual(time.monotonic() - d.started_at, 4.5)
                self.assertEqual(d.output(), expected(mode, ws, error))
                self.assertEqual(os.listdir(ws.logdir), [])


if __name__ == "__main__":
    unittest.main()
