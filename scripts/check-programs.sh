#!/usr/bin/env bash
# Fails when a program that the build or the test command calls is not owned by a package
# that scripts/install-deps.sh installs (or by Debian's base system). A program that is only
# on this machine by accident would pass here and fail on a fresh one; so would a name that
# is an /etc/alternatives link, which belongs to no package: call programs by the names
# their packages install.
#   scripts/check-programs.sh BUILD_DIR...
set -euo pipefail
cd "$(dirname "$0")/.."

# Programs the scripts, tests and build call by name, resolved through PATH as they are
# (CMake writes the resource compiler into its rules without a path).
by_name=(cmake ctest ninja x86_64-w64-mingw32-objdump x86_64-w64-mingw32-windres
  i686-w64-mingw32-windres debootstrap unshare chroot)
# Programs called by path.
by_path=(/usr/lib/wine/wine64 /usr/lib/wine/wineserver)

mapfile -t allowed < <(bash scripts/install-deps.sh --list)

# Debian's base system: what every Debian 12 machine has before anything is installed.
in_base_system() {
  local fields
  fields=$(dpkg-query -W -f='${Essential} ${Priority}' "$1" 2>/dev/null) || return 1
  [[ "$fields" == yes* || "$fields" == *required ]]
}

# Every program a configured build calls: compilers, archivers, the resource and IDL
# compilers, the installer compiler, the test runners. These are the executables named by
# path in the commands of its generated build files and in its test files; a tool CMake
# merely found (a linker or strip program it probes for but never runs) does not count.
programs_of_build() {
  local build=$1
  { find "$build" -name '*.ninja' -print0 | xargs -0 grep -hE '^ *(command|COMMAND) = '
    find "$build" -name CTestTestfile.cmake -print0 | xargs -0 cat
  } | grep -oE '/[A-Za-z0-9_.+/-]+' | sort -u | while IFS= read -r path; do
    case "$path" in
      "$PWD"/* | *.so | *.so.* | *.a | *.cmake) continue ;;
    esac
    [ -f "$path" ] && [ -x "$path" ] && echo "$path"
  done
}

programs=("${by_path[@]}")
for name in "${by_name[@]}"; do
  path=$(command -v "$name") || { echo "programs: $name not found" >&2; exit 1; }
  programs+=("$path")
done
for build in "$@"; do
  [ -f "$build/CMakeCache.txt" ] || { echo "programs: $build is not configured" >&2; exit 1; }
  mapfile -t -O "${#programs[@]}" programs < <(programs_of_build "$build")
done

status=0
for path in $(printf '%s\n' "${programs[@]}" | sort -u); do
  if [ ! -e "$path" ]; then
    echo "programs: $path missing" >&2; status=1; continue
  fi
  if [ -L "$path" ] && [[ "$(readlink "$path")" == /etc/alternatives/* ]]; then
    echo "programs: $path is an alternatives link; call the program by its package's name" >&2
    status=1; continue
  fi
  owners=$(dpkg-query -S "$path" 2>/dev/null | grep -v '^diversion' | sed 's/: .*//; s/, /\n/g; s/:[a-z0-9]*$//mg') || true
  if [ -z "$owners" ]; then
    echo "programs: $path belongs to no package" >&2; status=1; continue
  fi
  ok=0
  for owner in $owners; do
    if printf '%s\n' "${allowed[@]}" | grep -qx "$owner" || in_base_system "$owner"; then ok=1; fi
  done
  if [ "$ok" -eq 0 ]; then
    echo "programs: $path belongs to $(echo $owners), which scripts/install-deps.sh does not install" >&2
    status=1
  fi
done
[ "$status" -eq 0 ] && echo "programs: ${#programs[@]} checked, each from a package we install"
exit "$status"
