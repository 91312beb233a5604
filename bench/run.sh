#!/usr/bin/env bash
# Builds the benchmarks in Release mode and runs them; arguments go to each benchmark
# (for example --benchmark_filter=scan). With --summary, runs the benchmarks behind the
# performance table with short runs and prints that table (today, target, measured).
set -euo pipefail
cd "$(dirname "$0")/.."
# expat and pugixml are only baselines of the benchmarks: installed here, not for CI.
bash tools/install-deps.sh libexpat1-dev libpugixml-dev
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DXRQ5_BUILD_BENCH=ON \
      -DXRQ5_BUILD_TESTS=OFF >/dev/null
cmake --build build-bench -j2 >/dev/null
if [ "${1:-}" = "--summary" ]; then
  shift
  out=$(mktemp)
  short=(--benchmark_color=false --benchmark_min_time=0.05 "$@")
  b=build-bench/bench
  {
    "$b/pull_parser_bench" "${short[@]}" --benchmark_filter='small|expat'
    "$b/xcd_read_bench" "${short[@]}" --benchmark_min_time=0.2
    "$b/xcd_write_bench" "${short[@]}"
    "$b/chan_selector_bench" "${short[@]}" \
      --benchmark_filter='find_channel_by|get_event_type/'
    "$b/gige_descr_bench" "${short[@]}" --benchmark_filter='fill|pugixml'
  } >"$out" 2>/dev/null
  python3 bench/summary.py "$out"
  rm -f "$out"
  exit 0
fi
for b in build-bench/bench/*_bench; do
  echo "## $b"
  "$b" --benchmark_color=false "$@"
done
