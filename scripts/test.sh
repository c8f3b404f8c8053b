#!/usr/bin/env bash
# Installs what is missing, builds the host build and the Windows build, and runs every test.
# The tests run last so that CTest's summary closes the output.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

bash "$root/scripts/install-deps.sh"

cmake -S "$root" -B "$root/build-release" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$root/build-release" -j2

cmake -S "$root" -B "$root/build-win" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake"
cmake --build "$root/build-win" -j2

ctest --test-dir "$root/build-release" --output-on-failure --no-tests=error -j2
