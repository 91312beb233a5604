#!/usr/bin/env bash
# Builds and runs the tests. With --sanitize, builds everything with AddressSanitizer
# and UndefinedBehaviorSanitizer (leak checking on) in build-asan/. With --valgrind,
# runs the tests of the plain build under valgrind memcheck: a definite leak or an
# invalid access fails the test. With --i386, builds and runs them for the 32-bit
# target (multiarch i386 libraries, -m32) in build-i386/.
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
elif [ "$mode" = "--i386" ]; then
  dir=build-i386
  opts=(-DCMAKE_TOOLCHAIN_FILE=cmake/i386-linux-gnu.cmake -DXRQ5_BUILD_PYTHON=OFF)
fi
jobs=$(nproc)
cmake -S . -B "$dir" -DXRQ5_BUILD_TESTS=ON -DXRQ5_WERROR=ON "${opts[@]}" \
  "-DMEMORYCHECK_COMMAND_OPTIONS=--error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite --show-leak-kinds=definite"
cmake --build "$dir" -j"$jobs"
if [ "$mode" = "--valgrind" ]; then
  ctest --test-dir "$dir" -T memcheck -LE no_memcheck --output-on-failure -j"$jobs"
else
  ctest --test-dir "$dir" --output-on-failure -j"$jobs"
fi
