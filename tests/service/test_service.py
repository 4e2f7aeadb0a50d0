"""quenby as a systemd service, against a real systemd booted in a container: the one-shot
commands -i, -u, -s, -e, the service mode with its status reports, and its journal entries."""

import re
import subprocess
import time
import unittest

import container

NAME = "Nolvane Syslog Server"
PROGRAM = "/usr/local/sbin/quenby"
UNIT_FILE = "/etc/systemd/system/quenby.service"
CATALOG = "/usr/local/lib/systemd/catalog/quenby.catalog"
LOG = "/var/log/quenby/syslog.log"
INFORMATION_ID = "f730971d6bd74c9badc70dcf304389a5"
ERROR_ID = "bc65bce6f62447c484c27c59c3bdcbe5"

CONFIG = """[Syslog]
LogType=1
RotateLogs=0
LogDir=/var/log/quenby/
Port=514
[Permit]
127.0.0.1
"""

STARTED = re.compile(rf"Starting up {NAME}\.\.*\n{NAME} started\.\n\Z")
STOPPED = re.compile(rf"Stopping {NAME}\.\.*\n{NAME} stopped\.\n\Z")


def set_up(box):
    """The program installed where an administrator puts it, and its configuration."""
    box.run(["install", "-m", "755", box.quenby, PROGRAM])
    box.write_file("/etc/Quenby.ini", CONFIG)
    box.run(["mkdir", "-p", "/var/log/quenby"])


def notifications(box):
    """The status reports that the manager got from quenby, as the debug log shows them."""
    text = box.journal("-u", "quenby", "-o", "cat")
    return re.findall(r"Got notification message from PID \d+ \((.*)\)", text)


class ServiceCommandsTest(unittest.TestCase):
    def test_the_administrators_path(self):
        with container.boot_or_skip() as box:
            set_up(box)
            box.run(["systemctl", "log-level", "debug"])

            def quenby(option, user=None):
                code, out, err = box.run([PROGRAM, option], user=user, check=False,
                                         timeout=120)
                self.assertEqual(err, "", f"quenby {option}")
                return code, out

            with self.subTest("install"):
                self.assertEqual(quenby("-i"), (1, f"{NAME} installed.\n"))
                unit = box.read_file(UNIT_FILE).decode()
                self.assertIn(f"Description={NAME}\n", unit)
                self.assertIn("Type=notify\n", unit)
                self.assertIn(f"ExecStart={PROGRAM}\n", unit)
                self.assertIn("SuccessExitStatus=1\n", unit)
                self.assertIn("WantedBy=multi-user.target\n", unit)
                self.assertNotIn("User=", unit)
                self.assertEqual(box.run(["systemctl", "is-enabled", "quenby"])[1], "enabled\n")
                catalog = box.read_file(CATALOG).decode()
                self.assertIn(f"-- {INFORMATION_ID}\n", catalog)
                self.assertEqual(
                    box.run(["journalctl", "--list-catalog"])[1].count(INFORMATION_ID), 1)
                entries = box.journal("-t", "Quenby", "-o", "verbose")
                self.assertIn("MESSAGE=Service installed", entries)

            with self.subTest("install again"):
                self.assertEqual(quenby("-i"),
                                 (0, "CreateService failed - The specified service already "
                                     "exists.\n"))

            with self.subTest("start"):
                code, out = quenby("-s")
                self.assertEqual(code, 1)
                self.assertRegex(out, STARTED)
                self.assertEqual(box.run(["systemctl", "is-active", "quenby"])[1], "active\n")
                self.assertEqual(box.run(["systemctl", "show", "-P", "StatusText", "quenby"])[1],
                                 "Running\n")
                started = box.journal("-t", "Quenby", "-o", "verbose",
                                      f"MESSAGE_ID={INFORMATION_ID}")
                self.assertIn(f"MESSAGE={NAME} started", started)
                explained = box.journal("-t", "Quenby", "-x")
                self.assertIn("Quenby reports information event 0x40000000:", explained)
                reports = notifications(box)
                # Two reports of the service host, nine of the daemon's start, then running.
                self.assertEqual(reports[-1], "READY=1, STATUS=Running")
                pending = [r for r in reports[:-1] if "Starting" in r]
                self.assertEqual(pending, [f"EXTEND_TIMEOUT_USEC=3000000, STATUS=Starting, "
                                           f"check point {n}" for n in range(1, 11)])

            with self.subTest("a record from logger"):
                box.run(["logger", "-n", "127.0.0.1", "-P", "514", "-d", "--rfc3164",
                         "-p", "auth.crit", "su: root login failed"])
                container.wait_for(lambda: b"su: root login failed" in box.read_file(LOG),
                                   "the record in the log file")
                self.assertRegex(box.read_file(LOG).decode(),
                                 r"\A[A-Z][a-z]{2} \d\d \d\d:\d\d:\d\d 127\.0\.0\.1 auth\.crit "
                                 r".*su: root login failed\n\Z")

            with self.subTest("start while running"):
                self.assertEqual(quenby("-s"),
                                 (0, f"Starting up {NAME}.\n{NAME} failed to start: An instance "
                                     f"of the service is already running.\n"))

            with self.subTest("unprivileged user"):
                for option in ("-i", "-u", "-s", "-e"):
                    self.assertEqual(quenby(option, user="nobody"),
                                     (0, "OpenSCManager failed - Permission denied\n"), option)

            with self.subTest("stop"):
                code, out = quenby("-e")
                self.assertEqual(code, 1)
                self.assertRegex(out, STOPPED)
                self.assertEqual(box.run(["systemctl", "show", "-P", "ExecMainStatus",
                                          "quenby"])[1], "1\n")
                self.assertEqual(box.run(["systemctl", "show", "-P", "Result", "quenby"])[1],
                                 "success\n")
                self.assertIn("STOPPING=1, EXTEND_TIMEOUT_USEC=5000000, STATUS=Stopping, "
                              "check point 11", notifications(box))

            with self.subTest("stop while stopped"):
                self.assertEqual(quenby("-e"), (0, ""))

            with self.subTest("remove a running service"):
                self.assertEqual(quenby("-s")[0], 1)
                code, out = quenby("-u")
                self.assertEqual(code, 1)
                self.assertRegex(out, rf"Stopping {NAME}\.\.*\n{NAME} stopped\.\n"
                                      rf"{NAME} removed\.\n\Z")
                self.assertEqual(box.run(["test", "-e", UNIT_FILE], check=False)[0], 1)
                self.assertEqual(box.run(["test", "-e", CATALOG], check=False)[0], 1)
                self.assertNotIn(INFORMATION_ID, box.run(["journalctl", "--list-catalog"])[1])

            with self.subTest("remove when not installed"):
                self.assertEqual(quenby("-u"),
                                 (0, "OpenService failed - The specified service does not exist "
                                     "as an installed service.\n"))
                self.assertEqual(quenby("-s"),
                                 (0, "OpenService failed - The specified service does not exist "
                                     "as an installed service.\n"))

            with self.subTest("remove a stopped service"):
                self.assertEqual(quenby("-i")[0], 1)
                self.assertEqual(quenby("-u"), (1, f"{NAME} removed.\n"))

            with self.subTest("install for an account"):
                self.assertEqual(box.run([PROGRAM, "-i", "-l", "nobody"], check=False)[:2],
                                 (1, f"{NAME} installed.\n"))
                unit = box.read_file(UNIT_FILE).decode()
                self.assertIn("User=nobody\nAmbientCapabilities=CAP_NET_BIND_SERVICE\n", unit)
                box.run(["chown", "-R", "nobody", "/var/log/quenby"])
                code, out = quenby("-s")
                self.assertRegex(out, STARTED)
                box.run(["logger", "-n", "127.0.0.1", "-P", "514", "-d", "as nobody"])
                container.wait_for(lambda: b"as nobody" in box.read_file(LOG),
                                   "the record of the service run as nobody")
                self.assertEqual(quenby("-u")[0], 1)
                self.assertEqual(box.run([PROGRAM, "-i", "-l", "no-such-user"], check=False)[:2],
                                 (0, "CreateService failed - The account name is invalid or does "
                                     "not exist.\n"))


class ServiceModeTest(unittest.TestCase):
    def test_port_in_use_stop_and_shutdown(self):
        with container.boot_or_skip() as box:
            set_up(box)
            box.run(["systemctl", "log-level", "debug"])
            self.assertEqual(box.run([PROGRAM, "-i"], check=False)[0], 1)

            with self.subTest("not started by the service manager"):
                code, out, _ = box.run([PROGRAM], check=False)
                self.assertEqual(code, 0)
                entries = box.journal("-t", "Quenby", "-p", "err", "-o", "cat")
                self.assertIn("The process was not started by the service manager.", entries)

            with self.subTest("port in use"):
                holder = box.spawn(["systemd-run", "--wait", "--unit", "holder", PROGRAM, "-d"])
                container.wait_for(
                    lambda: "active\n" == box.run(["systemctl", "is-active", "holder"],
                                                  check=False)[1], "the port's holder")
                code, out, _ = box.run([PROGRAM, "-s"], check=False, timeout=60)
                self.assertEqual(code, 0)
                self.assertRegex(out, rf"Starting up {NAME}\.\.*\n{NAME} failed to start\.\n\Z")
                # It never became ready: systemd counts the start as failed.
                container.wait_for(
                    lambda: "failed\n" == box.run(["systemctl", "is-active", "quenby"],
                                                  check=False)[1], "the unit to end", 20)
                failure = box.journal("-t", "Quenby", "-o", "cat", f"MESSAGE_ID={ERROR_ID}")
                self.assertIn("Failed to allocate socket. Is another Syslog Server running?\n"
                              "(UDP port 514: Address already in use)", failure)
                self.assertEqual(box.run(["systemctl", "show", "-P", "Result", "quenby"])[1],
                                 "protocol\n")
                box.run(["systemctl", "stop", "holder"])
                holder.wait(30)
                box.run(["systemctl", "reset-failed", "quenby"])

            with self.subTest("systemctl stop"):
                box.run(["systemctl", "start", "quenby"])
                box.run(["systemctl", "stop", "quenby"])
                self.assertEqual(box.run(["systemctl", "show", "-P", "ExecMainStatus",
                                          "quenby"])[1], "1\n")
                self.assertEqual(box.run(["systemctl", "show", "-P", "Result", "quenby"])[1],
                                 "success\n")
                reports = notifications(box)
                self.assertTrue(any(r.startswith("STOPPING=1, EXTEND_TIMEOUT_USEC=5000000, "
                                                 "STATUS=Stopping, check point ")
                                    for r in reports), reports)
                self.assertEqual(reports[-1], "STATUS=Stopped")

            with self.subTest("shutdown"):
                box.run(["systemctl", "start", "quenby"])
                # The journal goes with the container: it is read while the system goes down,
                # until the manager says that the service has stopped. A unit that is stopped
                # after the service, and takes its time, leaves room for that.
                box.run(["systemd-run", "--unit", "linger", "--remain-after-exit",
                         "-p", "Before=quenby.service", "-p", "ExecStop=/bin/sleep 3",
                         "/bin/true"])
                stopped = f"Stopped quenby.service - {NAME}."
                earlier = box.journal("-u", "quenby", "-o", "cat").count(stopped)
                box.run(["systemctl", "--no-block", "poweroff"])
                journal = ""
                while journal.count(stopped) <= earlier and box.proc.poll() is None:
                    try:
                        code, out, _ = box.run(["journalctl", "--no-pager", "-o", "cat", "-u",
                                                "quenby"], check=False, timeout=10)
                    except (container.ContainerError, subprocess.SubprocessError):
                        break
                    if code == 0:
                        journal = out
                    time.sleep(0.1)
                self.assertEqual(box.proc.wait(60), 0)
                self.assertEqual(journal.count(stopped), earlier + 1, journal[-3000:])
                reports = re.findall(r"Got notification message from PID \d+ \((.*)\)",
                                     journal)
                # What the service reported after it became ready for the last time.
                reports = reports[len(reports) - reports[::-1].index("READY=1, STATUS=Running"):]
                # Shutdown ends the daemon without a stop-pending report.
                self.assertEqual(reports, ["STATUS=Stopped"], journal[-3000:])


if __name__ == "__main__":
    unittest.main()
