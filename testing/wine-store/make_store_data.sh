#!/bin/sh
# Beside the test PKI in the folder given (testing/make_test_pki.sh): each
# key as a CryptoAPI private key blob (NAME.key.msblob), and OpenSSL's own
# answers for the store road's tests to meet: PKCS #1 v1.5 signatures of
# "Hello" (deterministic, most significant byte first) and one encryption
# of it to rsa2048's certificate.
set -eu
cd "$1"
for name in rsa1024 rsa2048 rsa2048b rsa4096 serial2a; do
  openssl rsa -in "$name.key.pem" -outform MSBLOB -out "$name.key.msblob" 2>/dev/null
done
printf Hello > hello.bin
for digest in sha1 md5; do
  openssl dgst -"$digest" -sign rsa2048.key.pem -out "rsa2048.hello.$digest.sig" hello.bin
done
openssl pkeyutl -encrypt -certin -inkey rsa2048.cert.pem -in hello.bin -out rsa2048.hello.enc
