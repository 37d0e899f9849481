#!/bin/sh
# Makes the test keys and certificates in the folder given (made if needed):
# for each NAME, NAME.key.pem (unencrypted PKCS#8), NAME.cert.pem,
# NAME.cert.der and NAME.p12 (password "test").
set -eu

out=$1
mkdir -p "$out"
cd "$out"

# Our own request config, so neither the system openssl.cnf nor OPENSSL_CONF
# adds CA extensions. The extensions are those of a CA-issued user
# certificate, which also gives the 4096-bit one a PEM text over 2048
# characters.
cat > req.cnf <<'CNF'
[req]
distinguished_name = dn
x509_extensions = user_cert
prompt = no
[dn]
CN = unused
[user_cert]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, nonRepudiation, keyEncipherment, dataEncipherment
extendedKeyUsage = clientAuth, emailProtection
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
subjectAltName = email:$ENV::TARVONA_NAME@test.tarvona.invalid
crlDistributionPoints = URI:http://pki.test.tarvona.invalid/tarvona-test.crl
authorityInfoAccess = OCSP;URI:http://ocsp.test.tarvona.invalid/
CNF

make_pair() {
  name=$1 bits=$2 serial=$3
  openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:"$bits" -out "$name.key.pem" 2>/dev/null
  TARVONA_NAME=$name openssl req -new -x509 -config req.cnf -key "$name.key.pem" -sha256 -days 3650 \
    -set_serial "$serial" -subj "/O=Tarvona Test/CN=Tarvona Test $name" -out "$name.cert.pem"
  openssl x509 -in "$name.cert.pem" -outform DER -out "$name.cert.der"
  # SHA-1/3DES so NSS (pk12util) and older stores import it too.
  openssl pkcs12 -export -inkey "$name.key.pem" -in "$name.cert.pem" -name "Tarvona Test $name" \
    -keypbe PBE-SHA1-3DES -certpbe PBE-SHA1-3DES -macalg sha1 -passout pass:test \
    -out "$name.p12"
}

make_pair rsa1024 1024 0x1001
make_pair rsa2048 2048 0xC0FFEE01
make_pair rsa2048b 2048 0x2048B
make_pair rsa4096 4096 0x4096
make_pair serial2a 2048 0x2A
rm -f req.cnf
