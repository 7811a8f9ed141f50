#!/usr/bin/env bash
# quorvale-cli list --json with one simulated dock, against running the
# firmware tool's version query directly: the median wall time of each over
# RUNS alternate runs, the overhead (median of the program minus median of
# the tool), and the program's peak resident memory (its own and its
# children's, from wait4). Also which GUI libraries it loads (none expected).
# The dock is a umockdev testbed kept by usb_testbed_holder for every run.
#   bench/cli.sh [BUILD_DIR] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
runs=${2:-20}
work=$(mktemp -d)
cleanup() { exec 7>&- 2>/dev/null || true; [ -z "${holder:-}" ] || wait "$holder" 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
mkdir -p "$work/bin"
cp "$build/src/quorvale-cli" "$build/testsupport/simulator/Talvex_Firmware_Update" "$work/bin/"
export XDG_RUNTIME_DIR=$work XDG_CONFIG_HOME=$work/config XDG_STATE_HOME=$work/state TALVEX_SIM_STATE=$work/state-file
mkfifo "$work/control"
"$build/testsupport/testbed/usb_testbed_holder" testsupport/devices/demo.umockdev "$work/testbed" <"$work/control" >/dev/null &
holder=$!
exec 7>"$work/control"
for _ in $(seq 100); do [ -s "$work/testbed" ] && break; sleep 0.05; done
export UMOCKDEV_DIR=$(cat "$work/testbed")

echo "cores=$(nproc)"
python3 - "$work/bin" "$runs" <<'PY'
import os, statistics, subprocess, sys, time

bin_dir, runs = sys.argv[1], int(sys.argv[2])
cli = [os.path.join(bin_dir, "quorvale-cli"), "list", "--json"]
tool = [os.path.join(bin_dir, "Talvex_Firmware_Update"), "-vid", "21C4", "-pid", "B070", "-v", "-l", "debug"]
preload = dict(os.environ, LD_PRELOAD="libumockdev-preload.so.0")

def run(argv, env):
    """Wall time in ms and peak resident memory in MB of one run."""
    with open(os.path.join(bin_dir, "log"), "w+b") as log:
        start = time.perf_counter()
        child = subprocess.Popen(argv, env=env, stdout=subprocess.PIPE, stderr=log)
        out = child.stdout.read()
        _, status, usage = os.wait4(child.pid, 0)
        elapsed = (time.perf_counter() - start) * 1000
        # The tool's output the program saved under /tmp is not kept.
        log.seek(0)
        for line in log.read().decode(errors="replace").splitlines():
            if "[Sync] Output saved to: " in line:
                os.unlink(line.split("[Sync] Output saved to: ", 1)[1])
    child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode != 0:
        sys.exit(f"{argv[0]} exited with {child.returncode}")
    if argv is cli and b'"version": "1.0.3"' not in out:
        sys.exit("quorvale-cli listed no dock with version 1.0.3")
    return elapsed, usage.ru_maxrss / 1024

run(cli, preload)  # warm the page cache
cli_ms, tool_ms, cli_mb = [], [], []
for _ in range(runs):
    ms, mb = run(cli, preload)
    cli_ms.append(ms)
    cli_mb.append(mb)
    tool_ms.append(run(tool, os.environ)[0])
cm, tm = statistics.median(cli_ms), statistics.median(tool_ms)
print(f"quorvale-cli list --json, one dock: median {cm:.1f} ms; the tool alone: median {tm:.1f} ms; "
      f"overhead {cm - tm:.1f} ms ({runs} runs each)")
print(f"peak resident memory: max {max(cli_mb):.1f} MB, median {statistics.median(cli_mb):.1f} MB")

# Every library the program loads, also through dlopen, as the dynamic linker reports it.
trace = os.path.join(bin_dir, "ld-trace")
traced = subprocess.run(cli, env=dict(preload, LD_DEBUG="libs", LD_DEBUG_OUTPUT=trace),
                        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, check=True)
for line in traced.stderr.decode(errors="replace").splitlines():
    if "[Sync] Output saved to: " in line:
        os.unlink(line.split("[Sync] Output saved to: ", 1)[1])
loaded = set()
for name in os.listdir(bin_dir):
    if name.startswith("ld-trace"):
        for line in open(os.path.join(bin_dir, name), errors="replace"):
            if "calling init:" in line:
                loaded.add(os.path.basename(line.split("calling init:")[1].strip()))
gui = sorted(l for l in loaded if any(k in l for k in ("Qt6Gui", "Qt6Widgets", "libX11", "libxcb", "libGL", "wayland")))
print("GUI libraries loaded: " + (", ".join(gui) if gui else "none") + f" ({len(loaded)} libraries in all)")
PY
