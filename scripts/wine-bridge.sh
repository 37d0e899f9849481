#!/usr/bin/env bash
# Puts the Wine test bridge (testing/wine-bridge/) into a Wine prefix, where
# a token maker's installer puts its modules: Tarvonav4.dll and
# Tarvonav5.dll in system32. The prefix is made first if it does not exist.
#   scripts/wine-bridge.sh PREFIX [LINUX_BUILD]     (LINUX_BUILD: default build/)
# The bridge comes from LINUX_BUILD/bin/wine-bridge (cmake -DTARVONA_WINDOWS_TESTS=ON).
# Windows programs then reach whatever the Linux adaptors are given in the
# environment that starts Wine: SOFTHSM2_CONF, TARVONA_PKCS11_MODULE,
# TARVONAV4_TOKENS, ... (adaptor/README.md), and TARVONA_BRIDGE_ADAPTORS, the
# folder of the adaptors (default LINUX_BUILD/bin/testmods, the fault build).
set -euo pipefail
if [ $# -lt 1 ] || [ $# -gt 2 ]; then
  echo "usage: $0 PREFIX [LINUX_BUILD]" >&2
  exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
prefix=$(realpath -m "$1")
build=$(realpath -m "${2:-$root/build}")
for generation in 4 5; do
  if [ ! -f "$build/bin/wine-bridge/Tarvonav$generation.dll.so" ]; then
    echo "$build/bin/wine-bridge/Tarvonav$generation.dll.so is missing:" \
         "build the tarvona_wine_bridge target with -DTARVONA_WINDOWS_TESTS=ON" >&2
    exit 1
  fi
done
source "$root/scripts/wine-env.sh"
export WINEPREFIX=$prefix
system32=$prefix/drive_c/windows/system32
if [ ! -d "$system32" ]; then
  mkdir -p "$prefix"
  "$TARVONA_WINE" wineboot -i </dev/null >/dev/null 2>&1
fi
for generation in 4 5; do
  # Named as the DLL itself: as Tarvonav4.dll.so on WINEDLLPATH, Wine's
  # loader refuses it (error 126).
  install -m 755 "$build/bin/wine-bridge/Tarvonav$generation.dll.so" "$system32/Tarvonav$generation.dll"
done
