"""The container harness of the service tests: a real systemd that boots, runs
the quenby built here, keeps its journal, powers off and leaves nothing behind.

How long it takes (2 cores, root, as in CI):
- the first run on a machine builds the cached tree: debootstrap from the
  apt sources' mirror plus the tarball, about 35-40 s here (up to ~2 min on a
  slow mirror); the run prints "container tree built in N s";
- every later container: restoring the tree about 1 s, booting to "running"
  well under 1-2 s, teardown about 0.2 s; each container prints its times,
  and this module prints them all at the end.
These are reported, never asserted.

Needs root and systemd-nspawn; elsewhere every test here is skipped with the
reason.
"""

import json
import os
import signal
import subprocess
import sys
import unittest

import container as ct

HERE = os.path.dirname(os.path.abspath(__file__))
TIMINGS = []


def setUpModule():
    reason = ct.skip_reason()
    if reason:
        raise unittest.SkipTest(reason)


def tearDownModule():
    for label, timings in TIMINGS:
        shown = ", ".join(f"{k} {v:.2f} s" for k, v in timings.items() if v is not None)
        print(f"[timing] {label}: {shown}", file=sys.stderr)


def boot(label):
    box = ct.boot_or_skip()
    TIMINGS.append((label, box.timings))
    return box


def alive(pid):
    """Whether pid is a process that still runs (a zombie waiting for its reaper is not)."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            stat = f.read()
    except (FileNotFoundError, ProcessLookupError):
        return False
    return stat[stat.rindex(")") + 2] != "Z"


def processes_in_cgroup(name):
    """The live processes of this machine whose cgroup, in any hierarchy, is name or below."""
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit() or not alive(entry):
            continue
        try:
            with open(f"/proc/{entry}/cgroup") as f:
                lines = f.read().splitlines()
        except (FileNotFoundError, ProcessLookupError):
            continue
        for line in lines:
            path = line.split(":", 2)[2]
            if path == "/" + name or path.startswith(f"/{name}/"):
                found.append(int(entry))
                break
    return found


class LeavesNothing:
    def assertNothingLeft(self, name, cgroups, pids, workdir):
        for top in cgroups:
            self.assertFalse(os.path.exists(top), f"cgroup {top} is still there")
        self.assertEqual(processes_in_cgroup(name), [])
        for pid in pids:
            self.assertFalse(alive(pid), f"process {pid} of the container still runs")
        self.assertFalse(os.path.exists(workdir), f"{workdir} is still there")
        self.assertFalse(os.path.exists(os.path.join(ct.NSPAWN_RUN, "propagate", name)))


class BootedContainer(unittest.TestCase):
    """One container for the tests that only look inside it."""

    @classmethod
    def setUpClass(cls):
        cls.box = boot("shared container")
        cls.addClassCleanup(cls.box.close)

    def test_systemd_is_pid_1_and_the_system_is_up(self):
        self.assertIn(self.box.state, ("running", "degraded"))
        code, out, _ = self.box.run(["systemctl", "is-system-running"], check=False)
        self.assertIn(out.strip(), ("running", "degraded"), f"exit code {code}")
        self.assertEqual(self.box.read_file("/proc/1/comm"), b"systemd\n")
        self.assertEqual(self.box.run(["cat", "/proc/1/comm"])[1], "systemd\n")
        if self.box.state == "degraded":
            print(f"degraded, failed units: {self.box.failed_units}", file=sys.stderr)

    def test_the_build_directory_is_bound_read_only_at_its_own_path(self):
        self.box.run(["test", "-x", self.box.quenby])
        probe = os.path.join(self.box.build_dir, f"written-inside-{os.getpid()}")
        code, _, err = self.box.run(["touch", probe], check=False)
        self.assertNotEqual(code, 0)
        self.assertIn("Read-only file system", err)
        self.assertFalse(os.path.exists(probe))

    def test_writes_inside_stay_out_of_the_restored_tree(self):
        self.box.run(["sh", "-c", "echo inside > /etc/quenby-overlay-probe"])
        self.assertEqual(self.box.read_file("/etc/quenby-overlay-probe"), b"inside\n")
        tree = os.path.join(self.box.workdir, "tree")
        self.assertTrue(os.path.isfile(os.path.join(tree, "etc/os-release")))
        self.assertFalse(os.path.exists(os.path.join(tree, "etc/quenby-overlay-probe")))

    def test_the_container_has_a_network_of_its_own(self):
        inside = self.box.run(["readlink", "/proc/self/ns/net"])[1].strip()
        self.assertTrue(inside.startswith("net:["), inside)
        self.assertNotEqual(inside, os.readlink("/proc/self/ns/net"))

    def test_run_returns_the_exit_code_and_both_streams(self):
        result = self.box.run(["sh", "-c", "echo out; echo err >&2; exit 3"], check=False)
        self.assertEqual(result, (3, "out\n", "err\n"))
        with self.assertRaises(ct.CommandFailed) as caught:
            self.box.run(["sh", "-c", "echo why >&2; exit 4"])
        self.assertEqual(caught.exception.code, 4)
        self.assertEqual(caught.exception.err, "why\n")
        self.assertEqual(self.box.run(["cat"], input="fed\n")[1], "fed\n")

    def test_run_as_another_user(self):
        out = self.box.run(["sh", "-c", "id -u; id -g; id -G"], user="nobody")[1]
        self.assertEqual(out.split(), ["65534", "65534", "65534"])
        code, _, _ = self.box.run(["touch", "/root/nobody-was-here"], user="nobody",
                                  check=False)
        self.assertNotEqual(code, 0)

    def test_commands_see_a_clean_environment_with_what_they_are_given(self):
        os.environ["QUENBY_HOST_ONLY"] = "leaked"
        self.addCleanup(os.environ.pop, "QUENBY_HOST_ONLY")
        out = self.box.run(["env"], env={"QUENBY_CONFDIR": "/tmp/given"})[1]
        self.assertNotIn("QUENBY_HOST_ONLY", out)
        self.assertIn("QUENBY_CONFDIR=/tmp/given\n", out)

    def test_quenby_built_here_receives_a_logger_message_inside(self):
        conf, logs = "/tmp/quenby-conf", "/tmp/quenby-logs/"
        self.box.run(["mkdir", "-p", conf, logs])
        self.box.write_file(f"{conf}/Quenby.ini",
                            f"[Syslog]\nLogType=1\nLogDir={logs}\nPort=5514\n"
                            "[Permit]\n127.0.0.1\n")
        out_path = os.path.join(self.box.workdir, "quenby-d.out")
        with open(out_path, "wb") as out:
            daemon = self.box.spawn([self.box.quenby, "-d"], env={"QUENBY_CONFDIR": conf},
                                    stdout=out, stderr=subprocess.STDOUT)

        def output():
            with open(out_path, "rb") as f:
                return f.read()
        ct.wait_for(lambda: b"Waiting for messages.\r\n" in output(),
                    "quenby -d to start inside")
        self.box.run(["logger", "-n", "127.0.0.1", "-P", "5514", "-d", "--rfc3164",
                      "-p", "auth.crit", "harness: hello from inside"])

        def records():
            try:
                data = self.box.read_file(f"{logs}syslog.log")
            except FileNotFoundError:
                return None
            return data if data.endswith(b"\n") else None
        record = ct.wait_for(records, "the record line")
        self.assertRegex(record, rb"\A[A-Z][a-z]{2} \d\d \d\d:\d\d:\d\d 127\.0\.0\.1 "
                                 rb"auth\.crit .*harness: hello from inside\n\Z")
        # Signals reach it from inside; the host's handle ends with it.
        self.box.run(["pkill", "-INT", "-x", "quenby"])
        daemon.wait(30)
        self.assertIn(b"Stopping Nolvane Syslog Server.\n", output())

    def test_a_transient_unit_shows_in_the_journal(self):
        unit = "quenby-harness-probe.service"
        self.box.run(["systemd-run", "--wait", "--quiet", f"--unit={unit}",
                      "sh", "-c", "echo harness journal probe"])

        def logged():
            text = self.box.journal("-u", unit)
            return "harness journal probe" in text and text
        journal = ct.wait_for(logged, "the unit's output in the journal")
        self.assertIn(f"Started {unit}", journal)


class Lifecycle(LeavesNothing, unittest.TestCase):
    """Each test boots a container of its own and ends it."""

    def test_poweroff_ends_the_container_and_teardown_leaves_nothing(self):
        box = boot("poweroff")
        self.addCleanup(box.close)
        name, cgroups, workdir = box.name, box.cgroups, box.workdir
        pids = [box.proc.pid, box.leader]
        self.assertEqual(box.poweroff(), 0)
        self.assertIsNotNone(box.proc.poll())
        with self.assertRaises(ct.ContainerError):
            box.run(["true"])
        box.close()
        self.assertNothingLeft(name, cgroups, pids, workdir)

    def test_entering_a_container_from_boot_or_skip_does_not_boot_another(self):
        box = boot("boot_or_skip, then with")
        self.addCleanup(box.close)
        name, cgroups, workdir = box.name, box.cgroups, box.workdir
        pids = [box.proc.pid, box.leader]
        owner = name[:name.rindex("-") + 1]
        with box as entered:
            self.assertIs(entered, box)
            self.assertEqual((box.name, box.leader), (name, pids[1]))
            ours = [n for root, _ in ct.cgroup_roots() for n in os.listdir(root)
                    if n.startswith(owner)]
            self.assertEqual(ours, [name] * len(cgroups))
        self.assertNothingLeft(name, cgroups, pids, workdir)
        with self.assertRaises(ct.ContainerError):
            box.start()

    def test_teardown_kills_a_container_that_still_runs(self):
        box = boot("teardown of a running container")
        self.addCleanup(box.close)
        name, cgroups, workdir = box.name, box.cgroups, box.workdir
        sleeper = box.spawn(["sleep", "infinity"])
        box.run(["systemd-run", "--quiet", "--unit=quenby-sleeper", "sleep", "infinity"])
        inside = [int(p) for p in box.run(["pgrep", "-x", "sleep"])[1].split()]
        self.assertEqual(len(inside), 2)
        # The commands entered with nsenter are in the container's cgroup too.
        self.assertIn(sleeper.pid, processes_in_cgroup(name))
        pids = [box.proc.pid, box.leader, sleeper.pid]
        box.close()
        self.assertIsNotNone(sleeper.poll())
        self.assertNothingLeft(name, cgroups, pids, workdir)

    def test_a_killed_test_process_leaves_nothing(self):
        script = (
            "import json, sys, time\n"
            "import container as ct\n"
            "box = ct.Container()\n"
            "box.start()\n"
            "sleeper = box.spawn(['sleep', 'infinity'])\n"
            "print(json.dumps({'name': box.name, 'cgroups': box.cgroups,\n"
            "                  'workdir': box.workdir,\n"
            "                  'pids': [box.proc.pid, box.leader, sleeper.pid]}), flush=True)\n"
            "time.sleep(3600)\n")
        child = subprocess.Popen([sys.executable, "-c", script], cwd=HERE,
                                 stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)
        self.addCleanup(child.wait)
        self.addCleanup(child.kill)
        line = child.stdout.readline()
        child.stdout.close()
        self.assertTrue(line, "the child did not boot its container")
        seen = json.loads(line)
        self.assertTrue(all(alive(p) for p in seen["pids"]))
        for top in seen["cgroups"]:
            self.assertTrue(os.path.isdir(top))
        child.send_signal(signal.SIGKILL)
        child.wait()
        ct.wait_for(lambda: not any(os.path.exists(t) for t in seen["cgroups"])
                    and not os.path.exists(seen["workdir"]),
                    "the reaper to remove the dead test's container", timeout=60)
        ct.wait_for(lambda: not any(alive(p) for p in seen["pids"]),
                    "the dead test's processes to be gone", timeout=60)
        self.assertNothingLeft(seen["name"], seen["cgroups"], seen["pids"], seen["workdir"])

    def test_the_leftovers_of_a_dead_test_and_its_dead_reaper_are_swept(self):
        # A cgroup named for an owner that has died, with a process still in it: what
        # remains when both the test process and its reaper were killed.
        owner = subprocess.Popen(["sleep", "infinity"])
        start = ct._process_start(owner.pid)
        owner.kill()
        owner.wait()
        name = f"{ct.NAME_PREFIX}{owner.pid}-{start}-c1"
        cgroups = [os.path.join(root, name) for root, _ in ct.cgroup_roots()]
        for top in cgroups:
            os.mkdir(top)
        self.addCleanup(ct.cleanup, {"cgroups": cgroups, "remove": []})
        script = "; ".join(f"echo $$ > {os.path.join(top, 'cgroup.procs')}" for top in cgroups)
        orphan = subprocess.Popen(["/bin/sh", "-c", script + "; exec sleep infinity"])
        self.addCleanup(orphan.wait)
        ct.wait_for(lambda: orphan.pid in processes_in_cgroup(name), "the orphan in its cgroup")
        ct.sweep_stale()
        self.assertIsNotNone(orphan.wait(30))
        for top in cgroups:
            self.assertFalse(os.path.exists(top), f"cgroup {top} is still there")

    def test_two_containers_at_once_do_not_share_files_or_ports(self):
        first = boot("first of two")
        self.addCleanup(first.close)
        second = boot("second of two")
        self.addCleanup(second.close)
        self.assertNotEqual(first.name, second.name)
        self.assertTrue(first.proc.poll() is None and second.proc.poll() is None)
        first.run(["sh", "-c", "echo first > /tmp/which"])
        second.run(["sh", "-c", "echo second > /tmp/which"])
        self.assertEqual(first.read_file("/tmp/which"), b"first\n")
        self.assertEqual(second.read_file("/tmp/which"), b"second\n")
        # The same UDP port in both: each container's loopback is its own.
        outputs = []
        for box in (first, second):
            box.run(["mkdir", "-p", "/tmp/q"])
            box.write_file("/tmp/q/Quenby.ini", "[Syslog]\nLogDir=/tmp/q/\nPort=5514\n"
                                                "[Permit]\n127.0.0.1\n")
            path = os.path.join(box.workdir, "quenby.out")
            with open(path, "wb") as out:
                box.spawn([box.quenby, "-d"], env={"QUENBY_CONFDIR": "/tmp/q"}, stdout=out,
                          stderr=subprocess.STDOUT)
            outputs.append(path)

        def read(path):
            with open(path, "rb") as f:
                return f.read()
        for path in outputs:
            ct.wait_for(lambda: b"Waiting for messages.\r\n" in read(path)
                        or b"Failed to allocate socket" in read(path), "quenby to start")
            self.assertIn(b"Waiting for messages.\r\n", read(path))


if __name__ == "__main__":
    unittest.main()
