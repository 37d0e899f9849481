#!/usr/bin/env bash
# Checks a built TarvonaActiveX.ocx with objdump: it imports only DLLs that
# every Windows has (the static runtime leaves no libgcc, libstdc++ or
# winpthread behind) and exports exactly the four entry points of an
# in-process server.
#   scripts/check-windows-module.sh FILE.ocx...
set -euo pipefail

allowed=" ADVAPI32.dll CRYPT32.dll CRYPTUI.dll GDI32.dll KERNEL32.dll msvcrt.dll ole32.dll OLEAUT32.dll USER32.dll "
expected_exports="DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer"
objdump=$(command -v x86_64-w64-mingw32-objdump || command -v objdump)

status=0
for file in "$@"; do
  if [ ! -f "$file" ]; then
    echo "$file: missing" >&2
    status=1
    continue
  fi
  dump=$("$objdump" -p "$file")
  imports=$(sed -n 's/^[[:space:]]*DLL Name: \(.*\)$/\1/p' <<<"$dump")
  for dll in $imports; do
    # Case as the import table spells it, compared without case.
    if ! grep -qi " $dll " <<<"$allowed"; then
      echo "$file: imports $dll, not a system DLL" >&2
      status=1
    fi
  done
  exports=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/s/^[[:space:]]*\[[[:space:]]*[0-9]*\] \(.*\)$/\1/p' <<<"$dump" |
    sort | tr '\n' ' ' | sed 's/ $//')
  if [ "$exports" != "$expected_exports" ]; then
    echo "$file: exports '$exports', expected '$expected_exports'" >&2
    status=1
  fi
  [ $status -eq 0 ] && echo "$file: imports $(echo $imports | tr ' ' ,); exports $exports"
done
exit $status
