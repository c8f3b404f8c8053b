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

# Fuzz build (clang, AddressSanitizer and UndefinedBehaviorSanitizer): device start and format
# selection against arbitrary descriptors and replies, a fixed number of runs from the committed
# seed corpus. A finding (its input is written to build-fuzz/) fails the script.
CC=clang CXX=clang++ cmake -S "$root" -B "$root/build-fuzz" -G Ninja -DQUEN_FUZZ=ON -DQUEN_BENCH=OFF
cmake --build "$root/build-fuzz" -j2 --target device_start_fuzzer
rm -rf "$root/build-fuzz/fuzz-corpus"
mkdir "$root/build-fuzz/fuzz-corpus"
"$root/build-fuzz/tests/fuzz/device_start_fuzzer" -runs=50000 -seed=1 -timeout=20 \
    -artifact_prefix="$root/build-fuzz/" "$root/build-fuzz/fuzz-corpus" "$root/tests/fuzz/corpus"

ctest --test-dir "$root/build-release" --output-on-failure --no-tests=error -j2
