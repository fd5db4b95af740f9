#!/usr/bin/env bash
# Builds all five presets, checks where the programs come from and what the shipped Windows
# binaries import, and runs every test: native tests (with sanitizers and in release), the
# Windows tests under wine64, and a bounded run of each fuzzer.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=$(nproc)
for preset in linux linux-release win64 win32 fuzz; do
  echo "=== build $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

echo "=== checks: programs from our packages, shipped binaries load on Windows XP"
bash scripts/check-programs.sh build/linux build/linux-release build/win64 build/win32 build/fuzz
bash scripts/check-xp-imports.sh build/win32 build/win64

echo "=== tests: linux (ASan, UBSan)"
ctest --preset linux -j "$jobs"
echo "=== tests: linux-release"
ctest --preset linux-release -j "$jobs"
echo "=== tests: win64 under wine64"
ctest --preset win64 -j "$jobs"

echo "=== fuzzing"
bash scripts/fuzz.sh "${FUZZ_SECONDS:-30}"
