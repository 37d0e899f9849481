#!/usr/bin/env bash
# Builds the package with scripts/package.sh, checks it with lintian,
# installs it system-wide with apt-get, has the installed host's
# diagnostics report find nothing broken, walks the default road in Chromium
# and in Debian's Firefox ESR (default_road.mjs), purges it and checks that
# nothing of it is left.
# Needs root; the package is purged on every way out.
#   tests/package/package_test.sh BUILD   (packages in BUILD/package-*)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source=$(cd "$here/../.." && pwd)
build=$(realpath "$1")

if [ "$(id -u)" -ne 0 ]; then
  echo "skipped: the package test installs the package system-wide, as root" >&2
  exit 77
fi
# Installed, or removed with its configuration files left.
installed() {
  local status
  status=$(dpkg-query -W -f='${Status}' tarvona 2>/dev/null) && [[ "$status" != *not-installed* ]]
}
purge() { DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq tarvona >"$1" 2>&1; }
# A run killed outright (a timeout's SIGKILL) leaves its package and this
# mark behind; the next run takes the package away first. A package
# installed without the mark is someone's own, and stays.
mark=/run/tarvona-package-test
if installed && [ -e "$mark" ]; then
  purge /dev/null || dpkg --purge tarvona >/dev/null
fi
if installed; then
  echo "tarvona is installed on this machine; the test installs and purges its own" >&2
  exit 1
fi
[ -f "$source/tests/web/node_modules/.tarvona-installed" ] ||
  { echo "node modules missing: build the web_node_modules target" >&2; exit 1; }

work=$(mktemp -d /tmp/tarvona-package-XXXXXX)
p11_module=""
p11_folder=""
cleanup() {
  status=$?
  set +e
  if installed; then
    purge /dev/null || dpkg --purge tarvona >/dev/null 2>&1 || true
  fi
  installed || rm -f "$mark"
  [ -n "$p11_module" ] && rm -f "$p11_module"
  [ -n "$p11_folder" ] && rmdir "$p11_folder" "$(dirname "$p11_folder")" 2>/dev/null
  rm -rf "$work"
  exit $status
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

step() { printf '== %s (%ss)\n' "$1" "$SECONDS"; }

step "build the package"
deb=$("$source/scripts/package.sh" --build "$build/package-build" --out "$build/package-dist" | tail -n 1)
[ -f "$deb" ] || { echo "scripts/package.sh made no package" >&2; exit 1; }
extension_id=$(basename "$(dpkg-deb -c "$deb" | grep -o 'usr/share/chromium/extensions/[a-p]\{32\}\.json')" .json)
listing=$(dpkg-deb -c "$deb")
for language in de es et fr; do
  grep -q "usr/share/locale/$language/LC_MESSAGES/tarvona.mo$" <<<"$listing" ||
    { echo "the package has no $language catalogue" >&2; exit 1; }
done

step "lintian: no error, and no warning but those overridden with their reason"
lintian --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1 ||
  { grep -v "running with root privileges" "$work/lintian.log" >&2; exit 1; }

# What the package holds and the machine's record; the package's folders
# that exist already belong to others as well and stay.
{ dpkg-deb -c "$deb" | awk '{print substr($6, 2)}' | sed 's#/$##' | grep -v '^$'
  echo /var/lib/tarvona; } >"$work/contents"
while read -r path; do [ -e "$path" ] && echo "$path"; done <"$work/contents" >"$work/before"

step "install"
touch "$mark"
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$deb" >"$work/apt.log" 2>&1 ||
  { cat "$work/apt.log" >&2; exit 1; }
record=/var/lib/tarvona/classes.reg
grep -qF '@="/usr/lib/tarvona/TarvonaActiveX.ocx"' "$record" ||
  { echo "no machine registration in $record" >&2; exit 1; }
[ "$(stat -c %a "$record")" = 644 ] || { echo "$record is not readable by every user" >&2; exit 1; }

step "the default road"
"$source/scripts/demo-keys.sh" "$work/keys" >/dev/null
# SoftHSM2 comes with its p11-kit module file; where it does not, the test
# lays one in p11-kit's system folder for the run.
if ! grep -qs 'libsofthsm2\.so' /usr/share/p11-kit/modules/*.module /etc/pkcs11/modules/*.module; then
  [ -d /etc/pkcs11/modules ] || p11_folder=/etc/pkcs11/modules
  p11_module=/etc/pkcs11/modules/tarvona-test-softhsm2.module
  mkdir -p /etc/pkcs11/modules
  echo "module: /usr/lib/softhsm/libsofthsm2.so" >"$p11_module"
fi
mkdir -p "$work/home"
(
  for name in $(env | sed -n 's/^\(TARVONA[A-Za-z0-9_]*\)=.*/\1/p'); do unset "$name"; done
  unset XDG_CONFIG_HOME XDG_DATA_HOME
  export HOME="$work/home" SOFTHSM2_CONF="$work/keys/softhsm2.conf" EXTENSION_ID="$extension_id"
  export DISPLAY="" WAYLAND_DISPLAY=""
  # The installed host's own report finds nothing broken: the machine's
  # record, the three browsers' manifests where the package put them, the
  # token through p11-kit.
  /usr/lib/tarvona/tarvona-host --diagnose >"$work/diagnose.txt" 2>&1 ||
    { cat "$work/diagnose.txt" >&2; exit 1; }
  node "$here/default_road.mjs" "$work"
)

step "purge"
dpkg -L tarvona | grep -vx "/\." >"$work/listed"
purge "$work/apt.log" || { cat "$work/apt.log" >&2; exit 1; }
if installed; then
  echo "dpkg still knows tarvona: $(dpkg-query -W -f='${Status}' tarvona)" >&2
  exit 1
fi
left=$(cat "$work/contents" "$work/listed" | sort -u |
  while read -r path; do
    [ -e "$path" ] || [ -L "$path" ] || continue
    grep -qxF "$path" "$work/before" || echo "$path"
  done)
[ -z "$left" ] || { echo "left after the purge:"; echo "$left"; exit 1; } >&2
step "done"
