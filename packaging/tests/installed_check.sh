#!/usr/bin/env bash
# Checks an installed dralmoor: the files are where a service PC expects them, the example client
# builds from the installed development files with pkg-config and runs against the installed
# simulator, and tarvik lists the update paths of the installed update container.
#
# Usage: installed_check.sh ROOT PREFIX LIBDIR [EXTRA_CFLAGS]
#   ROOT    "/" for a real installation, else the staging directory (DESTDIR)
#   PREFIX  the install prefix (/usr, /usr/local, ...)
#   LIBDIR  the library directory below PREFIX (lib, lib/x86_64-linux-gnu, ...)
#   EXTRA_CFLAGS  added to the example's compile and link (e.g. sanitizer flags of the build)
set -euo pipefail
root=${1%/}
prefix=$2
libdir=$prefix/$3
extra_cflags=${4:-}
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
sim_pid=
cleanup() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# Every installed file that others rely on, with its mode.
while read -r mode path; do
  file=$root${path//@LIBDIR@/$libdir}
  file=${file//@PREFIX@/$prefix}
  [ -e "$file" ] || fail "missing $file"
  actual=$(stat -c %a "$(readlink -f "$file")")
  [ "$actual" = "$mode" ] || fail "$file has mode $actual, not $mode"
done <<EOF
755 @PREFIX@/bin/dralmoor
755 @PREFIX@/bin/tarvik
755 @PREFIX@/bin/tarvik-sim
644 @LIBDIR@/libkvo.so.3
644 @LIBDIR@/libkvo.so
444 @LIBDIR@/dralmoor/libupdate_container.dll
644 @LIBDIR@/pkgconfig/kvo.pc
644 @PREFIX@/include/kvo.h
644 @PREFIX@/include/kvo/kvo_update.h
644 @PREFIX@/lib/udev/rules.d/70-tarvik-module.rules
644 @PREFIX@/lib/systemd/system/tarvik-update@.service
644 @PREFIX@/share/man/man1/dralmoor.1.gz
644 @PREFIX@/share/man/man1/tarvik.1.gz
644 @PREFIX@/share/man/man1/tarvik-sim.1.gz
644 @PREFIX@/share/man/man3/kvo.3.gz
644 @PREFIX@/share/doc/libkvo-dev/examples/kvo_example.c
EOF
soname=$(objdump -p "$root$libdir/libkvo.so" | awk '$1 == "SONAME" {print $2}')
[ "$soname" = "libkvo.so.3" ] || fail "SONAME is '$soname', not libkvo.so.3"
grep -q "ExecStart=$prefix/bin/tarvik .* fwupdate $libdir/dralmoor/libupdate_container.dll" \
  "$root$prefix/lib/systemd/system/tarvik-update@.service" || fail "the unit names other files"

# The example client, built as its page says, against the installed files only.
export PKG_CONFIG_PATH=$root$libdir/pkgconfig
[ "$root" = "" ] || export PKG_CONFIG_SYSROOT_DIR=$root
[ "$(pkg-config --modversion kvo)" = "3.0" ] || fail "kvo.pc gives version $(pkg-config --modversion kvo)"
# shellcheck disable=SC2046,SC2086
cc -std=c11 -Wall -Wextra -Werror $extra_cflags "$root$prefix/share/doc/libkvo-dev/examples/kvo_example.c" \
  $(pkg-config --cflags --libs kvo) -o "$work/kvo_example"

# Run against the installed simulator, from a working directory of its own.
mkdir "$work/map" "$work/run"
"$root$prefix/bin/tarvik-sim" --map "$work/map" >"$work/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 50); do
  ls "$work/map"/*mdm >/dev/null 2>&1 && break
  sleep 0.1
done
export TARVIK_DEVICE_MAP=$work/map
[ "$root" = "" ] || export LD_LIBRARY_PATH=$root$libdir
cd "$work/run"
"$work/kvo_example" >"$work/example.out" 2>&1 || { cat "$work/example.out"; fail "example client"; }
grep -q "^IMEI: 353456789012345$" "$work/example.out" || { cat "$work/example.out"; fail "example output"; }
grep -q "^ATI (OK):" "$work/example.out" || { cat "$work/example.out"; fail "example AT answer"; }

# The installed container is accepted by the load guard and lists its paths.
"$root$prefix/bin/tarvik" fwupdate-path "$root$libdir/dralmoor/libupdate_container.dll" \
  </dev/null >"$work/paths.out" 2>&1 || { cat "$work/paths.out"; fail "tarvik fwupdate-path"; }
grep -q "R5C/1  -> R5E/1" "$work/paths.out" || { cat "$work/paths.out"; fail "update paths"; }
echo "installed files, example client and tarvik fwupdate-path: ok"
