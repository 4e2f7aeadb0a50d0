#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: unit and end-to-end tests, the unit tests
# again under AddressSanitizer and UBSan, and the compile check of the logic for Windows.
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

# The service host and the daemon reach the system only through platform/, so they compile for
# Windows too.
cmake --preset mingw -DQUENBY_WERROR=$werror
cmake --build --preset mingw
echo "mingw-w64: the service host and the daemon compile for Windows."
