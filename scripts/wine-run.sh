#!/usr/bin/env bash
# Runs a Windows program under 64-bit Wine, quietly, in the prefix
# $WINEPREFIX (default: wine-prefix/ beside the program's bin/ folder),
# which is created on first use. CMake's emulator for the cross build.
#   scripts/wine-run.sh PROGRAM.exe [ARGUMENTS...]
set -euo pipefail
program=$(realpath "$1")
shift
source "$(dirname "$0")/wine-env.sh"
export WINEPREFIX=${WINEPREFIX:-$(dirname "$(dirname "$program")")/wine-prefix}
mkdir -p "$WINEPREFIX"
# Wine's background services start with the first program a server runs and
# inherit its output; a program's caller waiting for that output to close
# (ctest does) would wait as long as the server lives. Started here, they
# hold nothing of the caller's.
"$TARVONA_WINE" wineboot </dev/null >/dev/null 2>&1
exec "$TARVONA_WINE" "$program" "$@"
