#!/usr/bin/env bash
# Set-up, build, and every test (the window's offscreen); then the core's
# tests once more under AddressSanitizer and UndefinedBehaviorSanitizer, and
# the tests of the threaded layers (source, convert) and zel-convert's
# inputs converted at once (-j) under ThreadSanitizer. Any failure or
# sanitizer report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

jobs=$(nproc 2>/dev/null || echo 2)
export QT_QPA_PLATFORM=offscreen

echo "== build (build/)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"

echo "== tests"
ctest --test-dir build --output-on-failure -j "$jobs"

# The sanitizer builds leave the window out: Qt and its font and sound
# libraries are not built for them, and the core is where our own memory
# and threads are.
echo "== build with sanitizers (build-asan/)"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEL_SANITIZE=ON \
  -DZEL_BUILD_APP=OFF -DZEL_BUILD_BENCH=OFF >/dev/null
cmake --build build-asan -j "$jobs"

echo "== tests with sanitizers"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build-asan --output-on-failure -j "$jobs"

echo "== build with the thread sanitizer (build-tsan/)"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEL_SANITIZE_THREAD=ON \
  -DZEL_BUILD_APP=OFF -DZEL_BUILD_BENCH=OFF >/dev/null
# only the programs of the tests it runs
tsan_targets=$(ninja -C build-tsan -t targets all | sed -n 's/^\(test_\(source\|convert\)_[A-Za-z]*\): phony$/\1/p')
cmake --build build-tsan -j "$jobs" --target $tsan_targets zel-convert test_cli_ZelConvertTest

echo "== threaded tests with the thread sanitizer"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/scripts/tsan.supp"
ctest --test-dir build-tsan --output-on-failure -j "$jobs" -L 'source|convert'
ctest --test-dir build-tsan --output-on-failure -j "$jobs" \
  -R 'ZelConvertTest\.(OneFailingInputAmongSeveral|InterruptsLeaveNothingBehind)'
