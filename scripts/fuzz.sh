#!/usr/bin/env bash
# Runs every fuzzer of the fuzz build for a bounded time each:
#   scripts/fuzz.sh [SECONDS]
# A fuzzer's seeds, if any, live in a folder named <fuzzer>_seeds beside its source.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}

shopt -s nullglob
fuzzers=(build/fuzz/bin/*_fuzz)
[ ${#fuzzers[@]} -gt 0 ] || { echo "no fuzzers built (run: cmake --build --preset fuzz)" >&2; exit 1; }

for fuzzer in "${fuzzers[@]}"; do
  name=$(basename "$fuzzer")
  corpus=build/fuzz/corpus/$name
  mkdir -p "$corpus"
  seeds=$(find . -path ./build -prune -o -type d -name "${name}_seeds" -print -quit)
  echo "--- $name: ${seconds}s"
  "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    "$corpus" ${seeds:+"$seeds"} 2>&1 | tail -n 12
  status=${PIPESTATUS[0]}
  [ "$status" -eq 0 ] || { echo "$name failed with status $status" >&2; exit "$status"; }
done
echo "fuzzing: ${#fuzzers[@]} passed, 0 failed"
