#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, ASan, UBSan) and runs each
# for SECONDS (default 30) from its checked-in seed corpus. Every target runs;
# the script fails when any target fails, telling a finding (the failing
# input is saved in build-fuzz/artifacts/) from a target that could not run.
#   fuzz/run.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
TARVONA_PACKAGES+=(clang libclang-rt-14-dev)
tarvona_install_packages

seconds=${1:-30}
build=build-fuzz
# The token session target uses the test fixtures (SoftHSM tokens, the fault
# build of the adaptor), which come with the tests; only fuzz targets are built.
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DTARVONA_FUZZ=ON -DTARVONA_TESTS=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
targets=(hex_decode base64_decode pem_unwrap method_dispatch host_request certificate_input
         token_session)
cmake --build "$build" --target "${targets[@]/%/_fuzz}"

# Inputs saved by an earlier run must not fail or pass this one.
rm -rf "$build/artifacts" "$build/logs"
mkdir -p "$build/artifacts" "$build/logs"
failed=()
for target in "${targets[@]}"; do
  mkdir -p "$build/corpus/$target"
  log="$build/logs/$target.log"
  echo "== $target: ${seconds}s"
  status=0
  (cd "$build" && "bin/${target}_fuzz" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="artifacts/$target-" \
    "corpus/$target" "$PWD/../fuzz/corpus/$target") >"$log" 2>&1 || status=$?
  grep -E "^stat::(number_of_executed_units|average_exec_per_sec)" "$log" || true
  if ((status == 0)) && grep -q "^stat::number_of_executed_units" "$log"; then continue; fi
  if compgen -G "$build/artifacts/$target-*" >/dev/null; then
    echo "$target: FINDING (exit $status); input saved as:" "$build/artifacts/$target-"*
    grep -E "ERROR|SUMMARY|invariant" "$log" | head -n 20 || true
  else
    echo "$target: DID NOT RUN (exit $status, no failing input); end of $log:"
    tail -n 20 "$log"
  fi
  failed+=("$target")
done
if ((${#failed[@]} > 0)); then
  echo "failed: ${failed[*]}"
  exit 1
fi
