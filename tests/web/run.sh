#!/bin/sh
# Runs the browser tests. Everything they need must be there: a missing
# tool fails them, by name, instead of skipping them.
cd "$(dirname "$0")" || exit 1
missing=""
command -v node >/dev/null 2>&1 || missing="$missing node"
[ -x "${CHROMIUM:-/usr/bin/chromium}" ] || missing="$missing chromium"
[ -x "${FIREFOX:-/usr/bin/firefox-esr}" ] || missing="$missing firefox-esr"
if [ ! -f node_modules/.tarvona-installed ]; then
  # The build installs them (npm ci) when npm is there.
  if command -v npm >/dev/null 2>&1; then
    missing="$missing node_modules(build the web_node_modules target)"
  else
    missing="$missing npm"
  fi
fi
if [ -n "$missing" ]; then
  echo "The browser tests cannot run; missing:$missing" >&2
  echo "scripts/test.sh installs the packages (scripts/packages.sh); Node.js 20 or later must be there already." >&2
  exit 1
fi
exec node --test
