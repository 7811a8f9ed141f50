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
export XDG_RUNTIME_DIR=$work XDG_CONFIG_HOME=$work/config XDG_STATE_HOME=$work/history TALVEX_SIM_STATE=$work/state
export DEVICES=$PWD/testsupport/devices/demo.umockdev WORK=$work RUNS=$runs BARE=$build/bench/startup/bench_bare_window

xvfb-run -a -s "-noreset -screen 0 1280x800x24" bash -c '
  # One start: prints "<ms to the window mapped> <resident kB 2 s after start>".
  measure() {
    local start=$(date +%s%N)
    setsid umockdev-run --device "$DEVICES" -- "$1" >/dev/null 2>&1 &
    local group=$!
    timeout 20 bash -c "until xdotool search --onlyvisible --name ^Quorvale\$ >/dev/null 2>&1; do :; done"
    local mapped=$(date +%s%N)
    sleep 2
    # The program itself, found by its executable: the newest process of the
    # group can be a helper, such as the session bus Qt starts when none runs.
    local pid= p exe=$(realpath "$1")
    for p in $(pgrep -g "$group"); do
      [ "$(readlink /proc/$p/exe 2>/dev/null)" = "$exe" ] && pid=$p
    done
    [ -n "$pid" ] || { echo "no process runs $exe" >&2; exit 1; }
    local rss=$(awk "/^VmRSS/ { print \$2 }" /proc/$pid/status)
    { kill -- -"$group"; wait "$group"; } 2>/dev/null || true
    timeout 20 bash -c "while xdotool search --onlyvisible --name ^Quorvale\$ >/dev/null 2>&1; do sleep 0.05; done"
    echo $(( (mapped - start) / 1000000 )) "$rss"
  }
  median() { sort -n | awk "{ v[NR] = \$1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }"; }
  range() { sort -n | awk "NR == 1 { lo = \$1 } { hi = \$1 } END { printf \"%s-%s\", lo, hi }"; }
  for i in $(seq "$RUNS"); do
    measure "$BARE" >>"$WORK/bare.txt"
    measure "$WORK/quorvale" >>"$WORK/quorvale.txt"
  done
  bare_ms=$(cut -d" " -f1 "$WORK/bare.txt" | median); app_ms=$(cut -d" " -f1 "$WORK/quorvale.txt" | median)
  bare_kb=$(cut -d" " -f2 "$WORK/bare.txt" | median); app_kb=$(cut -d" " -f2 "$WORK/quorvale.txt" | median)
  awk -v b="$bare_ms" -v a="$app_ms" -v bk="$bare_kb" -v ak="$app_kb" -v n="$RUNS" -v c="$(nproc)" \
      -v br="$(cut -d" " -f1 "$WORK/bare.txt" | range)" -v ar="$(cut -d" " -f1 "$WORK/quorvale.txt" | range)" \
      -v bkr="$(cut -d" " -f2 "$WORK/bare.txt" | range)" -v akr="$(cut -d" " -f2 "$WORK/quorvale.txt" | range)" "BEGIN {
    printf \"%d cores; start-up median of %d: bare %.0f ms (%s), quorvale %.0f ms (%s): %.2fx (target <= 1.2x)\n\", c, n, b, br, a, ar, a / b
    printf \"resident memory 2 s after start, median of %d: bare %.1f MB (%s kB), quorvale %.1f MB (%s kB): %.2fx (target <= 1.2x)\n\", n, bk / 1024, bkr, ak / 1024, akr, ak / bk
  }"
'
