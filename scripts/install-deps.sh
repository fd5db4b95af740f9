#!/usr/bin/env bash
# Installs the Debian packages the builds and tests need; installs nothing that is
# already there, so running it again does nothing.
#   scripts/install-deps.sh          install what is missing
#   scripts/install-deps.sh --list   print the packages, one a line
# Every program the build and the scripts call belongs to one of these packages, named
# here even when another of them would pull it in (scripts/check-programs.sh checks it).
set -euo pipefail

packages=(
  # native builds, tests and benchmarks
  cmake ninja-build gcc gcc-12 g++ binutils make pkgconf python3 python3-minimal
  googletest libbenchmark-dev libcurl4-openssl-dev
  # fuzzers
  clang libclang-rt-14-dev
  # Windows builds: compilers with posix threads, binutils, resource and IDL compilers
  mingw-w64 mingw-w64-tools
  gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  gcc-mingw-w64-i686-posix g++-mingw-w64-i686-posix binutils-mingw-w64-i686
  wine64 wine64-tools libwine
  # the 32-bit Windows tests: a Debian system for 32-bit Wine under emulation (scripts/win32-system.sh)
  debootstrap
  # installers
  nsis
)

if [ "${1:-}" = --list ]; then
  printf '%s\n' "${packages[@]}"
  exit 0
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
