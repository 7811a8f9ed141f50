#!/usr/bin/env bash
# Start-up time (exec to the main window mapped, median of RUNS) and resident
# memory 2 s after start, of Quorvale with one simulated dock and the firmware
# tool simulator beside it, against a bare Qt program with the same window.
# Both run under the same fake device tree on a virtual display.
#   bench/startup.sh [BUILD_DIR] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
runs=${2:-10}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$build/src/quorvale" "$build/testsupport/simulator/Talvex_Firmware_Update" "$work/"
export XDG_RUNTIME_DIR=$work XDG_CONFIG_HOME=$work/config TALVEX_SIM_STATE=$work/state
export DEVICES=$PWD/testsupport/devices/demo.umockdev WORK=$work RUNS=$runs BARE=$build/bench/startup/bench_bare_window

xvfb-run -a -s "-screen 0 1280x800x24" bash -c '
  # One start: prints "<ms to the window mapped> <resident kB 2 s after start>".
  measure() {
    local start=$(date +%s%N)
    setsid umockdev-run --device "$DEVICES" -- "$1" >/dev/null 2>&1 &
    local group=$!
    timeout 20 bash -c "until xdotool search --onlyvisible --name ^Quorvale\$ >/dev/null 2>&1; do :; done"
    local mapped=$(date +%s%N)
    sleep 2
    local pid=$(pgrep -g "$group" -n) # the program, started last in its group
    local rss=$(awk "/^VmRSS/ { print \$2 }" /proc/$pid/status)
    { kill -- -"$group"; wait "$group"; } 2>/dev/null || true
    timeout 20 bash -c "while xdotool search --onlyvisible --name ^Quorvale\$ >/dev/null 2>&1; do sleep 0.05; done"
    echo $(( (mapped - start) / 1000000 )) "$rss"
  }
  median() { sort -n | awk "{ v[NR] = \$1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }"; }
  for i in $(seq "$RUNS"); do
    measure "$BARE" >>"$WORK/bare.txt"
    measure "$WORK/quorvale" >>"$WORK/quorvale.txt"
  done
  bare_ms=$(cut -d" " -f1 "$WORK/bare.txt" | median); app_ms=$(cut -d" " -f1 "$WORK/quorvale.txt" | median)
  bare_kb=$(cut -d" " -f2 "$WORK/bare.txt" | median); app_kb=$(cut -d" " -f2 "$WORK/quorvale.txt" | median)
  awk -v b="$bare_ms" -v a="$app_ms" -v bk="$bare_kb" -v ak="$app_kb" -v n="$RUNS" "BEGIN {
    printf \"start-up median of %d: bare %.0f ms, quorvale %.0f ms: %.2fx (target <= 1.2x)\n\", n, b, a, a / b
    printf \"resident memory 2 s after start: bare %.1f MB, quorvale %.1f MB: %.2fx (target <= 1.2x)\n\", bk / 1024, ak / 1024, ak / bk
  }"
'
