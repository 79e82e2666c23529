#!/usr/bin/env bash
# Installs a build into a staging directory and checks the result there (installed_check.sh).
# Usage: install_test.sh BUILD_DIR PREFIX LIBDIR [EXTRA_CFLAGS]
set -euo pipefail
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
DESTDIR=$stage cmake --install "$1" >/dev/null
"$(dirname "$0")/installed_check.sh" "$stage" "$2" "$3" "${4:-}"
