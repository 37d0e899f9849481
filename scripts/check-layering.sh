#!/bin/sh
# Fails when a source includes a header against the direction of the layers:
#   common, encoding, platform (the OS seam)  ->  token, capi  ->  control
#   ->  module (with com/, the Linux COM emulation, and the store road's
#   NSS platform and GTK dialog); on Windows, control -> windows/cryptoapi
#   (the store road on CryptoAPI) -> windows/ocx (the module file, which
#   builds on Linux too, there over capi/nss and capi/dialog);
#   windows/installer (the MSI's registry generator) reads common only; the
#   Linux COM runtime (linux/com, Windows' COM declarations and their
#   implementation on Linux) builds on com/ until that goes; the
#   Windows host (windows/host) builds on host/ and reaches controls
#   through real COM only.
# host/ reaches controls only through com/, adaptor/ stands alone; tests,
# test support, benchmarks and fuzz targets may include anything. An include
# that climbs out of its folder ("../") is refused everywhere.
#   scripts/check-layering.sh [SOURCE_DIR]
cd "${1:-$(dirname "$0")/..}" || exit 2

# The layer a path (file or include) belongs to.
layer() {
  case $1 in
    capi/nss/*) echo capi_nss ;;
    capi/dialog/*) echo capi_gtk ;;
    windows/cryptoapi/*) echo windows_capi ;;
    windows/ocx/*) echo windows_ocx ;;
    windows/installer/*) echo windows_installer ;;
    windows/host/*) echo windows_host ;;
    linux/com/*) echo linux_com ;;
    */*) echo "${1%%/*}" ;;
    *) echo "" ;;
  esac
}

# The layers a layer may include from.
allowed() {
  case $1 in
    common) echo "common" ;;
    encoding) echo "common encoding" ;;
    platform) echo "common platform" ;;
    token) echo "common encoding platform token" ;;
    capi) echo "common encoding capi" ;;
    capi_nss) echo "common encoding platform capi capi_nss" ;;
    capi_gtk) echo "common encoding platform capi capi_gtk" ;;
    control) echo "common encoding platform token capi control" ;;
    com) echo "common platform com" ;;
    linux_com) echo "common platform com linux_com" ;;
    module) echo "common encoding platform token capi capi_nss capi_gtk control com module" ;;
    host) echo "common encoding platform com host" ;;
    adaptor) echo "adaptor" ;;
    windows_capi) echo "common encoding platform capi windows_capi" ;;
    windows_ocx) echo "common encoding platform token capi capi_nss capi_gtk control windows windows_capi windows_ocx" ;;
    windows_installer) echo "common windows_installer" ;;
    windows_host) echo "common encoding platform host windows windows_host" ;;
  esac
}

violations=$(
  find common encoding platform token capi control com linux module host adaptor windows \
       -name '*.h' -o -name '*.cpp' 2>/dev/null | sort | while read -r file; do
    own=$(layer "$file")
    ok=" $(allowed "$own") "
    sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file" |
      while read -r header; do
        case $header in
          ../* | */../*) echo "$file: #include \"$header\" climbs out of its folder" ;;
          */*)
            to=$(layer "$header")
            case $ok in
              *" $to "*) ;;
              *) echo "$file ($own): #include \"$header\" ($to) is against the layering" ;;
            esac
            ;;
        esac
      done
  done
)

if [ -n "$violations" ]; then
  echo "$violations"
  exit 1
fi
echo "layering: every include goes down"
