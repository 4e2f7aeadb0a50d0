#!/usr/bin/env python3
"""Load benchmark for the log viewer: vantrel-loadbench against `wc -l` on the same file.

The script
  1. writes a syslog file of the given size with make-syslog-file.py (into a fresh temporary
     directory, or to --file when that does not exist yet; an existing --file is used as it is),
  2. reads the file once to /dev/null so that it is in the page cache,
  3. times `wc -l <file>` --runs times and keeps the best,
  4. runs `build/bench/vantrel-loadbench <file>` --runs times, each in a fresh process, and keeps
     the best load time and the largest peak RSS,
  5. prints the runs and a table: file size, lines, wc -l s, load s, load/wc, peak RSS MiB,
     peak RSS / file size.

A file in the temporary directory is deleted at the end unless --keep is given; a --file is
never deleted.

Only the Python standard library is used.

Examples (from the top of the source tree, after building):
  bench/run-viewer-bench.py                        # 1 GB file in a temporary directory, 3 runs
  bench/run-viewer-bench.py --size 50M --runs 5
  bench/run-viewer-bench.py --file /var/tmp/syslog-1g.log
"""

import argparse
import os
import platform
import re
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

SRC_DIR = Path(__file__).resolve().parent.parent
RUN_RE = re.compile(r"run \d+: rows (\d+) seconds ([0-9.]+) peak_rss_mib ([0-9.]+)")
MIB = 1 << 20


def log(msg):
    print(msg, file=sys.stderr, flush=True)


def machine():
    cpu = "?"
    try:
        for line in Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    memory = "?"
    try:
        for line in Path("/proc/meminfo").read_text().splitlines():
            if line.startswith("MemTotal:"):
                memory = f"{int(line.split()[1]) / (1 << 20):.1f} GiB"
                break
    except OSError:
        pass
    return (f"{os.cpu_count()} CPUs ({cpu}), {memory} RAM, kernel {platform.release()}, "
            f"Python {platform.python_version()}")


def warm(path):
    started = time.perf_counter()
    subprocess.run(["cat", str(path)], stdout=subprocess.DEVNULL, check=True)
    return time.perf_counter() - started


def time_wc(path):
    started = time.perf_counter()
    done = subprocess.run(["wc", "-l", str(path)], capture_output=True, text=True, check=True)
    took = time.perf_counter() - started
    return int(done.stdout.split()[0]), took


def run_load(binary, path):
    env = dict(os.environ)
    env.setdefault("QT_QPA_PLATFORM", "offscreen")
    env.setdefault("XDG_RUNTIME_DIR", tempfile.gettempdir())
    done = subprocess.run([str(binary), str(path)], capture_output=True, text=True, env=env)
    if done.returncode != 0:
        log(done.stdout + done.stderr)
        raise SystemExit(f"{binary} failed with code {done.returncode}")
    match = RUN_RE.search(done.stdout)
    if match is None:
        log(done.stdout + done.stderr)
        raise SystemExit(f"no result line from {binary}")
    return int(match.group(1)), float(match.group(2)), float(match.group(3))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--size", default="1G",
                        help="size of the generated file (make-syslog-file.py units; default 1G)")
    parser.add_argument("--file", type=Path,
                        help="file to use, generated there first if it does not exist")
    parser.add_argument("--runs", type=int, default=3, help="runs of each program (default 3)")
    parser.add_argument("--binary", type=Path, default=SRC_DIR / "build/bench/vantrel-loadbench")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--keep", action="store_true",
                        help="keep the temporary directory with the generated file")
    args = parser.parse_args()

    if not args.binary.exists():
        raise SystemExit(f"{args.binary} missing: cmake --preset default && "
                         "cmake --build --preset default")
    tmpdir = None
    if args.file is not None:
        path = args.file
    else:
        tmpdir = Path(tempfile.mkdtemp(prefix="vantrel-bench-"))
        path = tmpdir / "syslog.log"
    try:
        if not path.exists():
            log(f"writing {path} ({args.size})")
            subprocess.run([sys.executable, str(SRC_DIR / "bench/make-syslog-file.py"), str(path),
                            "--size", args.size, "--seed", str(args.seed)], check=True)
        size = path.stat().st_size
        log(f"warming the page cache: {warm(path):.2f} s")

        wc_times = []
        lines = 0
        for i in range(args.runs):
            lines, took = time_wc(path)
            wc_times.append(took)
            log(f"wc -l run {i + 1}: {lines} lines, {took:.3f} s")

        load_times = []
        peaks = []
        rows = 0
        for i in range(args.runs):
            rows, took, peak = run_load(args.binary, path)
            load_times.append(took)
            peaks.append(peak)
            log(f"load run {i + 1}: {rows} rows, {took:.3f} s, peak RSS {peak:.1f} MiB")
    finally:
        if tmpdir is not None:
            if args.keep:
                log(f"kept {tmpdir}")
            else:
                shutil.rmtree(tmpdir, ignore_errors=True)

    wc_best = min(wc_times)
    load_best = min(load_times)
    peak = max(peaks)
    print(f"machine: {machine()}")
    print(f"wc -l runs (s): {', '.join(f'{t:.3f}' for t in wc_times)}")
    print(f"load runs (s): {', '.join(f'{t:.3f}' for t in load_times)}; "
          f"peak RSS (MiB): {', '.join(f'{p:.1f}' for p in peaks)}")
    if rows != lines:
        print(f"note: {rows} rows in the list, {lines} lines counted by wc -l")
    print()
    print("| file size | lines | rows | wc -l best s | load best s | load / wc | peak RSS MiB "
          "| peak RSS / file size |")
    print("|---:|---:|---:|---:|---:|---:|---:|---:|")
    print(f"| {size / MIB:.1f} MiB ({size} B) | {lines} | {rows} | {wc_best:.3f} | {load_best:.3f} "
          f"| {load_best / wc_best:.2f} | {peak:.1f} | {peak * MIB / size:.2f} |")
    print()
    print(f"reference points: load / wc up to 3.00, peak RSS / file size under 1.50")


if __name__ == "__main__":
    main()
