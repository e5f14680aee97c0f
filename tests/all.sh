#!/usr/bin/env bash
# Builds and runs every test of the kit: the host suite, with and without
# sanitizers, and once more as an ordinary user; the same suite for armhf
# under user-mode emulation, and for every board build (each NAME-static
# preset, static against musl); every package, unpacked and checked; the
# static ARM suites and the device cases on an emulated 32-bit ARM system;
# the fuzz targets; and the benchmarks in quick mode.
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

section "host: as an ordinary user, in a copy that user owns"
bash tests/as-user.sh

section "host: AddressSanitizer and UndefinedBehaviorSanitizer"
suite asan

section "32-bit ARM, armhf: build and test under qemu-arm"
suite arm

for board in $(sh packaging/project.sh boards); do
  section "board build $board: the musl tools under the whole suite (user-mode qemu; amd64 on the host)"
  suite "$board"
done

section "packages, unpacked and run; the version text in every binary built"
bash packaging/build.sh dist
bash tests/package-check.sh dist/* build*/varnock

section "an emulated 32-bit ARM system: the armhf board suite and the device cases"
bash tests/guest/run.sh build-guest

section "fuzz targets, one minute each"
bash tests/fuzz.sh 60

section "benchmarks, quick mode (no speed is asserted)"
bash bench/run.sh --quick
