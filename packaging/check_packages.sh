#!/usr/bin/env bash
# Builds the Debian packages from a packaged build (test seams compiled out), compares their
# contents with packaging/tests/package_contents.txt, runs lintian on them, and, as root, installs
# them with apt, checks the installed files (tests/installed_check.sh) and removes them again.
# Usage: packaging/check_packages.sh [BUILD_DIR]        (default build-pkg)
#        packaging/check_packages.sh --update-contents  rewrites the contents list
set -euo pipefail
cd "$(dirname "$0")/.."
update_contents=false
if [ "${1:-}" = "--update-contents" ]; then
  update_contents=true
  shift
fi
build=${1:-build-pkg}
packages=(dralmoor libkvo3 libkvo-dev tarvik-sim)

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
# lintian checks the packages, udevadm reads the installed rule.
if ! command -v lintian >/dev/null || ! command -v udevadm >/dev/null; then
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq lintian udev >/dev/null
fi

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON -DTARVIK_TEST_SEAMS=OFF >/dev/null
# Only what the packages hold is built.
cmake --build "$build" -j"$(nproc)" --target dralmoor tarvik tarvik-sim kvo update_container \
  packaging_files
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB >/dev/null)

# Contents: type, mode, owner and path of every entry (link targets included), the multiarch
# directory written as @MULTIARCH@.
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
contents=$(for package in "${packages[@]}"; do
  echo "[$package]"
  dpkg-deb -c "$build/${package}"_*.deb | awk '{ $3 = $4 = $5 = ""; print }' |
    sed -e "s|$multiarch|@MULTIARCH@|g" -e 's/  */ /g' | sort -k3
done)
expected=packaging/tests/package_contents.txt
if $update_contents; then
  echo "$contents" >"$expected"
  echo "wrote $expected"
  exit 0
fi
if ! diff -u "$expected" <(echo "$contents"); then
  echo "package contents differ from $expected (packaging/check_packages.sh --update-contents)"
  exit 1
fi
echo "package contents: ok"

# Errors fail the check; warnings are shown.
lintian --fail-on error --tag-display-limit 0 "$build"/*.deb
echo "lintian: no errors"

if [ "$(id -u)" -ne 0 ]; then
  echo "not root: the packages are not installed"
  exit 0
fi
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$(pwd)/$build"/*.deb >/dev/null
trap 'DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq "${packages[@]}" >/dev/null' EXIT
packaging/tests/installed_check.sh / /usr "lib/$multiarch"
# The test seams are compiled out: no installed binary reads their variables, and tarvik set
# about with both gives no seam warning.
for binary in /usr/bin/dralmoor /usr/bin/tarvik "/usr/lib/$multiarch/libkvo.so.3"; do
  if strings -a "$binary" | grep -qxE 'TARVIK_(WAIT_DIVISOR|SERVICE_SCRIPT)'; then
    echo "$binary reads a test seam"; exit 1
  fi
done
seams=$(TARVIK_WAIT_DIVISOR=10 TARVIK_SERVICE_SCRIPT=/nonexistent tarvik fwupdate-path \
  "/usr/lib/$multiarch/dralmoor/libupdate_container.dll" </dev/null 2>&1 || true)
if grep -q "TARVIK_" <<<"$seams"; then echo "$seams"; echo "a test seam is live"; exit 1; fi
# udev reads the installed rule without a complaint ("<file>:<line> <what>").
udev_test=$(udevadm test --action=add /sys/class/tty/tty0 2>&1 || true)
grep -q "Reading rules file: .*/70-tarvik-module.rules$" <<<"$udev_test" || {
  echo "$udev_test" | tail -5; echo "udev did not read the rule"; exit 1; }
if grep "70-tarvik-module.rules:" <<<"$udev_test"; then echo "udev refuses parts of the rule"; exit 1; fi
# The service unit as systemd reads an instance of it; any complaint fails.
if command -v systemd-analyze >/dev/null; then
  units=$(mktemp -d)
  cp /usr/lib/systemd/system/tarvik-update@.service "$units/tarvik-update@tarvik-0001-if00-mdm.service"
  complaints=$(systemd-analyze verify --man=no "$units/tarvik-update@tarvik-0001-if00-mdm.service" 2>&1)
  rm -rf "$units"
  [ -z "$complaints" ] || { echo "$complaints"; echo "the service unit has faults"; exit 1; }
fi
echo "packages: ok"
