#!/bin/sh
# Fails when a source includes a header against the direction of the layers:
#   common, encoding, platform (the OS seam)  ->  token, capi  ->  control
#   ->  module (the control's in-process server, one source for both
#   systems, over the store road's NSS platform and GTK dialog on Linux and
#   windows/cryptoapi on Windows);
#   linux/com, the Linux COM runtime (Windows' COM declarations and their
#   implementation on Linux), builds on common and platform only;
#   windows/installer (the MSI's registry generator) reads common only;
#   host/ and windows/host reach controls only through COM: of the module
#   they know the one interface it declares for them (module/control_caller.h);
#   their diagnostics report (host/diagnose*, windows/host/diagnose*) alone
#   looks at the token modules and the store directly, through token/ and
#   the store road's platforms.
# adaptor/ stands alone (its fault build lives in testing/faults/); tests/,
# test support (testing/), bench/ and fuzz/ may include anything, and no
# product source includes them. An include that climbs out of its folder
# ("../") is refused everywhere. Above the COM runtime, the module and the
# host's COM code include no system header of Linux's own: what they need
# of the system comes through the Windows-shaped headers.
#   scripts/check-layering.sh [SOURCE_DIR]
cd "${1:-$(dirname "$0")/..}" || exit 2

# The layer a path (file or include) belongs to.
layer() {
  case $1 in
    capi/nss/*) echo capi_nss ;;
    capi/dialog/*) echo capi_gtk ;;
    windows/cryptoapi/*) echo windows_capi ;;
    module/control_caller.h) echo module_interface ;;
    host/diagnose* | windows/host/diagnose*) echo host_diagnose ;;
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
    linux_com) echo "common platform linux_com" ;;
    module) echo "common encoding platform token capi capi_nss capi_gtk control windows_capi module_interface module" ;;
    module_interface) echo "module_interface" ;;
    host) echo "common encoding platform linux_com module_interface host host_diagnose" ;;
    host_diagnose) echo "common encoding platform token capi capi_nss windows_capi linux_com module_interface host host_diagnose" ;;
    adaptor) echo "adaptor" ;;
    windows_capi) echo "common encoding platform capi windows_capi" ;;
    windows_installer) echo "common windows_installer" ;;
    windows_host) echo "common encoding platform host host_diagnose module_interface windows_host" ;;
  esac
}

violations=$(
  find common encoding platform token capi control linux module host adaptor windows \
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

# The module and the host's COM code: Windows-shaped headers and the C++
# library only.
system_headers=$(
  find module host/com_control_host.* host/host_session.* host/status_names.cpp host/wide_text.* \
       host/png_writer.* -name '*.h' -o -name '*.cpp' 2>/dev/null | sort | while read -r file; do
    sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*<\([^>]*\)>.*/\1/p' "$file" |
      while read -r header; do
        case $header in
          unistd.h | dlfcn.h | fcntl.h | poll.h | signal.h | spawn.h | pthread.h | sys/* | \
          gtk/* | glib* | nss* | pk11* | cert*.h | png.h)
            echo "$file: #include <$header> is a Linux system header" ;;
        esac
      done
  done
)
violations="$violations${system_headers:+
$system_headers}"

if [ -n "$violations" ]; then
  echo "$violations"
  exit 1
fi
echo "layering: every include goes down"
