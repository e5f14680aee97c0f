#!/usr/bin/env bash
# Builds the fuzz targets and runs each for a bounded time from the seed
# corpus; any finding fails the run. Usage: tests/fuzz.sh [seconds per target]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
for target in fromhex tohex; do
  corpus=$(mktemp -d)
  # New inputs go to a scratch folder; the seeds in the repository stay as they are.
  if ! build-fuzz/${target}_fuzz -max_total_time="$seconds" -print_final_stats=1 \
      -artifact_prefix="$corpus/" "$corpus" fuzz/corpus/$target > "$corpus.log" 2>&1; then
    tail -40 "$corpus.log"
    echo "fuzz target $target failed; the input is in $corpus" >&2
    exit 1
  fi
  grep -E '^stat::number_of_executed_units' "$corpus.log" | sed "s/^/$target: /"
  rm -rf "$corpus" "$corpus.log"
done
