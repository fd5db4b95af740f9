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
  "$WINESERVER" -w
}

# Wine's environment for the prefix DIR: quiet, headless, no .NET or HTML engine downloads.
wine_environment() {
  export WINEPREFIX=$1
  export WINEDEBUG=${WINEDEBUG:--all}
  export WINEDLLOVERRIDES="mscoree,mshtml="
  unset DISPLAY WAYLAND_DISPLAY
}

wine_prefix_down() {
  [ -n "${WINE_PREFIX_DIR:-}" ] || return 0
  WINEPREFIX=$WINE_PREFIX_DIR "$WINESERVER" -k >/dev/null 2>&1
  rm -rf "$WINE_PREFIX_DIR"
  WINE_PREFIX_DIR=
}

# The Windows name of a file on the Linux side (drive Z: is the root).
wine_path() { printf 'Z:%s' "$(realpath "$1" | tr / '\\')"; }
