#!/usr/bin/env bash
# The certificate selection dialog (CryptUIDlgSelectCertificateFromStore)
# under Xvfb, answered by xdotool as a user answers it: Return takes the
# highlighted certificate, Escape cancels; for signing only certificates
# with their key are offered. Fills the store of $WINEPREFIX (default: the
# build's wine-prefix) afresh.
#   testing/wine-store/dialog-check.sh build-windows/x86_64
set -euo pipefail
build=$(realpath "$1")
run=$(realpath "$(dirname "$0")/../../scripts/wine-run.sh")
fill=$build/bin/tarvona-fill-store.exe
export WINEPREFIX=${WINEPREFIX:-$build/wine-prefix}

source "$(dirname "$run")/wine-env.sh"
# A prefix whose Wine desktop started without a display shows no window on
# Xvfb: its programs end first, and start again on Xvfb's display.
wineserver -k 2>/dev/null || true

work=$(mktemp -d)
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb=$!
trap 'wineserver -k 2>/dev/null || true; kill $xvfb 2>/dev/null || true; rm -rf "$work"' EXIT
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=:$(cat "$work/display")

"$run" "$fill" --reset

# Shows the dialog for PURPOSE, presses KEY once it is up, prints the answer.
answer() {
  "$run" "$fill" --choose "$1" >"$work/answer" 2>/dev/null &
  local chooser=$!
  local window
  window=$(timeout 60 xdotool search --sync --onlyvisible --name '^Select Certificate$' | head -1) || true
  if [ -z "$window" ]; then
    kill "$chooser" 2>/dev/null || true
    echo "no dialog"
    return
  fi
  # No window manager: focus is set directly, not by activation.
  xdotool windowfocus --sync "$window" key "$2"
  wait "$chooser" || true
  tr -d '\r' <"$work/answer"  # the program writes Windows line ends
}

status=0
check() {  # WHAT EXPECTED-PATTERN ANSWER
  if [[ $3 =~ ^($2)$ ]]; then
    echo "ok: $1 ($3)"
  else
    echo "FAILED: $1: got '$3', expected $2"
    status=1
  fi
}
keyed='1001|00C0FFEE01|02048B|4096'
check "Return takes a certificate" "$keyed|2A" "$(answer use Return)"
check "for signing only those with their key" "$keyed" "$(answer sign Return)"
check "Escape chooses none" none "$(answer decrypt Escape)"
exit $status
