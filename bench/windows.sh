#!/usr/bin/env bash
# The Windows road measured under 64-bit Wine, interleaved like the Linux
# benchmarks: builds what it needs, registers the x86_64 control in a fresh
# prefix, fills its MY store, puts the test bridge in as the token modules
# (the fixture's SoftHSM2 token behind it), runs windows_bench.exe and the
# JScript loop, and writes the table with the machine and commit to
# bench/results/windows-DATE.md (with local changes: build-bench/windows.md).
#   bench/windows.sh [PAIRS]      (default 1000)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
pairs=${1:-1000}
source scripts/packages.sh
TARVONA_PACKAGES+=("${TARVONA_WINDOWS_PACKAGES[@]}")
tarvona_install_packages

if [ -n "$(git status --porcelain)" ]; then
  report=build-bench/windows.md
  echo "bench/windows.sh: local changes, so the table goes to $report, not bench/results/" >&2
else
  report="bench/results/windows-$(date +%F).md"
fi
linux=build-bench-linux
cmake -S . -B "$linux" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARVONA_WINDOWS_TESTS=ON >/dev/null
cmake --build "$linux" --target conformance_tool tarvona_wine_bridge Tarvonav4 Tarvonav5 \
  test_pki >/dev/null
windows=$root/build-windows/x86_64
cmake -S . -B "$windows" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-x86_64.cmake >/dev/null
cmake --build "$windows" --target tarvona_ocx tarvona-host windows_bench tarvona-fill-store \
  >/dev/null

source scripts/wine-control.sh
work=$windows/bench
export WINEPREFIX=$work/prefix
rm -rf "$work"
mkdir -p "$work"
trap wine_end EXIT
wine_fresh_prefix
wine_install_control "$windows/TarvonaActiveX.ocx" >/dev/null
wine_fill_store "$linux" "$windows/bin/tarvona-fill-store.exe" "$work/testdata"
wine_install_token_modules "$linux"
roaming="$WINEPREFIX/drive_c/users/${USER:-root}/AppData/Roaming/Tarvona"
mkdir -p "$roaming"
echo "http://localhost:8000" >"$roaming/allowed-origins"

export TARVONA_BRIDGE_ADAPTORS=$linux/bin
tool=$linux/bin/conformance_tool
rows=$("$tool" token -- "$TARVONA_WINE" "$windows/bin/windows_bench.exe" \
  "$(windows_path "$windows/bin/tarvona-host.exe")" "$pairs" </dev/null | tr -d '\r')
jscript=$("$tool" token -- "$TARVONA_WINE" cscript //nologo \
  "$(windows_path bench/windows/sign_loop.js)" "$pairs" </dev/null | tr -d '\r')
case $jscript in JSCRIPT_SIGN_US*) ;; *) echo "the JScript loop failed: $jscript" >&2; exit 1 ;; esac
raw_us=$(awk -F'|' '/C_SignInit/ { gsub(/ /, "", $5); print $5 }' <<<"$rows")
jscript_us=${jscript#JSCRIPT_SIGN_US }

mkdir -p "$(dirname "$report")"
{
  echo "# Windows benchmarks, $(date +%F)"
  echo
  echo "- Machine: $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -1), $(nproc) CPUs, Linux $(uname -r), $(wine --version 2>/dev/null || "$TARVONA_WINE" --version)"
  echo "- Commit: $(git rev-parse --short HEAD)"
  echo "- Command: \`bench/windows.sh${1:+ $1}\`. The x86_64 control under 64-bit Wine; the token modules are the test bridge to SoftHSM2 through the Linux adaptors, so every Cryptoki call crosses from Wine to Linux code, for the control and the raw calls alike. Ratios and added times: median of $pairs pairs measured in alternation, [quartiles], from wall time (Wine counts CPU time in ticks of 10 ms, too coarse for one call)."
  echo
  echo "| road | against | µs | µs against | rate [quartiles] | added µs [quartiles] | pairs |"
  echo "|---|---|---:|---:|---:|---:|---:|"
  echo "$rows"
  echo
  echo "From JScript (cscript, timed by the script over $pairs calls, not interleaved): Sign $jscript_us µs per call, against $raw_us µs for the raw C_Sign above."
} >"$report"
cat "$report"
