#!/usr/bin/env python3
"""Load benchmark for the log viewer: vantrel-loadbench against `wc -l` on the same file.

For each file shape asked for, the script
  1. writes the file (into a fresh temporary directory, or to --file when that does not exist
     yet; an existing --file is used as it is):
       ordinary    record lines as quenby writes them, by make-syslog-file.py (default 1G)
       giant-line  one record line of the whole size, ended by LF (default 200M)
       tiny-lines  two-byte lines "a" LF (default 200M, that is 100 million lines)
  2. reads the file once to /dev/null so that it is in the page cache,
  3. times `wc -l <file>` --runs times and keeps the best,
  4. runs `build/bench/vantrel-loadbench <file>` --runs times, each in a fresh process, and keeps
     the best load time and the largest peak RSS,
  5. prints the runs and a table with a line per shape: file size, lines, rows, wc -l s, load s,
     load/wc, peak RSS MiB, peak RSS / file size, and the shape's targets, met or not.

A file in the temporary directory is deleted at the end unless --keep is given; a --file is
never deleted.

Only the Python standard library is used.

Examples (from the top of the source tree, after building):
  bench/run-viewer-bench.py                        # 1 GB of ordinary lines, 3 runs
  bench/run-viewer-bench.py --shape all            # the three shapes at their default sizes
  bench/run-viewer-bench.py --shape giant-line --size 50M --runs 5
  bench/run-viewer-bench.py --file /var/tmp/syslog-1g.log
"""

import argparse
import importlib.util
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
SHAPES = ("ordinary", "giant-line", "tiny-lines")
DEFAULT_SIZES = {"ordinary": "1G", "giant-line": "200M", "tiny-lines": "200M"}
GIANT_PREFIX = b"Mar 07 14:05:09 10.1.2.3 user.info "
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


def parse_size(text):
    # The file generator's own reading of sizes, so that both take the same units.
    spec = importlib.util.spec_from_file_location("make_syslog_file",
                                                  SRC_DIR / "bench/make-syslog-file.py")
    generator = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(generator)
    try:
        return generator.parse_size(text)
    except argparse.ArgumentTypeError as error:
        raise SystemExit(str(error))


def write_repeated(path, head, unit, size):
    """Writes head, then unit repeated until the file holds size bytes, in large blocks."""
    block = unit * max(1, (8 << 20) // len(unit))
    with open(path, "wb") as out:
        out.write(head)
        left = size - len(head)
        while left >= len(block):
            out.write(block)
            left -= len(block)
        out.write(unit * (left // len(unit)))


def write_shape(shape, path, size_text, seed):
    log(f"writing {path} ({shape}, {size_text})")
    if shape == "ordinary":
        subprocess.run([sys.executable, str(SRC_DIR / "bench/make-syslog-file.py"), str(path),
                        "--size", size_text, "--seed", str(seed)], check=True)
    elif shape == "giant-line":
        size = parse_size(size_text)
        write_repeated(path, GIANT_PREFIX, b"x", size - 1)
        with open(path, "ab") as out:
            out.write(b"\n")
    else:
        write_repeated(path, b"", b"a\n", parse_size(size_text))


def targets(shape, size, rows, load_per_wc, peak_mib):
    """The shape's targets as text, each with whether it is met."""
    peak = peak_mib * MIB
    found = []
    if shape == "ordinary":
        found.append(("load / wc within 2.00", load_per_wc <= 2.0))
        found.append(("peak RSS within 1.25 x file", peak <= 1.25 * size))
    elif shape == "giant-line":
        found.append(("load / wc within 2.00", load_per_wc <= 2.0))
    else:
        found.append(("peak RSS under 1.5 x file + 8 B a row", peak < 1.5 * size + 8 * rows))
    return "; ".join(f"{text}: {'met' if met else 'NOT met'}" for text, met in found)


def measure(shape, args):
    """Runs the benchmark on one shape; returns its table line."""
    tmpdir = None
    if args.file is not None:
        path = args.file
    else:
        tmpdir = Path(tempfile.mkdtemp(prefix="vantrel-bench-"))
        path = tmpdir / f"{shape}.log"
    try:
        if not path.exists():
            write_shape(shape, path, args.size or DEFAULT_SIZES[shape], args.seed)
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
    print(f"{shape}: wc -l runs (s): {', '.join(f'{t:.3f}' for t in wc_times)}")
    print(f"{shape}: load runs (s): {', '.join(f'{t:.3f}' for t in load_times)}; "
          f"peak RSS (MiB): {', '.join(f'{p:.1f}' for p in peaks)}")
    if rows != lines:
        print(f"{shape}: note: {rows} rows in the list, {lines} lines counted by wc -l")
    return (f"| {shape} | {size / MIB:.1f} MiB ({size} B) | {lines} | {rows} | {wc_best:.3f} "
            f"| {load_best:.3f} | {load_best / wc_best:.2f} | {peak:.1f} "
            f"| {peak * MIB / size:.2f} | {targets(shape, size, rows, load_best / wc_best, peak)} |")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--shape", choices=SHAPES + ("all",), default="ordinary",
                        help="the file's shape, or all three one after the other "
                             "(default ordinary)")
    parser.add_argument("--size",
                        help="size of the generated file (make-syslog-file.py units; default "
                             "1G for ordinary, 200M for giant-line and tiny-lines)")
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
    shapes = SHAPES if args.shape == "all" else (args.shape,)
    if args.file is not None and len(shapes) > 1:
        raise SystemExit("--file names one file: give one --shape with it")
    print(f"machine: {machine()}")
    table = [measure(shape, args) for shape in shapes]
    print()
    print("| shape | file size | lines | rows | wc -l best s | load best s | load / wc "
          "| peak RSS MiB | peak RSS / file size | targets |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|---:|---|")
    for line in table:
        print(line)


if __name__ == "__main__":
    main()
