#!/usr/bin/env bash
# Runs the lexisift binary given as $1 over small inputs and compares its exact output
# (token orders were worked out by hand from the table hash: bins of 50, newest first)
# and exit codes.
set -u
tool=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The classes the tool registers on first use go into a registry of this test's own.
export KESTRELON_REGISTRY=$work/registry
passed=0
failed=0

# expect NAME EXPECTED_EXIT EXPECTED_STDOUT -- ARGS...
expect() {
  local name=$1 code=$2 want=$3
  shift 4
  local got rc
  got=$("$tool" "$@" 2>"$work/stderr"; echo "rc=$?")
  rc=${got##*rc=}
  got=${got%rc=*}
  if [ "$rc" = "$code" ] && [ "$got" = "$want" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    printf 'FAIL %s: exit %s (want %s)\n--- got\n%s--- want\n%s\n' "$name" "$rc" "$code" "$got" "$want"
  fi
}

printf 'Subject: Buy CHEAP pills now\r\n' > "$work/h1"
printf 'Cheap cheap CHEAP\r\ntotal 1,250.00 USD\r\n' > "$work/b1"
expect "tokens header and body" 0 $'1\tS*Buy\n1\tS*pills\n1\tS*CHEAP\n1\tUSD\n1\tP*1,250.00\n1\tS*now\n1\ttotal\n3\tCheap\n' -- \
  tokens --header "$work/h1" --body "$work/b1"
printf 'In-Reply-To: abc\r\n' > "$work/h2"
expect "reply-to inside in-reply-to" 0 $'1\tR*abc\n' -- tokens --header "$work/h2"
printf 'ab 12345 abcdefghijklmnopqrstu' > "$work/b3"
expect "no tokens" 0 "" -- tokens --body "$work/b3"
expect "no input" 0 "" -- tokens
expect "unknown option" 64 "" -- tokens --bogus x
expect "unreadable file" 64 "" -- tokens --body "$work/missing"
expect "unknown command" 64 "" -- frobnicate

printf 'abd' > "$work/t1"
expect "alternation binds tightly" 0 $'match 0 3\n' -- match 'ab|cd' "$work/t1"
printf 'ab' > "$work/t2"
expect "no match" 1 $'nomatch\n' -- match 'ab|cd' "$work/t2"
printf 'x\r\nsubject:   Hello\r\n' > "$work/t3"
expect "header group" 0 $'match 3 19\ngroup 0 14 19\n' -- match --icase $'Subject: *{[^\r\n]*}' "$work/t3"
printf 'a1.5 b2,50' > "$work/t4"
expect "number from start" 0 $'match 1 4\n' -- match '[0-9]+[.,]+[0-9]+[.,]*[0-9]*[.,]*[0-9]*' "$work/t4"
expect "number again" 0 $'match 6 10\n' -- match '[0-9]+[.,]+[0-9]+[.,]*[0-9]*[.,]*[0-9]*' "$work/t4" 4
expect "empty set" 2 $'error 6\n' -- match '[]' "$work/t4"
expect "empty repeat" 2 $'error 9\n' -- match 'a**' "$work/t4"
expect "empty pattern" 2 $'error 10\n' -- match '' "$work/t4"
expect "group took no part" 0 $'match 0 1\ngroup 1 0 1\n' -- match '{x}|{a}' "$work/t4"
expect "bad start" 64 "" -- match 'a' "$work/t4" -1
expect "start past the end" 1 $'nomatch\n' -- match 'a' "$work/t4" 99
expect "missing file" 64 "" -- match 'a' "$work/missing"
head -c 3000 /dev/zero | tr '\0' a > "$work/t5"
expect "search gave up" 3 $'steplimit\n' -- match '{((a)|(aa))+}\0b' "$work/t5"

# The filter commands over a store of their own.
printf 'hello world' > "$work/hw"
expect "score on an empty store" 0 $'score 0.307692\n0.400000\thello\n0.400000\tworld\n' -- \
  score --store "$work/s.dat" --body "$work/hw"
printf 'Subject: cheap pills\r\n\r\nbuy cheap pills now\r\n' > "$work/spam.eml"
printf 'Subject: meeting\r\n\r\nagenda for the project meeting\r\n' > "$work/ham.eml"
expect "learn spam" 0 "" -- learn --store "$work/s.dat" --spam "$work/spam.eml"
expect "process before twenty ham mails" 0 $'ham\t'"$work/spam.eml"$'\nham\t'"$work/ham.eml"$'\n' -- \
  process --store "$work/s.dat" "$work/spam.eml" "$work/ham.eml"
expect "learn needs a verdict" 64 "" -- learn --store "$work/s.dat" "$work/ham.eml"
expect "learn needs a readable file" 64 "" -- learn --store "$work/s.dat" --ham "$work/missing"
expect "a folder is not a mail" 64 "" -- learn --store "$work/s.dat" --ham "$work"
expect "nor is it a header" 64 "" -- tokens --header "$work"
expect "process needs a store" 64 "" -- process "$work/ham.eml"
expect "unknown type" 64 "" -- process --store "$work/s.dat" --type pdf "$work/ham.eml"
mkdir "$work/dir" && cp "$work/ham.eml" "$work/dir/a.eml" && cp "$work/ham.eml" "$work/dir/b.eml" && cp "$work/ham.eml" "$work/dir/c.eml"
expect "process-dir" 0 "" -- process-dir --store "$work/s2.dat" "$work/dir"
expect "score after process-dir" 0 $'score 0.000102\n0.010000\tmeeting\n0.010000\tS*meeting\n' -- \
  score --store "$work/s2.dat" --header <(printf 'Subject: meeting\r\n') --body <(printf 'meeting\r\n')

# The shared store and its markers.
expect "learn shared" 0 "" -- learn --store "$work/shared.dat" --shared --ham "$work/ham.eml" "$work/ham.eml"
expect "process shared" 0 $'ham\t'"$work/spam.eml"$'\n' -- process --store "$work/shared.dat" --shared "$work/spam.eml"
expect "marker unset" 0 $'none\n' -- marker --store "$work/shared.dat" msg-17
expect "marker set" 0 "" -- marker --store "$work/shared.dat" msg-17 spam
expect "marker read back" 0 $'spam\n' -- marker --store "$work/shared.dat" msg-17
expect "marker bad mark" 64 "" -- marker --store "$work/shared.dat" msg-17 maybe

# A write of the store that fails (the 2nd, inside the server's module) fails the command,
# and the store is as before it; without the fault the same command learns the mail.
stats() { "$tool" stats --store "$1" | head -2 | tr '\n' ' '; }
before=$(stats "$work/s.dat")
KESTRELON_FILE_FAULT="write;2;ENOSPC;$work/fault.ctl;s.dat" \
  expect "a failed write fails learn" 74 "" -- learn --store "$work/s.dat" --ham "$work/ham.eml" "$work/ham.eml"
[ "$(stats "$work/s.dat")" = "$before" ] && [ "$(od -An -tu4 -j24 -N4 "$work/fault.ctl" | tr -d ' ')" = 1 ] &&
  passed=$((passed + 1)) || { failed=$((failed + 1)); echo "FAIL the failed learn changed the store"; }
expect "check after the failed learn" 0 "$("$tool" check --store "$work/s.dat")"$'\n' -- check --store "$work/s.dat"
expect "learn once the fault is gone" 0 "" -- learn --store "$work/s.dat" --ham "$work/ham.eml"

# Registration: unregistering removes the classes; the next command registers them again.
expect "unregister" 0 "" -- unregister
[ -d "$KESTRELON_REGISTRY/HKEY_CLASSES_ROOT/clsid" ] && [ ! -e "$KESTRELON_REGISTRY/HKEY_CLASSES_ROOT/lexisift.mailfilter" ] && passed=$((passed + 1)) || {
  failed=$((failed + 1)); echo "FAIL unregister left the ProgID"; }
expect "first use registers again" 0 $'none\n' -- marker --store "$work/shared.dat" msg-18
expect "register" 0 "" -- register
expect "register takes no arguments" 64 "" -- register now

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
