# Shared by the Wine scripts: a fresh, throw-away prefix with the null display driver.
#   source scripts/wine-prefix.sh; wine_prefix_up; "$WINE" program.exe; wine_prefix_down
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver

wine_prefix_up() {
  [ -x "$WINE" ] || { echo "wine: $WINE not found (install wine64)" >&2; return 127; }
  WINE_PREFIX_DIR=$(mktemp -d "${TMPDIR:-/tmp}/kestrelon-wine.XXXXXX")
  export WINEPREFIX=$WINE_PREFIX_DIR
  export WINEDEBUG=${WINEDEBUG:--all}
  export WINEDLLOVERRIDES="mscoree,mshtml="
  unset DISPLAY WAYLAND_DISPLAY
  trap wine_prefix_down EXIT
  "$WINE" wineboot -i >/dev/null 2>&1
  "$WINE" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
  "$WINESERVER" -w
}

wine_prefix_down() {
  [ -n "${WINE_PREFIX_DIR:-}" ] || return 0
  WINEPREFIX=$WINE_PREFIX_DIR "$WINESERVER" -k >/dev/null 2>&1
  rm -rf "$WINE_PREFIX_DIR"
  WINE_PREFIX_DIR=
}

# The Windows name of a file on the Linux side (drive Z: is the root).
wine_path() { printf 'Z:%s' "$(realpath "$1" | tr / '\\')"; }
