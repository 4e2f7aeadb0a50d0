"""The daemon's UDP port cannot be bound: another program holds it, or the user may not bind it."""

import os
import socket
import time
import unittest

from quenbytest import BANNER, NOBODY, SOCKET_FAILURE, Workspace, wait_for

PRIVILEGED_PORT = 514


def privileged_port_refused():
    """Why an unprivileged user could bind port 514 here, or None when it cannot."""
    if os.geteuid() != 0:
        return "needs root to run the daemon as another user"
    try:
        with open("/proc/sys/net/ipv4/ip_unprivileged_port_start") as f:
            start = int(f.read())
    except OSError as e:
        return f"cannot read the start of the unprivileged ports: {e}"
    if start <= PRIVILEGED_PORT:
        return f"every user may bind port {PRIVILEGED_PORT} here (unprivileged ports from {start})"
    return None


class PortInUseTest(unittest.TestCase):
    def test_socket_failure(self):
        # (mode, how the port is kept from the daemon, the reason printed)
        cases = [
            ("-d", "held", "Address already in use"),
            ("-f", "held", "Address already in use"),
            ("-d", "privileged", "Permission denied"),
            ("-f", "privileged", "Permission denied"),
        ]
        skip_privileged = privileged_port_refused()
        # All daemons run side by side, so their 5 s pauses overlap.
        running = []
        for mode, cause, _ in cases:
            ws = Workspace(self)
            if cause == "held":
                ws.configure()
                holder = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
                self.addCleanup(holder.close)
                holder.bind(("0.0.0.0", ws.port))
                running.append((ws, ws.start(mode)))
            elif not skip_privileged:
                ws.port = PRIVILEGED_PORT
                ws.configure()
                ws.open_to_others()
                running.append((ws, ws.start(mode, user=NOBODY)))
            else:
                running.append((ws, None))
        ended = {}

        def all_ended():
            for i, (_, d) in enumerate(running):
                if d and i not in ended and d.proc.poll() is not None:
                    ended[i] = time.monotonic()
            return len(ended) == sum(1 for _, d in running if d)
        wait_for(all_ended, "every daemon to end", timeout=20)
        for i, ((mode, cause, reason), (ws, d)) in enumerate(zip(cases, running)):
            with self.subTest(mode=mode, cause=cause):
                if d is None:
                    self.skipTest(skip_privileged)
                self.assertEqual(d.proc.returncode, 1, d.describe())
                # The daemon pauses 5 s after the message before it ends.
                self.assertGreaterEqual(ended[i] - d.started_at, 4.5)
                banner = BANNER if mode == "-d" else b""
                self.assertEqual(d.output(), banner + SOCKET_FAILURE
                                 + f"(UDP port {ws.port}: {reason})\n".encode())
                self.assertEqual(os.listdir(ws.logdir), [])


if __name__ == "__main__":
    unittest.main()
