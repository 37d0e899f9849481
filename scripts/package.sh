#!/usr/bin/env bash
# Builds the Debian package dist/tarvona_<version>_amd64.deb: the control
# module, its token adaptors, the hosts and dialogs in /usr/lib/tarvona (the
# dialogs' translations in /usr/share/locale), the browsers' host
# manifests, the extension (a .crx that Chromium installs by itself, and
# the folder for Firefox), and the page API with its demo page in
# /usr/share/tarvona. The version is project(VERSION) of CMakeLists.txt.
#   scripts/package.sh [--build DIR] [--out DIR]
# DIR defaults: build-package (a release build of its own), dist.
# With --windows, builds the Windows installers instead (see
# package_windows below): dist/tarvona-<version>-x64.msi and -x86.msi.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh

build=build-package
out=dist
windows=0
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift ;;
    --out) out=$2; shift ;;
    --windows) windows=1 ;;
    *) echo "usage: $0 [--windows] [--build DIR] [--out DIR]" >&2; exit 2 ;;
  esac
  shift
done

# TARVONA_PACKAGE_VERSION overrides it (the installer's upgrade test).
version=${TARVONA_PACKAGE_VERSION:-$(sed -n 's/^project(tarvona VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)}
# Chromium takes one to four dot-separated numbers as an extension's version.
[[ "$version" =~ ^[0-9]+(\.[0-9]+){0,3}$ ]] || { echo "no usable project(VERSION) in CMakeLists.txt" >&2; exit 1; }

# The MSIs, with wixl from windows/installer/tarvona.wxs: x64 holds both
# flavours of the module (64-bit hosts load the one in Program Files,
# 32-bit hosts such as 32-bit Office the one in Program Files (x86), each
# registered in its own registry view), x86 the 32-bit one. The registry
# rows are generated from the registration record (common/
# registration_record.h) that DllRegisterServer writes, never by running
# regsvr32 at install time. The modules come from build-windows/{x86_64,
# i686}, the directories of scripts/build-windows.sh. Each package holds
# tarvona-host.exe of its own flavour with its manifests, and the browsers'
# keys for the machine (common/browser_hosts.h, as tarvona-host.exe
# --register --machine writes them), and Group Policy's template of the
# host's policy (windows/installer/tarvona.admx, en-US/tarvona.adml) in
# PolicyDefinitions beside it.
package_windows() {
  TARVONA_PACKAGES=("${TARVONA_WINDOWS_PACKAGES[@]}")
  tarvona_install_packages
  local arch work
  for arch in x86_64 i686; do
    cmake -S . -B "build-windows/$arch" -G Ninja -DTARVONA_WERROR=ON \
      -DCMAKE_TOOLCHAIN_FILE="cmake/toolchains/mingw-$arch.cmake" >/dev/null
    cmake --build "build-windows/$arch" -j"${TARVONA_JOBS:-2}" --target tarvona_ocx tarvona-host
    scripts/check-windows-module.sh "build-windows/$arch/TarvonaActiveX.ocx" >/dev/null
  done
  work=$(realpath -m "$build")
  rm -rf "$work/x64" "$work/x86"
  mkdir -p "$work" "$out"
  c++ -std=c++20 -O1 -Wall -Wextra -Werror -I. windows/installer/registry_tool.cpp \
    -o "$work/tarvona-msi-registry"
  # The manifests name the extension the package's key gives.
  local extension_id
  extension_id=$(openssl pkey -in packaging/extension-key.pem -pubout -outform DER | sha256sum | cut -c1-32 | tr 0-9a-f a-p)
  grep -q "chrome-extension://$extension_id/" common/browser_hosts.h ||
    { echo "common/browser_hosts.h does not name the extension $extension_id" >&2; exit 1; }
  for arch in x64 x86; do
    # wixl takes a File's Source relative to the .wxs file only.
    mkdir -p "$work/$arch/64" "$work/$arch/32" "$work/$arch/manifests" "$work/$arch/PolicyDefinitions/en-US"
    cp windows/installer/tarvona.wxs "$work/$arch/"
    cp windows/installer/tarvona.admx "$work/$arch/PolicyDefinitions/"
    cp windows/installer/en-US/tarvona.adml "$work/$arch/PolicyDefinitions/en-US/"
    "$work/tarvona-msi-registry" manifests "$work/$arch/manifests"
    # Shipped without their debugging information (the build's files keep it).
    local host_arch=x86_64
    [ $arch = x86 ] && host_arch=i686
    $host_arch-w64-mingw32-strip -o "$work/$arch/tarvona-host.exe" "build-windows/$host_arch/bin/tarvona-host.exe"
    i686-w64-mingw32-strip -o "$work/$arch/32/TarvonaActiveX.ocx" build-windows/i686/TarvonaActiveX.ocx
    if [ $arch = x64 ]; then
      x86_64-w64-mingw32-strip -o "$work/$arch/64/TarvonaActiveX.ocx" build-windows/x86_64/TarvonaActiveX.ocx
    fi
    "$work/tarvona-msi-registry" wxs $arch >"$work/$arch/registry.wxi"
    (cd "$work/$arch" && wixl -a $arch -D Arch=$arch -D Version="$version" \
      -D Ocx64Source=64/TarvonaActiveX.ocx -D Ocx32Source=32/TarvonaActiveX.ocx \
      -D HostSource=tarvona-host.exe \
      -o tarvona.msi tarvona.wxs 2>wixl.log) || { cat "$work/$arch/wixl.log" >&2; exit 1; }
    # What wixl cannot say: a permanent component. The category definitions
    # are every control's, and stay when this one goes.
    # (msibuild's SQL has no arithmetic: the new value is computed here.)
    local attributes
    attributes=$(msiinfo export "$work/$arch/tarvona.msi" Component |
      awk -F'\t' '$1 == "CategoryDefinitions" { print $4 }')
    msibuild "$work/$arch/tarvona.msi" -q "UPDATE Component SET Attributes = $((attributes | 16)) WHERE Component = 'CategoryDefinitions'"
    msiinfo export "$work/$arch/tarvona.msi" Component |
      awk -F'\t' '$1 == "CategoryDefinitions" && int($4 / 16) % 2 == 1 { ok = 1 } END { exit !ok }' ||
      { echo "the category definitions are not permanent in the $arch MSI" >&2; exit 1; }
    install -m 0644 "$work/$arch/tarvona.msi" "$out/tarvona-$version-$arch.msi"
    echo "$out/tarvona-$version-$arch.msi"
  done
}
if [ $windows = 1 ]; then
  [ "$build" = build-package ] && build=build-msi
  package_windows
  exit 0
fi

TARVONA_PACKAGES=("${TARVONA_PACKAGE_PACKAGES[@]}")
tarvona_install_packages

arch=amd64
[ "$(dpkg --print-architecture)" = "$arch" ] || { echo "this package is built on $arch" >&2; exit 1; }
host_name=com.tarvona.host
extension_key=packaging/extension-key.pem
firefox_id=$(sed -n 's/.*"id": "\([^"]*@[^"]*\)".*/\1/p' web/extension/manifest.json)
[ -n "$firefox_id" ] || { echo "no add-on ID in web/extension/manifest.json" >&2; exit 1; }
# Chromium's extension ID: the first 128 bits of the key's SHA-256, a-p for 0-f.
extension_id=$(openssl pkey -in "$extension_key" -pubout -outform DER | sha256sum | cut -c1-32 | tr 0-9a-f a-p)

# Debian's hardening flags; the build's own warnings stay as they are.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CFLAGS)"
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARVONA_TESTS=OFF \
  -DCMAKE_C_FLAGS="$cflags" -DCMAKE_CXX_FLAGS="$cxxflags" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" \
  -DCMAKE_SHARED_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" \
  -DCMAKE_MODULE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build "$build" -j2

bin=$build/bin
libraries=(TarvonaActiveX.ocx Tarvonav4.dll Tarvonav5.dll libtarvona-adaptor.so)
programs=(tarvona-host tarvona-regsvr tarvona-consent tarvona-certpicker)
# Built but not shipped: the demo program is for a source tree.
unshipped=(tarvona-demo)
for file in "$bin"/tarvona-*; do
  name=$(basename "$file")
  [[ " ${programs[*]} ${unshipped[*]} " == *" $name "* ]] && continue
  echo "$name is built but neither shipped nor listed as unshipped in $0" >&2
  exit 1
done

umask 022
# Dates from the last commit, so the same tree gives the same package.
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || date +%s)}
work=$(realpath "$build")/deb
root=$work/root
rm -rf "$work"
mkdir -p "$root/DEBIAN" "$root/usr/lib/tarvona" "$root/usr/share/tarvona" "$root/usr/share/doc/tarvona"

for file in "${libraries[@]}"; do
  install -m 0644 "$bin/$file" "$root/usr/lib/tarvona/$file"
  strip --strip-unneeded --remove-section=.comment --remove-section=.note "$root/usr/lib/tarvona/$file"
done
for file in "${programs[@]}"; do
  install -m 0755 "$bin/$file" "$root/usr/lib/tarvona/$file"
  strip --remove-section=.comment --remove-section=.note "$root/usr/lib/tarvona/$file"
done
# The dialogs' translations, where gettext looks by default.
for catalogue in "$bin"/locale/*/LC_MESSAGES/tarvona.mo; do
  install -D -m 0644 "$catalogue" "$root/usr/share/locale/${catalogue#"$bin/locale/"}"
done

manifest() {  # $1: the allowed-extensions line
  cat <<JSON
{
  "name": "$host_name",
  "description": "Tarvona control: security tokens and certificates for web pages",
  "path": "/usr/lib/tarvona/tarvona-host",
  "type": "stdio",
  $1
}
JSON
}
conffiles=()
for dir in etc/chromium/native-messaging-hosts etc/opt/chrome/native-messaging-hosts; do
  mkdir -p "$root/$dir"
  manifest "\"allowed_origins\": [\"chrome-extension://$extension_id/\"]" >"$root/$dir/$host_name.json"
  conffiles+=("/$dir/$host_name.json")
done
mkdir -p "$root/usr/lib/mozilla/native-messaging-hosts"
manifest "\"allowed_extensions\": [\"$firefox_id\"]" \
  >"$root/usr/lib/mozilla/native-messaging-hosts/$host_name.json"

# The page API and the demo page, as web/ lays them out.
install -m 0644 web/tarvona.js "$root/usr/share/tarvona/tarvona.js"
mkdir -p "$root/usr/share/tarvona/demo"
install -m 0644 web/demo/* "$root/usr/share/tarvona/demo/"

# The extension, with the package's version: the folder, the .crx signed
# with the kept key and the external-extension file through which Chromium
# installs it, and the .xpi named by its add-on ID in Firefox's system
# scope, which Debian's firefox-esr installs and enables by itself, unsigned
# (/usr/share/tarvona/tarvona.xpi names it for installing from a file).
mkdir -p "$root/usr/share/tarvona/extension"
install -m 0644 web/extension/* "$root/usr/share/tarvona/extension/"
sed -i -E "s/^(  \"version\": )\"[^\"]*\"/\1\"$version\"/" "$root/usr/share/tarvona/extension/manifest.json"
grep -q "\"version\": \"$version\"" "$root/usr/share/tarvona/extension/manifest.json"
cp -r "$root/usr/share/tarvona/extension" "$work/extension"
"${CHROMIUM:-/usr/lib/chromium/chromium}" --no-sandbox --disable-gpu --disable-quic --no-first-run \
  --disable-background-networking --disable-component-update --disable-sync \
  --user-data-dir="$work/pack-profile" \
  --pack-extension="$work/extension" --pack-extension-key="$(realpath "$extension_key")" \
  >"$work/pack.log" 2>&1 || { cat "$work/pack.log" >&2; exit 1; }
[ -s "$work/extension.crx" ] || { cat "$work/pack.log" >&2; echo "Chromium made no .crx" >&2; exit 1; }
install -m 0644 "$work/extension.crx" "$root/usr/share/tarvona/tarvona.crx"
firefox_scope=usr/share/mozilla/extensions/{ec8030f7-c20a-464f-9b0e-13a3a9e97384}
mkdir -p "$root/$firefox_scope"
xpi_mtime=$(date -u -d "@$SOURCE_DATE_EPOCH" "+%Y-%m-%d %H:%M:%S UTC")
(cd "$root/usr/share/tarvona/extension" &&
  cmake -E tar cf "$root/$firefox_scope/$firefox_id.xpi" --format=zip --mtime="$xpi_mtime" -- *)
ln -s "../mozilla/extensions/${firefox_scope##*/}/$firefox_id.xpi" "$root/usr/share/tarvona/tarvona.xpi"
mkdir -p "$root/usr/share/chromium/extensions"
printf '{\n  "external_crx": "/usr/share/tarvona/tarvona.crx",\n  "external_version": "%s"\n}\n' \
  "$version" >"$root/usr/share/chromium/extensions/$extension_id.json"
mkdir -p "$root/etc/chromium.d"
sed "s/@EXTENSION_ID@/$extension_id/g" packaging/chromium.d >"$root/etc/chromium.d/tarvona"
conffiles+=(/etc/chromium.d/tarvona)

install -m 0644 packaging/copyright "$root/usr/share/doc/tarvona/copyright"
install -D -m 0644 packaging/lintian-overrides "$root/usr/share/lintian/overrides/tarvona"
cat >"$work/changelog" <<TEXT
tarvona ($version) unstable; urgency=medium

  * Tarvona control $version.

 -- Tarvona developers <dev@tarvona.dev>  $(date -u -R -d "@$SOURCE_DATE_EPOCH")
TEXT
gzip -9n <"$work/changelog" >"$root/usr/share/doc/tarvona/changelog.gz"

# What the programs and modules link; p11-kit's proxy is loaded by name.
mkdir -p "$work/shlibs/debian"
printf 'Source: tarvona\n\nPackage: tarvona\nArchitecture: %s\n' "$arch" >"$work/shlibs/debian/control"
shlibs=$(cd "$work/shlibs" && dpkg-shlibdeps -O --ignore-missing-info -l"$root/usr/lib/tarvona" \
  $(printf -- "-e$root/usr/lib/tarvona/%s " "${libraries[@]}" "${programs[@]}") 2>/dev/null |
  sed -n 's/^shlibs:Depends=//p')
[ -n "$shlibs" ] || { echo "dpkg-shlibdeps found no dependencies" >&2; exit 1; }
depends="$shlibs, p11-kit, p11-kit-modules"

for script in postinst prerm postrm; do install -m 0755 "packaging/$script" "$root/DEBIAN/$script"; done
printf '%s\n' "${conffiles[@]}" >"$root/DEBIAN/conffiles"
(cd "$root" && find . -path ./DEBIAN -prune -o -type f -printf '%P\0' | LC_ALL=C sort -z |
  xargs -0 md5sum) >"$root/DEBIAN/md5sums"
size=$(du -sk --exclude=DEBIAN "$root" | cut -f1)
sed -e "s/@VERSION@/$version/" -e "s/@INSTALLED_SIZE@/$size/" -e "s/@DEPENDS@/$depends/" \
  packaging/control.in >"$root/DEBIAN/control"
find "$root" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +

mkdir -p "$out"
deb="$out/tarvona_${version}_${arch}.deb"
dpkg-deb --root-owner-group -Zxz --build "$root" "$deb" >/dev/null
echo "$deb"
