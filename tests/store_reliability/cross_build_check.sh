#!/usr/bin/env bash
# The native build and the win64 build (under Wine) write byte-identical stores for the
# same mails, and each build's lexisift reads the other's store alike.
#   cross_build_check.sh NATIVE_BIN WIN64_BIN WINE_RUN
# Skipped (exit 77) when the win64 build or Wine is not there.
set -u
native=$1 win=$2 wine_run=$3
[ -x "$win/store_worker.exe" ] && [ -x "$win/lexisift.exe" ] && [ -x /usr/lib/wine/wine64 ] || exit 77
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export KESTRELON_REGISTRY=$work/registry
fail() { echo "cross_build_check: $*" >&2; exit 1; }

for mode in shared single; do
  "$native/store_worker" $mode "$work/native-$mode.dat" w 40 || fail "native worker ($mode)"
  "$wine_run" "$win/store_worker.exe" $mode "Z:$work/win-$mode.dat" w 40 || fail "win64 worker ($mode)"
  cmp "$work/native-$mode.dat" "$work/win-$mode.dat" || fail "stores differ ($mode)"
done
"$native/lexisift" dump --store "$work/win-single.dat" "$work/native-reads-win.txt" || fail "native dump"
"$wine_run" "$win/lexisift.exe" dump --store "Z:$work/native-single.dat" "Z:$work/win-reads-native.txt" ||
  fail "win64 dump"
cmp "$work/native-reads-win.txt" "$work/win-reads-native.txt" || fail "listings differ"
"$native/lexisift" stats --store "$work/win-shared.dat" >"$work/native-stats.txt" || fail "native stats"
"$wine_run" "$win/lexisift.exe" stats --store "Z:$work/native-shared.dat" >"$work/win-stats.txt" || fail "win64 stats"
cmp "$work/native-stats.txt" "$work/win-stats.txt" || fail "stats differ"
printf 'ham 40\nspam 0\nitems 401\nsize 787920\n' | cmp - "$work/native-stats.txt" || fail "unexpected stats"
echo "native and win64 stores are byte-identical"
