#!/usr/bin/env bash
# Installs the Debian packages the build needs (only those missing), then configures and builds.
# Usage: scripts/setup.sh [BUILD_DIR [extra cmake arguments...]]
# TARVIK_BUILD_TARGETS, if set, names the targets to build (space-separated) instead of all.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(build-essential cmake pkg-config libapr1-dev libsystemd-dev libgtest-dev libgmock-dev
          clang libclang-rt-dev
          # the service control's test: a private bus and a fake service manager in Debian's python3
          dbus-daemon python3 python3-dbus python3-gi)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi

build_dir=${1:-build}
shift || true
cmake -S . -B "$build_dir" "$@" >/dev/null
if [ -n "${TARVIK_BUILD_TARGETS:-}" ]; then
  # shellcheck disable=SC2086
  cmake --build "$build_dir" -j"$(nproc)" --target $TARVIK_BUILD_TARGETS
else
  cmake --build "$build_dir" -j"$(nproc)"
fi
