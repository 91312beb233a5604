#!/usr/bin/env bash
# Builds the benchmarks in Release mode and runs them; arguments go to each benchmark
# (for example --benchmark_filter=scan).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DXRQ5_BUILD_BENCH=ON \
      -DXRQ5_BUILD_TESTS=OFF >/dev/null
cmake --build build-bench -j"$(nproc)" >/dev/null
for b in build-bench/bench/*_bench; do
  echo "## $b"
  "$b" --benchmark_color=false "$@"
done
