#!/usr/bin/env bash
# Sets up, builds and runs every test: a plain build, the Debian packages (built from a packaged
# build, checked with lintian, installed and tried), a build with AddressSanitizer and
# UndefinedBehaviorSanitizer, the thread tests under ThreadSanitizer, and a fuzz stage built with
# clang: the fuzz targets over their seed corpora, then each for a bounded time.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

echo "== plain build"
scripts/setup.sh build
ctest --test-dir build --output-on-failure -j"$jobs"

echo "== Debian packages: contents, lintian, installed and checked"
packaging/check_packages.sh build-pkg

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build"
scripts/setup.sh build-asan -DTARVIK_SANITIZE=address,undefined
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs"

echo "== ThreadSanitizer build (thread tests)"
# Only the thread tests run here, so only they and what they load at run time are built.
thread_targets="update_container update_container_confirm customization_container_all tarvik-sim"
for f in */tests/*_thread_test.cpp; do
  thread_targets="$thread_targets $(dirname "$(dirname "$f")")_$(basename "$f" .cpp)"
done
TARVIK_BUILD_TARGETS="$thread_targets" scripts/setup.sh build-tsan -DTARVIK_SANITIZE=thread
if ctest --test-dir build-tsan -N -L thread | grep -q "Total Tests: [1-9]"; then
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    ctest --test-dir build-tsan --output-on-failure -j"$jobs" -L thread
else
  echo "no thread tests yet"
fi

echo "== fuzz build (clang, AddressSanitizer + UndefinedBehaviorSanitizer + libFuzzer)"
# Only the fuzz targets run here, so only they (and what they load) are built.
fuzz_targets="update_container"
for seeds in */fuzz/corpus/*/; do
  fuzz_targets="$fuzz_targets $(basename "$seeds")_fuzz"
done
CC=clang CXX=clang++ TARVIK_BUILD_TARGETS="$fuzz_targets" \
  scripts/setup.sh build-fuzz -DTARVIK_FUZZ=ON
# Every seed and every input that once crashed a target runs once.
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-fuzz --output-on-failure -L fuzz
# Then each target mutates for a bounded time (15 s each: nine targets, under 3 minutes). New inputs
# go to a scratch corpus, never into the committed seeds; a crash stops the run and leaves its
# input in build-fuzz/fuzz-artifacts.
fuzz_seconds=${TARVIK_FUZZ_SECONDS:-15}
top=$(pwd)
mkdir -p build-fuzz/fuzz-artifacts
for seeds in */fuzz/corpus/*/; do
  name=$(basename "$seeds")_fuzz
  scratch="$top/build-fuzz/fuzz-corpus/$name"
  mkdir -p "$scratch"
  log="$top/build-fuzz/fuzz-artifacts/$name.log"
  if ! ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    "build-fuzz/fuzz/$name" -max_total_time="$fuzz_seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$top/build-fuzz/fuzz-artifacts/$name-" \
    "$scratch" "$top/$seeds" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "$name: CRASH (input in build-fuzz/fuzz-artifacts)"
    exit 1
  fi
  echo "$name: $(grep -o 'number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$') executions"
done
