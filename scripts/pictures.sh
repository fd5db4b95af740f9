#!/usr/bin/env bash
# Renders the plug-in inside the stand-in client as PNG files, under Xvfb with Wine's
# X11 driver: the main window with the Edit menu open and the Delete Spam button, the
# options dialog in English and German, the token probabilities dialog in English and
# German, and every page of the installer and the uninstaller in English and German.
#   bash scripts/pictures.sh [OUTPUT_FOLDER]      (default: docs/pictures)
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-docs/pictures}")
mkdir -p "$out"

missing=()
for p in xvfb xauth imagemagick fonts-wine xdotool locales; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
# Wine takes a program's language from the locale it is started in; the German installer
# needs the German one to exist.
if ! locale -a | grep -qix 'de_DE.utf8'; then
  sed -i 's/^# *\(de_DE.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -qx 'de_DE.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' >>/etc/locale.gen
  locale-gen >/dev/null
fi

cmake --preset win64 >/dev/null
cmake --build --preset win64 --target oe-window Kestrelon Lexisift MSOE WAB32 installer >/dev/null
bin=$(realpath build/win64/bin)
setup=$(realpath build/win64/installer/KestrelonSetup64.exe)

# Inside Xvfb: a throw-away prefix that keeps Wine's X11 driver.
if [ -z "${KESTRELON_IN_XVFB:-}" ]; then
  KESTRELON_IN_XVFB=1 exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$out"
fi
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver
export WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/kestrelon-pictures.XXXXXX")
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
work=$(mktemp -d "${TMPDIR:-/tmp}/kestrelon-pictures-work.XXXXXX")
cleanup() { "$WINESERVER" -k >/dev/null 2>&1 || true; rm -rf "$WINEPREFIX" "$work"; }
trap cleanup EXIT
"$WINE" wineboot -i >/dev/null 2>&1
# Wine's own Tahoma and Marlett (title bar buttons) from Debian's fonts-wine, which this
# Wine build does not look for by itself.
cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
"$WINE" regsvr32 /s "$bin/Lexisift.dll"
"$WINE" reg add 'HKCU\Software\Kestrelon\OEPlugin' /v DebugLevel /t REG_DWORD /d 3 /f >/dev/null 2>&1
# There is no window manager: Wine draws the title bars and frames itself.
"$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1
"$WINESERVER" -w
winpath() { printf 'Z:%s' "$(realpath "$1" | tr / '\\')"; }
samples=$(realpath samples/mail)

# The client runs as a co-process; `say` sends a command and prints its reply lines up
# to "ok" (a "dialog" notice is skipped).
start_client() {
  coproc CLIENT { cd "$bin" && exec "$WINE" oe-window.exe "$@" 2>/dev/null; }
}
say() {
  echo "$1" >&"${CLIENT[1]}"
  [ "${2:-}" = nowait ] && return 0
  local line
  while IFS= read -r -t 60 line <&"${CLIENT[0]}"; do
    case $line in
      ok) return 0 ;;
      error*) echo "client: $1: $line" >&2; return 1 ;;
      dialog*) ;;
      *) printf '%s\n' "$line" ;;
    esac
  done
  echo "client: no answer to $1" >&2
  return 1
}
wait_dialog() {
  local line
  while IFS= read -r -t 60 line <&"${CLIENT[0]}"; do
    case $line in dialog*) return 0 ;; esac
  done
  echo "client: no dialog opened" >&2
  return 1
}
shoot() {  # shoot NAME: the main window, or the open dialog, as on the screen
  local rect l t r b
  sleep 2
  rect=$(say rect)
  read -r _ l t r b <<<"$rect"
  import -window root -crop "$((r - l))x$((b - t))+$l+$t" +repage "$out/$1.png"
  echo "wrote $out/$1.png"
}
deliver_samples() {
  local files=() f
  for f in "$samples"/ham/0[1-9]-*.eml "$samples"/ham/1[0-2]-*.eml; do files+=("$(winpath "$f")"); done
  say "answer ok" && say "deliver ${files[*]}" >/dev/null
  files=()
  for f in "$samples"/spam/0[1-3]-*.eml; do files+=("$(winpath "$f")"); done
  say "deliver ${files[*]}" >/dev/null
}

# English: the main window with the Edit menu open, then both dialogs.
start_client --store "$(winpath "$work")\\en" --lang en --attach "$(winpath "$bin/Kestrelon.dll")"
deliver_samples
say "select 13" && say "rows" >/dev/null
say "popup edit"
shoot main-window
say "endmenu"
say "command 30100" nowait && wait_dialog
shoot options-en
say "click 2"
say "select 2"
say "command 30102" nowait && wait_dialog
shoot token-probabilities
say "click 1"
say quit || true
wait "$CLIENT_PID" 2>/dev/null || true

# German: the options dialog and the token probabilities dialog.
start_client --store "$(winpath "$work")\\de" --lang de --attach "$(winpath "$bin/Kestrelon.dll")"
deliver_samples
say "command 30100" nowait && wait_dialog
shoot options-de
say "click 2"
say "select 2"
say "command 30102" nowait && wait_dialog
shoot token-probabilities-de
say "click 1"
say quit || true
wait "$CLIENT_PID" 2>/dev/null || true
"$WINESERVER" -w

# The installer and the uninstaller, page by page. There is no window manager, so the
# setup window is given the keyboard focus before each key.
setup_window() {  # the id of the X window whose title starts with $1, once it is there
  local id i
  for i in $(seq 120); do
    id=$(xdotool search --onlyvisible --name "^$1" 2>/dev/null | head -n 1) && [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.5
  done
  echo "no window $1" >&2
  return 1
}
page() {  # page NAME TITLE: writes NAME.png once the window has not changed for 4 seconds
  local id last="" now same=0 i
  id=$(setup_window "$2")
  for i in $(seq 300); do
    now=$(import -window "$id" rgb:- 2>/dev/null | md5sum)
    if [ "$now" = "$last" ]; then
      same=$((same + 1))
      [ "$same" -ge 4 ] && break
    else
      same=0
      last=$now
    fi
    sleep 1
  done
  import -window "$id" "$out/$1.png"
  echo "wrote $out/$1.png"
}
next() {  # presses Return (the page's default button) in the window titled $1
  local id
  id=$(setup_window "$1")
  xdotool windowfocus --sync "$id" 2>/dev/null || xdotool windowfocus "$id"
  xdotool key --window "$id" Return
}
installer_pages() {  # installer_pages SUFFIX SETUP-TITLE UNINSTALL-TITLE (environment: the language)
  "$WINE" "$(winpath "$setup")" &
  local installer=$!
  page "installer-welcome-$1" "$2"; next "$2"
  page "installer-progress-$1" "$2"; next "$2"
  page "installer-finish-$1" "$2"; next "$2"
  wait "$installer" || true
  "$WINE" 'C:\Program Files\Kestrelon\Uninstall.exe' &
  page "uninstaller-welcome-$1" "$3"; next "$3"
  page "uninstaller-confirm-$1" "$3"; next "$3"
  page "uninstaller-progress-$1" "$3"; next "$3"
  page "uninstaller-finish-$1" "$3"; next "$3"
  "$WINESERVER" -w
}
installer_pages en "Kestrelon Spam Filter Setup" "Kestrelon Spam Filter Uninstall"
LC_ALL=de_DE.UTF-8 LANG=de_DE.UTF-8 installer_pages de "Installation von Kestrelon Spam Filter" \
  "Deinstallation von Kestrelon Spam Filter"
