#!/usr/bin/env bash
# Installs what is missing, builds, makes a software token and a certificate
# store holding a fresh RSA key pair and certificate, registers the control,
# and walks the typical road of a page through tarvona-host: connect, log
# in, read the certificate, sign by its serial number, verify, disconnect,
# then sign and verify with the same certificate from the store.
#   scripts/demo.sh              in the terminal
#   scripts/demo.sh --browser    the demo page in Chromium with the extension
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
[ "${1:-}" = "--browser" ] && TARVONA_PACKAGES+=("${TARVONA_BROWSER_PACKAGES[@]}")
tarvona_install_packages

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
