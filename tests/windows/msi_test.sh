#!/usr/bin/env bash
# The x64 installer under 64-bit Wine, in a fresh prefix: install quietly,
# hold the registry against the registration record, create the control
# from JScript by its ProgID, uninstall, and find nothing left but the
# category definitions. Then the same record from the module's own
# DllRegisterServer (regsvr32), so installer and module cannot drift.
#   tests/windows/msi_test.sh TOOL MSI OCX64 WORKDIR
# TOOL is tarvona-msi-registry, OCX64 the 64-bit module the MSI holds.
set -euo pipefail
tool=$(realpath "$1")
msi=$(realpath "$2")
ocx=$(realpath "$3")
work=$(realpath -m "$4")
source "$(dirname "$0")/../../scripts/wine-env.sh"
export WINEPREFIX=$work/prefix
wine=$TARVONA_WINE

rm -rf "$work"
mkdir -p "$WINEPREFIX"
# Started on its own, Wine's services hold nothing of the caller's output.
"$wine" wineboot -i </dev/null >/dev/null 2>&1

failures=0
check() {  # $1: what; the rest: the command
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAIL: $what"; failures=$((failures + 1)); fi
}
export_classes() {  # $1: output file, UTF-8
  "$wine" reg export 'HKLM\Software\Classes' "$work/classes.reg" /y >/dev/null 2>&1
  iconv -f UTF-16LE -t UTF-8 "$work/classes.reg" | tr -d '\r' >"$1"
}
run_script() {  # $1: the script file; prints its output
  "$wine" cscript //nologo "$(winepath_of "$1")" </dev/null 2>&1 | tr -d '\r'
}
winepath_of() { echo "Z:${1//\//\\}"; }

drive=$WINEPREFIX/drive_c
path64='C:\Program Files\Tarvona\TarvonaActiveX.ocx'
path32='C:\Program Files (x86)\Tarvona\TarvonaActiveX.ocx'

# Install.
check "msiexec /i" "$wine" msiexec /i "$(winepath_of "$msi")" /qn
check "64-bit module installed" cmp -s "$ocx" "$drive/Program Files/Tarvona/TarvonaActiveX.ocx"
check "32-bit module installed" test -s "$drive/Program Files (x86)/Tarvona/TarvonaActiveX.ocx"
export_classes "$work/installed.reg"
check "record, 64-bit view" "$tool" check "$work/installed.reg" present 64 "$path64"
check "record, 32-bit view" "$tool" check "$work/installed.reg" present 32 "$path32"
check "reg query: the ProgID names the class" sh -c \
  "'$wine' reg query 'HKCR\\TARVONAACTIVEX.TarvonaActiveXCtrl.1\\CLSID' 2>/dev/null | grep -q '{89F34120-D7D2-4CEB-84E7-D29B8AAD6B6C}'"

# Script creates the control as any host does: by ProgID through COM.
cat >"$work/create.js" <<'JS'
var control = new ActiveXObject("TARVONAACTIVEX.TarvonaActiveXCtrl.1");
// No session: the session check refuses, a string method answers "".
var digest = control.Hash(1, 0, "616263");
if (typeof digest !== "string" || digest !== "") throw new Error("Hash without a session: " + digest);
WScript.Echo("ALL PASS");
JS
output=$(run_script "$work/create.js")
check "JScript creates the installed control and calls it" grep -qx "ALL PASS" <<<"$output" ||
  echo "$output"

# Uninstall.
check "msiexec /x" "$wine" msiexec /x "$(winepath_of "$msi")" /qn
check "no module file left" sh -c "! test -e '$drive/Program Files/Tarvona' && ! test -e '$drive/Program Files (x86)/Tarvona'"
export_classes "$work/removed.reg"
check "no record left, 64-bit view; categories defined" "$tool" check "$work/removed.reg" absent 64 "$path64"
check "no record left, 32-bit view" "$tool" check "$work/removed.reg" absent 32 "$path32"

# The module's own registration writes the same record.
mkdir -p "$drive/Program Files/Tarvona"
cp "$ocx" "$drive/Program Files/Tarvona/TarvonaActiveX.ocx"
check "regsvr32" "$wine" regsvr32 /s "$path64"
export_classes "$work/selfreg.reg"
check "DllRegisterServer writes the record" "$tool" check "$work/selfreg.reg" present 64 "$path64"
check "regsvr32 /u" "$wine" regsvr32 /u /s "$path64"
export_classes "$work/selfunreg.reg"
check "DllUnregisterServer removes it" "$tool" check "$work/selfunreg.reg" absent 64 "$path64"

"$wine" wineserver -k >/dev/null 2>&1 || true
if [ "$failures" -ne 0 ]; then
  echo "$failures checks failed"
  exit 1
fi
echo "ALL PASS"
