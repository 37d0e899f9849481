#!/usr/bin/env bash
# Installs the control for the current user, or for everyone with --system:
# the module and its token adaptors side by side (so the control finds
# Tarvonav4.dll and Tarvonav5.dll next to itself), the hosts, the dialogs'
# translations (locale/, which they read beside themselves), the
# registration record, and the native-messaging host manifests of Chromium,
# Google Chrome and Firefox.
#   scripts/tarvona-install.sh [--build DIR] [--system] [--uninstall]
set -euo pipefail
cd "$(dirname "$0")/.."

build=build
system=0
uninstall=0
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift ;;
    --system) system=1 ;;
    --uninstall) uninstall=1 ;;
    *) echo "usage: $0 [--build DIR] [--system] [--uninstall]" >&2; exit 2 ;;
  esac
  shift
done

host_name=com.tarvona.host
chromium_id=ndclhbempiipciignpnikgelcjcbaane
firefox_id=tarvona-control@tarvona.dev
files=(TarvonaActiveX.ocx Tarvonav4.dll Tarvonav5.dll libtarvona-adaptor.so
       tarvona-host tarvona-consent tarvona-certpicker tarvona-regsvr)

if [ "$system" = 1 ]; then
  prefix=/usr/local/lib/tarvona
  chrome_dirs=(/etc/chromium/native-messaging-hosts /etc/opt/chrome/native-messaging-hosts)
  firefox_dirs=(/usr/lib/mozilla/native-messaging-hosts)
else
  prefix="${XDG_DATA_HOME:-$HOME/.local/share}/tarvona/lib"
  config="${XDG_CONFIG_HOME:-$HOME/.config}"
  chrome_dirs=("$config/chromium/NativeMessagingHosts" "$config/google-chrome/NativeMessagingHosts")
  firefox_dirs=("$HOME/.mozilla/native-messaging-hosts")
fi

if [ "$uninstall" = 1 ]; then
  if [ -x "$prefix/tarvona-regsvr" ]; then
    "$prefix/tarvona-regsvr" -u "$prefix/TarvonaActiveX.ocx" || true
  fi
  for dir in "${chrome_dirs[@]}" "${firefox_dirs[@]}"; do rm -f "$dir/$host_name.json"; done
  for file in "${files[@]}"; do rm -f "$prefix/$file"; done
  rm -rf "$prefix/locale"
  rmdir "$prefix" 2>/dev/null || true
  echo "Removed the Tarvona control from $prefix"
  exit 0
fi

for file in "${files[@]}"; do
  [ -e "$build/bin/$file" ] || { echo "missing $build/bin/$file: build first" >&2; exit 1; }
done
install -d "$prefix"
for file in "${files[@]}"; do install -m 0755 "$build/bin/$file" "$prefix/$file"; done
rm -rf "$prefix/locale"
for catalogue in "$build"/bin/locale/*/LC_MESSAGES/tarvona.mo; do
  install -D -m 0644 "$catalogue" "$prefix/locale/${catalogue#"$build/bin/locale/"}"
done

# The record is per user: the user who installs gets the control registered.
"$prefix/tarvona-regsvr" "$prefix/TarvonaActiveX.ocx"

manifest() {  # $1: the allowed-extensions line
  cat <<JSON
{
  "name": "$host_name",
  "description": "Tarvona control: security tokens and certificates for web pages",
  "path": "$prefix/tarvona-host",
  "type": "stdio",
  $1
}
JSON
}
for dir in "${chrome_dirs[@]}"; do
  install -d "$dir"
  manifest "\"allowed_origins\": [\"chrome-extension://$chromium_id/\"]" >"$dir/$host_name.json"
done
for dir in "${firefox_dirs[@]}"; do
  install -d "$dir"
  manifest "\"allowed_extensions\": [\"$firefox_id\"]" >"$dir/$host_name.json"
done
echo "Installed the Tarvona control in $prefix"
echo "Load the extension (web/extension) in the browser, and list the sites that may"
echo "use it in ${XDG_CONFIG_HOME:-$HOME/.config}/tarvona/allowed-origins (or allow them when asked)."
