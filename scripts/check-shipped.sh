#!/usr/bin/env bash
# Fails when a shipped Windows binary is built in a way that breaks it where it is
# installed, though every test under Wine passes:
# - an export that the other side looks up by name does not carry its plain name (a
#   32-bit stdcall function is exported as "SetHook@4" unless told otherwise, and
#   GetProcAddress(module, "SetHook") then finds nothing);
# - the image asks for a newer Windows than XP in its OS or subsystem version (XP refuses
#   to load it): at most 5.1 for 32-bit, 5.2 for 64-bit (XP x64 / Server 2003);
# - it imports a MinGW runtime DLL, which no user's machine has;
# - a section .SHARED, meant to hold data that every process with the binary loaded sees
#   alike, is not marked shared (then each process gets a copy of its own) or not writable.
#   scripts/check-shipped.sh BUILD_DIR...      (e.g. build/win32 build/win64)
# Each build folder lists its shipped binaries in shipped-binaries.txt (cmake/shipped.cmake).
set -euo pipefail

objdump=x86_64-w64-mingw32-objdump
command -v "$objdump" >/dev/null ||
  { echo "shipped: $objdump not found: install Debian's binutils-mingw-w64-x86-64" >&2; exit 1; }

# The exports each binary's users find by name: the starter and the mail client's hook find
# the hook library's functions, the hook the plug-in's entry, COM and regsvr32 the server's.
declare -A looked_up=(
  [KestrelonHelper.dll]="SetHook DeleteHook CBTHookProc"
  [Kestrelon.dll]="AttachOutlookExpressPlugin"
  [Lexisift.dll]="DllGetClassObject DllCanUnloadNow DllRegisterServer DllUnregisterServer"
  [KestrelonStarter.exe]=""
)
runtime_dll='^lib(gcc_s|stdc\+\+|winpthread|ssp|gomp|atomic|quadmath)[-_].*\.dll$'

status=0
checked=0
fail() { echo "shipped: $binary: $*" >&2; status=1; }

# The export names of the binary whose `objdump -p` output is in $headers, one a line.
export_names() {
  awk '/^\[Ordinal\/Name Pointer\] Table/ { names = 1; next }
       names && /^\t\[ *[0-9]+\] / { print $NF; next }
       { names = 0 }' <<<"$headers"
}
# A version field of the optional header as a number: major * 100 + minor.
version_of() {
  awk -v major="Major$1Version" -v minor="Minor$1Version" '
    $1 == major { a = $2 } $1 == minor { b = $2 } END { print a * 100 + b }' <<<"$headers"
}

for build in "$@"; do
  list=$build/shipped-binaries.txt
  [ -s "$list" ] || { echo "shipped: $list missing: build $build first" >&2; exit 1; }
  for name in "${!looked_up[@]}"; do
    grep -q "/$name\$" "$list" || { echo "shipped: $name is not on $list" >&2; status=1; }
  done
  while IFS= read -r binary; do
    [ -n "$binary" ] || continue
    [ -f "$binary" ] || { fail "missing"; continue; }
    name=$(basename "$binary")
    headers=$("$objdump" -p "$binary")

    case "$headers" in
      *"file format pei-i386"*) newest=501 ;;
      *"file format pei-x86-64"*) newest=502 ;;
      *) fail "neither a 32-bit nor a 64-bit Windows image"; continue ;;
    esac
    for field in OSystem:OS Subsystem:subsystem; do
      version=$(version_of "${field%:*}")
      [ "$version" -le "$newest" ] ||
        fail "${field#*:} version $((version / 100)).$((version % 100)) is newer than Windows XP's ($((newest / 100)).$((newest % 100)))"
    done

    exports=$(export_names)
    for export in ${looked_up[$name]:-}; do
      grep -qx "$export" <<<"$exports" || fail "does not export $export by that name (exports: $(echo $exports))"
    done
    decorated=$(grep '@' <<<"$exports" || true)
    [ -z "$decorated" ] || fail "decorated export names: $(echo $decorated)"

    runtime=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers" | grep -i -E "$runtime_dll" || true)
    [ -z "$runtime" ] || fail "imports the MinGW runtime: $(echo $runtime)"

    while IFS= read -r flags; do
      [[ "$flags" == *SHARED* && "$flags" != *READONLY* ]] ||
        fail "section .SHARED is not shared and writable:$flags"
    done < <("$objdump" -h "$binary" | awk 'tolower($2) == ".shared" { getline; print }')
    checked=$((checked + 1))
  done <"$list"
done
[ "$status" -eq 0 ] &&
  echo "shipped: $checked binaries: plain export names, Windows XP versions, no MinGW runtime, shared sections shared"
exit "$status"
