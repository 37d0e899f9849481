# Sourced by Debian's chromium launcher after /etc/chromium.d/extensions,
# which passes every entry of /usr/share/chromium/extensions to
# --load-extension as an unpacked extension. Tarvona's entry there is an
# external-extension file: Chromium installs the extension from its .crx by
# itself, while loading the file as a folder fails with an error dialog at
# every start. So the entry is taken out of that list.
CHROMIUM_FLAGS=$(printf '%s\n' "$CHROMIUM_FLAGS" | sed \
  -e 's#/usr/share/chromium/extensions/@EXTENSION_ID@\.json, ##' \
  -e 's#, /usr/share/chromium/extensions/@EXTENSION_ID@\.json##' \
  -e 's#--load-extension=/usr/share/chromium/extensions/@EXTENSION_ID@\.json#--load-extension=#')
export CHROMIUM_FLAGS
