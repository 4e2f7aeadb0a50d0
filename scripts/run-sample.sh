#!/usr/bin/env bash
# Installs what is missing, builds, and runs the daemon in console mode on the sample
# configuration. Stop it with Ctrl+C.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset default
cmake --build --preset default

# The daemon never creates its log directory.
mkdir -p /tmp/quenby-sample
QUENBY_CONFDIR="$PWD/config/sample" exec build/quenby -d
