#!/usr/bin/env bash
# The Windows road measured under Wine, interleaved like the Linux
# benchmarks: builds what it needs, registers the control in a fresh prefix,
# fills its MY store, puts the test bridge in as the token modules (the
# fixture's SoftHSM2 token behind it), runs windows_bench.exe and the
# JScript loop, and appends the table to bench/results/windows-DATE.md
# (with local changes: build-bench/windows.md).
#   bench/windows.sh [--i686] [PAIRS]   (default 1000 pairs)
#     the x86_64 control under 64-bit Wine, or with --i686 the i686 control
#     under 32-bit Wine in its i386 root (scripts/i386-root.sh; as root)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
arch=x86_64
option=
if [ "${1:-}" = --i686 ]; then
  arch=i686
  option=" --i686"
  shift
fi
pairs=${1:-1000}
source scripts/packages.sh
TARVONA_PACKAGES+=("${TARVONA_WINDOWS_PACKAGES[@]}")
tarvona_install_packages

# The day's table itself is no local change: both controls' runs go in it.
report="bench/results/windows-$(date +%F).md"
if [ -n "$(git status --porcelain -- . ":(exclude)$report")" ]; then
  report=build-bench/windows.md
  echo "bench/windows.sh: local changes, so the table goes to $report, not bench/results/" >&2
fi
linux=$root/build-bench-linux
cmake -S . -B "$linux" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARVONA_WINDOWS_TESTS=ON >/dev/null
cmake --build "$linux" --target conformance_tool tarvona_wine_bridge tarvona_socket_bridge \
  Tarvonav4 Tarvonav5 test_pki >/dev/null
# The Windows build's own optimisation (RelWithDebInfo), in a folder of its own.
windows=$root/build-bench-windows/$arch
cmake -S . -B "$windows" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-$arch.cmake \
  >/dev/null
bridge=()
[ "$arch" = i686 ] && bridge=(tarvona_socket_bridge)
cmake --build "$windows" --target tarvona_ocx tarvona-host windows_bench tarvona-fill-store \
  "${bridge[@]}" >/dev/null

source scripts/wine-control.sh
work=$windows/bench
export WINEPREFIX=$work/prefix
rm -rf "$work"
mkdir -p "$work"
trap wine_end EXIT
[ "$arch" = i686 ] && wine_use_i386_root "$linux" "$windows"
wine_fresh_prefix
wine_install_control "$windows/TarvonaActiveX.ocx" >/dev/null
wine_fill_store "$linux" "$windows/bin/tarvona-fill-store.exe" "$work/testdata"
wine_install_token_modules "$linux"
roaming="$WINEPREFIX/drive_c/users/${USER:-root}/AppData/Roaming/Tarvona"
mkdir -p "$roaming"
echo "http://localhost:8000" >"$roaming/allowed-origins"

export TARVONA_BRIDGE_ADAPTORS=$linux/bin
tool=$linux/bin/conformance_tool
rows=$("$tool" token -- "${token_road[@]}" "${wine_command[@]}" "$windows/bin/windows_bench.exe" \
  "$(windows_path "$windows/bin/tarvona-host.exe")" "$pairs" </dev/null | tr -d '\r')
jscript=$("$tool" token -- "${token_road[@]}" "${wine_command[@]}" cscript //nologo \
  "$(windows_path bench/windows/sign_loop.js)" "$pairs" </dev/null | tr -d '\r')
case $jscript in JSCRIPT_SIGN_US*) ;; *) echo "the JScript loop failed: $jscript" >&2; exit 1 ;; esac
raw_us=$(awk -F'|' '/C_SignInit/ { gsub(/ /, "", $5); print $5 }' <<<"$rows")
jscript_us=${jscript#JSCRIPT_SIGN_US }

mkdir -p "$(dirname "$report")"
[ -s "$report" ] || printf '# Windows benchmarks, %s\n' "$(date +%F)" >"$report"
wine_version=$(wine --version 2>/dev/null | tr -d '\r')
{
  echo
  if [ "$arch" = i686 ]; then
    echo "## The i686 control under 32-bit Wine (i386 root)"
  else
    echo "## The x86_64 control under 64-bit Wine"
  fi
  echo
  echo "- Machine: $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -1), $(nproc) CPUs, Linux $(uname -r), $wine_version"
  echo "- Commit: $(git rev-parse --short HEAD)"
  echo "- Command: \`bench/windows.sh${option} $pairs\`. The token modules are the test bridge to SoftHSM2 through the Linux adaptors (for i686 over a loopback socket to a server on the Linux side), so every Cryptoki call crosses from Wine to Linux code, for the control and the raw calls alike. Ratios and added times: median of $pairs pairs measured in alternation, [quartiles], from wall time (Wine counts CPU time in ticks of 10 ms, too coarse for one call)."
  echo
  echo "| road | against | µs | µs against | rate [quartiles] | added µs [quartiles] | pairs |"
  echo "|---|---|---:|---:|---:|---:|---:|"
  echo "$rows"
  echo
  echo "From JScript (cscript, timed by the script over $pairs calls, not interleaved): Sign $jscript_us µs per call, against $raw_us µs for the raw C_Sign above."
} >>"$report"
cat "$report"
