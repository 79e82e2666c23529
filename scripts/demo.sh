#!/usr/bin/env bash
# The main job, end to end: sets up and builds (installing missing Debian packages first), starts
# the simulated module with its default profile in a fresh device map, and runs a firmware update
# with the program exactly as an operator would (no arguments). The program asks for the enter
# key before the update starts and again at the end; without a terminal it goes on by itself.
# The simulator is stopped afterwards and the exit status is the program's.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)

scripts/setup.sh build

work=$(mktemp -d "${TMPDIR:-/tmp}/dralmoor-demo.XXXXXX")
map="$work/device-map"
mkdir "$map"
sim_pid=""
cleanup() {
  if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
    kill "$sim_pid"
    wait "$sim_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# The module takes 1.5 s from reporting its self-restart to going away, time enough for the
# program's once-a-second read to see that report.
"$top/build/bin/tarvik-sim" --map "$map" --set self_restart_ms=1500 --log "$work/module.log" >"$work/module.out" 2>&1 &
sim_pid=$!
for _ in $(seq 1 100); do
  if ls "$map" 2>/dev/null | grep -q mdm; then break; fi
  sleep 0.1
done
if ! ls "$map" | grep -q mdm; then
  echo "The simulated module did not start:" >&2
  cat "$work/module.out" >&2
  exit 1
fi
echo "== Simulated Tarvik Module on $(readlink "$map"/*mdm*) (device map $map)"
echo

# The program writes its update container into the current directory and removes it at the end.
cd "$work"
status=0
TARVIK_DEVICE_MAP="$map" "$top/build/bin/dralmoor" || status=$?
echo
echo "== dralmoor exit status: $status"
exit "$status"
