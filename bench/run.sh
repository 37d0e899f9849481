#!/usr/bin/env bash
# Builds the benchmarks (release), runs them all, and writes a dated table
# with the machine and commit to bench/results/DATE.md. Only a clean tree
# gives a recorded result: with local changes the table, marked as such,
# goes to build-bench/results.md instead.
#   bench/run.sh [--quick]
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
TARVONA_PACKAGES+=(python3 valgrind)
tarvona_install_packages

build=build-bench
if [ -n "$(git status --porcelain)" ]; then
  report="$build/results.md"
  echo "bench/run.sh: local changes, so the table goes to $report, not bench/results/" >&2
else
  mkdir -p bench/results
  report="bench/results/$(date +%F).md"
fi
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target codec_bench token_bench host_bench tarvona-demo tarvona-regsvr \
  TarvonaActiveX

repetitions=5
min_time=0.5
if [ "${1:-}" = "--quick" ]; then repetitions=3; min_time=0.1; fi
out="$build/bench-json"
mkdir -p "$out"
for bench in codec_bench token_bench host_bench; do
  "$build/bin/$bench" --benchmark_repetitions="$repetitions" --benchmark_min_time="$min_time" \
    --benchmark_report_aggregates_only=true --benchmark_format=json >"$out/$bench.json"
done
# Peak heap of the host over the typical road (the demo's), by massif.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
scripts/demo-keys.sh "$work/keys" >/dev/null
(
  source "$work/keys/env"
  export XDG_DATA_HOME="$work/data"
  "$build/bin/tarvona-regsvr" "$build/bin/TarvonaActiveX.ocx" >/dev/null
  valgrind --tool=massif --trace-children=yes --massif-out-file="$out/massif.%p" \
    "$build/bin/tarvona-demo" >/dev/null 2>&1
)

# Written beside the JSON first: the report looks for local changes, and
# must not find its own output.
python3 bench/report.py "$out" "bench/run.sh${*:+ $*}" "$repetitions" >"$out/table.md"
cp "$out/table.md" "$report"
cat "$report"
