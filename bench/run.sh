#!/usr/bin/env bash
# Builds the benchmarks (release), runs them all, and writes a dated table
# with the machine and commit to bench/results/DATE.md.
#   bench/run.sh [--quick]
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
TARVONA_PACKAGES+=(python3)
tarvona_install_packages

build=build-bench
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target codec_bench token_bench

repetitions=5
min_time=0.5
if [ "${1:-}" = "--quick" ]; then repetitions=3; min_time=0.1; fi
out="$build/bench-json"
mkdir -p "$out"
for bench in codec_bench token_bench; do
  "$build/bin/$bench" --benchmark_repetitions="$repetitions" --benchmark_min_time="$min_time" \
    --benchmark_report_aggregates_only=true --benchmark_format=json >"$out/$bench.json"
done
mkdir -p bench/results
report="bench/results/$(date +%F).md"
python3 bench/report.py "$out" "bench/run.sh ${*:-}" >"$report"
cat "$report"
