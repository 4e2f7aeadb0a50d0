#!/usr/bin/env bash
# Installs the Debian packages that building (and, with "test", testing) needs, when missing.
set -euo pipefail

packages=(cmake ninja-build g++ pkg-config libsystemd-dev qt6-base-dev libx11-dev fonts-dejavu-core)
if [[ "${1:-}" == "test" ]]; then
    # GoogleTest, the real clients of the end-to-end tests (logger is in bsdutils, Python's
    # SysLogHandler), faketime for the midnight test, the Windows cross compiler, and clang with
    # its libFuzzer runtime for the fuzz targets.
    packages+=(libgtest-dev python3 bsdutils faketime g++-mingw-w64-x86-64)
    packages+=(clang libclang-rt-14-dev)
    # The service tests boot a real systemd in a container: systemd-nspawn, and debootstrap
    # for the container's tree (built once, then cached).
    packages+=(systemd-container debootstrap)
fi

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed"; then
        missing+=("$package")
    fi
done
if ((${#missing[@]} > 0)); then
    sudo=""
    if [[ $(id -u) -ne 0 ]]; then
        sudo="sudo"
    fi
    $sudo apt-get update
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
