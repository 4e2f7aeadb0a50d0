#!/usr/bin/env bash
# Builds the fuzz targets (preset "fuzz": clang, libFuzzer, AddressSanitizer and UBSan) and runs
# each one over its corpus from tests/fuzz/corpus/, one after the other.
#
#   scripts/fuzz.sh [seconds-per-target]   fuzz each target that long (default 600); the inputs it
#                                          finds and any crash stay in $QUENBY_FUZZ_DIR
#                                          (default /tmp/quenby-fuzz), where later runs go on
#   scripts/fuzz.sh --runs N               N inputs per target with a fixed seed, in a directory
#                                          of its own that is removed when nothing was found
#
# The corpus of the repository is only read. The script fails when a target crashed or broke one
# of its invariants; the summary names the input that did it.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

runs=""
seconds=600
if [[ "${1:-}" == "--runs" ]]; then
    runs=${2:?"--runs needs a number of inputs"}
elif [[ -n "${1:-}" ]]; then
    seconds=$1
fi
if ! [[ "$runs$seconds" =~ ^[0-9]+$ ]]; then
    echo "usage: scripts/fuzz.sh [seconds-per-target] | --runs N" >&2
    exit 2
fi

scripts/install-deps.sh test

# CI treats warnings as errors.
werror=OFF
if [[ -n "${CI:-}" ]]; then
    werror=ON
fi
cmake --preset fuzz -DQUENBY_WERROR=$werror >/dev/null
cmake --build --preset fuzz

if [[ -n "$runs" ]]; then
    work=$(mktemp -d "${TMPDIR:-/tmp}/quenby-fuzz.XXXXXX")
    limits=(-runs="$runs" -seed=1)
else
    work=${QUENBY_FUZZ_DIR:-/tmp/quenby-fuzz}
    limits=(-max_total_time="$seconds")
fi
mkdir -p "$work"
# The configuration target rewrites its file for every input: in memory where the system allows,
# and removed here even when a crash or Ctrl+C ends the target before it cleans up.
shm=/dev/shm
[[ -w $shm ]] || shm=${TMPDIR:-/tmp}
scratch=$(mktemp -d "$shm/quenby-fuzz-files.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

# The longest input each target takes: a datagram is at most 1024 bytes; the configuration and the
# log file need room for lines longer than the daemon's line buffers.
max_len() {
    case $1 in
        fuzz_record) echo 1024 ;;
        *) echo 4096 ;;
    esac
}

# A figure of libFuzzer's final statistics in the log of the target being run.
final_stat() {
    sed -n "s/^stat::$1: *//p" "$dir/log" | tail -n 1
}

found=()
for target in fuzz_record fuzz_config fuzz_logrows; do
    dir=$work/$target
    mkdir -p "$dir/corpus"
    # New inputs go into the scratch copy, next to those of earlier runs.
    cp "$root/tests/fuzz/corpus/$target/"* "$dir/corpus/"
    options=(-max_len="$(max_len $target)" -timeout=60 -print_final_stats=1
             -artifact_prefix="$dir/")
    if [[ -f "$root/tests/fuzz/$target.dict" ]]; then
        options+=(-dict="$root/tests/fuzz/$target.dict")
    fi
    echo "$target: ${limits[*]} over $dir/corpus"
    status=0
    started=$(date +%s%N)
    TMPDIR=$scratch "$root/build-fuzz/tests/fuzz/$target" "${limits[@]}" "${options[@]}" \
        "$dir/corpus" >"$dir/log" 2>&1 || status=$?
    elapsed=$(($(date +%s%N) - started))

    # A target that crashes on a seed stops before its first coverage line.
    coverage=$( (grep -E '^#[0-9]+.*cov: ' "$dir/log" || true) | tail -n 1 |
               sed -E 's/.*(cov: [0-9]+ ft: [0-9]+ corp: [^ ]+).*/\1/')
    artifact=$(sed -n 's/.*Test unit written to //p' "$dir/log" | tail -n 1)
    done_runs=$(final_stat number_of_executed_units)
    # libFuzzer's own rate counts whole seconds; the clock of the whole run is finer.
    rate=$((${done_runs:-0} * 1000000000 / (elapsed > 0 ? elapsed : 1)))
    echo "$target: ${done_runs:-?} runs in $((elapsed / 1000000)) ms, $rate exec/s," \
         "${coverage:-no coverage line}, $(final_stat new_units_added) inputs added"
    if [[ $status -ne 0 || -n "$artifact" ]]; then
        grep -m 1 -E 'invariant broken|ERROR: |runtime error' "$dir/log" || true
        echo "$target: FOUND A CRASH (exit $status): ${artifact:-see the log}; log $dir/log"
        found+=("$target")
    else
        echo "$target: no crash"
    fi
done

if ((${#found[@]} > 0)); then
    echo "Fuzzing found crashes in: ${found[*]} (inputs and logs in $work)" >&2
    exit 1
fi
if [[ -n "$runs" ]]; then
    rm -rf "$work"
else
    echo "Inputs found and logs are in $work."
fi
