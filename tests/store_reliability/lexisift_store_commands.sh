#!/usr/bin/env bash
# lexisift stats, dump and check on a sound store, a store with a damaged chain and a
# truncated one: exact output and exit codes.
#   lexisift_store_commands.sh BIN_FOLDER
set -u
bin=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export KESTRELON_REGISTRY=$work/registry
fail() { echo "lexisift_store_commands: $*" >&2; exit 1; }

"$bin/store_worker" single "$work/k.dat" w 12 || fail "store_worker"
"$bin/lexisift" stats --store "$work/k.dat" >"$work/stats" || fail "stats exit code"
printf 'ham 12\nspam 0\nitems 121\nsize 782320\n' | cmp - "$work/stats" || fail "stats output"
"$bin/lexisift" check --store "$work/k.dat" >"$work/check" || fail "check exit code"
printf '120\n' | cmp - "$work/check" || fail "check output"
"$bin/lexisift" dump --store "$work/k.dat" "$work/dump" || fail "dump exit code"
[ "$(wc -l <"$work/dump")" -eq 121 ] || fail "dump line count"
grep -q $'^  1650     12      0 common\r$' "$work/dump" || fail "dump line of common"

# A key length of 23 in the first record: the walk refuses it, the check does not see it.
cp "$work/k.dat" "$work/long.dat"
printf '\x17' | dd of="$work/long.dat" bs=1 seek=780012 conv=notrunc status=none
"$bin/lexisift" stats --store "$work/long.dat" | grep -qx 'items -1' || fail "stats of a damaged chain"
"$bin/lexisift" dump --store "$work/long.dat" "$work/none" && fail "dump of a damaged chain succeeded"
[ ! -e "$work/none" ] || fail "dump of a damaged chain wrote a listing"

# Truncated inside the last record.
head -c 782310 "$work/k.dat" >"$work/short.dat"
"$bin/lexisift" check --store "$work/short.dat" >"$work/check" && fail "check of a truncated store succeeded"
printf -- '-4\n' | cmp - "$work/check" || fail "check output for a truncated store"
"$bin/lexisift" check --store "$work/absent.dat" 2>/dev/null && fail "check of a missing store succeeded"

# A store that another program keeps for longer than the engine waits: both kinds of
# opening give up with the busy exit code, and the store is untouched.
"$bin/lexisift" register || fail "register"
printf 'Subject: busy\r\n\r\nbusy store\r\n' >"$work/m.eml"
"$bin/store_worker" hold single "$work/k.dat" 9000 &
holder=$!
while [ ! -e "$work/k.dat.held" ]; do sleep 0.05; done
"$bin/lexisift" learn --store "$work/k.dat" --ham "$work/m.eml" 2>"$work/err1" &
single=$!
"$bin/lexisift" learn --store "$work/k.dat" --shared --ham "$work/m.eml" 2>"$work/err2"
shared_rc=$?
wait $single
single_rc=$?
wait $holder
[ "$single_rc" -eq 75 ] || fail "single-writer learn on a busy store exited $single_rc: $(cat "$work/err1")"
[ "$shared_rc" -eq 75 ] || fail "shared learn on a busy store exited $shared_rc: $(cat "$work/err2")"
"$bin/lexisift" stats --store "$work/k.dat" | grep -qx 'ham 12' || fail "the busy store changed"
echo "lexisift store commands ok"
