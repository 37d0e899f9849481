#!/usr/bin/env bash
# The token road, the store road and the host under valgrind's memcheck:
# no invalid access and no leak (definite or indirect) may be reported.
# testing/valgrind.supp holds the one third-party report set aside, with
# its reason.
#   bench/valgrind.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
TARVONA_PACKAGES+=(valgrind)
tarvona_install_packages

build=${1:-build}
if [ ! -x "$build/bin/control_test" ]; then
  cmake -S . -B "$build" -G Ninja -DTARVONA_WERROR=ON >/dev/null
  cmake --build "$build"
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# One log per process, children included, so a report in a child counts.
memcheck=(valgrind --error-exitcode=9 --leak-check=full --show-leak-kinds=definite,indirect
          --errors-for-leak-kinds=definite,indirect --num-callers=30
          --suppressions=testing/valgrind.supp --log-file="$work/memcheck.%p.log")
# (A forked child that runs another program leaves a log without a summary.)
check_logs() {
  local failed
  failed=$(grep -l "ERROR SUMMARY: [1-9]" "$work"/memcheck.*.log || true)
  if [ -n "$failed" ]; then
    cat $failed
    echo "memcheck found errors"; exit 1
  fi
  echo "$(grep -l "ERROR SUMMARY: 0 errors" "$work"/memcheck.*.log | wc -l) processes, no errors"
  rm -f "$work"/memcheck.*.log
}

echo "== token road (token_test, control_test)"
"${memcheck[@]}" "$build/bin/token_test" --gtest_brief=1
"${memcheck[@]}" "$build/bin/control_test" --gtest_brief=1
check_logs
echo "== store road (capi_test, without the X dialog tests)"
"${memcheck[@]}" "$build/bin/capi_test" --gtest_brief=1 --gtest_filter='-XvfbDialogTest.*'
check_logs

echo "== host: the demo's typical road, host and client both checked"
scripts/demo-keys.sh "$work/keys"
(
  source "$work/keys/env"
  export XDG_DATA_HOME="$work/data"
  "$build/bin/tarvona-regsvr" "$build/bin/TarvonaActiveX.ocx" >/dev/null
  "${memcheck[@]}" --trace-children=yes "$build/bin/tarvona-demo" >/dev/null
)
check_logs
echo "memcheck: no errors, no leaks"
