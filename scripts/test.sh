#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
#   scripts/test.sh              the normal build (build/), and the Windows
#                                build of the core (build-windows/) with its
#                                tests under Wine as one more test
#   scripts/test.sh --sanitize   the Linux suite under ASan+UBSan (build-asan/)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
TARVONA_PACKAGES+=("${TARVONA_BROWSER_PACKAGES[@]}" "${TARVONA_WINDOWS_PACKAGES[@]}"
                  "${TARVONA_PACKAGE_PACKAGES[@]}" lintian)
tarvona_install_packages

build=build
options=(-DTARVONA_WERROR=ON -DTARVONA_WINDOWS_TESTS=ON)
if [ "${1:-}" = "--sanitize" ]; then
  build=build-asan
  options=(-DTARVONA_WERROR=ON -DTARVONA_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug)
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  export LSAN_OPTIONS="suppressions=$PWD/testing/lsan.supp:print_suppressions=0"
fi
cmake -S . -B "$build" -G Ninja "${options[@]}"
cmake --build "$build"
if [ "$build" = build ]; then
  scripts/test-windows.sh --build
fi
ctest --test-dir "$build" --output-on-failure -j 2
