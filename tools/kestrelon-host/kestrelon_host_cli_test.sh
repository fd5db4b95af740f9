#!/usr/bin/env bash
# kestrelon-host end to end over the stand-in client: start-up failures, the first-run
# scan, a normal pass started by mail that another process delivers while the host
# watches, Delete Spam on a selected row, settings, the receiving test, and timer mode.
#   kestrelon_host_cli_test.sh BIN_DIR
set -u
bin=$1
work=$(mktemp -d)
host_pid=
cleanup() {
  [ -n "$host_pid" ] && kill "$host_pid" 2>/dev/null
  exec 7>&- 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
export KESTRELON_REGISTRY=$work/registry HOME=$work KESTRELON_ONLINE=0
store=$work/store
failures=0
# Four mails of our own: three real ones and an offer.
samples=$work/mail
mkdir "$samples"
mail() {  # FILE FROM SUBJECT BODY
  printf 'From: %s\r\nTo: Me <me@example.org>\r\nSubject: %s\r\nDate: Mon, 07 Dec 2026 09:14:02 +0000\r\n\r\n%s\r\n' \
    "$2" "$3" "$4" >"$samples/$1"
}
mail 01-team-meeting.eml "Maria Keller <maria.keller@northfield-labs.example>" "Planning meeting moved to Thursday" \
  "The planning meeting moves to Thursday at ten; please bring the schedule."
mail 02-cheap-pills.eml "Pharmacy Direct <deals@offers-daily.example>" "Buy CHEAP pills now - 80% OFF today only!!!" \
  "Cheap pills without prescription, best prices, order today."
mail 03-invoice-reminder.eml "Billing <billing@hosting-north.example>" "Invoice 2026-1187 due on 15.12.2026" \
  "Your invoice is due on 15.12.2026; thank you for paying on time."
mail 04-lunch.eml "Tom <tom@northfield-labs.example>" "Lunch on Friday?" "Shall we have lunch on Friday?"
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
expect_line() {  # FILE LINE: an exact line of the output
  grep -qxF -- "$2" "$1" || fail "no line '$2' in $(basename "$1")"
}
wait_line() {  # FILE PATTERN: waits up to 30 seconds for a line matching PATTERN
  for _ in $(seq 300); do grep -qE -- "$2" "$1" && return 0; sleep 0.1; done
  fail "timed out waiting for '$2'"
  return 1
}

# Bad arguments; a server that is not registered (the failure users meet most); a missing
# Simple MAPI library; a missing Inbox file.
"$bin/kestrelon-host" --language fr </dev/null >/dev/null 2>&1
[ $? -eq 64 ] || fail "bad option did not exit 64"
"$bin/oe-client" init "$store" >/dev/null
"$bin/kestrelon-host" </dev/null >"$work/unregistered.out"
[ $? -eq 1 ] || fail "unregistered server did not exit 1"
expect_line "$work/unregistered.out" $'box\tKestrelon Error\tPlugin Initialization failed!\\r\\nErrorCode: 0x1006'
"$bin/lexisift" register || fail "lexisift register"
# Without the client's Simple MAPI library (the host alone in a folder): 4105, no logon box.
mkdir "$work/alone"
cp "$bin/kestrelon-host" "$work/alone/"
env -u KESTRELON_LIBRARY_PATH "$work/alone/kestrelon-host" </dev/null >"$work/alone.out"
expect_line "$work/alone.out" $'box\tKestrelon Error\tPlugin Initialization failed!\\r\\nErrorCode: 0x1009'
expect_line "$work/alone.out" $'error\tInitPluginData\tSimpleMapi Init - Does any mail account exist?'
grep -q "Plugin can not be loaded" "$work/alone.out" && fail "logon box without a library"
# The German plug-in looks for "Posteingang.dbx".
"$bin/kestrelon-host" --language de </dev/null >"$work/german.out"
expect_line "$work/german.out" $'box\tKestrelon Error\tInitialisierung des Plugins fehlgeschlagen!\\r\\nErrorCode: 0x100a'

# Notification mode: the first-run scan on demand, then the host watches while mail is
# delivered by another process.
"$bin/oe-client" deliver "$store" "$samples"/*.eml >/dev/null
mkfifo "$work/in"
KESTRELON_DETECTION=notification "$bin/kestrelon-host" --answer yes <"$work/in" >"$work/host.out" 2>"$work/host.err" &
host_pid=$!
exec 7>"$work/in"
wait_line "$work/host.out" $'^attached\t.*\tnotification$'
echo "pass" >&7
wait_line "$work/host.out" $'^progress\tclose$'
expect_line "$work/host.out" $'progress\trange\t4\t1'
expect_line "$work/host.out" $'progress\tstep\t4'
wait_line "$work/host.out" '^box	Kestrelon Spam Filter	Inbox scan has finished'
id=$("$bin/oe-client" deliver "$store" "$samples/02-cheap-pills.eml")
wait_line "$work/host.out" $'^status\t0\tKestrelon-Spam-Filter is processing new messages: 1$'
wait_line "$work/host.out" $'^cursor\trestore$'
echo "select-id $id" >&7
echo "delete-spam" >&7
echo "settings" >&7
echo "set smtp on" >&7
echo "echo commands done" >&7
wait_line "$work/host.out" $'^echo\tcommands done$'
expect_line "$work/host.out" $'log\tSpam Mail manually deleted - From: deals@offers-daily.example, Subject: Buy CHEAP pills now - 80% OFF today only!!!'
expect_line "$work/host.out" $'setting\tCheckSMTP\t5000'
grep -q $'^box\tInfo\tVerification of mail senders address via SMTP' "$work/host.out" || fail "no string 19 box"
"$bin/oe-client" list "$store" | grep -q "^$id"$'\t' && fail "message $id was not deleted"

# While the client receives, notifications start no pass; afterwards one does.
echo 'status 2 "Receiving mail..."' >&7
wait_line "$work/host.out" $'^status\t2\tReceiving mail...$'
"$bin/oe-client" deliver "$store" "$samples/01-team-meeting.eml" >/dev/null
echo "notify" >&7
echo "echo receiving" >&7
wait_line "$work/host.out" $'^echo\treceiving$'
echo 'status 2 ""' >&7
echo "notify" >&7
echo "echo received" >&7
wait_line "$work/host.out" $'^echo\treceived$'
between=$(sed -n '/^echo\tcommands done$/,/^echo\treceiving$/p' "$work/host.out" | grep -c $'^status\t0\t')
[ "$between" -eq 0 ] || fail "a pass ran while the client was receiving"
after=$(sed -n '/^echo\treceiving$/,/^echo\treceived$/p' "$work/host.out" | grep -c $'^status\t0\tKestrelon')
[ "$after" -eq 1 ] || fail "no pass after receiving ended ($after)"
echo "quit" >&7
exec 7>&-
wait "$host_pid"
rc=$?
host_pid=
[ $rc -eq 0 ] || fail "host exit code $rc"
expect_line "$work/host.out" "detached"
# The settings were written back at the end.
"$bin/kestrelon-host" --answer no <<<"settings" >"$work/again.out"
expect_line "$work/again.out" $'setting\tCheckSMTP\t5000'

# Timer mode: a pass within a few ticks of the 5-second timer.
mkfifo "$work/in2"
KESTRELON_DETECTION=timer "$bin/kestrelon-host" --answer no <"$work/in2" >"$work/timer.out" 2>&1 &
host_pid=$!
exec 7>"$work/in2"
wait_line "$work/timer.out" $'^attached\t.*\ttimer$'
"$bin/oe-client" deliver "$store" "$samples/03-invoice-reminder.eml" >/dev/null
wait_line "$work/timer.out" $'^status\t0\tKestrelon-Spam-Filter is processing new messages: 1$'
echo "quit" >&7
exec 7>&-
wait "$host_pid"
host_pid=

if [ $failures -ne 0 ]; then
  echo "--- host output"; cat "$work/host.out"; cat "$work/host.err"
  exit 1
fi
echo "kestrelon-host: all checks passed"
