#!/usr/bin/env bash
# The Windows build: cross-builds the core and the control module for 64-
# and 32-bit Windows with mingw-w64 (warnings as errors, scripts/build-windows.sh)
# and runs the Windows tests under 64-bit Wine in a fresh prefix.
#   scripts/test-windows.sh           install what is missing, build, run
#   scripts/test-windows.sh --build   install what is missing and build only
#   scripts/test-windows.sh --run     run what --build built
set -euo pipefail
cd "$(dirname "$0")/.."
step=${1:-all}

if [ "$step" != --run ]; then
  scripts/build-windows.sh
fi
[ "$step" = --build ] && exit 0

# What both module files import and export: no drift unnoticed.
scripts/check-windows-module.sh build-windows/{x86_64,i686}/TarvonaActiveX.ocx

# Windows programs that make windows (the control's property page) need a
# display; without one, a virtual one serves the whole run.
if [ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null; then
  exec xvfb-run -a "$0" --run
fi

build=build-windows/x86_64
shopt -s nullglob
tests=("$build"/bin/*_test.exe)
if [ ${#tests[@]} -eq 0 ]; then
  echo "No Windows tests in $build/bin: run scripts/test-windows.sh --build first" >&2
  exit 1
fi
source scripts/wine-env.sh
export WINEPREFIX=$PWD/$build/wine-prefix
rm -rf "$WINEPREFIX"
mkdir -p "$WINEPREFIX"
# One server for the whole run keeps each program's start quick.
wineserver -p
trap 'wineserver -k 2>/dev/null || true' EXIT
"$TARVONA_WINE" wineboot -i </dev/null >/dev/null 2>&1
status=0
for test in "${tests[@]}"; do
  echo "== $test"
  scripts/wine-run.sh "$test" --gtest_brief=1 || status=1
done
exit $status
