#!/usr/bin/env bash
# The Windows build: installs what it needs, then cross-builds the core, the
# control module and the Windows tests for 64- and 32-bit Windows with
# mingw-w64 (warnings as errors) into build-windows/{x86_64,i686}:
#   build-windows/x86_64/TarvonaActiveX.ocx
#   build-windows/i686/TarvonaActiveX.ocx
# and checks that both module files import and export only what they may.
#   scripts/build-windows.sh
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/packages.sh
TARVONA_PACKAGES+=("${TARVONA_WINDOWS_PACKAGES[@]}")
tarvona_install_packages

for arch in x86_64 i686; do
  build=build-windows/$arch
  cmake -S . -B "$build" -G Ninja -DTARVONA_WERROR=ON \
    -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-$arch.cmake
  cmake --build "$build" -j2
  scripts/check-windows-module.sh "$build/TarvonaActiveX.ocx"
done
