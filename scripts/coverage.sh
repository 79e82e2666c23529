#!/usr/bin/env bash
# Builds with gcc's --coverage, runs every test, and prints line and branch coverage of the product
# code. The simulator, tests, test support, fuzz targets and benchmarks are left out of the figures.
# Usage: scripts/coverage.sh [BUILD_DIR]   (default build-coverage)
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build-coverage}

if ! command -v gcovr >/dev/null 2>&1; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq gcovr >/dev/null
fi

# ccache with a base directory records relative source paths, which gcov cannot resolve.
unset CCACHE_BASEDIR

# Old counters would add to the new run's; the package generators run at build time, so their
# output goes too, or a rebuild would not run them again and they would count as never run.
if [ -d "$build_dir" ]; then
  find "$build_dir" -name '*.gcda' -delete
  find "$build_dir" -path '*_packages/packages.cpp' -delete
fi
scripts/setup.sh "$build_dir" -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_FLAGS=--coverage -DCMAKE_CXX_FLAGS=--coverage \
  -DCMAKE_EXE_LINKER_FLAGS=--coverage -DCMAKE_SHARED_LINKER_FLAGS=--coverage
ctest --test-dir "$build_dir" -j"$(nproc)" --output-on-failure || true

gcovr --root . --object-directory "$build_dir" \
  --exclude '(.*/)?tests/.*' --exclude '(.*/)?testing/.*' --exclude '.*/fuzz/.*' \
  --exclude '.*/bench/.*' --exclude 'simulator/.*' --exclude '.*_test\.cpp' \
  --exclude "$build_dir/.*" \
  --gcov-ignore-parse-errors --print-summary -o "$build_dir/coverage.txt"
