#!/usr/bin/env bash
# The new-mail pass under faults, longer than the test command runs it: the headless
# plug-in killed at 1 000 random moments while another process delivers mail
# (tests/host/pass_kill_test.py, whose checks it names), then one real full disk: the
# store folder on a 3 MB tmpfs mounted here (root only; unmounted afterwards), the
# first-run scan, spam taught, the file system filled, mail delivered and a pass run, the
# space freed, quit, a new start, and the store's check. Each run prints its figures and
# its violations; the script fails when there is any.
#   scripts/fault.sh [--kills N] [--seed N]
set -euo pipefail
cd "$(dirname "$0")/.."

kills=1000
seed=()
while [ $# -gt 0 ]; do
  case $1 in
    --kills) kills=$2; shift 2 ;;
    --seed) seed=(--seed "$2"); shift 2 ;;
    *) echo "usage: scripts/fault.sh [--kills N] [--seed N]" >&2; exit 64 ;;
  esac
done
[ "$(id -u)" -eq 0 ] || { echo "fault.sh: the full disk needs root to mount a tmpfs" >&2; exit 1; }

bash scripts/install-deps.sh
cmake --preset linux-release >/dev/null
cmake --build --preset linux-release -j "$(nproc)" --target kestrelon-host lexisift oe-client >/dev/null
bin=build/linux-release/bin
status=0

echo "=== $kills kills"
python3 tests/host/pass_kill_test.py --bin "$bin" --kills "$kills" "${seed[@]}" || status=1

echo "=== full disk: the store folder on a 3 MB tmpfs"
disk=$(mktemp -d)
mount -t tmpfs -o size=3m tmpfs "$disk"
trap 'umount "$disk"; rmdir "$disk"' EXIT
python3 tests/host/pass_kill_test.py --bin "$bin" --full-disk "$disk" "${seed[@]}" || status=1
exit $status
