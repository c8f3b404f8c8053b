#!/usr/bin/env bash
# Installs the Debian 12 packages that the host build, the tests and the Windows cross-build
# need. Does nothing (and needs no network) when all of them are already installed.
set -euo pipefail

packages=(
    g++ make cmake ninja-build       # host build
    googletest libbenchmark-dev      # tests (built from /usr/src/googletest) and benchmarks
    pkg-config libcli11-dev          # quen-sim: command line
    libsndfile1-dev                  # quen-sim: WAV and FLAC files
    libplplot-dev plplot-driver-cairo  # quen-sim: PNG plots
    clang libclang-rt-14-dev         # fuzz targets (libFuzzer and the sanitizer runtimes)
    g++-mingw-w64-x86-64-posix       # Windows build: compiler, binutils, dlltool
    mingw-w64-x86-64-dev             # Windows build: Windows SDK and WDK headers
    wine64 xvfb x11-apps netpbm      # the Windows deliverables under Wine: display, screenshot
)

missing=()
for package in "${packages[@]}"; do
    if [ "$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null)" != installed ]; then
        missing+=("$package")
    fi
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: missing packages: ${missing[*]}; run as root to install them" >&2
    exit 1
fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update
apt-get install -y --no-install-recommends "${missing[@]}"
