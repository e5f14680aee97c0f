#!/usr/bin/env bash
# Builds and runs every test of the kit: the host suite, with and without
# sanitizers; the same suite for 32-bit ARM under user-mode emulation, armhf
# and static armel; every package, unpacked and checked; the static armhf
# suite and the device cases on an emulated 32-bit ARM system; the fuzz
# targets; and the benchmarks in quick mode.
set -euo pipefail
cd "$(dirname "$0")/.."

section() { printf '\n== %s\n' "$*"; }
suite() {
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1"
  ctest --preset "$1"
}

section "host: build and test"
suite default

section "host: AddressSanitizer and UndefinedBehaviorSanitizer"
suite asan

section "32-bit ARM, armhf: build and test under qemu-arm"
suite arm

section "32-bit ARM, static armel (ARMv5TE): build and test under qemu-arm -cpu arm926"
suite armel-static

section "packages, unpacked and run; the version text in every binary built"
bash packaging/build.sh dist
bash tests/package-check.sh dist/* build*/varnock

section "an emulated 32-bit ARM system: the static armhf suite and the device cases"
bash tests/guest/run.sh build-guest

section "fuzz targets, one minute each"
bash tests/fuzz.sh 60

section "benchmarks, quick mode (no speed is asserted)"
bash bench/run.sh --quick
