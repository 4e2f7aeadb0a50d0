"""Shared helpers of the end-to-end tests of the quenby daemon.

Every test works in a Workspace: a private temporary directory that holds the
configuration directory (passed as QUENBY_CONFDIR), a log directory, the
captured standard output of each daemon it starts, and a UDP port that was
free when the workspace was made. Workspaces never share anything, so the
test modules can run in parallel.

The daemon's standard output goes to a file by default: a pipe that the test
does not drain fast enough would stall the echo and turn a burst into dropped
echo lines that are the test's fault. A test of that very case asks for a
pipe and reads it only when it wants to.
"""

import os
import re
import shutil
import signal
import socket
import subprocess
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))

BANNER = b"Debugging Nolvane Syslog Server.\n"
STOP_LINE = b"Stopping Nolvane Syslog Server.\n"
NO_PERMIT_WARNING = b"Warning. No [Permit] addresses. LogType set to 1\r\n"
SOCKET_FAILURE = b"Failed to allocate socket. Is another Syslog Server running?\n"
WAITING = b"Waiting for messages.\r\n"

# The user and group that the tests run the daemon as when it must not be root.
NOBODY = 65534

# A fixed zone east of UTC without daylight saving: a daemon that stamps its
# records in UTC instead of local time is off by five and a half hours.
TEST_TZ = "QNB-5:30"
TEST_TZ_OFFSET = 5 * 3600 + 30 * 60

MONTHS = ("Jan", "Feb", "Mar", "Apr", "May", "Jun",
          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec")

# Time stamp, sender address, then the rest: "facility.severity message".
RECORD = re.compile(rb"([A-Z][a-z]{2} \d\d \d\d:\d\d:\d\d) (\S+) (.*)\Z", re.S)


def quenby_bin():
    path = os.environ.get("QUENBY_BIN") or os.path.join(HERE, "..", "..", "build", "quenby")
    return os.path.abspath(path)


def free_udp_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("0.0.0.0", 0))
        return s.getsockname()[1]


def wait_for(predicate, what, timeout=10.0):
    """Polls predicate until it returns something true, and returns that."""
    deadline = time.monotonic() + timeout
    while True:
        result = predicate()
        if result:
            return result
        if time.monotonic() >= deadline:
            raise AssertionError(f"timed out after {timeout} s waiting for {what}")
        time.sleep(0.02)


def local_tm(t, offset):
    return time.gmtime(int(t) + offset)


def record_stamp(t, offset=TEST_TZ_OFFSET):
    """The daemon's "%b %d %H:%M:%S" stamp of second t in the test zone."""
    tm = local_tm(t, offset)
    return (f"{MONTHS[tm.tm_mon - 1]} {tm.tm_mday:02d} "
            f"{tm.tm_hour:02d}:{tm.tm_min:02d}:{tm.tm_sec:02d}").encode()


def stamps_between(t0, t1, offset=TEST_TZ_OFFSET):
    """Every record stamp of a second from t0 to t1, both included."""
    return {record_stamp(s, offset) for s in range(int(t0), int(t1) + 1)}


def split_lines(data):
    """Splits at LF only, keeping the LF; a CR never ends a line here."""
    parts = data.split(b"\n")
    lines = [p + b"\n" for p in parts[:-1]]
    if parts[-1]:
        lines.append(parts[-1])
    return lines


def split_record(line):
    """Returns (stamp, sender, rest) of a record line, or fails the test."""
    m = RECORD.match(line)
    if not m:
        raise AssertionError(f"not a record line: {line!r}")
    return m.groups()


def read_bytes(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        return b""


def wait_lines(path, count, timeout=10.0):
    """Waits until the file holds at least count LF-ended lines; returns its lines."""
    def check():
        data = read_bytes(path)
        return data if data.count(b"\n") >= count else None
    return split_lines(wait_for(check, f"{count} lines in {path}", timeout))


def send(port, data, src="127.0.0.1"):
    """Sends one datagram to the daemon from the loopback address src."""
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind((src, 0))
        s.sendto(data, ("127.0.0.1", port))


def config_echo(ws, *, rotate=False, by_address=False, log_dir=None, permit=None):
    """The configuration lines that the daemon prints before it starts receiving."""
    permit = ws.permit if permit is None else permit
    text = (b"Configuration file parameters:\r\n"
            b"Config file name: " + ws.ini_path.encode() + b"\r\n"
            b"Syslog directory: " + (log_dir or ws.logdir).encode() + b"\r\n"
            b"Rotate logs daily: " + (b"True." if rotate else b"False.") + b"\r\n"
            b"Syslog type: " + (b"By IP Address." if by_address else b"Single file.") + b"\r\n")
    if permit:
        text += (b"Permitted IP Addresses:\r\n"
                 + b"".join(p.encode() + b", " for p in permit)
                 + b"\r\n" + WAITING)
    return text


class Workspace:
    def __init__(self, test):
        self.test = test
        self.root = tempfile.mkdtemp(prefix="quenby-e2e-")
        test.addCleanup(shutil.rmtree, self.root, True)
        self.confdir = os.path.join(self.root, "etc")
        os.mkdir(self.confdir)
        self.logdir = os.path.join(self.root, "logs") + "/"
        os.mkdir(self.logdir)
        self.port = free_udp_port()
        self.permit = []
        self.runs = 0

    @property
    def ini_path(self):
        return os.path.join(self.confdir, "Quenby.ini")

    def write_ini(self, lines, newline="\n"):
        with open(self.ini_path, "wb") as f:
            f.write("".join(line + newline for line in lines).encode())

    def configure(self, *, log_type=1, rotate=0, log_dir=None, permit=("127.0.0.1",),
                  newline="\n"):
        """Writes a Quenby.ini; permit may hold comment and empty lines, which are skipped."""
        lines = ["[Syslog]", f"LogType={log_type}", f"RotateLogs={rotate}",
                 f"LogDir={log_dir or self.logdir}", f"Port={self.port}"]
        if permit:
            lines.append("[Permit]")
            lines.extend(permit)
        self.write_ini(lines, newline)
        self.permit = [p for p in permit if p and not p.startswith("#")]

    def log_path(self, name):
        return os.path.join(self.logdir, name)

    def open_to_others(self):
        """Lets another user reach the workspace and create files in the log directory."""
        for path in (self.root, self.confdir):
            os.chmod(path, 0o755)
        os.chmod(self.logdir, 0o777)

    def start(self, *args, env=None, pipe=False, user=None):
        """Starts quenby; pipe gives it a pipe for standard output, user runs it as that
        uid (and gid of the same number)."""
        return Daemon(self, args, env, pipe, user)


def _default_signals():
    # The daemon must see the dispositions it sets itself, not ones that the
    # test runner happens to ignore (nohup, a CI shell without a terminal).
    for sig in (signal.SIGINT, signal.SIGQUIT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(sig, signal.SIG_DFL)
    signal.pthread_sigmask(signal.SIG_SETMASK, [])


class Daemon:
    def __init__(self, ws, args, env, pipe=False, user=None):
        self.ws = ws
        self.args = args
        ws.runs += 1
        self.stdout_path = os.path.join(ws.root, f"stdout-{ws.runs}.txt")
        self.stderr_path = os.path.join(ws.root, f"stderr-{ws.runs}.txt")
        full_env = dict(os.environ, QUENBY_CONFDIR=ws.confdir, TZ=TEST_TZ)
        full_env.update(env or {})
        program = quenby_bin()
        ids = {}
        if user is not None:
            ids = dict(user=user, group=user, extra_groups=[])
            # The build tree may lie where that user cannot reach (a checkout in /root): the
            # daemon runs from a copy in the workspace, which the test has opened to others.
            program = os.path.join(ws.root, "quenby")
            if not os.path.exists(program):
                shutil.copy2(quenby_bin(), program)
        self.piped = None
        self.started_at = time.monotonic()
        with open(self.stdout_path, "wb") as out, open(self.stderr_path, "wb") as err:
            self.proc = subprocess.Popen([program, *args], cwd=ws.root,
                                         stdin=subprocess.DEVNULL,
                                         stdout=subprocess.PIPE if pipe else out, stderr=err,
                                         env=full_env, preexec_fn=_default_signals, **ids)
        if pipe:
            self.piped = bytearray()
            os.set_blocking(self.proc.stdout.fileno(), False)
        self.header = None
        # Cleanups run last-in first-out: the process is ended before its
        # standard error is looked at.
        ws.test.addCleanup(self._check_stderr)
        ws.test.addCleanup(self._reap)

    def _reap(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        if self.piped is not None:
            self.proc.stdout.close()

    def _check_stderr(self):
        # The daemon reports everything on standard output; anything on
        # standard error is a diagnostic of the run time or a sanitizer.
        errors = read_bytes(self.stderr_path)
        if errors:
            raise AssertionError(
                f"quenby {' '.join(self.args)} wrote to standard error: {errors!r}")

    def output(self):
        """Everything on standard output so far; with a pipe, reads what is waiting in it."""
        if self.piped is None:
            return read_bytes(self.stdout_path)
        while True:
            try:
                chunk = os.read(self.proc.stdout.fileno(), 1 << 20)
            except BlockingIOError:
                break
            if not chunk:
                break
            self.piped += chunk
        return bytes(self.piped)

    def describe(self):
        # Never reads the pipe: describing a failure must not drain a console that the
        # test keeps unread. A long output is shown by its ends.
        out = read_bytes(self.stdout_path) if self.piped is None else bytes(self.piped)
        if len(out) > 4000:
            out = out[:1000] + b"[...]" + out[-2000:]
        return (f"exit code {self.proc.returncode}, stdout {out!r}, "
                f"stderr {read_bytes(self.stderr_path)!r}")

    def wait_output(self, text, timeout=10.0):
        """Waits until text appears on standard output; returns the output."""
        def check():
            out = self.output()
            if text in out:
                return out
            if self.proc.poll() is not None and text not in self.output():
                raise AssertionError(f"quenby ended before printing {text!r}: {self.describe()}")
            return None
        return wait_for(check, f"{text!r} on standard output ({self.describe()})", timeout)

    def wait_ready(self, timeout=10.0):
        """Waits for the end of the configuration echo and returns everything printed so far.

        The socket is bound before the echo starts, so datagrams sent from
        now on are queued even if the receive loop has not begun.
        """
        marker = WAITING if self.ws.permit else b"Syslog type: Single file.\r\n"
        out = self.wait_output(marker, timeout=timeout)
        self.header = out[:out.index(marker) + len(marker)]
        return self.header

    def since_ready(self):
        return self.output()[len(self.header):]

    def send(self, data, src="127.0.0.1"):
        send(self.ws.port, data, src)

    def wait(self, timeout=10.0):
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            raise AssertionError(f"quenby still running after {timeout} s: {self.describe()}")

    def stop(self, sig=signal.SIGINT, timeout=10.0):
        self.proc.send_signal(sig)
        return self.wait(timeout)
