#!/usr/bin/env bash
# Runs a command beside an emulated smart card: pcscd with vsmartcard's
# virtual reader (vpcd), our libcacard card emulator in it, and OpenSC's
# PKCS #11 module seeing the card through p11-kit, as a user's real card is
# reached. Everything lives in private mount, network and PID namespaces:
# vpcd listens on every interface (the loopback of its own network is all it
# gets), pcscd's socket goes to a private /run (pcscd ignores
# PCSCLITE_CSOCK_NAME for its own socket), and when the command ends, or the
# rig is killed, every process of the rig ends with it.
#
#   testing/card/card-rig.sh EMULATOR -- COMMAND [ARGS...]
#
# COMMAND gets TARVONA_CARD_PIN (the card's PIN), TARVONA_CARD_CERT (its
# certificate, PEM) and no variable that points the control's adaptors
# elsewhere, so the control takes its default road (p11-kit's proxy). The
# rig's exit status is the command's. Root only.
set -euo pipefail

fail() {
  echo "card rig: $*" >&2
  exit 1
}

[ $# -ge 3 ] && [ "$2" = "--" ] || fail "usage: $0 EMULATOR -- COMMAND [ARGS...]"
emulator=$1
shift 2

readonly port=35963  # vpcd's default; the network is ours alone
readonly pin=648219
readonly ready_within=30  # seconds for the card to show, on a loaded machine
readonly opensc=/usr/lib/x86_64-linux-gnu/opensc-pkcs11.so
readonly vpcd_driver=/usr/lib/pcsc/drivers/serial/libifdvpcd.so
readonly p11kit_opensc=/usr/share/p11-kit/modules/opensc-pkcs11.module

if [ -z "${TARVONA_CARD_RIG_INSIDE:-}" ]; then
  # Missing pieces fail loudly: a card test that skips itself proves nothing.
  [ "$(id -u)" -eq 0 ] || fail "must run as root (it makes mount, network and PID namespaces for pcscd)"
  missing=()
  for tool in unshare ip pcscd certutil pkcs11-tool openssl; do
    command -v "$tool" >/dev/null || missing+=("$tool")
  done
  for file in "$vpcd_driver" "$opensc" "$p11kit_opensc" "$emulator"; do
    [ -e "$file" ] || missing+=("$file")
  done
  [ ${#missing[@]} -eq 0 ] ||
    fail "missing ${missing[*]} (packages: util-linux iproute2 pcscd libnss3-tools opensc opensc-pkcs11 openssl vsmartcard-vpcd, and the build's emulator)"
  # The namespaces' first process is the rig; when it ends, or unshare is
  # killed (--kill-child), the kernel ends every process left in them.
  # unshare ignores TERM and INT, so they come here and end it.
  export TARVONA_CARD_RIG_INSIDE=1
  unshare --mount --net --pid --fork --kill-child --mount-proc -- "$0" "$emulator" -- "$@" <&0 &
  namespaces=$!
  trap 'kill -KILL "$namespaces" 2>/dev/null; wait "$namespaces" || true; exit 143' TERM INT HUP
  status=0
  wait "$namespaces" || status=$?
  exit "$status"
fi
unset TARVONA_CARD_RIG_INSIDE

# A tmpfs over /run: pcscd's socket and the rig's files, gone with the namespace.
mount -t tmpfs -o mode=0755 tarvona-card-run /run
ip link set lo up
rig=/run/tarvona-card
mkdir -p "$rig/reader.conf.d" "$rig/nssdb" "$rig/softhsm-tokens"

pids=()
stop() {
  local status=$?
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  exit "$status"
}
trap stop EXIT

# OpenSC asks every reader for its features; vpcd has none ("not transacted").
show_logs() {
  for log in "$rig"/*.log; do
    grep -v "Card not transacted" "$log" | tail -n 40 >"$log.shown" || true
    [ -s "$log.shown" ] && { echo "--- $log" >&2; cat "$log.shown" >&2; }
  done
  return 0
}

cat >"$rig/reader.conf.d/vpcd" <<READER
FRIENDLYNAME "Virtual PCD"
DEVICENAME   /dev/null:$port
LIBPATH      $vpcd_driver
CHANNELID    $port
READER
pcscd --foreground --config "$rig/reader.conf.d" >"$rig/pcscd.log" 2>&1 &
pids+=($!)

# The card's key and certificate; the database password is the card's PIN.
# The serial's top bit is set, so its DER form carries a leading zero.
printf '%s\n' "$pin" >"$rig/pin"
head -c 64 /dev/urandom >"$rig/noise"
certutil -N -d "sql:$rig/nssdb" -f "$rig/pin"
certutil -S -d "sql:$rig/nssdb" -f "$rig/pin" -z "$rig/noise" -n card -x -t "u,u,u" \
  -s "CN=Tarvona Card,O=Tarvona" -k rsa -g 2048 -Z SHA256 -m 12648430 -v 12 \
  --keyUsage digitalSignature,nonRepudiation,keyEncipherment >/dev/null 2>"$rig/certutil.log" ||
  { show_logs; fail "certutil could not make the card's key"; }
rm "$rig/certutil.log"
certutil -L -d "sql:$rig/nssdb" -n card -a >"$rig/card.pem"

"$emulator" --db "$rig/nssdb" --cert card --port "$port" --wait "$ready_within" >"$rig/emulator.log" 2>&1 &
pids+=($!)

# Ready when OpenSC lists the card's token.
deadline=$((SECONDS + ready_within))
until pkcs11-tool --module "$opensc" -L 2>/dev/null | grep -q "token label"; do
  for pid in "${pids[@]}"; do
    kill -0 "$pid" 2>/dev/null || { show_logs; fail "pcscd or the card emulator ended early"; }
  done
  [ "$SECONDS" -lt "$deadline" ] || { show_logs; fail "OpenSC did not see the card within ${ready_within} s"; }
  sleep 0.05
done

# SoftHSM2 is registered with p11-kit too: an empty token folder keeps its
# tokens out of the card's way.
printf 'directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n' \
  "$rig/softhsm-tokens" >"$rig/softhsm2.conf"

status=0
env -u TARVONA_PKCS11_MODULE -u TARVONAV4_PKCS11_MODULE -u TARVONAV5_PKCS11_MODULE \
  -u TARVONAV4_TOKENS -u TARVONAV5_TOKENS \
  SOFTHSM2_CONF="$rig/softhsm2.conf" TARVONA_CARD_PIN="$pin" TARVONA_CARD_CERT="$rig/card.pem" \
  "$@" || status=$?
[ "$status" -eq 0 ] || show_logs
exit "$status"
