#!/usr/bin/env bash
# A Debian 12 system with 32-bit Wine, in which the tests of the 32-bit build run: this
# machine cannot execute 32-bit code, so qemu's user-mode emulator (from bookworm-backports:
# Debian 12's own qemu cannot run Wine) executes it, registered as the kernel's handler of
# 32-bit x86 programs.
#   scripts/win32-system.sh make            make the system once (run as root; ~2.7 GB)
#   scripts/win32-system.sh run COMMAND...  run COMMAND inside it, in the current folder
#   scripts/win32-system.sh clean           remove what runs that were killed left behind
#
# The system lives in $KESTRELON_WIN32_CACHE (default /var/cache/kestrelon), in a folder
# named after the packages it holds, and keeps a fresh 32-bit Wine prefix named after how
# scripts/wine-prefix.sh makes one (tests copy it: that is much faster than Wine's set-up
# under emulation). Making them again finds them there; a system or prefix of an older
# recipe is removed once the new one is made.
#
# `run` changes the machine only while COMMAND runs: in a mount namespace of its own it
# mounts the system's /proc, /dev, /sys, a fresh /tmp and this source tree (read-only, at
# the same path), all of which vanish with the namespace, and it registers a handler
# "kestrelon-i386-PID" in binfmt_misc that it removes when COMMAND ends. A handler left by
# a run that was killed is removed by the next run, or by `clean`.
set -euo pipefail

self=$(realpath "${BASH_SOURCE[0]}")
tree=$(dirname "$(dirname "$self")")
cache=${KESTRELON_WIN32_CACHE:-/var/cache/kestrelon}

digest() { printf '%s' "$1" | sha256sum | cut -c1-12; }
# What the system holds, and how its prefix is made; their digests name them.
suite=bookworm
packages=(wine32:i386 wine64)
backports_packages=(qemu-user)
recipe="debootstrap minbase $suite amd64; i386; ${packages[*]}; $suite-backports ${backports_packages[*]}"
system=$cache/win32-system-$(digest "$recipe")
# Written last into a finished system.
marker=etc/kestrelon-win32-system
prefixes=var/cache/kestrelon
prefix_recipe=$(sed -n '/^wine_prefix_make()/,/^}/p; /^wine_environment()/,/^}/p' "$tree/scripts/wine-prefix.sh")
template=$prefixes/wine-prefix-$(digest "$prefix_recipe")

binfmt=/proc/sys/fs/binfmt_misc
# A 32-bit x86 ELF executable or shared object, as qemu's own binfmt configuration has it.
i386_magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
i386_mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

die() { echo "win32 system: $*" >&2; exit 1; }

# The Debian mirror this machine's apt uses, so the system comes from the same place.
host_mirror() {
  local uri
  uri=$( { sed -n 's/\[[^]]*\]//; s/^deb[[:space:]]\+\([^[:space:]]\+\)[[:space:]]\+'"$suite"'[[:space:]].*/\1/p' \
             /etc/apt/sources.list 2>/dev/null
           awk '/^URIs:/ { uri = $2 } /^Suites:/ && / '"$suite"'( |$)/ { print uri }' \
             /etc/apt/sources.list.d/*.sources 2>/dev/null; } | head -n 1)
  echo "${uri:-http://deb.debian.org/debian}"
}

# Removes a system folder, never while anything is mounted inside it (with /dev bound
# there, a recursive delete would reach the machine's own devices).
remove_system() {
  local dir=$1
  [ -e "$dir" ] || return 0
  if awk -v d="$dir/" 'index($2 "/", d) == 1 { found = 1 } END { exit !found }' /proc/self/mounts; then
    die "not removing $dir: something is mounted inside it"
  fi
  rm -rf --one-file-system "$dir"
}

# Mounts what programs inside the system need, in the current (private) mount namespace.
mount_inside() {
  local root=$1 access=$2
  if [ "$access" = ro ]; then
    mount --bind "$root" "$root"
    mount -o remount,bind,ro "$root"
  fi
  mount -t proc proc "$root/proc"
  mount -t sysfs -o ro sysfs "$root/sys"
  mount --rbind /dev "$root/dev"
  mount -t tmpfs -o mode=1777 tmpfs "$root/tmp"
}

# Removes the handlers of runs that ended without removing theirs.
remove_stale_handlers() {
  local entry pid
  for entry in "$binfmt"/kestrelon-i386-*; do
    [ -e "$entry" ] || continue
    pid=${entry##*-}
    kill -0 "$pid" 2>/dev/null || echo -1 >"$entry" 2>/dev/null || true
  done
}

register_handler() {
  local root=$1 qemu
  qemu=$root/usr/bin/qemu-i386
  [ -x "$qemu" ] || die "$qemu missing"
  mountpoint -q "$binfmt" || mount -t binfmt_misc binfmt_misc "$binfmt"
  remove_stale_handlers
  handler=$binfmt/kestrelon-i386-$$
  trap 'echo -1 >"$handler" 2>/dev/null || true' EXIT
  trap 'exit 129' HUP
  trap 'exit 130' INT
  trap 'exit 143' TERM
  # F: the kernel opens the emulator now, so it runs for programs inside the system too.
  printf '%s' ":kestrelon-i386-$$:M::$i386_magic:$i386_mask:$qemu:F" >"$binfmt/register"
}

# In a private mount namespace: ROOT ro|rw DIR COMMAND... runs COMMAND in DIR inside ROOT.
enter() {
  local root=$1 access=$2 dir=$3
  shift 3
  # The tree's mount point: made in the system's folder before it turns read-only, or in
  # the fresh /tmp when the tree lies under /tmp.
  [ -d "$root$tree" ] || mkdir -p "$root$tree"
  mount_inside "$root" "$access"
  [ -d "$root$tree" ] || mkdir -p "$root$tree"
  mount --bind "$tree" "$root$tree"
  mount -o remount,bind,ro "$root$tree"
  register_handler "$root"
  env -u TMPDIR HOME=/tmp KESTRELON_WIN32_PREFIX="/$template" \
    chroot "$root" /bin/sh -c 'cd "$1" && shift && exec "$@"' sh "$dir" "$@"
}

# In a private mount namespace: installs the packages into a fresh debootstrap'd system.
provision() {
  local root=$1 mirror=$2
  mount_inside "$root" rw
  cp /etc/resolv.conf "$root/etc/resolv.conf"
  echo "deb $mirror $suite-backports main" >"$root/etc/apt/sources.list.d/backports.list"
  local in_root=(chroot "$root" env DEBIAN_FRONTEND=noninteractive)
  "${in_root[@]}" dpkg --add-architecture i386
  "${in_root[@]}" apt-get update -qq
  "${in_root[@]}" apt-get install -y -qq --no-install-recommends "${packages[@]}"
  "${in_root[@]}" apt-get install -y -qq --no-install-recommends -t "$suite-backports" "${backports_packages[@]}"
  "${in_root[@]}" apt-get clean
}

make_system() {
  [ -e "$system/$marker" ] || make_new_system
  [ -f "$system/$template/system.reg" ] || make_prefix
  echo "win32 system: $system"
}

# One maker at a time; a second one waits and then finds the work done.
lock() {
  mkdir -p "$cache"
  exec 9>"$cache/.lock"
  flock 9
}

make_new_system() {
  [ "$(id -u)" = 0 ] || die "making the system needs root"
  command -v debootstrap >/dev/null || die "debootstrap not found: install Debian's debootstrap"
  local partial=$system.partial mirror
  lock
  [ ! -e "$system/$marker" ] || return 0
  mirror=$(host_mirror)
  remove_system "$partial"
  echo "win32 system: making $system from $mirror (a few minutes, once)"
  unshare --mount --propagation private debootstrap --variant=minbase --arch=amd64 "$suite" "$partial" "$mirror" \
    >"$cache/debootstrap.log" 2>&1 || { tail -n 20 "$cache/debootstrap.log" >&2; die "debootstrap failed"; }
  unshare --mount --propagation private bash "$self" _provision "$partial" "$mirror" >"$cache/provision.log" 2>&1 ||
    { tail -n 20 "$cache/provision.log" >&2; die "installing the packages failed"; }
  echo "$recipe" >"$partial/$marker"
  mv "$partial" "$system"
  local old
  for old in "$cache"/win32-system-*; do
    [ "$old" = "$system" ] || remove_system "$old"
  done
}

make_prefix() {
  lock
  [ ! -f "$system/$template/system.reg" ] || return 0
  local old
  for old in "$system/$prefixes"/wine-prefix-*; do
    [ -e "$old" ] && rm -rf --one-file-system "$old"
  done
  mkdir -p "$system/$prefixes"
  unshare --mount --propagation private bash "$self" _enter "$system" rw "$tree" \
    env KESTRELON_WINE_ARCH=win32 bash -c 'source scripts/wine-prefix.sh && wine_prefix_make "$1"' sh "/$template.partial"
  [ -f "$system/$template.partial/system.reg" ] || die "Wine could not make a prefix in $system/$template.partial"
  # The name of the server's folder in /tmp, which each copy's server picks anew.
  rm -f "$system/$template.partial/wineserver"
  mv "$system/$template.partial" "$system/$template"
}

# Removes the handlers of runs that were killed (run from the test command's exit trap).
clean() {
  [ -d "$cache" ] || return 0
  if mountpoint -q "$binfmt"; then
    remove_stale_handlers
  else
    unshare --mount --propagation private bash -c \
      'mount -t binfmt_misc binfmt_misc "$1" && bash "$2" _clean' sh "$binfmt" "$self"
  fi
}

case "${1:-}" in
  make) make_system ;;
  clean) clean ;;
  _clean) remove_stale_handlers ;;
  run)
    shift
    [ $# -gt 0 ] || die "usage: scripts/win32-system.sh run COMMAND..."
    [ -f "$system/$template/system.reg" ] || die "$system/$template missing: run 'bash scripts/win32-system.sh make' first"
    exec unshare --mount --propagation private bash "$self" _enter "$system" ro "$PWD" "$@"
    ;;
  _enter) shift; enter "$@" ;;
  _provision) shift; provision "$@" ;;
  *) echo "usage: scripts/win32-system.sh make | run COMMAND... | clean" >&2; exit 64 ;;
esac
