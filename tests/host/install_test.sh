#!/usr/bin/env bash
# Installs into a fresh HOME, checks the browsers' host manifests and that
# the installed host creates the control through the installed record, then
# uninstalls and checks that nothing the installer wrote is left but the
# record file. Only the project's own files are judged: creating the control
# loads the token modules the machine registers with p11-kit, and those
# write where they like (tpm2-pkcs11 makes ~/.tpm2_pkcs11/).
#   install_test.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$1
build=$2
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export HOME=$home
unset XDG_DATA_HOME XDG_CONFIG_HOME

"$source_dir/scripts/tarvona-install.sh" --build "$build" >/dev/null
installed=$(cd "$home" && find . -type f ! -name 'classes.reg*' | sort)
[ -n "$installed" ] || { echo "the installer wrote nothing"; exit 1; }
lib=$home/.local/share/tarvona/lib
for manifest in .config/chromium/NativeMessagingHosts .config/google-chrome/NativeMessagingHosts \
                .mozilla/native-messaging-hosts; do
  file=$home/$manifest/com.tarvona.host.json
  grep -q "\"path\": \"$lib/tarvona-host\"" "$file" || { echo "bad $file"; exit 1; }
done
grep -q 'chrome-extension://ndclhbempiipciignpnikgelcjcbaane/' \
  "$home/.config/chromium/NativeMessagingHosts/com.tarvona.host.json"
grep -q '"allowed_extensions": \["tarvona-control@tarvona.dev"\]' \
  "$home/.mozilla/native-messaging-hosts/com.tarvona.host.json"
# The dialogs read their translations beside themselves.
for language in de es et fr; do
  [ -f "$lib/locale/$language/LC_MESSAGES/tarvona.mo" ] || { echo "no $language catalogue"; exit 1; }
done

reply=$(printf '%s\n' '{"id":1,"create":"TARVONAACTIVEX.TarvonaActiveXCtrl.1"}' \
  '{"id":2,"object":1,"method":"VerifyCertCRL","params":[0,0,""]}' | "$lib/tarvona-host" --lines)
[ "$(echo "$reply" | tail -1)" = '{"id":2,"result":1}' ] || { echo "host: $reply"; exit 1; }
grep -q "$lib/TarvonaActiveX.ocx" "$home/.local/share/tarvona/classes.reg"

"$source_dir/scripts/tarvona-install.sh" --uninstall >/dev/null
# What the installer wrote is gone, and the project's own folders hold
# nothing but the record.
left=""
while read -r file; do
  if [ -e "$home/$file" ]; then left+=$'\n'"$home/${file#./}"; fi
done <<<"$installed"
for dir in .local/share/tarvona .config/tarvona .config/chromium/NativeMessagingHosts \
           .config/google-chrome/NativeMessagingHosts .mozilla/native-messaging-hosts; do
  if [ -d "$home/$dir" ]; then
    left+=$(find "$home/$dir" -mindepth 1 ! -type d ! -name 'classes.reg*' -printf '\n%p')
  fi
done
[ -z "$left" ] || { echo "left behind:"; sort -u <<<"${left#$'\n'}"; exit 1; }
if grep -qi TarvonaActiveXCtrl "$home/.local/share/tarvona/classes.reg"; then
  echo "still registered"; exit 1
fi
echo "install and uninstall: ok"
