#!/usr/bin/env python3
"""UDP throughput benchmark for quenby (and rsyslog as a reference).

For each target and rate this script
  1. starts the daemon in a fresh temporary directory on a free loopback port,
  2. waits until the UDP socket is bound (and, for quenby, until logs/syslog.log exists),
  3. runs quenby-loadgen for the given rate, duration and message size,
  4. waits until the output file stops growing,
  5. samples the daemon's CPU time and peak RSS, stops it with SIGTERM,
  6. reads the output file and checks the sequence numbers for loss,
     duplicates and reordering.

Only the Python standard library is used. Everything is sent to 127.0.0.1.

Examples (from the top of the source tree, after building):
  bench/run-bench.py                                  # quenby and rsyslog, 10k/50k/100k per s
  bench/run-bench.py --target quenby --rates 50000
  bench/run-bench.py --target rsyslog --rates 10000 --seconds 5 --size 512
"""

import argparse
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
from pathlib import Path

SRC_DIR = Path(__file__).resolve().parent.parent
HEADER_LEN = len("<134>bench seq=0000000001 ")
SEQ_RE = re.compile(rb"seq=(\d{10}) (x*)")
CLK_TCK = os.sysconf("SC_CLK_TCK")
PAGE = os.sysconf("SC_PAGE_SIZE")

START_TIMEOUT = 15.0  # s until the daemon must have bound its socket
STOP_TIMEOUT = 15.0  # s until the daemon must have exited after SIGTERM
DRAIN_LIMIT = 60.0  # s at most spent waiting for the output to settle
POLL = 0.05  # s between samples of the output size


def log(msg):
    print(msg, file=sys.stderr, flush=True)


# ---------------------------------------------------------------------------
# /proc helpers


def free_udp_port():
    """A UDP port that is free on all addresses right now."""
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("", 0))
        return s.getsockname()[1]


def udp_sockets(port):
    """Rows of /proc/net/udp{,6} whose local port is `port`:
    list of (rx_queue bytes, drops, inode)."""
    rows = []
    for name in ("/proc/net/udp", "/proc/net/udp6"):
        try:
            lines = Path(name).read_text().splitlines()[1:]
        except OSError:
            continue
        for line in lines:
            f = line.split()
            if len(f) < 13:
                continue
            local_port = int(f[1].rsplit(":", 1)[1], 16)
            if local_port != port:
                continue
            rx_queue = int(f[4].split(":")[1], 16)
            rows.append((rx_queue, int(f[12]), int(f[9])))
    return rows


def udp_snmp():
    """System-wide UDP counters from /proc/net/snmp."""
    lines = [l.split() for l in Path("/proc/net/snmp").read_text().splitlines()
             if l.startswith("Udp:")]
    return dict(zip(lines[0][1:], map(int, lines[1][1:])))


def socket_rcvbuf(port):
    """Receive buffer size (bytes) of the socket bound to `port`, from ss -m."""
    try:
        out = subprocess.run(["ss", "-H", "-uanm", f"sport = :{port}"], capture_output=True,
                             text=True, timeout=5).stdout
    except (OSError, subprocess.SubprocessError):
        return None
    m = re.search(r"\brb(\d+)", out)
    return int(m.group(1)) if m else None


def machine_cpu():
    """Aggregate jiffies from /proc/stat: (busy, idle, steal, total)."""
    f = [int(x) for x in Path("/proc/stat").read_text().split("\n", 1)[0].split()[1:]]
    idle = f[3] + f[4]
    steal = f[7] if len(f) > 7 else 0
    total = sum(f[:8])
    return total - idle - steal, idle, steal, total


def cpu_seconds(pid):
    """utime + stime of all threads of `pid`, in seconds."""
    stat = Path(f"/proc/{pid}/stat").read_text()
    rest = stat[stat.rindex(")") + 2:].split()
    return (int(rest[11]) + int(rest[12])) / CLK_TCK


def peak_rss_kib(pid):
    for line in Path(f"/proc/{pid}/status").read_text().splitlines():
        if line.startswith("VmHWM:"):
            return int(line.split()[1])
    return 0


def thread_count(pid):
    try:
        return len(os.listdir(f"/proc/{pid}/task"))
    except OSError:
        return 0


# ---------------------------------------------------------------------------
# Daemons


class Daemon:
    """A collector started in its own temporary directory."""

    name = "?"

    def __init__(self, tmp, port):
        self.tmp = Path(tmp)
        self.port = port
        self.proc = None
        self.stderr_path = self.tmp / "daemon.stderr"

    def command(self):
        raise NotImplementedError

    def env(self):
        return dict(os.environ)

    def prepare(self):
        pass

    def ready(self):
        return bool(udp_sockets(self.port))

    def output_files(self):
        raise NotImplementedError

    def start(self):
        self.prepare()
        with open(self.stderr_path, "wb") as err:
            self.proc = subprocess.Popen(self.command(), cwd=self.tmp, env=self.env(),
                                         stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                         stderr=err)
        deadline = time.monotonic() + START_TIMEOUT
        while time.monotonic() < deadline:
            if self.proc.poll() is not None:
                raise RuntimeError(f"{self.name} exited during start-up with code "
                                   f"{self.proc.returncode}; stderr:\n{self.stderr_tail()}")
            if self.ready():
                return
            time.sleep(POLL)
        self.kill()
        raise RuntimeError(f"{self.name} did not bind UDP port {self.port} within "
                           f"{START_TIMEOUT:.0f} s; stderr:\n{self.stderr_tail()}")

    def stop(self):
        """SIGTERM and wait; returns the exit code (None if it had to be killed)."""
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(timeout=STOP_TIMEOUT)
            except subprocess.TimeoutExpired:
                log(f"{self.name} still running {STOP_TIMEOUT:.0f} s after SIGTERM, killing it")
                self.kill()
                return None
        return self.proc.returncode

    def kill(self):
        if self.proc and self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()

    def stderr_tail(self, n=2000):
        try:
            return self.stderr_path.read_bytes()[-n:].decode(errors="replace")
        except OSError:
            return ""

    def output_size(self):
        total = 0
        for p in self.output_files():
            try:
                total += p.stat().st_size
            except OSError:
                pass
        return total


class Quenby(Daemon):
    name = "quenby"

    def __init__(self, tmp, port, binary):
        super().__init__(tmp, port)
        self.binary = binary
        self.logdir = self.tmp / "logs"

    def prepare(self):
        # The log directory must exist; the daemon creates syslog.log in it at start.
        self.logdir.mkdir()
        (self.tmp / "Quenby.ini").write_text(
            "[Syslog]\n"
            "LogType=1\n"
            "RotateLogs=0\n"
            f"LogDir={self.logdir}/\n"
            f"Port={self.port}\n"
            "[Permit]\n"
            "127.0.0.1\n")

    def command(self):
        return [str(self.binary), "-f"]

    def env(self):
        env = super().env()
        env["QUENBY_CONFDIR"] = str(self.tmp)
        return env

    def ready(self):
        return (self.logdir / "syslog.log").exists() and super().ready()

    def output_files(self):
        if not self.logdir.is_dir():
            return []
        return sorted(p for p in self.logdir.rglob("*") if p.is_file())


class Rsyslog(Daemon):
    name = "rsyslog"

    def __init__(self, tmp, port, binary, rcvbuf=None):
        super().__init__(tmp, port)
        self.binary = binary
        self.rcvbuf = rcvbuf
        self.out = self.tmp / "out.log"
        self.conf = self.tmp / "rsyslog.conf"

    def prepare(self):
        (self.tmp / "work").mkdir()
        # Stock settings apart from the single UDP input and the single file.
        self.conf.write_text(
            f'global(workDirectory="{self.tmp}/work")\n'
            'module(load="imudp")\n'
            f'input(type="imudp" address="127.0.0.1" port="{self.port}"'
            + (f' rcvbufSize="{self.rcvbuf}"' if self.rcvbuf else "") + ")\n"
            f'*.* action(type="omfile" file="{self.out}"'
            ' template="RSYSLOG_TraditionalFileFormat")\n')

    def command(self):
        return [str(self.binary), "-n", "-f", str(self.conf), "-i", str(self.tmp / "rsyslogd.pid")]

    def output_files(self):
        return [self.out]


# ---------------------------------------------------------------------------
# Measurement


def analyse(files, size):
    """Reads the stored records and checks the sequence numbers."""
    seqs = []
    other = 0
    short = 0
    pad = size - HEADER_LEN
    for p in files:
        with open(p, "rb") as f:
            for line in f:
                m = SEQ_RE.search(line)
                if m is None:
                    other += 1
                    continue
                seqs.append(int(m.group(1)))
                if len(m.group(2)) != pad:
                    short += 1
    reordered = sum(1 for a, b in zip(seqs, seqs[1:]) if b < a)
    uniq = sorted(set(seqs))
    gaps = []
    expect = 1
    for s in uniq:
        if s > expect:
            gaps.append((expect, s - 1))
        expect = s + 1
    return {"seqs": uniq, "stored": len(seqs), "unique": len(uniq),
            "dups": len(seqs) - len(uniq), "reordered": reordered, "gaps": gaps,
            "other_lines": other, "short": short}


def run_one(kind, rate, args, loadgen):
    tmp = Path(tempfile.mkdtemp(prefix=f"{kind}-bench-"))
    port = free_udp_port()
    if kind == "quenby":
        d = Quenby(tmp, port, args.quenby)
    else:
        d = Rsyslog(tmp, port, args.rsyslogd, args.rsyslog_rcvbuf)
    log(f"--- {kind}: {rate}/s for {args.seconds} s, {args.size} bytes, port {port}, dir {tmp}")
    d.start()
    pid = d.proc.pid
    strace = None
    try:
        if args.strace:
            strace_out = tmp / "strace.txt"
            strace = subprocess.Popen(["strace", "-c", "-f", "-o", str(strace_out),
                                       "-p", str(pid)],
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            time.sleep(0.5)
        rcvbuf = socket_rcvbuf(port)
        snmp0 = udp_snmp()
        cpu0 = cpu_seconds(pid)
        mach0 = machine_cpu()
        t0 = time.monotonic()
        gen = subprocess.Popen([str(loadgen), "--port", str(port), "--rate", str(rate),
                                "--seconds", str(args.seconds), "--size", str(args.size)],
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        # Follow the output size while the generator runs and afterwards,
        # until it has not changed for --settle seconds.
        last_size = d.output_size()
        last_change = t0
        gen_out = None
        hard_stop = t0 + args.seconds * 1.1 + 5 + DRAIN_LIMIT
        while True:
            now = time.monotonic()
            size = d.output_size()
            if size != last_size:
                last_size, last_change = size, now
            if gen_out is None:
                # wait4() rather than poll() to get the generator's CPU time.
                wpid, status, usage = os.wait4(gen.pid, os.WNOHANG)
                if wpid == gen.pid:
                    gen.returncode = os.waitstatus_to_exitcode(status)
                    gen_out = (gen.stdout.read(), gen.stderr.read())
                    gen_cpu = usage.ru_utime + usage.ru_stime
                    t_gen = now
            if gen_out is not None and now - max(last_change, t_gen) >= args.settle:
                break
            if now > hard_stop:
                log("output still growing, giving up waiting")
                break
            if d.proc.poll() is not None:
                raise RuntimeError(f"{kind} died during the run (code {d.proc.returncode}); "
                                   f"stderr:\n{d.stderr_tail()}")
            time.sleep(POLL)
        if gen_out is None:
            gen.kill()
            gen_out = gen.communicate()
            gen_cpu = float("nan")
        cpu1 = cpu_seconds(pid)
        mach1 = machine_cpu()
        rss = peak_rss_kib(pid)
        threads = thread_count(pid)
        sock = udp_sockets(port)
        snmp1 = udp_snmp()
        if strace is not None:
            strace.send_signal(signal.SIGINT)
            strace.wait(timeout=10)
    finally:
        code = d.stop()
    stdout = gen_out[0].decode(errors="replace")
    if gen_out[1]:
        log(gen_out[1].decode(errors="replace").rstrip())
    m = re.search(r"sent (\d+) in ([\d.]+) s", stdout)
    if m is None:
        raise RuntimeError(f"unexpected load generator output: {stdout!r}")
    sent, send_s = int(m.group(1)), float(m.group(2))
    a = analyse(d.output_files(), args.size)
    store_s = max(last_change - t0, 1e-9)
    lost = sent - sum(1 for s in a["seqs"] if 1 <= s <= sent)
    res = {
        "target": kind + (f" rcvbuf={args.rsyslog_rcvbuf}"
                          if kind == "rsyslog" and args.rsyslog_rcvbuf else ""),
        "rate": rate, "sent": sent, "send_s": send_s,
        "stored": a["stored"], "unique": a["unique"], "lost": lost, "dups": a["dups"],
        "reordered": a["reordered"], "gaps": a["gaps"], "other_lines": a["other_lines"],
        "short": a["short"], "stored_per_s": a["unique"] / store_s, "store_s": store_s,
        "cpu_s": cpu1 - cpu0, "gen_cpu_s": gen_cpu, "rss_mib": rss / 1024, "threads": threads,
        "sock_drops": sock[0][1] if sock else None, "rcvbuf": rcvbuf,
        "rcvbuf_errors": snmp1["RcvbufErrors"] - snmp0["RcvbufErrors"],
        "in_errors": snmp1["InErrors"] - snmp0["InErrors"],
        "exit_code": code, "dir": tmp,
        "machine": [100.0 * (b - a) / max(mach1[3] - mach0[3], 1) for a, b in zip(mach0, mach1)],
    }
    report(res)
    if args.strace:
        log(f"strace -c summary ({tmp / 'strace.txt'}):")
        log((tmp / "strace.txt").read_text())
    if not args.keep:
        shutil.rmtree(tmp, ignore_errors=True)
    return res


def report(r):
    gaps = r["gaps"]
    gap_text = ", ".join(f"{a}-{b}" if a != b else str(a) for a, b in gaps[:5])
    if len(gaps) > 5:
        gap_text += f", ... ({len(gaps)} ranges)"
    log(f"sent {r['sent']} in {r['send_s']:.3f} s; stored {r['stored']} "
        f"({r['unique']} distinct), lost {r['lost']}, duplicates {r['dups']}, "
        f"out of order {r['reordered']}")
    if gaps:
        log(f"missing sequence numbers: {gap_text}")
    if r["short"]:
        log(f"{r['short']} records do not carry the full padding")
    log(f"stored/s {r['stored_per_s']:.0f} (last write {r['store_s']:.2f} s after start); "
        f"daemon CPU {r['cpu_s']:.2f} s, peak RSS {r['rss_mib']:.1f} MiB, "
        f"{r['threads']} threads; exit code {r['exit_code']}; "
        f"load generator CPU {r['gen_cpu_s']:.2f} s")
    busy, idle, steal, _ = r["machine"]
    log(f"machine ({os.cpu_count()} CPUs) during the run: busy {busy:.0f}%, idle {idle:.0f}%, "
        f"steal {steal:.0f}%")
    log(f"kernel: socket receive buffer {r['rcvbuf']} bytes, drops {r['sock_drops']}, UDP RcvbufErrors +{r['rcvbuf_errors']}, "
        f"InErrors +{r['in_errors']}; other lines in output {r['other_lines']}")


def table(results):
    rows = ["| target | rate/s | sent | stored | lost | stored/s | daemon CPU s | peak RSS MiB |",
            "|---|---:|---:|---:|---:|---:|---:|---:|"]
    for r in results:
        rows.append(f"| {r['target']} | {r['rate']} | {r['sent']} | {r['stored']} | {r['lost']} "
                    f"| {r['stored_per_s']:.0f} | {r['cpu_s']:.2f} | {r['rss_mib']:.1f} |")
    return "\n".join(rows)


def find_loadgen(args, tmp_root):
    if args.loadgen:
        return Path(args.loadgen)
    built = args.build_dir / "bench" / "quenby-loadgen"
    if built.exists():
        return built
    # Not part of the CMake build (yet): compile it on the side.
    out = Path(tmp_root) / "quenby-loadgen"
    log(f"{built} not found, compiling {out}")
    subprocess.run(["g++", "-O2", "-std=c++20", "-Wall", "-Wextra", "-Wconversion",
                    "-o", str(out), str(SRC_DIR / "bench" / "loadgen.cpp")], check=True)
    return out


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--target", choices=["quenby", "rsyslog", "all"], default="all")
    ap.add_argument("--rates", default="10000,50000,100000",
                    help="comma-separated datagrams per second (default %(default)s)")
    ap.add_argument("--seconds", type=float, default=10.0, help="send duration per run")
    ap.add_argument("--size", type=int, default=120, help="datagram size in bytes")
    ap.add_argument("--settle", type=float, default=2.0,
                    help="the output counts as complete once unchanged for this long")
    ap.add_argument("--build-dir", type=Path, default=SRC_DIR / "build")
    ap.add_argument("--quenby", type=Path, help="daemon binary (default BUILD_DIR/quenby)")
    ap.add_argument("--rsyslogd", type=Path, default=Path("/usr/sbin/rsyslogd"))
    ap.add_argument("--rsyslog-rcvbuf", metavar="SIZE",
                    help="rcvbufSize for rsyslog's imudp, e.g. 4m (default: system default)")
    ap.add_argument("--loadgen", type=Path,
                    help="load generator (default BUILD_DIR/bench/quenby-loadgen, "
                         "compiled on the fly if missing)")
    ap.add_argument("--strace", action="store_true",
                    help="attach 'strace -c -f' to the daemon (slows it down; for syscall "
                         "counts only, not for throughput numbers)")
    ap.add_argument("--keep", action="store_true", help="keep the temporary directories")
    args = ap.parse_args()
    if args.quenby is None:
        args.quenby = args.build_dir / "quenby"
    if args.size < HEADER_LEN:
        ap.error(f"--size must be at least {HEADER_LEN}")
    rates = [int(x) for x in args.rates.split(",") if x]
    targets = ["quenby", "rsyslog"] if args.target == "all" else [args.target]

    results = []
    with tempfile.TemporaryDirectory(prefix="quenby-loadgen-") as tmp_root:
        loadgen = find_loadgen(args, tmp_root)
        for kind in targets:
            for rate in rates:
                try:
                    results.append(run_one(kind, rate, args, loadgen))
                except (RuntimeError, OSError, subprocess.SubprocessError) as e:
                    log(f"{kind} at {rate}/s failed: {e}")
    print(table(results))
    return 0 if results else 1


if __name__ == "__main__":
    sys.exit(main())
