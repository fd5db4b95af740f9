#!/usr/bin/env bash
# Builds all five presets, checks where the programs come from and what the shipped Windows
# binaries import and declare, and runs every test: native tests (with sanitizers and in
# release), the 64-bit Windows tests under wine64, the 32-bit ones (the build users get)
# under 32-bit Wine through user-mode emulation, and a bounded run of each fuzzer.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
# The Debian system with 32-bit Wine for the win32 tests, made once (scripts/win32-system.sh).
bash scripts/win32-system.sh make
# Each 32-bit test removes its binfmt_misc handler when it ends; this catches those killed.
trap 'bash scripts/win32-system.sh clean' EXIT

jobs=$(nproc)
for preset in linux linux-release win64 win32 fuzz; do
  echo "=== build $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

echo "=== checks: programs from our packages, shipped binaries load on Windows XP"
bash scripts/check-programs.sh build/linux build/linux-release build/win64 build/win32 build/fuzz
bash scripts/check-xp-imports.sh build/win32 build/win64
bash scripts/check-shipped.sh build/win32 build/win64

echo "=== tests: linux (ASan, UBSan)"
ctest --preset linux -j "$jobs"
echo "=== tests: linux-release"
ctest --preset linux-release -j "$jobs"
echo "=== tests: win64 under wine64"
ctest --preset win64 -j "$jobs"
echo "=== tests: win32 under 32-bit Wine, emulated"
# An emulated test spends much of its time waiting on its Wine processes: twice the cores.
ctest --preset win32 -j "$((jobs * 2))"

echo "=== fuzzing"
bash scripts/fuzz.sh "${FUZZ_SECONDS:-30}"
