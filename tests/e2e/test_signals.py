"""How quenby reacts to signals in console mode (-d) and background mode (-f)."""

import signal
import unittest

from quenbytest import BANNER, STOP_LINE, Workspace, config_echo, split_lines, wait_lines


class SignalTest(unittest.TestCase):
    def test_stop_and_default_signals(self):
        # (mode, signal, exit code, what follows the record line on stdout)
        # Exit code 1 is this program's success; a negative code is death by
        # that signal.
        cases = [
            ("-d", signal.SIGINT, 1, STOP_LINE),
            ("-d", signal.SIGQUIT, 1, STOP_LINE),
            ("-d", signal.SIGHUP, -signal.SIGHUP, b""),
            ("-f", signal.SIGTERM, 1, b""),
            ("-f", signal.SIGINT, -signal.SIGINT, b""),
        ]
        # Start every daemon first and signal them all together, so that the
        # stops overlap instead of adding up.
        running = []
        for mode, sig, _, _ in cases:
            ws = Workspace(self)
            ws.configure()
            d = ws.start(mode)
            d.wait_ready()
            d.send(f"<13>before {sig.name}".encode())
            (line,) = wait_lines(ws.log_path("syslog.log"), 1)
            # The echo is written apart from the file; a signal that ends the
            # process at once must find it written.
            d.wait_output(line)
            running.append(d)
        for d, (_, sig, _, _) in zip(running, cases):
            d.proc.send_signal(sig)
        for d, (mode, sig, code, tail) in zip(running, cases):
            with self.subTest(mode=mode, signal=sig.name):
                self.assertEqual(d.wait(), code, d.describe())
                banner = BANNER if mode == "-d" else b""
                self.assertEqual(d.header, banner + config_echo(d.ws))
                lines = split_lines(d.since_ready())
                self.assertEqual(len(lines), 1 + bool(tail), lines)
                self.assertTrue(lines[0].endswith(f"user.notice before {sig.name}\n".encode()),
                                lines)
                self.assertEqual(b"".join(lines[1:]), tail)

    def test_background_mode_ignores_hangup(self):
        # The user logging off must not end the background daemon.
        ws = Workspace(self)
        ws.configure()
        d = ws.start("-f")
        d.wait_ready()
        d.proc.send_signal(signal.SIGHUP)
        d.send(b"<13>still here")
        (line,) = wait_lines(ws.log_path("syslog.log"), 1)
        self.assertTrue(line.endswith(b" user.notice still here\n"), line)
        # Background mode flushes its echo per record, not at exit.
        d.wait_output(line)
        self.assertIsNone(d.proc.poll(), d.describe())
        self.assertEqual(d.stop(signal.SIGTERM), 1, d.describe())
        self.assertEqual(d.since_ready(), line)


if __name__ == "__main__":
    unittest.main()
