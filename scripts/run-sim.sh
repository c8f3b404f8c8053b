#!/usr/bin/env bash
# Installs what is missing, builds quen-sim and runs it. Arguments go to quen-sim
# (bash scripts/run-sim.sh --help).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

bash "$root/scripts/install-deps.sh"
cmake -S "$root" -B "$root/build-release" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$root/build-release" -j2 --target quen-sim
exec "$root/build-release/sim/quen-sim" "$@"
