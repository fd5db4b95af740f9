#!/usr/bin/env bash
# The server as a scripting client meets it under Wine: registered with regsvr32, every
# member of its classes driven by Wine's own cscript from a VBScript, unregistered again,
# all in a fresh prefix.
#   automation_client_test.sh SCRIPT.vbs Lexisift.dll
set -u
source "$(dirname "$0")/../../scripts/wine-prefix.sh"
script=$(wine_path "$1")
server=$(wine_path "$2")
wine_prefix_up || exit $?
work=$(mktemp -d "${TMPDIR:-/tmp}/kestrelon-automation.XXXXXX")
trap 'wine_prefix_down; rm -rf "$work"' EXIT

"$WINE" regsvr32 /s "$server" || { echo "regsvr32 failed: $?"; exit 1; }
# cscript's exit code alone does not show a script that stopped half-way: the script
# ends with a line of its own when every check ran and passed.
"$WINE" cscript //nologo "$script" "$(wine_path "$work")" | tee "$work/output"
rc=${PIPESTATUS[0]}
grep -q '^all [0-9]* checks passed' "$work/output" || rc=1
"$WINE" regsvr32 /u /s "$server" || { echo "regsvr32 /u failed: $?"; exit 1; }
wine_wait_idle || rc=1
exit $rc
