#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, ASan, UBSan) in build-fuzz/ and runs
# each for SECONDS (default 20), then prints per target the executions, the coverage
# reached and the crashes found. Inputs that crash, leak or hang are left in
# build-fuzz/artifacts/TARGET/; the working corpora grow in build-fuzz/corpus/TARGET/.
# Usage: fuzz/run.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
[ $# -gt 0 ] && shift
bash tools/install-deps.sh clang libclang-rt-14-dev
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DXRQ5_BUILD_FUZZERS=ON -DXRQ5_SANITIZE=ON -DXRQ5_BUILD_TESTS=OFF >/dev/null
cmake --build build-fuzz -j"$(nproc)" >/dev/null

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(fuzz_xcd_read fuzz_xcd_blob fuzz_ev_list fuzz_env_dict fuzz_trigger_list fuzz_gige
           fuzz_trigger_eval)
fi
conformance=tests/data/corpus/conformance/xmlconf
status=0
summary=$(printf '%-18s %8s %12s %10s %8s %8s %7s %8s\n' target seconds executions exec/s cov ft corpus crashes)
for t in "${targets[@]}"; do
  work=build-fuzz/corpus/$t
  artifacts=build-fuzz/artifacts/$t
  mkdir -p "$work" "$artifacts"
  seeds=(fuzz/corpus/$t)
  # The regression inputs, but not the entity-expansion attacks: each of those takes a
  # second under the sanitizers, and mutating them would slow the run to a crawl (the
  # entity seeds of fuzz/corpus/ lead to the same paths).
  regress=build-fuzz/seeds/$t
  rm -rf "$regress"
  mkdir -p "$regress"
  if [ -d tests/data/regress/$t ]; then
    find tests/data/regress/$t -type f ! -name '*_laughs_*' ! -name '*_quadratic_*' \
      -exec cp {} "$regress"/ \;
  fi
  seeds+=("$regress")
  case $t in
    fuzz_gige) seeds+=(tests/data/corpus/camera) ;;
    fuzz_xcd_read|fuzz_ev_list|fuzz_env_dict|fuzz_trigger_list) seeds+=("$conformance" examples) ;;
  esac
  dict=()
  [ -f fuzz/dict/$t.dict ] && dict=(-dict=fuzz/dict/$t.dict)
  # Camera files of a megabyte would set the length of every mutation (some 120 runs a
  # second); at 8 KB the camera target makes thousands a second.
  [ "$t" = fuzz_gige ] && dict+=(-max_len=8192)
  log=build-fuzz/$t.log
  set +e
  ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 \
    build-fuzz/fuzz/"$t" "$work" "${seeds[@]}" "${dict[@]}" -max_total_time="$seconds" -timeout=10 \
    -rss_limit_mb=2048 -close_fd_mask=3 -print_final_stats=1 -artifact_prefix="$artifacts/" \
    >"$log" 2>&1
  set -e
  execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | tail -1 | grep -o '[0-9]*$' || echo 0)
  rate=$(grep -o 'stat::average_exec_per_sec: *[0-9]*' "$log" | tail -1 | grep -o '[0-9]*$' || echo 0)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*$' || echo 0)
  ft=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*$' || echo 0)
  corp=$(ls "$work" | wc -l)
  crashes=$(ls "$artifacts" | grep -c -E '^(crash|leak|timeout|oom|slow-unit)-' || true)
  [ "$crashes" -gt 0 ] && status=1
  summary+=$(printf '\n%-18s %8s %12s %10s %8s %8s %7s %8s' "$t" "$seconds" "$execs" "$rate" "$cov" "$ft" "$corp" "$crashes")
done
echo "$summary"
exit $status
