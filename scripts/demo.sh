#!/usr/bin/env bash
# Installs what is missing, builds, makes a software token and a certificate
# store holding a fresh RSA key pair and certificate, registers the control,
# and walks the typical road of a page through tarvona-host: connect, log
# in, read the certificate, sign by its serial number, verify, disconnect,
# then sign and verify with the same certificate from the store.
#   scripts/demo.sh              in the terminal
#   scripts/demo.sh --browser    the demo page in Chromium with the extension
#   scripts/demo.sh --windows    the Windows control under 64-bit Wine, from
#                                JScript: builds it, registers it with
#                                regsvr32 in a fresh prefix, and walks the
#                                token road (the token reached through the
#                                test bridge, testing/wine-bridge/)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
[ "${1:-}" = "--browser" ] && TARVONA_PACKAGES+=("${TARVONA_BROWSER_PACKAGES[@]}")
[ "${1:-}" = "--windows" ] && TARVONA_PACKAGES+=("${TARVONA_WINDOWS_PACKAGES[@]}")
tarvona_install_packages

if [ "${1:-}" = "--windows" ]; then
  scripts/build-windows.sh
  cmake -S . -B build -G Ninja -DTARVONA_WERROR=ON -DTARVONA_WINDOWS_TESTS=ON >/dev/null
  cmake --build build -j2 --target tarvona_wine_bridge
  work=$(mktemp -d)
  source scripts/wine-control.sh
  export WINEPREFIX=$PWD/build-windows/x86_64/demo-prefix
  trap 'wine_end; rm -rf "$work"' EXIT
  echo "Making a SoftHSM2 token \"Tarvona Demo\" (user PIN 1234) holding a fresh RSA-2048"
  echo "key and its certificate"
  scripts/demo-keys.sh "$work/keys"
  source "$work/keys/env"
  echo "Making a fresh Wine prefix in $WINEPREFIX"
  wine_fresh_prefix
  wine_install_control build-windows/x86_64/TarvonaActiveX.ocx >/dev/null
  echo "Registered C:\\Program Files\\Tarvona\\TarvonaActiveX.ocx with regsvr32"
  wine_install_token_modules build
  echo "Installed the token modules Tarvonav4.dll and Tarvonav5.dll in system32"
  echo
  echo "wine cscript //nologo tests\\windows\\jscript\\typical_road.js 1234"
  wine cscript //nologo "$(windows_path tests/windows/jscript/typical_road.js)" 1234 |
    tr -d '\r' | tee "$work/road.txt"
  grep -q '^ALL PASS' "$work/road.txt"
  exit
fi

cmake -S . -B build -G Ninja -DTARVONA_WERROR=ON >/dev/null
cmake --build build --target tarvona-demo tarvona-host tarvona-regsvr TarvonaActiveX

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo "Making a SoftHSM2 token \"Tarvona Demo\" (user PIN 1234) and an NSS store, both"
echo "holding a fresh RSA-2048 key and its certificate"
scripts/demo-keys.sh "$work/keys"
source "$work/keys/env"

# The host creates the control the way a COM host does, through its
# registration record: register the module into a record of this run's own.
export XDG_DATA_HOME="$work/data"
build/bin/tarvona-regsvr build/bin/TarvonaActiveX.ocx >/dev/null
echo "Registered build/bin/TarvonaActiveX.ocx in $XDG_DATA_HOME/tarvona/classes.reg"
echo

if [ "${1:-}" = "--browser" ]; then
  cmake --build build --target web_node_modules
  node tests/web/browser-demo.mjs --build build --work "$work"
  exit
fi
build/bin/tarvona-demo --pin 1234
