#!/usr/bin/env bash
# Builds and runs every test of the kit: the host suite, the same suite for
# 32-bit ARM under user-mode emulation, and the Debian packages.
set -euo pipefail
cd "$(dirname "$0")/.."

section() { printf '\n== %s\n' "$*"; }

section "host: build and test"
cmake --preset default >/dev/null
cmake --build --preset default
ctest --preset default

section "host: Debian package unpacked and run"
bash tests/package-check.sh build

section "32-bit ARM (armhf): build and test under qemu-arm"
cmake --preset arm >/dev/null
cmake --build --preset arm
ctest --preset arm
(cd build-arm && rm -f ./*.deb && cpack -G DEB | tail -1)

section "host: AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset asan >/dev/null
cmake --build --preset asan
ctest --preset asan

section "fuzz targets, one minute each"
bash tests/fuzz.sh 60

section "benchmarks, quick mode (no speed is asserted)"
bash bench/run.sh --quick
