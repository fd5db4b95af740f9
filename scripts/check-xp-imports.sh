#!/usr/bin/env bash
# Fails when a shipped Windows binary imports a function that Windows XP does not have.
# The mail client runs on Windows XP SP3 (32-bit) and XP x64 / Server 2003 (64-bit); a DLL
# that imports one missing function does not load there at all.
#   scripts/check-xp-imports.sh BUILD_DIR...      (e.g. build/win32 build/win64)
# Each build folder lists its shipped binaries in shipped-binaries.txt (cmake/shipped.cmake).
set -euo pipefail

# Functions of the system DLLs that are newer than Windows XP SP3, with the first Windows
# version that has each, as Microsoft's API reference gives it ("Minimum supported client").
newer_than_xp='
GetTickCount64                      Vista   kernel32
InitializeSRWLock                   Vista   kernel32
AcquireSRWLockExclusive             Vista   kernel32
AcquireSRWLockShared                Vista   kernel32
ReleaseSRWLockExclusive             Vista   kernel32
ReleaseSRWLockShared                Vista   kernel32
TryAcquireSRWLockExclusive          7       kernel32
TryAcquireSRWLockShared             7       kernel32
InitializeConditionVariable         Vista   kernel32
SleepConditionVariableCS            Vista   kernel32
SleepConditionVariableSRW           Vista   kernel32
WakeConditionVariable               Vista   kernel32
WakeAllConditionVariable            Vista   kernel32
InitOnceInitialize                  Vista   kernel32
InitOnceExecuteOnce                 Vista   kernel32
InitOnceBeginInitialize             Vista   kernel32
InitOnceComplete                    Vista   kernel32
FlsAlloc                            Vista   kernel32
FlsFree                             Vista   kernel32
FlsGetValue                         Vista   kernel32
FlsSetValue                         Vista   kernel32
InitializeCriticalSectionEx         Vista   kernel32
CreateEventExA                      Vista   kernel32
CreateEventExW                      Vista   kernel32
CreateMutexExA                      Vista   kernel32
CreateMutexExW                      Vista   kernel32
CreateSemaphoreExA                  Vista   kernel32
CreateSemaphoreExW                  Vista   kernel32
CreateWaitableTimerExW              Vista   kernel32
CancelIoEx                          Vista   kernel32
CancelSynchronousIo                 Vista   kernel32
GetFileInformationByHandleEx        Vista   kernel32
SetFileInformationByHandle          Vista   kernel32
CreateSymbolicLinkA                 Vista   kernel32
CreateSymbolicLinkW                 Vista   kernel32
GetFinalPathNameByHandleA           Vista   kernel32
GetFinalPathNameByHandleW           Vista   kernel32
GetSystemTimePreciseAsFileTime      8       kernel32
CreateFile2                         8       kernel32
GetQueuedCompletionStatusEx         Vista   kernel32
SetFileCompletionNotificationModes  Vista   kernel32
QueryFullProcessImageNameA          Vista   kernel32
QueryFullProcessImageNameW          Vista   kernel32
GetErrorMode                        Vista   kernel32
GetLocaleInfoEx                     Vista   kernel32
GetUserDefaultLocaleName            Vista   kernel32
LCIDToLocaleName                    Vista   kernel32
LocaleNameToLCID                    Vista   kernel32
CompareStringEx                     Vista   kernel32
FlushProcessWriteBuffers            Vista   kernel32
GetDynamicTimeZoneInformation       Vista   kernel32
RegDeleteTreeA                      Vista   advapi32
RegDeleteTreeW                      Vista   advapi32
RegGetValueA                        Vista   advapi32
RegGetValueW                        Vista   advapi32
RegCopyTreeA                        Vista   advapi32
RegCopyTreeW                        Vista   advapi32
RegSetKeyValueA                     Vista   advapi32
RegSetKeyValueW                     Vista   advapi32
RegDeleteKeyValueA                  Vista   advapi32
RegDeleteKeyValueW                  Vista   advapi32
RegLoadMUIStringA                   Vista   advapi32
RegLoadMUIStringW                   Vista   advapi32
InetPtonA                           Vista   ws2_32
InetPtonW                           Vista   ws2_32
inet_pton                           Vista   ws2_32
InetNtopA                           Vista   ws2_32
InetNtopW                           Vista   ws2_32
inet_ntop                           Vista   ws2_32
GetAddrInfoExA                      Vista   ws2_32
GetAddrInfoExW                      Vista   ws2_32
FreeAddrInfoEx                      Vista   ws2_32
FreeAddrInfoExW                     Vista   ws2_32
GetAddrInfoExCancel                 8       ws2_32
GetAddrInfoExOverlappedResult       8       ws2_32
WSAPoll                             Vista   ws2_32
WSASendMsg                          Vista   ws2_32
if_nametoindex                      Vista   iphlpapi
if_indextoname                      Vista   iphlpapi
SHGetKnownFolderPath                Vista   shell32
SHCreateItemFromParsingName         Vista   shell32
TaskDialog                          Vista   comctl32
TaskDialogIndirect                  Vista   comctl32
SetProcessDPIAware                  Vista   user32
ChangeWindowMessageFilter           Vista   user32
AddClipboardFormatListener          Vista   user32
'

# "<dll> <function>" for every function a binary imports by name (this objdump reads the
# 32-bit and the 64-bit format alike).
imports_of() {
  x86_64-w64-mingw32-objdump -p "$1" | awk '
    /^[[:space:]]*DLL Name:/ { dll = tolower($3); next }
    /^[[:space:]]*$/ { next }
    dll != "" && /^[[:space:]]+[0-9a-f]+[[:space:]]+[0-9]+[[:space:]]+[^[:space:]]+$/ { print dll, $3 }
    /export table/ { dll = "" }'
}

command -v x86_64-w64-mingw32-objdump >/dev/null ||
  { echo "xp imports: x86_64-w64-mingw32-objdump not found: install Debian's binutils-mingw-w64-x86-64" >&2; exit 1; }

# What users install; each must be on every build's list.
shipped=(Lexisift.dll Kestrelon.dll KestrelonHelper.dll KestrelonStarter.exe)

status=0
checked=0
for build in "$@"; do
  list=$build/shipped-binaries.txt
  [ -s "$list" ] || { echo "xp imports: $list missing: build $build first" >&2; exit 1; }
  for name in "${shipped[@]}"; do
    grep -q "/$name\$" "$list" || { echo "xp imports: $name is not on $list" >&2; status=1; }
  done
  while IFS= read -r binary; do
    [ -n "$binary" ] || continue
    [ -f "$binary" ] || { echo "xp imports: $binary missing" >&2; status=1; continue; }
    imports=$(imports_of "$binary")
    [ -n "$imports" ] || { echo "xp imports: no imports read from $binary" >&2; status=1; continue; }
    while read -r function minimum _; do
      [ -n "$function" ] || continue
      if grep -q " $function\$" <<<"$imports"; then
        echo "xp imports: $binary imports $function (Windows $minimum and later)" >&2
        status=1
      fi
    done <<<"$newer_than_xp"
    checked=$((checked + 1))
  done <"$list"
done
[ "$status" -eq 0 ] && echo "xp imports: $checked shipped binaries load on Windows XP"
exit "$status"
