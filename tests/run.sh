#!/usr/bin/env bash
# Builds and runs the tests. With --sanitize, builds everything with AddressSanitizer
# and UndefinedBehaviorSanitizer (leak checking on) in build-asan/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh

dir=build
opts=()
if [ "${1:-}" = "--sanitize" ]; then
  dir=build-asan
  opts=(-DXRQ5_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug)
fi
jobs=$(nproc)
cmake -S . -B "$dir" -DXRQ5_BUILD_TESTS=ON -DXRQ5_WERROR=ON "${opts[@]}"
cmake --build "$dir" -j"$jobs"
ctest --test-dir "$dir" --output-on-failure -j"$jobs"
