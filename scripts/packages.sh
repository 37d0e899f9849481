# Debian 12 packages the project needs to build, test and run its demo
# (gettext compiles the dialogs' translations; the tests make a locale from
# the locales package's sources).
# Sourced by the other scripts; installs what is missing (root or sudo).
TARVONA_PACKAGES=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libbenchmark-dev nlohmann-json3-dev
  libp11-kit-dev p11-kit softhsm2 opensc opensc-pkcs11
  pcscd vsmartcard-vpcd libcacard-dev iproute2 util-linux
  libssl-dev openssl
  libtpm2-pkcs11-1 libtpm2-pkcs11-tools tpm2-tools swtpm swtpm-tools opencryptoki p11-kit-modules
  libnss3-dev libnss3-tools libgtk-3-dev libpng-dev
  xvfb xdotool
  gettext locales
)

# What the browser road needs on top (the demo's --browser, the end-to-end
# tests). Node.js 20 or later must be there already (playwright-core).
TARVONA_BROWSER_PACKAGES=(chromium firefox-esr)

# What scripts/package.sh needs: the libraries and tools of the build itself
# (none of the tests'), dpkg-dev to read what the programs link, Chromium to
# pack the extension. The package's test adds lintian.
TARVONA_PACKAGE_PACKAGES=(
  build-essential cmake ninja-build pkg-config nlohmann-json3-dev
  libp11-kit-dev libnss3-dev libgtk-3-dev libpng-dev openssl gettext
  dpkg-dev chromium
)

# The Windows cross build and its tests under Wine (scripts/test-windows.sh):
# mingw-w64 brings the -posix compilers; GoogleTest is built from googletest's
# sources with them; wine64-tools brings wineg++, which links the Wine bridge
# (testing/wine-bridge/), and widl, Wine's IDL files and stdole2.tlb for the
# control's type library; wixl and msitools build and inspect the MSIs
# (scripts/package.sh --windows); debootstrap makes the i386 root that
# 32-bit Wine runs in (scripts/i386-root.sh).
TARVONA_WINDOWS_PACKAGES=(mingw-w64 mingw-w64-tools wine wine64 wine64-tools googletest
  wixl msitools debootstrap gettext)

tarvona_install_packages() {
  local missing=()
  for p in "${TARVONA_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
  # vsmartcard-vpcd turns its reader on for the system's pcscd, listening on
  # every interface. The card tests bring their own pcscd and reader file, so
  # a fresh install keeps it off (dpkg leaves a removed conffile removed).
  if [[ " ${missing[*]} " == *" vsmartcard-vpcd "* ]]; then
    $sudo rm -f /etc/reader.conf.d/vpcd
  fi
}
