#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, ASan, UBSan) and runs each
# for SECONDS (default 30) from its checked-in seed corpus. A crash stops
# the run with the failing input saved in build-fuzz/.
#   fuzz/run.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
TARVONA_PACKAGES+=(clang libclang-rt-14-dev)
tarvona_install_packages

seconds=${1:-30}
build=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DTARVONA_FUZZ=ON -DTARVONA_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
targets=(hex_decode base64_decode pem_unwrap method_dispatch host_request certificate_input)
cmake --build "$build" --target "${targets[@]/%/_fuzz}"
for target in "${targets[@]}"; do
  work="$build/corpus/$target"
  mkdir -p "$work"
  echo "== $target: ${seconds}s"
  (cd "$build" && "bin/${target}_fuzz" -max_total_time="$seconds" -print_final_stats=1 \
    "corpus/$target" "$PWD/../fuzz/corpus/$target" 2>&1 | grep -E "^stat::number_of_executed_units|ERROR|SUMMARY" || true)
  if ls "$build"/crash-* "$build"/leak-* "$build"/oom-* "$build"/timeout-* >/dev/null 2>&1; then
    echo "$target: failing input saved in $build/"; exit 1
  fi
done
