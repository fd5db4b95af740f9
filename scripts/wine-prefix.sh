# Shared by the Wine scripts: a fresh, throw-away prefix with the null display driver.
#   source scripts/wine-prefix.sh; wine_prefix_up; "$WINE" program.exe; wine_prefix_down
# KESTRELON_WINE_ARCH picks the Wine: win64 (the default) is Debian's wine64 on this
# machine; win32 is 32-bit Wine under emulation in the system of scripts/win32-system.sh,
# and a script that sources this file then runs itself again inside that system.
case ${KESTRELON_WINE_ARCH:-win64} in
  win64)
    WINE=/usr/lib/wine/wine64
    WINESERVER=/usr/lib/wine/wineserver
    ;;
  win32)
    if [ -z "${KESTRELON_WIN32_PREFIX:-}" ]; then
      exec bash "$(dirname "${BASH_SOURCE[0]}")/win32-system.sh" run bash "$0" "$@"
    fi
    WINE=/usr/lib/wine/wine
    # The native server serves 32-bit Wine as well, without emulation.
    WINESERVER=/usr/lib/wine/wineserver64
    export WINEARCH=win32
    # Made once with the system: a copy is much faster than Wine's set-up under emulation.
    WINE_PREFIX_TEMPLATE=$KESTRELON_WIN32_PREFIX
    ;;
  *)
    echo "KESTRELON_WINE_ARCH: win64 or win32, not '$KESTRELON_WINE_ARCH'" >&2
    exit 64
    ;;
esac

wine_prefix_up() {
  [ -x "$WINE" ] || { echo "wine: $WINE not found (install wine64)" >&2; return 127; }
  WINE_PREFIX_DIR=$(mktemp -d "${TMPDIR:-/tmp}/kestrelon-wine.XXXXXX")
  trap wine_prefix_down EXIT
  if [ -d "${WINE_PREFIX_TEMPLATE:-}" ]; then
    wine_environment "$WINE_PREFIX_DIR"
    cp -a "$WINE_PREFIX_TEMPLATE/." "$WINE_PREFIX_DIR"
  else
    wine_prefix_make "$WINE_PREFIX_DIR"
  fi
}

# A new prefix in DIR, made by Wine's own set-up, with the null display driver.
wine_prefix_make() {
  wine_environment "$1"
  "$WINE" wineboot -i >/dev/null 2>&1
  "$WINE" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
  wine_wait_idle
}

# Wine's environment for the prefix DIR: quiet, headless, no .NET or HTML engine downloads.
wine_environment() {
  export WINEPREFIX=$1
  export WINEDEBUG=${WINEDEBUG:--all}
  export WINEDLLOVERRIDES="mscoree,mshtml="
  unset DISPLAY WAYLAND_DISPLAY
}

# Waits until every process of the prefix has ended; Wine's own background processes leave
# a few seconds after the last program. Whatever is still there after a minute must not hold
# a test until its time-out: it is listed on stderr and killed. Returns 1 when a process
# other than Wine's own services was among them (a program that does not end is a fault).
wine_wait_idle() {
  timeout "${KESTRELON_WINE_IDLE_WAIT:-60}" "$WINESERVER" -w && return 0
  local pid command others=0
  echo "wine: processes of $WINEPREFIX still running, killed:" >&2
  for pid in $(grep -lzxF "WINEPREFIX=$WINEPREFIX" /proc/[0-9]*/environ 2>/dev/null | cut -d/ -f3); do
    command=$(tr '\0' ' ' 2>/dev/null <"/proc/$pid/cmdline")
    # This script's own shells carry the prefix too; they have not run Wine.
    case $command in '' | *bash* | *timeout* | *grep*) continue ;; esac
    echo "  $pid $command" >&2
    case ${command,,} in
      *wineserver* | *'\services.exe'* | *'\winedevice.exe'* | *'\plugplay.exe'* | \
        *'\explorer.exe'* | *'\rpcss.exe'* | *'\svchost.exe'* | *'\conhost.exe'*) ;;
      *) others=1 ;;
    esac
  done
  "$WINESERVER" -k >/dev/null 2>&1
  return $others
}

wine_prefix_down() {
  [ -n "${WINE_PREFIX_DIR:-}" ] || return 0
  WINEPREFIX=$WINE_PREFIX_DIR "$WINESERVER" -k >/dev/null 2>&1
  rm -rf "$WINE_PREFIX_DIR"
  WINE_PREFIX_DIR=
}

# The Windows name of a file on the Linux side (drive Z: is the root).
wine_path() { printf 'Z:%s' "$(realpath "$1" | tr / '\\')"; }
