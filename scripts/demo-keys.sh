#!/usr/bin/env bash
# Makes the demo's keys in DIR: a SoftHSM2 token "Tarvona Demo" (user PIN
# 1234, SO PIN 5678) holding a fresh RSA-2048 key pair and its certificate,
# and an NSS database (DIR/home/.pki/nssdb, the store of a user whose HOME
# is DIR/home) holding the same certificate and key. Writes DIR/env with the
# variables that point the control's adaptors and NSS there, and
# DIR/cert.pem.
#   scripts/demo-keys.sh DIR
set -euo pipefail
dir=$1
softhsm=/usr/lib/softhsm/libsofthsm2.so
mkdir -p "$dir/tokens" "$dir/home/.pki/nssdb"
printf 'directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n' \
  "$dir/tokens" >"$dir/softhsm2.conf"
export SOFTHSM2_CONF="$dir/softhsm2.conf"

softhsm2-util --init-token --free --label "Tarvona Demo" --pin 1234 --so-pin 5678 >/dev/null
openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 365 -subj "/O=Tarvona/CN=Tarvona Demo" \
  -set_serial "0x$(openssl rand -hex 8)" -keyout "$dir/key.pem" -out "$dir/cert.pem" 2>/dev/null
openssl x509 -in "$dir/cert.pem" -outform der -out "$dir/cert.der"
openssl pkey -in "$dir/key.pem" -pubout -out "$dir/pub.pem"
for object in "privkey key.pem" "pubkey pub.pem" "cert cert.der"; do
  set -- $object
  pkcs11-tool --module "$softhsm" --token-label "Tarvona Demo" --login --pin 1234 \
    --write-object "$dir/$2" --type "$1" --id 01 --label "Tarvona Demo" >/dev/null
done

openssl pkcs12 -export -in "$dir/cert.pem" -inkey "$dir/key.pem" -name "Tarvona Demo" \
  -keypbe PBE-SHA1-3DES -certpbe PBE-SHA1-3DES -macalg sha1 -passout pass:demo \
  -out "$dir/demo.p12"
certutil -N -d "sql:$dir/home/.pki/nssdb" --empty-password
pk12util -i "$dir/demo.p12" -d "sql:$dir/home/.pki/nssdb" -W demo >/dev/null

cat >"$dir/env" <<VARS
export SOFTHSM2_CONF="$dir/softhsm2.conf"
export TARVONA_PKCS11_MODULE="$softhsm"
export HOME="$dir/home"
VARS
