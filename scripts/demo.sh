#!/usr/bin/env bash
# Builds everything (installing missing Debian packages first) and shows the module-control
# library's identity through its C interface.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh build
build/bin/kvo-info
