#!/usr/bin/env bash
# Runs a command beside one real PKCS #11 module whose token holds an RSA-2048
# key pair and a certificate over it (CKA_ID shared), or, for p11-kit's trust
# module, certificates only. Everything lives in private mount, network, IPC
# and PID namespaces: tmpfs over /run and /dev/shm (TMPDIR in it), the modules' fixed
# paths bound to scratch folders, loopback only, a scratch HOME; when the
# command ends, or the rig is killed, every process of the rig ends with it.
#
#   testing/modules/module-rig.sh MODULE -- COMMAND [ARGS...]
#
# MODULE is one of
#   softhsm        SoftHSM2, file store
#   tpm2           tpm2-pkcs11 on swtpm (a TPM 2.0 simulator on loopback)
#   opencryptoki   opencryptoki's software token behind pkcsslotd
#   trust-system   p11-kit's trust module on its built-in path (read-only)
#   trust-anchors  p11-kit's trust module for an anchors folder (writable),
#                  reached through p11-kit's proxy as Debian registers it
#
# COMMAND gets TARVONA_MATRIX_MODULE (MODULE), TARVONA_MATRIX_PIN (the user
# PIN; empty for a token without one), TARVONA_MATRIX_CERTS (PEM file of the
# token's certificates; with a key pair, its certificate alone) and
# TARVONA_MATRIX_SERIALS (the token serials pkcs11-tool lists, blanks
# trimmed, joined by ","). TARVONA_PKCS11_MODULE names the module file, but
# for trust-anchors, where the adaptors take their default road (p11-kit's
# proxy, which sees only the rig's module). The rig's exit status is the
# command's. Root only.
set -euo pipefail

fail() {
  echo "module rig: $*" >&2
  exit 1
}

[ $# -ge 3 ] && [ "$2" = "--" ] || fail "usage: $0 MODULE -- COMMAND [ARGS...]"
module_name=$1
shift 2

readonly multiarch=/usr/lib/x86_64-linux-gnu
readonly softhsm_module=/usr/lib/softhsm/libsofthsm2.so
readonly tpm2_module=$multiarch/pkcs11/libtpm2_pkcs11.so
readonly opencryptoki_module=$multiarch/pkcs11/libopencryptoki.so
readonly trust_module=$multiarch/pkcs11/p11-kit-trust.so
readonly proxy_module=$multiarch/p11-kit-proxy.so
readonly pin=123456       # 4 to 8 digits: opencryptoki's limits
readonly so_pin=87654321  # opencryptoki's default SO PIN
readonly tpm_port=7610    # swtpm's command port, its control port the next one
readonly ready_within=30  # seconds for a daemon to answer, on a loaded machine

case "$module_name" in
  softhsm) tools=(softhsm2-util pkcs11-tool) files=("$softhsm_module") ;;
  tpm2) tools=(swtpm tpm2_ptool tpm2_flushcontext tpm2_dictionarylockout pkcs11-tool)
        files=("$tpm2_module") ;;
  opencryptoki) tools=(pkcsslotd pkcsconf pkcs11-tool)
                files=("$opencryptoki_module" "$multiarch/opencryptoki/stdll/libpkcs11_sw.so") ;;
  trust-system) tools=(pkcs11-tool) files=("$trust_module") ;;
  trust-anchors) tools=(pkcs11-tool) files=("$trust_module" "$proxy_module") ;;
  *) fail "unknown module $module_name (softhsm, tpm2, opencryptoki, trust-system, trust-anchors)" ;;
esac

if [ -z "${TARVONA_MODULE_RIG_INSIDE:-}" ]; then
  # Missing pieces fail loudly: a matrix row that skips itself proves nothing.
  [ "$(id -u)" -eq 0 ] || fail "must run as root (it makes mount, network, IPC and PID namespaces)"
  missing=()
  for tool in unshare ip openssl "${tools[@]}"; do
    command -v "$tool" >/dev/null || missing+=("$tool")
  done
  for file in "${files[@]}"; do [ -e "$file" ] || missing+=("$file"); done
  [ ${#missing[@]} -eq 0 ] ||
    fail "missing ${missing[*]} (packages: util-linux iproute2 openssl opensc softhsm2 p11-kit-modules libtpm2-pkcs11-1 libtpm2-pkcs11-tools tpm2-tools swtpm swtpm-tools opencryptoki)"
  source "$(dirname "$0")/../rig_namespaces.sh"
  rig_enter TARVONA_MODULE_RIG_INSIDE --mount --net --ipc -- "$0" "$module_name" -- "$@"
fi
unset TARVONA_MODULE_RIG_INSIDE

# Scratch over every place a module or its tools write to; gone with the
# namespace. /tmp stays: the build and the command may live there, so
# temporary files go to TMPDIR instead.
for dir in /run /dev/shm; do mount -t tmpfs -o mode=1777 tarvona-modules "$dir"; done
chmod 0755 /run
mkdir -p /run/lock
ip link set lo up
rig=/run/tarvona-modules
mkdir -p "$rig/home" "$rig/tmp"
export HOME=$rig/home TMPDIR=$rig/tmp
unset XDG_CONFIG_HOME XDG_DATA_HOME

pids=()
stop() {
  local status=$?
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  exit "$status"
}
trap stop EXIT

show_logs() {
  for log in "$rig"/*.log; do
    [ -s "$log" ] && { echo "--- $log" >&2; tail -n 40 "$log" >&2; }
  done
  return 0
}
# Runs a set-up step with its output in the rig's log, shown if it fails.
step() {
  "$@" >>"$rig/setup.log" 2>&1 || { show_logs; fail "set-up failed: $*"; }
}

# The rig's CA issues the token's certificate; its serial's top bit is set,
# so the DER form carries a leading zero.
new_key() { step openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -quiet -out "$1"; }
# Two self-signed anchors, DIR/anchor1.pem and DIR/anchor2.pem (keys in the rig).
make_anchors() {
  local n
  for n in 1 2; do
    new_key "$rig/anchor$n.key"
    step openssl req -x509 -key "$rig/anchor$n.key" -out "$1/anchor$n.pem" \
      -subj "/O=Tarvona/CN=Tarvona Anchor $n" -days 30 -set_serial "0x80A$n"
  done
}
new_key "$rig/ca.key"
step openssl req -x509 -key "$rig/ca.key" -out "$rig/ca.pem" -subj "/O=Tarvona/CN=Tarvona Matrix CA" \
  -days 30
printf 'keyUsage=critical,digitalSignature,nonRepudiation,keyEncipherment\n' >"$rig/ext.cnf"
issue_certificate() {  # the public key (DER) on the token -> $rig/cert.pem and .der
  step openssl pkey -pubin -inform DER -in "$rig/pub.der" -out "$rig/pub.pem"
  step openssl req -new -key "$rig/ca.key" -subj "/O=Tarvona/CN=Tarvona Matrix" -out "$rig/req.pem"
  step openssl x509 -req -in "$rig/req.pem" -CA "$rig/ca.pem" -CAkey "$rig/ca.key" \
    -force_pubkey "$rig/pub.pem" -set_serial 0xC0FFEE01 -days 30 -extfile "$rig/ext.cnf" \
    -out "$rig/cert.pem"
  step openssl x509 -in "$rig/cert.pem" -outform DER -out "$rig/cert.der"
}

# A key pair made on the token by pkcs11-tool, CKA_ID 01, and its
# certificate written beside it.
pkcs11_tool_keys() {
  local p11=(pkcs11-tool --module "$module")
  step "${p11[@]}" --login --pin "$pin" --keypairgen --key-type rsa:2048 --id 01 --label matrix
  step "${p11[@]}" --read-object --type pubkey --id 01 -o "$rig/pub.der"
  issue_certificate
  step "${p11[@]}" --login --pin "$pin" --write-object "$rig/cert.der" --type cert --id 01 \
    --label matrix
}

wait_for() {  # DESCRIPTION COMMAND...: until COMMAND succeeds, bounded
  local what=$1 deadline=$((SECONDS + ready_within))
  shift
  until "$@" >/dev/null 2>&1; do
    for pid in "${pids[@]}"; do
      kill -0 "$pid" 2>/dev/null || { show_logs; fail "$what ended early"; }
    done
    [ "$SECONDS" -lt "$deadline" ] || { show_logs; fail "$what did not answer within ${ready_within} s"; }
    sleep 0.05
  done
}

module=""
listing_module=""
user_pin=$pin
case "$module_name" in
  softhsm)
    printf 'directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n' \
      "$rig/softhsm-tokens" >"$rig/softhsm2.conf"
    mkdir "$rig/softhsm-tokens"
    export SOFTHSM2_CONF=$rig/softhsm2.conf
    module=$softhsm_module
    step softhsm2-util --init-token --free --label matrix --so-pin "$so_pin" --pin "$pin"
    pkcs11_tool_keys
    ;;

  tpm2)
    # swtpm has no resource manager: every object a tpm2 tool loads stays
    # loaded after it, and the TPM holds only three. tpm2_ptool runs the
    # tools by name, so each runs through a wrapper that flushes after it.
    mkdir -p "$rig/tpm-state" "$rig/tpm2-store" "$rig/bin"
    cat >"$rig/bin/flushing" <<'WRAPPER'
#!/bin/sh
"/usr/bin/${0##*/}" "$@"
status=$?
/usr/bin/tpm2_flushcontext -t -l >/dev/null 2>&1
exit $status
WRAPPER
    chmod +x "$rig/bin/flushing"
    for tool in /usr/bin/tpm2_*; do
      case "${tool##*/}" in tpm2_flushcontext | tpm2_ptool) ;; *) ln -s flushing "$rig/bin/${tool##*/}" ;; esac
    done
    swtpm socket --tpm2 --tpmstate dir="$rig/tpm-state" \
      --server type=tcp,port=$tpm_port,bindaddr=127.0.0.1 \
      --ctrl type=tcp,port=$((tpm_port + 1)),bindaddr=127.0.0.1 \
      --flags not-need-init,startup-clear >"$rig/swtpm.log" 2>&1 &
    pids+=($!)
    export TPM2TOOLS_TCTI="swtpm:host=127.0.0.1,port=$tpm_port"
    export TPM2_PKCS11_TCTI=$TPM2TOOLS_TCTI TPM2_PKCS11_STORE=$rig/tpm2-store
    wait_for swtpm /usr/bin/tpm2_getcap properties-fixed
    # Three wrong PINs would lock the key for good; the tests try more.
    step /usr/bin/tpm2_dictionarylockout --setup-parameters --max-tries=64 \
      --recovery-time=1 --lockout-recovery-time=1
    module=$tpm2_module
    export PATH=$rig/bin:$PATH
    step tpm2_ptool init --path "$TPM2_PKCS11_STORE"
    step tpm2_ptool addtoken --pid=1 --label=matrix --sopin="$so_pin" --userpin="$pin" \
      --path "$TPM2_PKCS11_STORE"
    # --id is taken as text: CKA_ID is its bytes, "01" is 3031.
    step tpm2_ptool addkey --algorithm=rsa2048 --label=matrix --key-label=matrix --id=01 \
      --userpin="$pin" --path "$TPM2_PKCS11_STORE"
    step pkcs11-tool --module "$module" --read-object --type pubkey --id 3031 -o "$rig/pub.der"
    issue_certificate
    step tpm2_ptool addcert --label=matrix --key-label=matrix --path "$TPM2_PKCS11_STORE" \
      "$rig/cert.pem"
    ;;

  opencryptoki)
    # pkcsslotd and the module meet at fixed paths: the configuration, the
    # token store, a socket in /run, locks in /run/lock, memory in /dev/shm.
    mkdir -p "$rig/ock-etc" "$rig/ock-lib/swtok/TOK_OBJ" "$rig/ock-log" \
      /run/lock/opencryptoki/swtok
    printf 'version opencryptoki-3.1\nslot 0\n{\nstdll = libpkcs11_sw.so\n}\n' \
      >"$rig/ock-etc/opencryptoki.conf"
    chgrp -R pkcs11 "$rig/ock-lib" /run/lock/opencryptoki
    chmod -R 0770 "$rig/ock-lib" /run/lock/opencryptoki
    mount --bind "$rig/ock-etc" /etc/opencryptoki
    mount --bind "$rig/ock-lib" /var/lib/opencryptoki
    [ -d /var/log/opencryptoki ] && mount --bind "$rig/ock-log" /var/log/opencryptoki
    step pkcsslotd
    # It forks into the background: its pid is in its file once it is up.
    wait_for pkcsslotd test -S /run/pkcsslotd.socket -a -s /run/pkcsslotd.pid
    pids+=("$(cat /run/pkcsslotd.pid)")
    module=$opencryptoki_module
    printf 'matrix\n' >"$rig/label"
    step pkcsconf -c 0 -I -S "$so_pin" <"$rig/label"
    step pkcsconf -c 0 -u -S "$so_pin" -n "$pin"
    pkcs11_tool_keys
    ;;

  trust-system)
    # The module's built-in path is /etc/ssl/certs/ca-certificates.crt, a
    # file: read-only, whatever the rights.
    mkdir "$rig/certs"
    make_anchors "$rig"
    cat "$rig/anchor1.pem" "$rig/anchor2.pem" >"$rig/certs/ca-certificates.crt"
    cp "$rig/certs/ca-certificates.crt" "$rig/cert.pem"
    mount --bind "$rig/certs" /etc/ssl/certs
    module=$trust_module
    user_pin=""
    ;;

  trust-anchors)
    # The proxy reads module files from these folders only (never a user's
    # as root); the rig's own holds the trust module for its anchors.
    mkdir -p "$rig/anchors" "$rig/p11-kit-modules" "$rig/empty"
    make_anchors "$rig/anchors"
    cat "$rig/anchors/anchor1.pem" "$rig/anchors/anchor2.pem" >"$rig/cert.pem"
    printf 'module: %s\nx-init-reserved: paths=%s\n' "$trust_module" "$rig/anchors" \
      >"$rig/p11-kit-modules/trust.module"
    mount --bind "$rig/p11-kit-modules" /usr/share/p11-kit/modules
    [ -d /etc/pkcs11 ] && mount --bind "$rig/empty" /etc/pkcs11
    listing_module=$proxy_module
    user_pin=""
    ;;
esac

serials=$(pkcs11-tool --module "${listing_module:-$module}" -L 2>>"$rig/setup.log" |
  sed -n 's/^ *serial num *: *//p' | paste -sd, -)
[ -n "$serials" ] || { show_logs; fail "the module lists no token"; }

target=()
[ -n "$module" ] && target=(TARVONA_PKCS11_MODULE="$module")
status=0
env -u TARVONA_PKCS11_MODULE -u TARVONAV4_PKCS11_MODULE -u TARVONAV5_PKCS11_MODULE \
  -u TARVONAV4_TOKENS -u TARVONAV5_TOKENS \
  "${target[@]}" \
  TARVONA_MATRIX_MODULE="$module_name" TARVONA_MATRIX_PIN="$user_pin" \
  TARVONA_MATRIX_CERTS="$rig/cert.pem" TARVONA_MATRIX_SERIALS="$serials" \
  "$@" || status=$?
[ "$status" -eq 0 ] || show_logs
exit "$status"
