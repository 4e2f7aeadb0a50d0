#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: unit and end-to-end tests, the unit tests
# again under AddressSanitizer and UBSan, a short run of the fuzz targets, and the compile check of
# the logic for Windows.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh test

# CI treats warnings as errors.
werror=OFF
if [[ -n "${CI:-}" ]]; then
    werror=ON
fi

cmake --preset default -DQUENBY_WERROR=$werror
cmake --build --preset default
ctest --preset default -j 2

cmake --preset asan -DQUENBY_WERROR=$werror
cmake --build --preset asan
ctest --preset asan -j 2

# The fuzz targets, briefly: a fixed number of inputs each with a fixed seed, starting from a copy
# of tests/fuzz/corpus/. scripts/fuzz.sh without --runs fuzzes for as long as you like.
scripts/fuzz.sh --runs 20000

# The service host and the daemon reach the system only through platform/, so they compile for
# Windows too.
cmake --preset mingw -DQUENBY_WERROR=$werror
cmake --build --preset mingw
echo "mingw-w64: the service host and the daemon compile for Windows."
