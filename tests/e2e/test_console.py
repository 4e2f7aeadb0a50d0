"""Console texts, configuration echo and the command line of quenby."""

import os
import re
import signal
import time
import unittest

from quenbytest import (BANNER, NO_PERMIT_WARNING, STOP_LINE, TEST_TZ_OFFSET, Workspace,
                        config_echo, local_tm, split_lines, split_record, stamps_between,
                        wait_lines)

SCM_FAILURE = re.compile(rb"OpenSCManager failed - [^\r\n]+\n")


class ConsoleTextTest(unittest.TestCase):
    def test_console_session_byte_for_byte(self):
        # The file is saved with CR LF line ends and has a comment and an
        # empty line in its permit list: the entries must come out clean.
        cases = [
            dict(name="one file per sender", log_type=2, rotate=0),
            dict(name="single file rotated daily", log_type=1, rotate=1),
        ]
        for case in cases:
            with self.subTest(case["name"]):
                ws = Workspace(self)
                ws.configure(log_type=case["log_type"], rotate=case["rotate"], newline="\r\n",
                             permit=["# lab routers", "", "127.0.0.1", "127.0.0.3"])
                day_before = local_tm(time.time(), TEST_TZ_OFFSET)
                d = ws.start("-d")
                header = d.wait_ready()
                self.assertEqual(header, BANNER + config_echo(
                    ws, rotate=bool(case["rotate"]), by_address=case["log_type"] == 2))

                d.send(b"<34>not for you", src="127.0.0.2")
                d.wait_output(b"denied")
                t0 = time.time()
                d.send(b"<34>su: root login failed", src="127.0.0.3")
                d.wait_output(b"su: root login failed\n")
                d.send(b"<13>100% %s%n%d done", src="127.0.0.1")
                d.wait_output(b"done\n")
                t1 = time.time()
                self.assertEqual(d.stop(signal.SIGINT), 1, d.describe())

                lines = split_lines(d.since_ready())
                self.assertEqual(len(lines), 4, lines)
                self.assertEqual(lines[0], b"Packet from 127.0.0.2 denied. "
                                           b"Address not in [Permit] configuration\r\n")
                records = [(lines[1], b"127.0.0.3", b"auth.crit su: root login failed\n"),
                           (lines[2], b"127.0.0.1", b"user.notice 100% %s%n%d done\n")]
                for line, sender, rest in records:
                    stamp, addr, text = split_record(line)
                    self.assertIn(stamp, stamps_between(t0, t1))
                    self.assertEqual((addr, text), (sender, rest))
                self.assertEqual(lines[3], STOP_LINE)

                # The echo and the files carry the same bytes.
                if case["log_type"] == 2:
                    self.assertEqual(sorted(os.listdir(ws.logdir)),
                                     ["127.0.0.1.log", "127.0.0.3.log"])
                    self.assertEqual(wait_lines(ws.log_path("127.0.0.3.log"), 1), [lines[1]])
                    self.assertEqual(wait_lines(ws.log_path("127.0.0.1.log"), 1), [lines[2]])
                else:
                    day_after = local_tm(time.time(), TEST_TZ_OFFSET)
                    names = {time.strftime("%m-%d-%Y.syslog.log", tm)
                             for tm in (day_before, day_after)}
                    (name,) = os.listdir(ws.logdir)
                    self.assertIn(name, names)
                    self.assertEqual(wait_lines(ws.log_path(name), 2), lines[1:3])

    def test_defaults_without_permit_list(self):
        # No [Permit] section: every sender is accepted, LogType=2 falls back
        # to one file, and the log directory defaults to $TMPDIR plus a slash.
        ws = Workspace(self)
        tmpdir = os.path.join(ws.root, "tmp")
        os.mkdir(tmpdir)
        ws.write_ini(["[Syslog]", "LogType=2", f"Port={ws.port}"])
        d = ws.start("-d", env={"TMPDIR": tmpdir})
        header = d.wait_ready()
        self.assertEqual(header, NO_PERMIT_WARNING + BANNER
                         + config_echo(ws, log_dir=tmpdir + "/", permit=[]))
        t0 = time.time()
        d.send(b"<13>anyone may talk", src="127.0.0.5")
        (line,) = wait_lines(os.path.join(tmpdir, "syslog.log"), 1)
        t1 = time.time()
        stamp, addr, rest = split_record(line)
        self.assertIn(stamp, stamps_between(t0, t1))
        self.assertEqual((addr, rest), (b"127.0.0.5", b"user.notice anyone may talk\n"))
        self.assertEqual(d.stop(signal.SIGINT), 1, d.describe())
        self.assertEqual(d.since_ready(), line + STOP_LINE)

    def test_missing_configuration_file_is_created_empty(self):
        # A command that opens no socket still loads the configuration first,
        # so the warning comes before the command's own text.
        ws = Workspace(self)
        d = ws.start("-i")
        self.assertEqual(d.wait(), 0, d.describe())
        out = d.output()
        self.assertTrue(out.startswith(NO_PERMIT_WARNING), out)
        self.assertIsNotNone(SCM_FAILURE.fullmatch(out[len(NO_PERMIT_WARNING):]), out)
        self.assertEqual(os.path.getsize(ws.ini_path), 0)


class CommandLineTest(unittest.TestCase):
    def test_service_commands_fail_cleanly(self):
        for args in (["-i"], ["-u"], ["-s"], ["-e"], ["-install"], ["-i", "-u"]):
            with self.subTest(args=args):
                ws = Workspace(self)
                ws.configure()
                d = ws.start(*args)
                self.assertEqual(d.wait(), 0, d.describe())
                self.assertIsNotNone(SCM_FAILURE.fullmatch(d.output()), d.output())

    def test_default_mode_outside_service_manager_exits_with_failure(self):
        # Without -d or -f the process expects the service manager, which did
        # not start it: it ends with 0 and neither echoes nor binds anything.
        for args in ([], ["-D"], ["/d"], ["debug"], ["-p", "-d"]):
            with self.subTest(args=args):
                ws = Workspace(self)
                ws.configure()
                d = ws.start(*args)
                self.assertEqual(d.wait(), 0, d.describe())
                self.assertEqual(d.output(), b"")
                self.assertEqual(os.listdir(ws.logdir), [])

    def test_only_second_character_of_option_counts(self):
        for args in (["-debug"], ["-i", "-d"], ["-d", "-i"], ["-lroot", "-d"]):
            with self.subTest(args=args):
                ws = Workspace(self)
                ws.configure()
                d = ws.start(*args)
                self.assertEqual(d.wait_ready(), BANNER + config_echo(ws))
                self.assertEqual(d.stop(signal.SIGINT), 1, d.describe())
                self.assertEqual(d.since_ready(), STOP_LINE)


if __name__ == "__main__":
    unittest.main()
