#!/usr/bin/env bash
# CPU used by an idle Quorvale: the real program on a virtual display with two
# ordinary USB devices and no dock, one dock, then twenty docks with long
# names, each measured over the given time.
#   bench/idle_cpu.sh [BUILD_DIR] [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
seconds=${2:-60}
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}
export XDG_STATE_HOME=$(mktemp -d) # an upgrade history of its own

for setup in "no dock:no-dock" "one dock:demo" "20 docks:twenty-docks"; do
  SETUP=${setup%%:*} SECONDS_TO_MEASURE=$seconds BIN=$build/src/quorvale CORES=$(nproc) \
  DEVICES=$PWD/testsupport/devices/${setup#*:}.umockdev \
  xvfb-run -a -s "-noreset -screen 0 1280x800x24" bash -c '
    setsid umockdev-run --device "$DEVICES" -- "$BIN" >/dev/null 2>&1 &
    group=$!
    trap "kill -- -$group 2>/dev/null || true" EXIT
    timeout 20 xdotool search --sync --onlyvisible --name "^Quorvale$" >/dev/null
    pid=$(pgrep -g "$group" -x quorvale)
    # CPU nanoseconds of all the process threads.
    ticks() { cat /proc/$pid/task/*/schedstat | awk "{ t += \$1 } END { printf \"%d\", t }"; }
    sleep 2
    before=$(ticks)
    sleep "$SECONDS_TO_MEASURE"
    after=$(ticks)
    awk -v t=$((after - before)) -v s="$SECONDS_TO_MEASURE" -v what="$SETUP" -v c="$CORES" \
      "BEGIN { printf \"%-8s cores=%d idle_cpu_ms=%.1f over %ds: %.3f%% of one core (target < 0.5%%)\n\", what, c, t/1e6, s, 100*t/1e9/s }"
  '
done
