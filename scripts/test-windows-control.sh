#!/usr/bin/env bash
# The Windows control, TarvonaActiveX.ocx (x86_64), under 64-bit Wine as a
# script host uses it: registers it with regsvr32 in a fresh prefix, checks
# the registration record with `reg query`, fills the user's MY store,
# installs the test bridge as the token modules (Tarvonav4.dll and
# Tarvonav5.dll in system32, forwarding to SoftHSM2 through the Linux
# adaptors), runs the conformance vectors from JScript (cscript), answers
# the store's selection dialog under Xvfb, has OpenSSL judge the
# signatures and ciphertexts, unregisters and checks what is left.
#   scripts/test-windows-control.sh [LINUX_BUILD]   (default: build)
#   scripts/test-windows-control.sh --msi PACKAGE [LINUX_BUILD]
#       the same against the control an x64 MSI installs (msiexec /i, no
#       regsvr32), removed again with msiexec /x
#   scripts/test-windows-control.sh --i686 [--msi PACKAGE] [LINUX_BUILD]
#       the 32-bit control (and x86 MSI) under 32-bit Wine in a win32
#       prefix, in the i386 root LINUX_BUILD/i386-root (scripts/i386-root.sh,
#       made when missing), with the socket bridge (testing/socket-bridge/)
#       as the token modules
# Needs the Linux build (conformance_tool, the adaptors, the bridge, the
# test PKI) and the Windows build (scripts/build-windows.sh). Exits 0 only
# when every check passed; its last line is then "ALL PASS".
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
arch=x86_64
if [ "${1:-}" = --i686 ]; then
  arch=i686
  shift
fi
msi=
if [ "${1:-}" = --msi ]; then
  msi=$(realpath "$2")
  shift 2
fi
linux=$(realpath "${1:-build}")
windows=$root/build-windows/$arch
started=$(date +%s.%N)

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
elapsed() { awk -v from="$started" -v to="$(date +%s.%N)" 'BEGIN { printf "%.1f s", to - from }'; }

ocx=$windows/TarvonaActiveX.ocx
tool=$linux/bin/conformance_tool
filler=$windows/bin/tarvona-fill-store.exe
if [ "$arch" = i686 ]; then
  bridge=("$windows"/bin/socket-bridge/Tarvonav{4,5}.dll "$linux"/bin/wine-bridge/tarvona-bridge-server-v{4,5})
else
  bridge=("$linux"/bin/wine-bridge/Tarvonav{4,5}.dll.so)
fi
for needed in "$ocx" "$tool" "$filler" "${bridge[@]}" "$linux/testdata/rsa2048.cert.der"; do
  if [ ! -e "$needed" ]; then
    echo "missing $needed: build with scripts/build-windows.sh and, configured with -DTARVONA_WINDOWS_TESTS=ON, cmake --build $linux" >&2
    exit 1
  fi
done

source scripts/wine-control.sh
work=$windows/control-test${msi:+-msi}
export WINEPREFIX=$work/prefix
rm -rf "$work"
mkdir -p "$work"
xvfb_pid=
cleanup() {
  [ -n "${answerer:-}" ] && stop_answering
  wine_end
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

# A display of the run's own for the selection dialog.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
DISPLAY=:$(tr -d '\n' <"$work/display")
export DISPLAY
unset WAYLAND_DISPLAY

typelib_platform=win64
if [ "$arch" = i686 ]; then
  wine_use_i386_root "$linux" "$windows" ${msi:+"$(dirname "$msi")"}
  echo "== i386 root ready ($(elapsed))"
  typelib_platform=win32
  prefix_started=$(date +%s.%N)
fi

wine_fresh_prefix
[ "$arch" = i686 ] && echo "== wineboot of the win32 prefix: $(started=$prefix_started elapsed)"
echo "== fresh prefix ($(elapsed))"

# ---- registration ----------------------------------------------------------
if [ -n "$msi" ]; then
  wine msiexec /i "$(windows_path "$msi")" /qn || fail "msiexec /i exited $?"
  ocx_windows='C:\Program Files\Tarvona\TarvonaActiveX.ocx'
else
  ocx_windows=$(wine_install_control "$ocx") || fail "regsvr32 failed"
fi
install_dir="$WINEPREFIX/drive_c/Program Files/Tarvona"

clsid='{89F34120-D7D2-4CEB-84E7-D29B8AAD6B6C}'
page='{AA974F6C-9331-4826-A667-AFA32E4EE295}'
libid='{0D30B34A-2E44-4F27-B3CC-5CBEEA2D0ED1}'
dispatch_iid='{BD7B797B-B3E7-4795-BFA4-278AD9A83237}'
events_iid='{05796F81-ADB0-4536-9BDF-61C23D27E7E5}'
initializing='{7DD95802-9882-11CF-9FA9-00AA006C42C4}'
scripting='{7DD95801-9882-11CF-9FA9-00AA006C42C4}'
progid=TARVONAACTIVEX.TarvonaActiveXCtrl.1

# `reg query KEY /s` as "KEY|NAME|TYPE|DATA" lines, (Default) as the empty name.
record() {
  wine reg query "$1" /s 2>/dev/null | tr -d '\r' | awk '
    /^HKEY_/ { key = $0; sub(/^HKEY_CLASSES_ROOT\\/, "", key); print key "|"; next }
    /^    / { line = substr($0, 5); n = index(line, "    "); name = substr(line, 1, n - 1)
              rest = substr(line, n + 4); m = index(rest, "    ")
              type = m ? substr(rest, 1, m - 1) : rest; data = m ? substr(rest, m + 4) : ""
              if (name == "(Default)") name = ""
              print key "|" name "|" type "|" data }'
}
{
  record "HKCR\\$progid"
  record "HKCR\\CLSID\\$clsid"
  record "HKCR\\CLSID\\$page"
  record "HKCR\\TypeLib\\$libid"
  record "HKCR\\Interface\\$dispatch_iid"
  record "HKCR\\Component Categories\\$initializing"
  record "HKCR\\Component Categories\\$scripting"
} >"$work/record.txt"

# A value of the record (KEY NAME), or nothing; found: whether KEY is there.
value_of() {
  KEY=$1 NAME=$2 awk -F'|' '$1 == ENVIRON["KEY"] && $2 == ENVIRON["NAME"] && $3 != "" {
    print $4; exit }' "$work/record.txt"
}
found() { KEY=$1 awk -F'|' '$1 == ENVIRON["KEY"] { found = 1 } END { exit !found }' "$work/record.txt"; }
expect() {  # KEY NAME DATA: a REG_SZ value
  grep -qxF "$1|$2|REG_SZ|$3" "$work/record.txt" ||
    fail "record: HKCR\\$1 ${2:-(default)} should be \"$3\", not \"$(value_of "$1" "$2")\""
}
expect_key() { found "$1" || fail "record: no key HKCR\\$1"; }
expect_none() { ! grep -qF "$1" "$work/record.txt" || fail "record: should hold no $1"; }

# The module's path as the class record holds it: the short (8.3) form of
# the installed file (Wine makes such names as C:\PROG~FBU\Tarvona\TARV~Q0T.OCX).
server=$(value_of "CLSID\\$clsid\\InprocServer32" "")
if [ -z "$server" ] ||
   [ "$(realpath -m "$(wine winepath -u "$server" 2>/dev/null | tr -d '\r')")" != \
     "$(realpath "$install_dir/TarvonaActiveX.ocx")" ]; then
  fail "InprocServer32 is \"$server\", not the installed module"
fi
case $server in *~*) ;; *) fail "InprocServer32 \"$server\" is not in its short form" ;; esac

expect "$progid" "" "TarvonaActiveX Control"
expect "$progid\\CLSID" "" "$clsid"
expect "CLSID\\$clsid" "" "TarvonaActiveX Control"
expect "CLSID\\$clsid\\ProgID" "" "$progid"
expect "CLSID\\$clsid\\InprocServer32" "" "$server"
expect "CLSID\\$clsid\\InprocServer32" "ThreadingModel" "Apartment"
expect "CLSID\\$clsid\\ToolboxBitmap32" "" "$server, 202"
expect "CLSID\\$clsid\\MiscStatus" "" "0"
expect "CLSID\\$clsid\\MiscStatus\\1" "" "132497"
expect "CLSID\\$clsid\\Control" "" ""
expect "CLSID\\$clsid\\TypeLib" "" "$libid"
expect "CLSID\\$clsid\\Version" "" "1.0"
expect_key "CLSID\\$clsid\\Implemented Categories\\$initializing"
expect_key "CLSID\\$clsid\\Implemented Categories\\$scripting"
expect "CLSID\\$page" "" "TarvonaActiveX Property Page"
expect "CLSID\\$page\\InprocServer32" "" "$server"
expect_none "CLSID\\$page\\InprocServer32|ThreadingModel"
expect_none "Insertable"
expect "TypeLib\\$libid\\1.0" "" "Tarvona ActiveX Control module"
expect "TypeLib\\$libid\\1.0\\409\\$typelib_platform" "" "$ocx_windows"
# The library flags hold LIBFLAG_FCONTROL (2); Wine writes them in decimal.
flags=$(value_of "TypeLib\\$libid\\1.0\\FLAGS" "")
[[ $flags =~ ^[0-9]+$ ]] && (( flags & 2 )) || fail "type library flags \"$flags\" without the control flag"
expect_key "Interface\\$dispatch_iid"
expect "Component Categories\\$initializing" "409" "Controls safely initializable from persistent data!"
expect "Component Categories\\$scripting" "409" "Controls safely scriptable!"
echo "== registered; record checked, $(grep -c . "$work/record.txt") lines ($(elapsed))"

# ---- the store and the token modules --------------------------------------
# The test PKI of the Linux build (which OpenSSL judges against), with each
# key as a CryptoAPI blob for the store.
wine_fill_store "$linux" "$filler" "$work/testdata" || fail "the store could not be filled"
wine_install_token_modules "$linux"
echo "== store filled, token modules installed ($(elapsed))"

# ---- the conformance vectors from JScript ----------------------------------
"$tool" fixture "$work/fixture.js"
jscript=tests/windows/jscript
run_vectors() {  # WHICH: the groups of conformance.js; output to $work/WHICH.txt
  timeout 300 "$tool" token -- "${token_road[@]}" "${wine_command[@]}" cscript //nologo "$(windows_path "$jscript/conformance.js")" \
    "$(windows_path tests/conformance/vectors.js)" "$(windows_path "$work/fixture.js")" "$1" \
    </dev/null | tr -d '\r' >"$work/$1.txt" || true
  grep -E '^(FAIL|FAILED|ALL PASS)' "$work/$1.txt" || true
  grep -q '^ALL PASS' "$work/$1.txt" || fail "JScript ($1) did not pass; its output: $work/$1.txt"
}
# The user at the selection dialog: answers every one that shows with KEYS
# until stopped, a line in $work/answered for each; the next one may show
# before this one is seen gone. No window manager runs, so the window is
# focused, not activated.
answerer=
answer_dialogs() {  # KEYS
  : >"$work/answered"
  # A process group of its own, so stopping it stops the xdotool it waits in.
  setsid bash -c 'while window=$(xdotool search --sync --onlyvisible --name "^Select Certificate\$" | head -1); do
                    xdotool windowfocus --sync "$window" key --delay 100 $0
                    echo "$window" >>"$1"
                    while xdotool search --onlyvisible --name "^Select Certificate\$" | grep -qx "$window"; do
                      sleep 0.2
                    done
                  done' "$1" "$work/answered" >/dev/null 2>&1 &
  answerer=$!
}
stop_answering() { kill -- "-$answerer" 2>/dev/null || true; answerer=; }
# Every call of a dialog group brings up one dialog: it must have shown.
dialogs=0
expect_dialogs() {  # WHICH
  local calls answered
  calls=$(sed -n 's/^ALL PASS \([0-9]*\) calls.*/\1/p' "$work/$1.txt")
  answered=$(grep -c . "$work/answered" || true)
  dialogs=$((dialogs + answered))
  [ "${calls:-0}" -gt 0 ] && [ "$answered" = "$calls" ] ||
    fail "$1: $answered dialogs answered for ${calls:-no} calls"
}

run_vectors plain
echo "== vectors without the dialog ($(elapsed))"
answer_dialogs Escape
run_vectors cancel
stop_answering
expect_dialogs cancel
answer_dialogs Return
run_vectors accept
stop_answering
expect_dialogs accept
echo "== vectors through the selection dialog, $dialogs dialogs answered ($(elapsed))"
cat "$work"/{plain,cancel,accept}.txt >"$work/results.txt"
"$tool" judge "$work/results.txt" || fail "OpenSSL did not agree with every result"

# ---- unregistration --------------------------------------------------------
cp "$work/record.txt" "$work/registered.txt"
if [ -n "$msi" ]; then
  wine msiexec /x "$(windows_path "$msi")" /qn || fail "msiexec /x exited $?"
else
  wine regsvr32 /s /u "$ocx_windows" || fail "regsvr32 /u exited $?"
fi
for key in "$progid" "CLSID\\$clsid" "CLSID\\$page" "TypeLib\\$libid" \
           "Interface\\$dispatch_iid" "Interface\\$events_iid"; do
  wine reg query "HKCR\\$key" >/dev/null 2>&1 && fail "unregistered, but HKCR\\$key is still there"
done
wine cscript //nologo "$(windows_path "$jscript/gone.js")" | tr -d '\r' >"$work/gone.txt" || true
grep -q '^ALL PASS' "$work/gone.txt" || fail "the control can still be created: $(cat "$work/gone.txt")"
{
  record "HKCR\\Component Categories\\$initializing"
  record "HKCR\\Component Categories\\$scripting"
} >"$work/record.txt"
expect "Component Categories\\$initializing" "409" "Controls safely initializable from persistent data!"
expect "Component Categories\\$scripting" "409" "Controls safely scriptable!"
echo "== unregistered; the categories stay defined ($(elapsed))"

if [ "$failures" -ne 0 ]; then
  echo "$failures checks failed ($(elapsed))" >&2
  exit 1
fi
echo "All passed in $(elapsed)"
echo "ALL PASS"
