#!/usr/bin/env bash
# Installs what is missing, builds the host build, the Windows build and the sanitizer build, and
# runs every test: the whole suite in the host build and once more under AddressSanitizer and
# UndefinedBehaviorSanitizer, and the fuzz target. The tests run last so that CTest's summaries
# close the output; the script fails when any of them failed.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

bash "$root/scripts/install-deps.sh"

cmake -S "$root" -B "$root/build-release" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$root/build-release" -j2

cmake -S "$root" -B "$root/build-win" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake"
cmake --build "$root/build-win" -j2

# Sanitizer build (clang, AddressSanitizer with leak detection and UndefinedBehaviorSanitizer):
# every test program and the fuzz targets. Any report ends the program with a failure.
CC=clang CXX=clang++ cmake -S "$root" -B "$root/build-asan" -G Ninja -DQUEN_SANITIZE=ON \
    -DQUEN_BENCH=OFF
cmake --build "$root/build-asan" -j2
export ASAN_OPTIONS=detect_leaks=1:halt_on_error=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

# Both fuzz targets keep one machine across inputs, so libFuzzer's leak check after an input would
# take what only pool blocks point to for leaks: it is off (-detect_leaks=0); each target checks
# what every input leaves in the machine, and the leak check at exit, after the machine is taken
# down, still runs. A finding (its input is written to build-asan/) fails the script.

# Device start and format selection against arbitrary descriptors and replies: a fixed number of
# runs from the committed seed corpus.
rm -rf "$root/build-asan/fuzz-corpus"
mkdir "$root/build-asan/fuzz-corpus"
"$root/build-asan/tests/fuzz/device_start_fuzzer" -runs=15000 -seed=1 -timeout=20 \
    -detect_leaks=0 -artifact_prefix="$root/build-asan/" "$root/build-asan/fuzz-corpus" \
    "$root/tests/fuzz/corpus"

# The private ASIO property set from a user process: a fixed number of runs from an empty corpus.
rm -rf "$root/build-asan/asio-fuzz-corpus"
mkdir "$root/build-asan/asio-fuzz-corpus"
"$root/build-asan/tests/fuzz/asio_property_fuzzer" -runs=5000 -seed=1 -timeout=20 \
    -detect_leaks=0 -artifact_prefix="$root/build-asan/" "$root/build-asan/asio-fuzz-corpus"

failed=0
ctest --test-dir "$root/build-asan" --output-on-failure --no-tests=error -j2 -LE soak || failed=1
ctest --test-dir "$root/build-release" --output-on-failure --no-tests=error -j2 || failed=1
exit "$failed"
