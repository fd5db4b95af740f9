#!/usr/bin/env bash
# The installer as a user runs it, in a fresh Wine prefix of its build's architecture
# (scripts/wine-prefix.sh): it refuses to run while the mail client is open (exit code 3)
# and stops when the engine cannot be registered (exit code 2); a silent installation; the
# installed files, the server's ProgIDs (used from a script host), the Startup entry and
# the running starter; the stand-in client, started afresh from a folder of its own, gets
# the plug-in through the starter's hook and judges mail; an upgrade over the installed
# copy; then the uninstaller, after which nothing of ours is left but the mail data the
# filter learned.
#   installer/installer_test.sh SETUP.exe BUILD_BIN_FOLDER
set -u
source "$(dirname "$0")/../scripts/wine-prefix.sh"
setup=$1
bin=$2
wine_prefix_up || exit $?

drive=$WINEPREFIX/drive_c
program=$drive/Program\ Files/Kestrelon
step() { echo "--- $*"; }
fail() { echo "FAIL: $*"; exit 1; }

# Every file and folder of ours anywhere on drive C:, as "./path" lines, but for what the
# filter learned in the client's store folder C:\Mail, which is the user's and stays.
our_files() { (cd "$drive" && find . \( -iname '*kestrelon*' -o -iname '*lexisift*' \) -not -path './Mail/*' | sort); }
# Every registry line that names us.
our_registry() {
  "$WINE" regedit /E 'C:\registry.reg' || fail "regedit /E"
  iconv -f UTF-16LE -t UTF-8 "$drive/registry.reg" | tr -d '\r' | grep -i -E 'kestrelon|lexisift'
  rm -f "$drive/registry.reg"
}
# The process ids of starters running in this prefix.
starters() {
  local process
  for process in /proc/[0-9]*; do
    tr '\0' '\n' 2>/dev/null <"$process/cmdline" | grep -q 'KestrelonStarter\.exe' &&
      tr '\0' '\n' 2>/dev/null <"$process/environ" | grep -qx "WINEPREFIX=$WINEPREFIX" && echo "${process#/proc/}"
  done
}
# The stand-in client's main window, open in the background until stop_client; its
# commands come through a FIFO and its answers go to a file.
start_client() {
  mkfifo "$WINE_PREFIX_DIR/client.in"
  "$WINE" "$(wine_path "$bin/oe-window.exe")" <"$WINE_PREFIX_DIR/client.in" >"$WINE_PREFIX_DIR/client.out" 2>&1 &
  client_pid=$!
  exec {client_in}>"$WINE_PREFIX_DIR/client.in"
  echo status >&"$client_in"
  local i
  for i in $(seq 600); do
    grep -qx ok "$WINE_PREFIX_DIR/client.out" 2>/dev/null && return 0
    sleep 0.1
  done
  fail "the client did not start: $(cat "$WINE_PREFIX_DIR/client.out")"
}
stop_client() {
  echo quit >&"$client_in"
  exec {client_in}>&-
  wait "$client_pid"
  rm -f "$WINE_PREFIX_DIR/client.in" "$WINE_PREFIX_DIR/client.out"
}
# The value of a registry value as `reg query` shows it.
reg_value() {
  "$WINE" reg query "$1" /v "$2" | tr -d '\r' | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}
startup_folder() {
  local win
  win=$("$WINE" reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders' /v Startup |
        tr -d '\r' | sed -n 's/^ *Startup *REG_SZ *//p')
  [ -n "$win" ] || fail "no Startup folder"
  printf '%s' "$drive/${win#C:\\}" | tr '\\' /
}

step "a fresh prefix has nothing of ours"
[ -z "$(our_files)" ] || fail "files before installing: $(our_files)"
[ -z "$(our_registry)" ] || fail "registry before installing: $(our_registry)"

step "exit code 3: Outlook Express is open"
start_client
"$WINE" "$(wine_path "$setup")" /S
code=$?
stop_client
[ "$code" = 3 ] || fail "installer exit code $code with the client open"
[ -z "$(our_files)" ] || fail "files installed with the client open: $(our_files)"

step "exit code 2: the filter engine cannot be registered"
# Wine refuses to load Lexisift.dll at all, so regsvr32 fails as on a damaged system.
WINEDLLOVERRIDES="$WINEDLLOVERRIDES;lexisift=d" "$WINE" "$(wine_path "$setup")" /S
code=$?
[ "$code" = 2 ] || fail "installer exit code $code when the engine cannot be registered"
[ -z "$(starters)" ] || fail "a starter runs after the failed registration"
[ ! -e "$(startup_folder)/Kestrelon.lnk" ] || fail "a Startup entry after the failed registration"
[ -f "$program/Uninstall.exe" ] || fail "no uninstaller after the failed registration"

step "silent installation"
"$WINE" "$(wine_path "$setup")" /S || fail "installer exit code $?"

step "installed files"
startup=$(startup_folder)
expected="./Program Files/Kestrelon
./Program Files/Kestrelon/KestrelonHelper.dll
./Program Files/Kestrelon/KestrelonStarter.exe
./Program Files/Kestrelon/Lexisift.dll
./Program Files/Kestrelon/Manual/de-de/kestrelon.htm
./Program Files/Kestrelon/Manual/en-us/kestrelon.htm
.${startup#$drive}/Kestrelon.lnk
./windows/system32/Kestrelon.dll"
[ "$(our_files)" = "$expected" ] || fail "installed: $(our_files)"
for f in KestrelonHelper.dll KestrelonStarter.exe Lexisift.dll; do
  cmp -s "$bin/$f" "$program/$f" || fail "$f differs from the build's"
done
cmp -s "$bin/Kestrelon.dll" "$drive/windows/system32/Kestrelon.dll" || fail "Kestrelon.dll differs from the build's"
[ -f "$program/Uninstall.exe" ] || fail "no Uninstall.exe"
grep -q -a -F 'C:\Program Files\Kestrelon\KestrelonStarter.exe' "$startup/Kestrelon.lnk" ||
  fail "the Startup shortcut does not start the starter"

step "uninstall entry and registry"
[ -n "$(our_registry)" ] || fail "the registry shows nothing of the installation"
"$WINE" reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Kestrelon' /v UninstallString |
  tr -d '\r' | grep -q -F '"C:\Program Files\Kestrelon\Uninstall.exe"' || fail "no uninstall entry"

step "the server's objects by ProgID, from a script"
cat > "$drive/progids.vbs" <<'VBS'
WScript.Echo TypeName(CreateObject("Lexisift.MailFilter"))
WScript.Echo TypeName(CreateObject("Lexisift.LockedMailFilter"))
WScript.Echo TypeName(CreateObject("Lexisift.Log"))
VBS
objects=$("$WINE" cscript //nologo 'C:\progids.vbs' | tr -d '\r')
rm -f "$drive/progids.vbs"
[ "$objects" = "$(printf 'IMailFilter\nILockedMailFilter\nILog')" ] || fail "objects: $objects"
for progid in Lexisift.MailFilter Lexisift.LockedMailFilter Lexisift.Log; do
  clsid=$("$WINE" reg query "HKCR\\$progid\\CLSID" /ve | tr -d '\r' | sed -n 's/.*REG_SZ *//p')
  "$WINE" reg query "HKCR\\CLSID\\$clsid\\InprocServer32" /ve | tr -d '\r' |
    grep -q -F 'REG_SZ    C:\Program Files\Kestrelon\Lexisift.dll' || fail "$progid is not served from the program folder"
done

step "the starter runs"
[ "$(starters | wc -l)" = 1 ] || fail "starters running: $(starters | wc -l)"

step "the client started afresh gets the plug-in through the starter's hook"
# The stand-in client in a folder of its own, as the real client lives in its own folder:
# the plug-in it loads by bare name must come from where the installer put it.
client=$drive/Program\ Files/Outlook\ Express
mkdir -p "$client"
cp "$bin/oe-window.exe" "$bin/MSOE.dll" "$bin/WAB32.dll" "$bin/installed_client_check.exe" "$client/"
(cd "$client" && KESTRELON_CHECK_STORE='C:\Mail' "$WINE" installed_client_check.exe) ||
  fail "the installed filter in the client"
rm -rf "$client"
[ "$(starters | wc -l)" = 1 ] || fail "starters running after the client: $(starters | wc -l)"

step "the uninstall entry shows the build's version and the plug-in's icon"
version=$(sed -n 's/^#define KESTRELON_VERSION_TEXT "\(.*\)"$/\1/p' "$(dirname "$0")/../plugin/res/version.h")
entry='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Kestrelon'
[ "$(reg_value "$entry" DisplayVersion)" = "$version" ] || fail "DisplayVersion $(reg_value "$entry" DisplayVersion)"
[ "$(reg_value "$entry" DisplayIcon)" = 'C:\windows\system32\Kestrelon.dll,-50' ] ||
  fail "DisplayIcon $(reg_value "$entry" DisplayIcon)"

step "an upgrade over the installed copy keeps settings and learned data and restarts the starter"
"$WINE" reg add 'HKCU\Software\Kestrelon\OEPlugin' /v DebugLevel /t REG_DWORD /d 3 /f >/dev/null 2>&1
settings=$("$WINE" reg query 'HKCU\Software\Kestrelon\OEPlugin' | tr -d '\r')
learned=$(cd "$drive/Mail" && md5sum Kestrelon.dat Kestrelon.msg Kestrelon.log)
files=$(our_files)
old_starter=$(starters)
# A program that opened a window while the hook was set keeps the hook library loaded
# (Wine's loader tells when it loads it).
WINEDEBUG=+loaddll "$WINE" notepad >/dev/null 2>"$WINE_PREFIX_DIR/holder.log" &
holder=$!
for i in $(seq 600); do
  grep -q -i 'KestrelonHelper\.dll' "$WINE_PREFIX_DIR/holder.log" && break
  sleep 0.1
done
grep -q -i 'KestrelonHelper\.dll' "$WINE_PREFIX_DIR/holder.log" ||
  fail "the hook library is not loaded in a program with a window"
"$WINE" "$(wine_path "$setup")" /S || fail "installer exit code $? over the installed copy"
[ "$(our_files)" = "$files" ] || fail "files after the upgrade: $(our_files)"
while IFS= read -r f; do
  [ -f "$bin/$(basename "$f")" ] || continue
  cmp -s "$bin/$(basename "$f")" "$drive/$f" || fail "$f differs from the build's after the upgrade"
done <<< "$(our_files)"
# The copy still loaded went aside and is removed at the next start of Windows.
aside=$(cd "$program" && ls ns*.tmp 2>/dev/null)
[ -n "$aside" ] || fail "the loaded hook library was not moved aside"
reg_value 'HKLM\System\CurrentControlSet\Control\Session Manager' PendingFileRenameOperations |
  grep -q -F "$aside" || fail "$aside is not removed at the next start"
[ "$("$WINE" reg query 'HKCU\Software\Kestrelon\OEPlugin' | tr -d '\r')" = "$settings" ] || fail "settings changed"
[ "$(cd "$drive/Mail" && md5sum Kestrelon.dat Kestrelon.msg Kestrelon.log)" = "$learned" ] || fail "learned data changed"
[ "$(starters | wc -l)" = 1 ] || fail "starters running after the upgrade: $(starters | wc -l)"
[ "$(starters)" != "$old_starter" ] || fail "the starter was not started anew"
kill "$holder"
wait "$holder" 2>/dev/null

step "uninstall"
"$WINE" "C:\\Program Files\\Kestrelon\\Uninstall.exe" /S || fail "uninstaller exit code $?"
# The uninstaller runs on from a copy of itself; every process ends, the starter too.
timeout 300 "$WINESERVER" -w || fail "processes still running after the uninstaller: starters $(starters)"

step "nothing of ours in the registry"
left=$(our_registry)
[ -z "$left" ] || fail "registry after uninstalling: $left"

step "files still in use are removed at the next start of Windows"
# A process that had the hook library loaded (the uninstaller itself: Wine keeps hook
# libraries loaded) keeps it until then.
pending=$(grep -i '^"PendingFileRenameOperations"' "$WINEPREFIX/system.reg")
while IFS= read -r f; do
  [ -n "$f" ] || continue
  needle=$(printf 'C:%s' "${f#.}" | sed 's|/|\\\\|g')
  [[ "$pending" == *"$needle"* ]] || fail "left behind and not pending: $f"
done <<< "$(our_files)"
"$WINE" wineboot -r >/dev/null 2>&1
"$WINESERVER" -w
[ -z "$(our_files)" ] || fail "files after uninstalling: $(our_files)"
for f in Kestrelon.dat Kestrelon.log Kestrelon.msg; do
  [ -f "$drive/Mail/$f" ] || fail "the learned data $f is gone"
done
echo "installer test passed"
