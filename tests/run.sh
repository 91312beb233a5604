#!/usr/bin/env bash
# Builds and runs the tests. With --sanitize, builds everything with AddressSanitizer
# and UndefinedBehaviorSanitizer (leak checking on) in build-asan/. With --valgrind,
# runs the tests of the plain build under valgrind memcheck: a definite leak or an
# invalid access fails the test. With --i386, builds and runs them for the 32-bit
# target (multiarch i386 libraries, -m32) in build-i386/. With --tsan, builds the
# tests of threads and files with ThreadSanitizer in build-tsan/ and runs them.
set -euo pipefail
cd "$(dirname "$0")/.."
mode=${1:-}
extra=()
[ "$mode" = "--valgrind" ] && extra=(valgrind)
[ "$mode" = "--i386" ] && extra=(g++-multilib libxerces-c-dev:i386 libgtest-dev:i386 libxxhash-dev:i386)
bash tools/install-deps.sh "${extra[@]}"

dir=build
opts=()
if [ "$mode" = "--sanitize" ]; then
  dir=build-asan
  opts=(-DXRQ5_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug)
elif [ "$mode" = "--valgrind" ]; then
  opts=("-DMEMORYCHECK_COMMAND=$(command -v valgrind)")
elif [ "$mode" = "--tsan" ]; then
  dir=build-tsan
  opts=(-DXRQ5_TSAN=ON -DXRQ5_BUILD_PYTHON=OFF)
elif [ "$mode" = "--i386" ]; then
  dir=build-i386
  opts=(-DCMAKE_TOOLCHAIN_FILE=cmake/i386-linux-gnu.cmake -DXRQ5_BUILD_PYTHON=OFF)
fi
jobs=$(nproc)
cmake -S . -B "$dir" -DXRQ5_BUILD_TESTS=ON -DXRQ5_WERROR=ON "${opts[@]}" \
  "-DMEMORYCHECK_COMMAND_OPTIONS=--error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite --show-leak-kinds=definite"
if [ "$mode" = "--tsan" ]; then
  # Only what the threads need: the tests that run readers and writers at once.
  cmake --build "$dir" -j"$jobs" --target threads_test files_among_users_test
  # Reports go to files: the threads test captures standard error for the writers' lines.
  rm -f "$dir"/tsan-report.*
  export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 log_path=$PWD/$dir/tsan-report"
  if ! "$dir/tests/threads_test" ||
     ! "$dir/tests/files_among_users_test" --gtest_filter='*threads*:*planted*:*private*'; then
    cat "$dir"/tsan-report.* 2>/dev/null || true
    exit 1
  fi
  exit 0
fi
cmake --build "$dir" -j"$jobs"
if [ "$mode" = "--valgrind" ]; then
  ctest --test-dir "$dir" -T memcheck -LE no_memcheck --output-on-failure -j"$jobs"
else
  ctest --test-dir "$dir" --output-on-failure -j"$jobs"
fi
