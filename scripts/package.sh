#!/usr/bin/env bash
# Gathers the Windows package: the setup information and the four binaries of the Windows build
# (the kernel driver, the ASIO driver, the control panel, the co-installer) into one folder,
# build-win/package by default. Fails, naming them, when binaries are missing.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build-win}"
out="${2:-$build/package}"

binaries=(norvane_quen_audio.sys quen_asio.dll quen_asiocpl.exe zelaudiocoinst.dll)
missing=()
for binary in "${binaries[@]}"; do
    [[ -f "$build/$binary" ]] || missing+=("$binary")
done
if ((${#missing[@]})); then
    echo "package: not built in $build: ${missing[*]}" >&2
    exit 1
fi

rm -rf "$out"
mkdir -p "$out"
cp "$root/package/norvane_quen_audio.inf" "$out/"
for binary in "${binaries[@]}"; do
    cp "$build/$binary" "$out/"
done
echo "package: $out"
