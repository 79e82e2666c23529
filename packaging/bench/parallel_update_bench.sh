#!/usr/bin/env bash
# Benchmark (not a test): updates 1 and then 4 simulated modules side by side, one
# "tarvik -t PORT fwupdate" process per module as a service PC runs them, and prints each round's
# wall time and their ratio (goal: at most 1.2). All modules of a round share one device map, as
# the modules of one PC share /dev/serial/by-id.
# Usage: packaging/bench/parallel_update_bench.sh [--quick] [BUILD_DIR]
#   --quick  waits divided by 10 (TARVIK_WAIT_DIVISOR): the ratio then weighs the work, not the
#            fixed waits
set -euo pipefail
divisor=""
if [ "${1:-}" = "--quick" ]; then
  divisor=10
  shift
fi
build=$(cd "${1:-$(dirname "$0")/../../build}" && pwd)
container=$build/lib/libupdate_container.dll
work=$(mktemp -d "${TMPDIR:-/tmp}/parallel-bench.XXXXXX")
sims=()
cleanup() {
  for pid in "${sims[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${sims[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# One round: N modules, N updates at once; prints the wall time in seconds.
round() {
  local count=$1 map=$work/map-$1 pids=() start end i status=0
  mkdir "$map"
  sims=()
  for i in $(seq "$count"); do
    # Each module its own identity; 1.5 s from the self-restart report to going away, as the
    # demo's module, so that the program reads that report.
    "$build/bin/tarvik-sim" --map "$map" --at-link "tarvik-000$i-if00-mdm" \
      --second-link "tarvik-000$i-if02-diag" --set "imei=35345678901234$i" \
      --set "serial_number=TRV0000000$i" --set self_restart_ms=1500 \
      >"$work/sim-$count-$i.log" 2>&1 &
    sims+=($!)
  done
  for _ in $(seq 100); do
    [ "$(ls "$map" | grep -c mdm)" -eq "$count" ] && break
    sleep 0.1
  done
  start=$(date +%s.%N)
  for i in $(seq "$count"); do
    (cd "$work" && env TARVIK_DEVICE_MAP="$map" ${divisor:+TARVIK_WAIT_DIVISOR=$divisor} \
      "$build/bin/tarvik" -q -d "$work/update-$count-$i.log" -t "$map/tarvik-000$i-if00-mdm" \
      fwupdate "$container" </dev/null) &
    pids+=($!)
  done
  for i in "${!pids[@]}"; do
    if ! wait "${pids[$i]}"; then
      echo "update $((i + 1)) of $count failed; log: $work/update-$count-$((i + 1)).log" >&2
      status=1
    fi
  done
  end=$(date +%s.%N)
  for pid in "${sims[@]}"; do kill "$pid"; wait "$pid" 2>/dev/null || true; done
  sims=()
  [ "$status" -eq 0 ] || { tail -20 "$work/update-$count-1.log" >&2; exit 1; }
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f\n", b - a }'
}

one=$(round 1)
four=$(round 4)
awk -v one="$one" -v four="$four" -v note="${divisor:+, waits divided by $divisor}" 'BEGIN {
  printf "1 module:  %.1f s\n4 modules: %.1f s (side by side)\nratio:     %.2f (goal <= 1.2)%s\n",
         one, four, four / one, note }'
