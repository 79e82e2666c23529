#!/usr/bin/env bash
# Sets up, builds and runs every test: a plain build, a build with AddressSanitizer and
# UndefinedBehaviorSanitizer, and the thread tests under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

echo "== plain build"
scripts/setup.sh build
ctest --test-dir build --output-on-failure -j"$jobs"

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build"
scripts/setup.sh build-asan -DTARVIK_SANITIZE=address,undefined
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs"

echo "== ThreadSanitizer build (thread tests)"
scripts/setup.sh build-tsan -DTARVIK_SANITIZE=thread
if ctest --test-dir build-tsan -N -L thread | grep -q "Total Tests: [1-9]"; then
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    ctest --test-dir build-tsan --output-on-failure -j"$jobs" -L thread
else
  echo "no thread tests yet"
fi
