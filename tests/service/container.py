"""A real systemd, booted in a container, for the tests of quenby as a service.

The service tests need a system manager of their own: one they may install
units into, start and stop, and whose journal they can read, without touching
the machine they run on (which has no systemd as PID 1 and no D-Bus). This
module boots one with systemd-nspawn. A test uses it as

    import container

    class ServiceTest(unittest.TestCase):
        def test_install(self):
            with container.boot_or_skip() as box:      # unittest.SkipTest where it cannot
                box.write_file("/etc/Quenby.ini", "[Syslog]\nPort=514\n")
                code, out, err = box.run([box.quenby, "-i"], check=False)
                self.assertIn("Quenby", box.journal("-t", "Quenby", "-o", "cat"))
                self.assertEqual(box.poweroff(), 0)      # optional; teardown kills anyway

or boots one for a whole class (cls.box = container.boot_or_skip() in
setUpClass, with cls.addClassCleanup(cls.box.close)). Inside, run() runs a
command to its end and returns (exit code, stdout, stderr); spawn() starts one
and returns the host's Popen; read_file(), write_file() and path() reach the
container's files from here; box.quenby is the daemon under test, at the same
path as on this machine.

The tree. A Debian bookworm "minbase" with systemd, dbus, libsystemd0,
bsdutils (logger) and procps, made once by debootstrap from the mirror that
this machine's apt sources name, and kept as a compressed tarball
(/var/cache/quenby-tests/bookworm-systemd.tar.gz, or $QUENBY_CONTAINER_CACHE).
The first run builds it (debootstrap, well under a minute here, 2 minutes on a
slow mirror); every container then restores its own copy from the tarball in
about a second. The build happens in a scratch directory beside the cache
under a lock, and the tarball only appears by an atomic rename, so two test
processes never build it twice and a killed build leaves no half cache.

The container. systemd-nspawn boots the copy with an overlay on top
(--volatile=overlay: nothing is written to the copy), its own network
namespace with only a loopback, no console (--console=pipe, standard input
from /dev/null), and the build directory bound read-only at the same path, so
the quenby built on this machine runs inside as it is (same libsystemd). There
is no host D-Bus here, hence --register=no --keep-unit.

Clean-up. Every container lives in a cgroup of its own, one directory in each
cgroup hierarchy that matters (the unified one and the named "systemd" one on
a hybrid layout like this machine's; just the one on a pure cgroup v2 host).
nspawn is moved into it before it starts, and so is every command that run()
enters into the container with nsenter. Teardown first kills the processes
of the container's PID namespace, while nspawn and nsenter still live to reap
them, then the whole cgroup (cgroup.kill, or SIGKILL to every listed pid where
the kernel or the hierarchy has no cgroup.kill), and removes the directories,
the restored tree and what nspawn keeps under /run for it. That work is done
by a small detached reaper process that each container starts first, and that
acts as soon as the test process closes its pipe to it: at teardown, or when
the test process dies, even by SIGKILL from a ctest timeout. Killing nspawn alone would
not do: its container's systemd lives on, reparented to the machine's init.
Should the reaper be killed too, the next container's start sweeps away the
cgroups named for a test process that no longer exists.

The journal inside is volatile (/run/log/journal): read it with journal()
before the container goes.
"""

import fcntl
import json
import os
import re
import shlex
import shutil
import signal
import subprocess
import sys
import tarfile
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))

SUITE = "bookworm"
PACKAGES = ("systemd", "dbus", "libsystemd0", "bsdutils", "procps")
# Written into the tree and stored as the tarball's first member: a cache made from another
# recipe is rebuilt.
RECIPE = f"suite={SUITE} variant=minbase include={','.join(PACKAGES)} layout=1\n"
RECIPE_FILE = "etc/quenby-test-tree"
HOSTNAME = "quenby-test"

DEFAULT_CACHE = "/var/cache/quenby-tests/bookworm-systemd.tar.gz"
NAME_PREFIX = "quenby-test-"
NSPAWN_RUN = "/run/systemd/nspawn"
CONTAINER_PATH = "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin"

# How long the slow steps may take before the harness gives up on them.
BUILD_TIMEOUT = 1800
BOOT_TIMEOUT = 120
KILL_TIMEOUT = 30


class ContainerError(Exception):
    """The harness failed at something that should work here."""


class ContainerUnavailable(ContainerError):
    """Containers cannot run on this machine; tests should be skipped."""


class CommandFailed(ContainerError):
    def __init__(self, cmd, code, out, err):
        super().__init__(f"{shlex.join(cmd)} exited with {code}\n"
                         f"--- stdout ---\n{out}\n--- stderr ---\n{err}")
        self.cmd, self.code, self.out, self.err = cmd, code, out, err


def log(message):
    print(f"[container] {message}", file=sys.stderr, flush=True)


def wait_for(predicate, what, timeout=10.0, interval=0.05):
    """Polls predicate until it returns something true, and returns that."""
    deadline = time.monotonic() + timeout
    while True:
        result = predicate()
        if result:
            return result
        if time.monotonic() >= deadline:
            raise AssertionError(f"timed out after {timeout} s waiting for {what}")
        time.sleep(interval)


def default_build_dir():
    """The directory of the quenby under test: $QUENBY_BIN's, else the repository's build/."""
    binary = os.environ.get("QUENBY_BIN")
    if binary:
        return os.path.dirname(os.path.abspath(binary))
    return os.path.abspath(os.path.join(HERE, "..", "..", "build"))


def cache_path():
    return os.environ.get("QUENBY_CONTAINER_CACHE") or DEFAULT_CACHE


# --- cgroups -------------------------------------------------------------------------------

def _unescape_mount(path):
    return re.sub(r"\\([0-7]{3})", lambda m: chr(int(m.group(1), 8)), path)


def cgroup_roots():
    """The hierarchies a container's cgroup is made in: [(mount point, version)].

    The unified (v2) hierarchy first, when mounted, then the named v1 "systemd"
    hierarchy of a hybrid or legacy layout, where nspawn and the systemd inside
    keep their own tree too. Controller hierarchies of v1 are left alone.
    """
    v2 = v1 = None
    with open("/proc/self/mountinfo") as f:
        for line in f:
            left, _, right = line.partition(" - ")
            fields, rest = left.split(), right.split()
            if len(fields) < 5 or len(rest) < 3 or fields[3] != "/":
                continue
            mount, fstype, options = _unescape_mount(fields[4]), rest[0], rest[2].split(",")
            if fstype == "cgroup2" and v2 is None:
                v2 = mount
            elif fstype == "cgroup" and "name=systemd" in options and v1 is None:
                v1 = mount
    roots = []
    if v2:
        roots.append((v2, 2))
    if v1:
        roots.append((v1, 1))
    return roots


def _cgroup_pids(top):
    """Every pid in the cgroup top and below."""
    pids = set()
    for dirpath, _, files in os.walk(top):
        if "cgroup.procs" in files:
            try:
                with open(os.path.join(dirpath, "cgroup.procs")) as f:
                    pids.update(int(p) for p in f.read().split())
            except (FileNotFoundError, ProcessLookupError, OSError):
                pass
    return pids


def _kill_cgroups(tops):
    """Ends every process in the cgroups tops (directories in several hierarchies)."""
    tops = [t for t in tops if os.path.isdir(t)]
    for top in tops:
        kill = os.path.join(top, "cgroup.kill")
        if os.path.exists(kill):
            try:
                with open(kill, "w") as f:
                    f.write("1")
            except OSError:
                pass
    deadline = time.monotonic() + KILL_TIMEOUT
    while True:
        pids = set()
        for top in tops:
            pids |= _cgroup_pids(top)
        pids.discard(os.getpid())
        if not pids:
            return
        if time.monotonic() > deadline:
            raise ContainerError(f"processes {sorted(pids)} survived SIGKILL in {tops}")
        # No cgroup.kill (a v1 hierarchy, an old kernel), or forks racing it: by pid.
        for pid in pids:
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        time.sleep(0.02)


def _remove_cgroup(top):
    if not os.path.isdir(top):
        return
    deadline = time.monotonic() + KILL_TIMEOUT
    for dirpath, _, _ in sorted(os.walk(top), key=lambda w: -w[0].count("/")):
        while True:
            try:
                os.rmdir(dirpath)
                break
            except FileNotFoundError:
                break
            except OSError:
                # A cgroup whose last task has just died can stay busy for a moment.
                if time.monotonic() > deadline:
                    raise
                time.sleep(0.02)


# --- removing what a container or a build leaves ---------------------------------------------

def _mounts_below(path):
    path = os.path.realpath(path).rstrip("/") + "/"
    found = []
    with open("/proc/self/mountinfo") as f:
        for line in f:
            mount = _unescape_mount(line.split()[4])
            if (mount + "/").startswith(path):
                found.append(mount)
    return found


def _remove_path(path):
    if not os.path.lexists(path):
        return
    if os.path.isdir(path) and not os.path.islink(path):
        mounts = _mounts_below(path)
        if mounts:
            # Never delete through a mount point (a /proc or /dev left in a tree).
            raise ContainerError(f"not removing {path}: mounts below it: {mounts}")
        shutil.rmtree(path)
    else:
        os.unlink(path)


def _end_namespace(tops, pidns, leader):
    """Kills the processes of the container's PID namespace first, while nspawn and the
    nsenter processes that are their parents still live to reap them.

    Killing everything at once would orphan them: the container's init to the machine's
    init, the commands entered with nsenter (whose parent is outside the namespace) too,
    and the container's init then stays behind, exiting, until the machine's init
    reaps those zombies, which may take seconds.
    """
    deadline = time.monotonic() + KILL_TIMEOUT / 3
    while time.monotonic() < deadline:
        inner = set()
        for top in tops:
            for pid in _cgroup_pids(top):
                try:
                    if os.readlink(f"/proc/{pid}/ns/pid") == pidns:
                        inner.add(pid)
                except OSError:
                    pass
        if not inner and (leader is None or _process_start(leader[0]) != leader[1]):
            return
        for pid in inner:
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        time.sleep(0.02)


def cleanup(plan):
    """Kills the cgroups of plan and removes them and plan's paths; returns the errors."""
    errors = []
    try:
        if plan.get("pidns"):
            _end_namespace(plan["cgroups"], plan["pidns"], plan.get("leader"))
        _kill_cgroups(plan["cgroups"])
    except Exception as e:
        errors.append(f"killing {plan['cgroups']}: {e}")
    for top in plan["cgroups"]:
        try:
            _remove_cgroup(top)
        except Exception as e:
            errors.append(f"removing cgroup {top}: {e}")
    for path in plan["remove"]:
        try:
            _remove_path(path)
        except Exception as e:
            errors.append(f"removing {path}: {e}")
    return errors


def _process_start(pid):
    """The start time of process pid (clock ticks since boot), or None when it is gone."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            stat = f.read()
    except (FileNotFoundError, ProcessLookupError):
        return None
    fields = stat[stat.rindex(")") + 2:].split()
    if fields[0] == "Z":
        return None
    return int(fields[19])


def _owner_tag():
    return f"{os.getpid()}-{_process_start(os.getpid())}"


def sweep_stale():
    """Removes the cgroups (and scratch) of containers whose test process has died and whose
    reaper was killed too. Names carry the owner's pid and start time."""
    pattern = re.compile(re.escape(NAME_PREFIX) + r"(\d+)-(\d+)-\w+\Z")
    names = set()
    for root, _ in cgroup_roots():
        try:
            names.update(n for n in os.listdir(root) if pattern.match(n))
        except OSError:
            pass
    for name in sorted(names):
        pid, start = pattern.match(name).groups()[:2]
        if _process_start(int(pid)) == int(start):
            continue
        errors = cleanup({"cgroups": [os.path.join(r, name) for r, _ in cgroup_roots()],
                          "remove": [os.path.join(NSPAWN_RUN, "propagate", name),
                                     os.path.join(tempfile.gettempdir(), name)]})
        log(f"removed the leftovers of {name}" + (f": {errors}" if errors else ""))


class _Scope:
    """A cgroup of our own in every hierarchy, with a reaper that ends it with us.

    wrap(cmd) returns a command that moves itself into the cgroup (or into a leaf below
    it) before it execs cmd. close() ends every process in it and removes it and the
    paths named in remove; the reaper does the same by itself if this process dies.
    """

    counter = 0

    def __init__(self, label, remove=()):
        _Scope.counter += 1
        self.name = f"{NAME_PREFIX}{_owner_tag()}-{label}{_Scope.counter}"
        self.roots = cgroup_roots()
        if not self.roots:
            raise ContainerUnavailable("no cgroup hierarchy is mounted")
        self.cgroups = [os.path.join(root, self.name) for root, _ in self.roots]
        self.remove = list(remove)
        self.namespace = {}
        self._reaper_pipe = None
        self._ack = None
        self.closed = False
        made = []
        try:
            for top in self.cgroups:
                os.mkdir(top)
                made.append(top)
        except OSError as e:
            for top in made:
                os.rmdir(top)
            raise ContainerUnavailable(f"cannot create a cgroup {top}: {e.strerror}")
        self._start_reaper()

    def plan(self):
        return {"cgroups": self.cgroups, "remove": self.remove, **self.namespace}

    def _start_reaper(self):
        # The reaper reads its plan from a file that is rewritten whenever the plan grows,
        # and acts when the pipe from this process reaches its end.
        self.plan_path = os.path.join(tempfile.gettempdir(), f".{self.name}.plan")
        self._write_plan()
        pipe_r, pipe_w = os.pipe()
        ack_r, ack_w = os.pipe()
        try:
            proc = subprocess.Popen(
                [sys.executable, "-I", os.path.abspath(__file__), "--reap", self.plan_path],
                stdin=pipe_r, stdout=ack_w, stderr=ack_w, close_fds=True,
                start_new_session=True, cwd="/")
            # The reaper forks and its first process exits at once: the one that stays is
            # nobody's child here, so a kill of this process tree does not reach it.
            proc.wait()
        finally:
            os.close(pipe_r)
            os.close(ack_w)
        self._reaper_pipe = pipe_w
        self._ack = ack_r

    def _write_plan(self):
        tmp = self.plan_path + ".tmp"
        with open(tmp, "w") as f:
            json.dump(self.plan(), f)
        os.replace(tmp, self.plan_path)

    def add_removal(self, path):
        self.remove.append(path)
        self._write_plan()

    def set_namespace(self, leader):
        """Names the PID namespace whose processes are ended first: that of pid leader."""
        self.namespace = {"pidns": os.readlink(f"/proc/{leader}/ns/pid"),
                          "leader": [leader, _process_start(leader)]}
        self._write_plan()

    def leaf(self, sub):
        """Creates the leaf cgroup sub below ours (idempotent); returns its directories."""
        dirs = [os.path.join(top, sub) for top in self.cgroups]
        for d in dirs:
            os.makedirs(d, exist_ok=True)
        return dirs

    def wrap(self, cmd, sub=None):
        dirs = self.leaf(sub) if sub else self.cgroups
        script = "set -e; " + "; ".join(
            f"echo $$ > {shlex.quote(os.path.join(d, 'cgroup.procs'))}" for d in dirs)
        return ["/bin/sh", "-c", script + '; exec "$@"', "sh", *cmd]

    def release(self):
        """Tells the reaper to end the scope now (what the death of this process does)."""
        if self._reaper_pipe is not None:
            os.close(self._reaper_pipe)
            self._reaper_pipe = None

    def close(self):
        """Ends everything in the scope; raises ContainerError when something stayed."""
        if self.closed:
            return
        self.closed = True
        self.release()
        with os.fdopen(self._ack, "rb") as ack:
            report = ack.read()
        # The reaper has finished; whatever it could not do is tried once more here.
        errors = cleanup(self.plan())
        for path in (self.plan_path, self.plan_path + ".tmp"):
            if os.path.exists(path):
                os.unlink(path)
        if report.strip() or errors:
            raise ContainerError(f"teardown of {self.name}: {report.decode(errors='replace')}"
                                 f"{errors}")


def _reaper_main(plan_path):
    if os.fork():
        os._exit(0)
    os.setsid()
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    signal.signal(signal.SIGHUP, signal.SIG_IGN)
    signal.signal(signal.SIGPIPE, signal.SIG_IGN)
    # Wait for the end of the pipe: a teardown closes it, and so does the death of the test.
    while sys.stdin.buffer.read(65536):
        pass
    with open(plan_path) as f:
        plan = json.load(f)
    errors = cleanup(plan)
    try:
        os.unlink(plan_path)
    except FileNotFoundError:
        pass
    if errors:
        try:
            sys.stdout.write("\n".join(errors) + "\n")
            sys.stdout.flush()
        except OSError:
            pass
    os._exit(0)


# --- the cached tree ----------------------------------------------------------------------

def debian_mirror():
    """The mirror for SUITE from this machine's apt sources ($QUENBY_DEBIAN_MIRROR first)."""
    if os.environ.get("QUENBY_DEBIAN_MIRROR"):
        return os.environ["QUENBY_DEBIAN_MIRROR"]
    found = []
    sources_d = "/etc/apt/sources.list.d"
    names = sorted(os.listdir(sources_d)) if os.path.isdir(sources_d) else []
    for name in names:
        path = os.path.join(sources_d, name)
        if not name.endswith(".sources"):
            continue
        with open(path) as f:
            for stanza in re.split(r"\n\s*\n", f.read()):
                fields = {}
                for line in stanza.splitlines():
                    m = re.match(r"([A-Za-z-]+):\s*(.*)", line)
                    if m and not line.startswith("#"):
                        fields[m.group(1).lower()] = m.group(2).split()
                if ("deb" in fields.get("types", []) and SUITE in fields.get("suites", [])
                        and fields.get("enabled", ["yes"])[0] != "no"):
                    found.extend(fields.get("uris", []))
    lists = ["/etc/apt/sources.list"] + [os.path.join(sources_d, n) for n in names
                                         if n.endswith(".list")]
    for path in lists:
        if not os.path.exists(path):
            continue
        with open(path) as f:
            for line in f:
                words = re.sub(r"\[[^\]]*\]", " ", line.split("#", 1)[0]).split()
                if len(words) >= 3 and words[0] == "deb" and words[2] == SUITE:
                    found.append(words[1])
    return found[0] if found else None


def _cached_recipe(path):
    """The recipe stored as the first member of the cache tarball, or None."""
    try:
        with tarfile.open(path, "r|gz") as tar:
            for member in tar:
                if member.name.lstrip("./") == RECIPE_FILE and member.isfile():
                    return tar.extractfile(member).read().decode()
                return None
    except (OSError, tarfile.TarError, EOFError):
        return None
    return None


def _cache_is_current(path):
    return os.path.isfile(path) and _cached_recipe(path) == RECIPE


def ensure_cache():
    """Makes the cached tree when it is missing or stale; returns the seconds spent building
    it, or None when it was there."""
    path = cache_path()
    if _cache_is_current(path):
        return None
    directory = os.path.dirname(os.path.abspath(path))
    os.makedirs(directory, exist_ok=True)
    base = os.path.basename(path)
    with open(os.path.join(directory, f".{base}.lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if _cache_is_current(path):
            return None  # another test process built it while this one waited
        # Under the lock, any scratch directory is what a killed build left.
        for name in os.listdir(directory):
            if name.startswith(f".{base}.build-"):
                _remove_path(os.path.join(directory, name))
        return _build_cache(path, directory, base)


def _build_cache(path, directory, base):
    mirror = debian_mirror()
    if not mirror:
        raise ContainerUnavailable(f"no Debian mirror for {SUITE} in the apt sources")
    if not shutil.which("debootstrap"):
        raise ContainerUnavailable("debootstrap is not installed")
    started = time.monotonic()
    scratch = tempfile.mkdtemp(prefix=f".{base}.build-", dir=directory)
    scope = _Scope("build", remove=[scratch])
    tree = os.path.join(scratch, "tree")
    build_log = os.path.join(scratch, "debootstrap.log")
    log(f"building the container tree {path} with debootstrap (once; about a minute) ...")
    try:
        # A mount namespace of its own: the /proc and /sys that debootstrap mounts in the tree
        # go away with it, even if it is killed.
        cmd = ["unshare", "--mount", "--propagation", "private",
               "debootstrap", "--variant=minbase", "--include=" + ",".join(PACKAGES),
               SUITE, tree, mirror]
        with open(build_log, "wb") as out:
            proc = subprocess.Popen(scope.wrap(cmd), stdin=subprocess.DEVNULL, stdout=out,
                                    stderr=subprocess.STDOUT, env=_tool_env())
            try:
                code = proc.wait(BUILD_TIMEOUT)
            except subprocess.TimeoutExpired:
                code = "timeout"
        if code != 0:
            with open(build_log, "rb") as f:
                tail = f.read()[-3000:].decode(errors="replace")
            raise ContainerError(f"debootstrap failed ({code}):\n{tail}")
        _trim_tree(tree)
        tarball = os.path.join(scratch, "tree.tar.gz")
        # The recipe first, so that checking a cache reads one member only.
        subprocess.run(["tar", "--numeric-owner", "--xattrs", "-C", tree, "-czf", tarball,
                        "./" + RECIPE_FILE, "--exclude=./" + RECIPE_FILE, "."],
                       check=True, stdin=subprocess.DEVNULL)
        with open(tarball, "rb") as f:
            os.fsync(f.fileno())
        os.replace(tarball, path)
        dirfd = os.open(directory, os.O_RDONLY)
        try:
            os.fsync(dirfd)
        finally:
            os.close(dirfd)
    finally:
        scope.close()
    seconds = time.monotonic() - started
    log(f"container tree built in {seconds:.1f} s ({os.path.getsize(path) >> 20} MiB)")
    return seconds


def _trim_tree(tree):
    for sub in ("var/cache/apt/archives", "var/lib/apt/lists"):
        top = os.path.join(tree, sub)
        for name in os.listdir(top):
            p = os.path.join(top, name)
            if os.path.isfile(p) and name != "lock":
                os.unlink(p)
    # An empty machine id: each boot gets a fresh one, and no first-boot units run.
    with open(os.path.join(tree, "etc/machine-id"), "w"):
        pass
    with open(os.path.join(tree, "etc/hostname"), "w") as f:
        f.write(HOSTNAME + "\n")
    with open(os.path.join(tree, RECIPE_FILE), "w") as f:
        f.write(RECIPE)


def _tool_env():
    # nspawn and debootstrap see no variables of the test run (SYSTEMD_*, a CI's settings).
    return {"PATH": os.environ.get("PATH") or CONTAINER_PATH, "LANG": "C.UTF-8"}


# --- can it run here ----------------------------------------------------------------------

def skip_reason():
    """Why containers cannot run on this machine, or None when they can."""
    if not sys.platform.startswith("linux"):
        return "systemd containers need Linux"
    if os.geteuid() != 0:
        return "systemd-nspawn containers need root"
    for tool, package in (("systemd-nspawn", "systemd-container"), ("nsenter", "util-linux"),
                          ("unshare", "util-linux"), ("tar", "tar")):
        if not shutil.which(tool):
            return f"{tool} is not installed (Debian package {package})"
    # Both the tree's build and nspawn need mount namespaces of their own; a chroot whose root
    # is no mount point, for one, cannot make them.
    probe = subprocess.run(["unshare", "--mount", "--propagation", "private", "true"],
                           stdin=subprocess.DEVNULL, capture_output=True, text=True)
    if probe.returncode != 0:
        return f"cannot make a mount namespace of its own here: {probe.stderr.strip()}"
    roots = cgroup_roots()
    if not roots:
        return "no cgroup hierarchy is mounted"
    for root, _ in roots:
        probe = os.path.join(root, f"{NAME_PREFIX}probe-{os.getpid()}")
        try:
            os.mkdir(probe)
            os.rmdir(probe)
        except OSError as e:
            return f"cannot create a cgroup under {root}: {e.strerror}"
    if not _cache_is_current(cache_path()):
        if not shutil.which("debootstrap"):
            return "no container tree cached and debootstrap is not installed"
        if not debian_mirror():
            return f"no container tree cached and no Debian mirror for {SUITE} in apt sources"
    return None


def boot_or_skip(**kwargs):
    """A booted Container, or unittest.SkipTest saying why containers cannot run here."""
    reason = skip_reason()
    if reason:
        raise unittest.SkipTest(reason)
    box = Container(**kwargs)
    try:
        box.start()
    except ContainerUnavailable as e:
        box.close()
        raise unittest.SkipTest(f"systemd container unavailable: {e}")
    except BaseException:
        box.close()
        raise
    return box


# --- the container ------------------------------------------------------------------------

class Container:
    """A booted bookworm systemd. Use as a context manager, or start() and close().

    build_dir is bound read-only at the same path (default: the directory of
    $QUENBY_BIN, else the repository's build/); binds names more directories to bind
    read-only. After start(), state is "running" or "degraded", failed_units lists the
    units that failed, and timings holds the seconds spent on each step.
    """

    def __init__(self, build_dir=None, binds=(), boot_timeout=BOOT_TIMEOUT):
        self.build_dir = os.path.abspath(build_dir or default_build_dir())
        self.binds = [self.build_dir, *[os.path.abspath(b) for b in binds]]
        for path in self.binds:
            if ":" in path:
                raise ContainerError(f"cannot bind a path with a colon: {path}")
            # A missing build is the run's fault, not the machine's: an error, never a skip.
            if not os.path.isdir(path):
                raise ContainerError(f"{path} does not exist: nothing to bind into the container")
        self.boot_timeout = boot_timeout
        self.scope = None
        self.proc = None
        self.leader = None
        self.exit_code = None
        self.state = None
        self.failed_units = []
        self.timings = {}
        self.workdir = None
        self._spawned = []

    # The quenby under test, as a path inside the container.
    @property
    def quenby(self):
        return os.path.join(self.build_dir, "quenby")

    @property
    def name(self):
        return self.scope.name if self.scope else None

    @property
    def cgroups(self):
        return list(self.scope.cgroups) if self.scope else []

    def __enter__(self):
        try:
            self.start()
        except BaseException:
            self.close()
            raise
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def start(self):
        """Boots the container; a container already started (boot_or_skip's) is left as it is,
        so that `with boot_or_skip() as box:` boots once."""
        if self.scope is not None:
            if self.scope.closed:
                raise ContainerError("a container that was torn down cannot start again")
            return self
        sweep_stale()
        self.timings["cache_build"] = ensure_cache()
        self.scope = _Scope("c")
        self.workdir = os.path.join(tempfile.gettempdir(), self.scope.name)
        self.scope.add_removal(self.workdir)
        self.scope.add_removal(os.path.join(NSPAWN_RUN, "propagate", self.scope.name))
        os.mkdir(self.workdir, 0o700)
        tree = os.path.join(self.workdir, "tree")
        os.mkdir(tree)
        # nspawn locks a directory image by its inode under /run; a killed nspawn leaves it.
        st = os.stat(tree)
        self.scope.add_removal(os.path.join(NSPAWN_RUN, "locks",
                                            f"inode-{st.st_dev}:{st.st_ino}"))

        started = time.monotonic()
        subprocess.run(["tar", "--numeric-owner", "--xattrs", "-C", tree, "-xzf",
                        cache_path()], check=True, stdin=subprocess.DEVNULL)
        self.timings["restore"] = time.monotonic() - started

        started = time.monotonic()
        cmd = ["systemd-nspawn", "--boot", "--directory", tree, "--machine", self.scope.name,
               "--register=no", "--keep-unit", "--volatile=overlay", "--console=pipe",
               "--private-network"]
        cmd += [f"--bind-ro={path}" for path in self.binds]
        self.console_path = os.path.join(self.workdir, "console.log")
        with open(self.console_path, "wb") as console:
            self.proc = subprocess.Popen(self.scope.wrap(cmd), stdin=subprocess.DEVNULL,
                                         stdout=console, stderr=subprocess.STDOUT,
                                         env=_tool_env())
        self._wait_boot(started)
        self.timings["boot"] = time.monotonic() - started
        log(f"{self.name}: {self.state} after restore {self.timings['restore']:.1f} s "
            f"+ boot {self.timings['boot']:.1f} s"
            + (f"; failed units: {self.failed_units}" if self.failed_units else ""))
        return self

    def console(self):
        """What nspawn and the container's console printed."""
        try:
            with open(self.console_path, "rb") as f:
                return f.read().decode(errors="replace")
        except (OSError, AttributeError):
            return ""

    def _unavailable(self, what):
        return ContainerUnavailable(f"{what}; console:\n{self.console()[-3000:]}")

    def _find_leader(self, deadline):
        # The container's PID 1 is nspawn's child that execs systemd in a PID namespace of
        # its own; entering it before then would enter half-made namespaces.
        own_ns = os.readlink("/proc/self/ns/pid")
        while True:
            if self.proc.poll() is not None:
                raise self._unavailable(f"systemd-nspawn exited with {self.proc.returncode}")
            for entry in os.listdir("/proc"):
                if not entry.isdigit():
                    continue
                try:
                    with open(f"/proc/{entry}/stat") as f:
                        stat = f.read()
                    ppid = int(stat[stat.rindex(")") + 2:].split()[1])
                    comm = stat[stat.index("(") + 1:stat.rindex(")")]
                    if (ppid == self.proc.pid and comm == "systemd"
                            and os.readlink(f"/proc/{entry}/ns/pid") != own_ns):
                        return int(entry)
                except (OSError, ValueError):
                    continue
            if time.monotonic() > deadline:
                raise self._unavailable("the container's systemd did not start")
            time.sleep(0.02)

    def _wait_boot(self, started):
        deadline = started + self.boot_timeout
        self.leader = self._find_leader(deadline)
        self.scope.set_namespace(self.leader)
        while True:
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                raise self._unavailable(f"boot did not finish in {self.boot_timeout} s "
                                        f"(state {self.state!r})")
            try:
                _, out, _ = self.run(["systemctl", "is-system-running", "--wait"],
                                     check=False, timeout=remaining)
            except subprocess.TimeoutExpired:
                continue
            self.state = out.strip()
            if self.state in ("running", "degraded"):
                break
            if self.state in ("maintenance", "stopping"):
                raise self._unavailable(f"the container's boot failed: {self.state}")
            if self.proc.poll() is not None:
                raise self._unavailable(f"systemd-nspawn exited with {self.proc.returncode}")
            # The manager's socket is not there yet ("offline"), or it is still starting.
            time.sleep(0.05)
        if self.state == "degraded":
            _, out, _ = self.run(["systemctl", "--failed", "--plain", "--no-legend"],
                                 check=False)
            self.failed_units = [line.split()[0] for line in out.splitlines() if line.split()]

    # --- commands inside -------------------------------------------------------------------

    def command(self, cmd, user=None, env=None):
        """The host command that runs cmd inside the container (as user, with env added to a
        clean environment), in the container's cgroup."""
        if self.leader is None or self.proc.poll() is not None:
            raise ContainerError("the container is not running")
        variables = {"PATH": CONTAINER_PATH, "LANG": "C.UTF-8", "HOME": "/root",
                     "TERM": "dumb", "SYSTEMD_PAGER": "", "SYSTEMD_COLORS": "0"}
        variables.update(env or {})
        inner = list(cmd)
        if user is not None:
            user = str(user)
            variables["HOME"] = "/"
            inner = ["sh", "-c",
                     'u=$1; shift; exec setpriv --reuid="$u" --regid="$(id -g "$u")" '
                     '--init-groups -- "$@"', "sh", user, *inner]
        entered = ["nsenter", "--target", str(self.leader), "--all", "--root", "--wd",
                   "env", "-i", *[f"{k}={v}" for k, v in variables.items()], *inner]
        return self.scope.wrap(entered, sub="exec")

    def run(self, cmd, user=None, check=True, timeout=60, env=None, input=None):
        """Runs cmd inside and returns (exit code, stdout, stderr) as text.

        check raises CommandFailed on a non-zero exit; timeout (seconds) raises
        subprocess.TimeoutExpired. input is text for standard input (else /dev/null).
        """
        proc = subprocess.run(self.command(cmd, user, env), input=input,
                              stdin=None if input is not None else subprocess.DEVNULL,
                              capture_output=True, text=True, errors="replace",
                              timeout=timeout)
        if check and proc.returncode != 0:
            raise CommandFailed(list(cmd), proc.returncode, proc.stdout, proc.stderr)
        return proc.returncode, proc.stdout, proc.stderr

    def spawn(self, cmd, user=None, env=None, stdout=subprocess.DEVNULL,
              stderr=subprocess.DEVNULL):
        """Starts cmd inside without waiting; returns the host's subprocess.Popen.

        Signals sent to the Popen reach nsenter, not cmd: signal cmd from inside
        (run(["kill", ...])). wait() returns cmd's exit code. Teardown ends it.
        """
        proc = subprocess.Popen(self.command(cmd, user, env), stdin=subprocess.DEVNULL,
                                stdout=stdout, stderr=stderr)
        self._spawned.append(proc)
        return proc

    def journal(self, *args):
        """journalctl's output inside, after asking journald to store what it has."""
        self.run(["journalctl", "--sync"], check=False)
        return self.run(["journalctl", "--no-pager", "--quiet", *args])[1]

    def path(self, inside):
        """The host's path to a file inside the running container."""
        if self.leader is None:
            raise ContainerError("the container is not running")
        return f"/proc/{self.leader}/root/{inside.lstrip('/')}"

    def read_file(self, inside):
        with open(self.path(inside), "rb") as f:
            return f.read()

    def write_file(self, inside, data, mode=0o644):
        """Writes data (bytes or text) to a file inside, making its directory."""
        target = self.path(inside)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, "wb") as f:
            f.write(data.encode() if isinstance(data, str) else data)
        os.chmod(target, mode)

    def poweroff(self, timeout=60):
        """Shuts the container down with systemctl poweroff; returns nspawn's exit code."""
        self.run(["systemctl", "poweroff"], check=False)
        try:
            self.exit_code = self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            raise ContainerError(f"still running {timeout} s after poweroff; console:\n"
                                 f"{self.console()[-3000:]}")
        self.leader = None
        return self.exit_code

    def close(self):
        """Kills whatever is left of the container and removes its cgroups and files."""
        if self.scope is None or self.scope.closed:
            return
        started = time.monotonic()
        try:
            self.scope.release()
            # Reaped here while the reaper kills them, so that no zombie of ours holds on to
            # the cgroup it is about to remove.
            for proc in ([self.proc] if self.proc else []) + self._spawned:
                try:
                    proc.wait(KILL_TIMEOUT)
                except subprocess.TimeoutExpired:
                    proc.kill()
                    proc.wait()
            self.scope.close()
        finally:
            if self.proc is not None and self.exit_code is None:
                self.exit_code = self.proc.returncode
            self.leader = None
            self.timings["teardown"] = time.monotonic() - started
        log(f"{self.name}: torn down in {self.timings['teardown']:.2f} s")


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "--reap":
        _reaper_main(sys.argv[2])
    sys.exit(f"usage: {sys.argv[0]} --reap PLAN (the harness starts this itself)")
