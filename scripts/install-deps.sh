#!/usr/bin/env bash
# Installs the Debian packages the builds and tests need; installs nothing that is
# already there, so running it again does nothing.
set -euo pipefail

packages=(
  cmake ninja-build g++ make python3
  googletest libbenchmark-dev libcurl4-openssl-dev
  clang libclang-rt-14-dev
  mingw-w64 mingw-w64-tools g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
  wine64 wine64-tools
  nsis
)

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
