#!/usr/bin/env bash
# Builds and runs every test of the kit.
set -euo pipefail
cd "$(dirname "$0")/.."

echo "== host build and tests"
cmake --preset default >/dev/null
cmake --build --preset default
ctest --preset default
