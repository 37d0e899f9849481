#!/bin/sh
# Brings the translations up to date with the sources: collects the texts
# the dialogs and the page API show (strings passed to platform::Translate
# or marked Translatable in C++, marked N_ in web/tarvona.js) into a fresh
# template, merges it into each po/<language>.po (new texts come in
# untranslated, for the translator), and writes the page API's table
# from them (scripts/web-translations.mjs).
# With --check it changes nothing, and fails when a catalogue lacks a
# translation or has one marked fuzzy, or the page API's table is stale
# (the translations test). A new language: msginit -i the template, add it
# to po/CMakeLists.txt.
#   scripts/update-translations.sh [--check]
set -eu
cd "$(dirname "$0")/.."
check=0
[ "${1:-}" = --check ] && check=1

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
pot=$work/tarvona.pot
# Sorted, so the template does not depend on the file system's order.
grep -rlE --include='*.cpp' --include='*.h' '(Translate|Translatable)\(' \
  common platform capi host windows | LC_ALL=C sort >"$work/sources"
xgettext --from-code=UTF-8 --language=C++ --keyword=Translate --keyword=Translatable \
  --no-wrap --add-location=file --package-name=tarvona --files-from="$work/sources" -o "$pot"
xgettext --from-code=UTF-8 --language=JavaScript --keyword=N_ --no-wrap --add-location=file --join-existing \
  -o "$pot" web/tarvona.js
# The catalogues keep no date of extraction, which would change them at
# every run.
sed -i '/^"POT-Creation-Date:/d' "$pot"

status=0
for po in po/*.po; do
  if [ $check = 1 ]; then
    # Every text of the sources translated, none left fuzzy.
    msgcmp "$po" "$pot" || status=1
    msgfmt --check -o /dev/null "$po" || status=1
    if grep -q '^#, .*fuzzy' "$po"; then
      echo "$po: a translation is marked fuzzy" >&2
      status=1
    fi
  else
    msgmerge --quiet --update --backup=off --no-fuzzy-matching --no-wrap "$po" "$pot"
  fi
done
if [ $check = 1 ]; then
  node scripts/web-translations.mjs --check || status=1
  [ $status = 0 ] && echo "translations: every text in every language"
  exit $status
fi
node scripts/web-translations.mjs
