#!/usr/bin/env bash
# The Windows installers. Builds both (scripts/package.sh --windows) into
# WORKDIR, checks the x86 one with msitools, and runs the x64 one under
# 64-bit Wine in a fresh prefix: install quietly, hold the registry
# against the registration record, find the host with its manifests and
# policy template, create the control from JScript by its ProgID, upgrade
# in place to a newer version, uninstall, and find nothing left but the
# category definitions. Then the same record from the module's own
# DllRegisterServer (regsvr32), so installer and module cannot drift.
# Last, the JScript suite against the control each package installs: the
# x64 one's under 64-bit Wine, the x86 one's under 32-bit Wine in a win32
# prefix (scripts/test-windows-control.sh --i686).
#   tests/windows/msi_test.sh WORKDIR
set -euo pipefail
root=$(realpath "$(dirname "$0")/../..")
work=$(realpath -m "$1")
rm -rf "$work"
mkdir -p "$work"
"$root/scripts/package.sh" --windows --build "$work/package" --out "$work/dist" >"$work/package.log" 2>&1 ||
  { cat "$work/package.log"; exit 1; }
version=$(sed -n 's/^project(tarvona VERSION \([0-9.]*\) .*/\1/p' "$root/CMakeLists.txt")
tool=$work/package/tarvona-msi-registry
msi=$work/dist/tarvona-$version-x64.msi
msi86=$work/dist/tarvona-$version-x86.msi
ocx=$root/build-windows/x86_64/TarvonaActiveX.ocx
# The files as the x64 package holds them (stripped).
staged=$work/package/x64

passed=0
failures=0
check() {  # $1: what; the rest: the command
  local what=$1
  shift
  if "$@"; then
    echo "ok: $what"
    passed=$((passed + 1))
  else
    echo "FAIL: $what"
    failures=$((failures + 1))
  fi
}

# The x86 package: the 32-bit module only, every row naming it, nothing
# in the 64-bit view, the category definitions permanent.
table() { msiinfo export "$1" "$2" | tr -d '\r' | tail -n +4; }
template_is() { msiinfo suminfo "$1" | grep -qx "Template: $2"; }
only_file_is() { [ "$(table "$1" File | cut -f1,3 | tr '\t' ' ')" = "$2" ]; }
no_64bit_component() { table "$1" Component | awk -F'\t' 'int($4 / 256) % 2 == 1 { bad = 1 } END { exit bad }'; }
rows_of() { table "$1" Registry | awk -F'\t' -v c="$2" '$6 == c' | wc -l; }
same_rows() { [ "$(rows_of "$msi86" Control32)" = "$(rows_of "$msi" Control64)" ] && [ "$(rows_of "$msi" Control64)" -gt 0 ]; }
names_no_64bit_module() { ! table "$1" Registry | grep -q 'Ocx64'; }
definitions_permanent() {
  table "$1" Component |
    awk -F'\t' '$1 == "CategoryDefinitions" && int($4 / 16) % 2 == 1 { ok = 1 } END { exit !ok }'
}
check "x86: an Intel package" template_is "$msi86" 'Intel;1033'
check "x64: an x64 package" template_is "$msi" 'x64;1033'
host_files='Host tarvona-host.exe
ManifestChromium com.tarvona.host.chromium.json
ManifestFirefox com.tarvona.host.firefox.json
PolicyAdml tarvona.adml
PolicyAdmx tarvona.admx'
files_are() { [ "$(table "$1" File | cut -f1,3 | tr '\t' ' ' | sort)" = "$(sort <<<"$2")" ]; }
check "x86: the 32-bit module, the host, its manifests and policy template" files_are "$msi86" \
  "$host_files"$'\nOcx32 TarvonaActiveX.ocx'
check "x64: both modules, the host, its manifests and policy template" files_are "$msi" \
  "$host_files"$'\nOcx32 TarvonaActiveX.ocx\nOcx64 TarvonaActiveX.ocx'
# The browsers' keys: HKLM (2), each naming its manifest file.
browser_rows() {
  table "$1" Registry | awk -F'\t' '$6 == "Host" { print $2 "|" $3 "|" $5 }' | sort | tr '\n' ' '
}
expected_browser_rows='2|Software\Google\Chrome\NativeMessagingHosts\com.tarvona.host|[#ManifestChromium] 2|Software\Microsoft\Edge\NativeMessagingHosts\com.tarvona.host|[#ManifestChromium] 2|Software\Mozilla\NativeMessagingHosts\com.tarvona.host|[#ManifestFirefox] '
check "x86: the browsers' machine keys" test "$(browser_rows "$msi86")" = "$expected_browser_rows"
check "x64: the browsers' machine keys" test "$(browser_rows "$msi")" = "$expected_browser_rows"
check "x86: no 64-bit component" no_64bit_component "$msi86"
check "x86: the record's rows, as the x64 package's 64-bit module has them" same_rows
check "x86: no row names another module" names_no_64bit_module "$msi86"
check "x64: the category definitions stay on uninstall" definitions_permanent "$msi"
check "x86: the category definitions stay on uninstall" definitions_permanent "$msi86"

source "$root/scripts/wine-env.sh"
export WINEPREFIX=$work/prefix
wine=$TARVONA_WINE
mkdir -p "$WINEPREFIX"
# Started on its own, Wine's services hold nothing of the caller's output.
"$wine" wineboot -i </dev/null >/dev/null 2>&1

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
check "64-bit module installed" cmp -s "$staged/64/TarvonaActiveX.ocx" "$drive/Program Files/Tarvona/TarvonaActiveX.ocx"
check "32-bit module installed" cmp -s "$staged/32/TarvonaActiveX.ocx" \
  "$drive/Program Files (x86)/Tarvona/TarvonaActiveX.ocx"
export_classes "$work/installed.reg"
check "record, 64-bit view" "$tool" check "$work/installed.reg" present 64 "$path64"
check "record, 32-bit view" "$tool" check "$work/installed.reg" present 32 "$path32"
# The browsers' host: its flavour, its manifests naming it relative to
# themselves, a machine key per browser naming the manifest.
installed="$drive/Program Files/Tarvona"
check "host installed" cmp -s "$staged/tarvona-host.exe" "$installed/tarvona-host.exe"
manifest_names_host() { grep -q '"path": "tarvona-host.exe"' "$installed/$1"; }
check "Chromium's manifest" manifest_names_host com.tarvona.host.chromium.json
check "Firefox's manifest" manifest_names_host com.tarvona.host.firefox.json
# Group Policy's template, laid out as %SystemRoot%\PolicyDefinitions is.
check "the policy template installed" cmp -s "$root/windows/installer/tarvona.admx" \
  "$installed/PolicyDefinitions/tarvona.admx"
check "its English texts installed" cmp -s "$root/windows/installer/en-US/tarvona.adml" \
  "$installed/PolicyDefinitions/en-US/tarvona.adml"
browser_key() {  # $1: the key under HKLM\Software; prints its default value
  "$wine" reg query "HKLM\\Software\\$1\\NativeMessagingHosts\\com.tarvona.host" /ve 2>/dev/null |
    tr -d '\r' | sed -n 's/^ *(Default) *REG_SZ *//p'
}
for browser in 'Google\Chrome|chromium' 'Microsoft\Edge|chromium' 'Mozilla|firefox'; do
  check "reg query: HKLM key of ${browser%|*}" test "$(browser_key "${browser%|*}")" = \
    "C:\\Program Files\\Tarvona\\com.tarvona.host.${browser#*|}.json"
done
# The installed host creates the installed control, as a browser would make it.
host_reply=$(printf '%s\n' '{"id":1,"create":"TARVONAACTIVEX.TarvonaActiveXCtrl.1"}' |
  "$root/scripts/wine-run.sh" "$installed/tarvona-host.exe" --lines 2>/dev/null | tr -d '\r')
[ "$host_reply" = '{"id":1,"object":1}' ] || echo "the installed host answered: $host_reply"
check "the installed host creates the control" test "$host_reply" = '{"id":1,"object":1}'

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

# A newer package replaces the installed one in place.
next=${version%.*}.$((${version##*.} + 1))
TARVONA_PACKAGE_VERSION=$next "$root/scripts/package.sh" --windows --build "$work/package-next" \
  --out "$work/dist" >"$work/package-next.log" 2>&1 || { cat "$work/package-next.log"; exit 1; }
installed_products() {  # the DisplayVersion of every installed Tarvona product
  "$wine" reg export 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' "$work/uninstall.reg" /y \
    >/dev/null 2>&1
  iconv -f UTF-16LE -t UTF-8 "$work/uninstall.reg" | tr -d '\r' |
    awk -F'"' '/^\[/ { name = ""; v = "" } $2 == "DisplayName" { name = $4 } $2 == "DisplayVersion" { v = $4 }
               name == "Tarvona control" && v != "" { print v; name = "" }' | sort -u | tr '\n' ' '
}
check "one product installed: $version" test "$(installed_products)" = "$version "
check "msiexec /i of $next over $version" "$wine" msiexec /i "$(winepath_of "$work/dist/tarvona-$next-x64.msi")" /qn
check "one product installed: $next" test "$(installed_products)" = "$next "
export_classes "$work/upgraded.reg"
check "record after the upgrade, 64-bit view" "$tool" check "$work/upgraded.reg" present 64 "$path64"
check "record after the upgrade, 32-bit view" "$tool" check "$work/upgraded.reg" present 32 "$path32"
check "the upgraded module in place" cmp -s "$work/package-next/x64/64/TarvonaActiveX.ocx" \
  "$drive/Program Files/Tarvona/TarvonaActiveX.ocx"

# Uninstall.
check "msiexec /x" "$wine" msiexec /x "$(winepath_of "$work/dist/tarvona-$next-x64.msi")" /qn
check "no product installed" test -z "$(installed_products)"
# Not even the keys above them: the prefix had none of these browsers.
for browser in 'Google' 'Microsoft\Edge' 'Mozilla'; do
  check "no HKLM key of $browser left" sh -c "! '$wine' reg query 'HKLM\\Software\\$browser' >/dev/null 2>&1"
done
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

wineserver -k >/dev/null 2>&1 || true

# The whole conformance suite from JScript against the control the x64
# package installs (no regsvr32), in a prefix of its own.
check "the JScript suite against the installed control" \
  "$root/scripts/test-windows-control.sh" --msi "$msi" "$(dirname "$work")"
check "the JScript suite against the control the x86 package installs, under 32-bit Wine" \
  "$root/scripts/test-windows-control.sh" --i686 --msi "$msi86" "$(dirname "$work")"

echo "$((passed + failures)) checks, $failures failed"
[ "$failures" -eq 0 ] || exit 1
echo "ALL PASS"
