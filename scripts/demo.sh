#!/usr/bin/env bash
# Installs what is missing, builds, makes a software token holding a fresh
# RSA key pair and certificate, and walks the typical road of a page
# through tarvona-host: connect, log in, read the certificate, sign by its
# serial number, verify, disconnect.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
tarvona_install_packages

cmake -S . -B build -G Ninja -DTARVONA_WERROR=ON >/dev/null
cmake --build build --target tarvona-demo tarvona-regsvr TarvonaActiveX

softhsm=/usr/lib/softhsm/libsofthsm2.so
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/tokens"
printf 'directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n' \
  "$work/tokens" >"$work/softhsm2.conf"
export SOFTHSM2_CONF="$work/softhsm2.conf"
export TARVONA_PKCS11_MODULE="$softhsm"

echo "Making a SoftHSM2 token \"Tarvona Demo\" (user PIN 1234) with an RSA-2048 key and certificate"
softhsm2-util --init-token --free --label "Tarvona Demo" --pin 1234 --so-pin 5678 >/dev/null
openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 365 -subj "/O=Tarvona/CN=Tarvona Demo" \
  -set_serial "0x$(openssl rand -hex 8)" -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
openssl x509 -in "$work/cert.pem" -outform der -out "$work/cert.der"
openssl pkey -in "$work/key.pem" -pubout -out "$work/pub.pem"
for object in "privkey key.pem" "pubkey pub.pem" "cert cert.der"; do
  set -- $object
  pkcs11-tool --module "$softhsm" --token-label "Tarvona Demo" --login --pin 1234 \
    --write-object "$work/$2" --type "$1" --id 01 --label "Tarvona Demo" >/dev/null
done
# The host creates the control the way a COM host does, through its
# registration record: register the module into a record of this run's own.
export XDG_DATA_HOME="$work/data"
build/bin/tarvona-regsvr build/bin/TarvonaActiveX.ocx >/dev/null
echo "Registered build/bin/TarvonaActiveX.ocx in $XDG_DATA_HOME/tarvona/classes.reg"
echo
build/bin/tarvona-demo --pin 1234
