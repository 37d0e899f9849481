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
# certificate, PEM), TARVONA_CARD_RIG (this script) and no variable that
# points the control's adaptors elsewhere, so the control takes its default
# road (p11-kit's proxy). The rig's exit status is the command's. Root only.
#
# Inside the rig, COMMAND changes the card and its reader with
#   "$TARVONA_CARD_RIG" control VERB
#     card-out            the card pulled out (the emulator killed)
#     card-in             the card put back (a new emulator)
#     card-stop           the card stops answering (SIGSTOP), mid-command too
#     card-cont           and answers again (SIGCONT)
#     pcscd-stop [KILL]   pcscd ended by TERM (or KILL); the card stays in
#                         its reader and plugs in again when pcscd is back
#     pcscd-start         pcscd started again
#     restore             pcscd running, the card in and answering, as at
#                         the start: whatever is not, made so
# Each returns once done (a process stopped or ended, or started); none
# waits for the card to be seen.
set -euo pipefail

fail() {
  echo "card rig: $*" >&2
  exit 1
}

readonly rig=/run/tarvona-card  # in the rig's private /run
readonly port=35963  # vpcd's default; the network is ours alone
readonly pin=648219
readonly ready_within=30  # seconds for the card to show, on a loaded machine
readonly opensc=/usr/lib/x86_64-linux-gnu/opensc-pkcs11.so
readonly vpcd_driver=/usr/lib/pcsc/drivers/serial/libifdvpcd.so
readonly p11kit_opensc=/usr/share/p11-kit/modules/opensc-pkcs11.module

# pcscd and the card, started by the rig or its control: each has its PID
# in $rig/NAME.pid, and its log in $rig/NAME.log. Started from a subshell,
# so whoever started them, their parent is the rig (the namespace's init)
# and no shell reports their end as a job's.
start_pcscd() {
  (pcscd --foreground --config "$rig/reader.conf.d" </dev/null >>"$rig/pcscd.log" 2>&1 &
    echo $! >"$rig/pcscd.pid")
}
start_emulator() {
  ("$(cat "$rig/emulator.program")" --db "$rig/nssdb" --cert card --port "$port" \
    --wait "$ready_within" </dev/null >>"$rig/emulator.log" 2>&1 &
    echo $! >"$rig/emulator.pid")
}

# Ended, whoever reaps it: no process, or a zombie.
gone() {
  local stat
  stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 0
  stat=${stat##*) }
  [ "${stat%% *}" = Z ]
}

# Sends the signal and waits for the process to end (a stopped one is let
# go on, so TERM reaches it).
end_process() {
  local name=$1 signal=$2 pid deadline
  [ -f "$rig/$name.pid" ] || return 0
  pid=$(cat "$rig/$name.pid")
  rm "$rig/$name.pid"
  kill -"$signal" "$pid" 2>/dev/null || true
  kill -CONT "$pid" 2>/dev/null || true
  deadline=$((SECONDS + 10))
  until gone "$pid"; do
    [ "$SECONDS" -lt "$deadline" ] || fail "$name ($pid) did not end within 10 s of SIG$signal"
    sleep 0.01
  done
}

running() {
  [ -f "$rig/$1.pid" ] && ! gone "$(cat "$rig/$1.pid")"
}

if [ "${1:-}" = control ]; then
  [ -f "$rig/emulator.program" ] || fail "control works inside the rig only"
  case "${2:-} ${3:-}" in
    "card-out ") end_process emulator KILL ;;
    "card-in ") start_emulator ;;
    "card-stop ") kill -STOP "$(cat "$rig/emulator.pid")" ;;
    "card-cont ") kill -CONT "$(cat "$rig/emulator.pid")" ;;
    "pcscd-stop " | "pcscd-stop TERM") end_process pcscd TERM ;;
    "pcscd-stop KILL") end_process pcscd KILL ;;
    "pcscd-start ") start_pcscd ;;
    "restore ")
      running pcscd || start_pcscd
      if running emulator; then kill -CONT "$(cat "$rig/emulator.pid")"; else start_emulator; fi
      ;;
    *) fail "unknown control: ${*:2}" ;;
  esac
  exit 0
fi

[ $# -ge 3 ] && [ "$2" = "--" ] || fail "usage: $0 EMULATOR -- COMMAND [ARGS...] | $0 control VERB"
emulator=$(readlink -m "$1")
shift 2

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
  source "$(dirname "$0")/../rig_namespaces.sh"
  rig_enter TARVONA_CARD_RIG_INSIDE --mount --net -- "$0" "$emulator" -- "$@"
fi
unset TARVONA_CARD_RIG_INSIDE

# A tmpfs over /run: pcscd's socket and the rig's files, gone with the namespace.
mount -t tmpfs -o mode=0755 tarvona-card-run /run
ip link set lo up
mkdir -p "$rig/reader.conf.d" "$rig/nssdb" "$rig/softhsm-tokens"
printf '%s\n' "$emulator" >"$rig/emulator.program"

stop() {
  local status=$?
  trap - EXIT
  end_process emulator TERM || true
  end_process pcscd TERM || true
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
start_pcscd

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

start_emulator

# Ready when OpenSC lists the card's token.
deadline=$((SECONDS + ready_within))
until pkcs11-tool --module "$opensc" -L 2>/dev/null | grep -q "token label"; do
  for name in pcscd emulator; do
    gone "$(cat "$rig/$name.pid")" && { show_logs; fail "$name ended early"; }
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
  TARVONA_CARD_RIG="$(readlink -f "$0")" \
  "$@" || status=$?
[ "$status" -eq 0 ] || show_logs
exit "$status"
