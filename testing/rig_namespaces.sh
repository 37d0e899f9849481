# shellcheck shell=bash
# Sourced by the rigs (testing/card/card-rig.sh, testing/modules/module-rig.sh).
#
#   rig_enter MARK FLAG... -- PROGRAM ARGS...
#
# Runs PROGRAM ARGS again, with MARK set in its environment, as the first
# process of new namespaces (unshare's FLAGs, a PID namespace always, with
# its own /proc), and exits with its status. When it ends, or unshare is
# killed (--kill-child), the kernel ends every process left in them;
# unshare ignores TERM and INT, so they come here and end it.
rig_enter() {
  local mark=$1 flags=()
  shift
  while [ "$1" != "--" ]; do
    flags+=("$1")
    shift
  done
  shift
  export "$mark=1"
  unshare "${flags[@]}" --pid --fork --kill-child --mount-proc -- "$@" <&0 &
  rig_namespaces=$!
  trap 'kill -KILL "$rig_namespaces" 2>/dev/null; wait "$rig_namespaces" || true; exit 143' TERM INT HUP
  local status=0
  wait "$rig_namespaces" || status=$?
  exit "$status"
}
