"""Another program already holds the daemon's UDP port."""

import os
import socket
import time
import unittest

from quenbytest import BANNER, SOCKET_FAILURE, Workspace, wait_for


class PortInUseTest(unittest.TestCase):
    def test_socket_failure(self):
        # Both modes run side by side, so the two 5 s pauses overlap.
        cases = [("-d", BANNER + SOCKET_FAILURE), ("-f", SOCKET_FAILURE)]
        running = []
        for mode, _ in cases:
            ws = Workspace(self)
            ws.configure()
            holder = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            self.addCleanup(holder.close)
            holder.bind(("0.0.0.0", ws.port))
            running.append((ws, ws.start(mode)))
        ended = {}

        def all_ended():
            for i, (_, d) in enumerate(running):
                if i not in ended and d.proc.poll() is not None:
                    ended[i] = time.monotonic()
            return len(ended) == len(running)
        wait_for(all_ended, "both daemons to end", timeout=20)
        for i, ((mode, expected), (ws, d)) in enumerate(zip(cases, running)):
            with self.subTest(mode=mode):
                self.assertEqual(d.proc.returncode, 1, d.describe())
                # The daemon pauses 5 s after the message before it ends.
                self.assertGreaterEqual(ended[i] - d.started_at, 4.5)
                self.assertEqual(d.output(), expected)
                self.assertEqual(os.listdir(ws.logdir), [])


if __name__ == "__main__":
    unittest.main()
