#!/usr/bin/env bash
# One end-to-end case of quorvale-cli:
#   e2e_cli.sh CASE QUORVALE_CLI SIMULATOR TESTBED_HOLDER DEVICES_DIR
# The real program, with the simulator beside it, over a umockdev testbed that
# usb_testbed_holder keeps (and plugs a dock into with udev's events); no
# display. Each case has its own settings, history and runtime folders.
set -euo pipefail
case_name=$1 cli=$2 simulator=$3 holder=$4 devices=$5
here=$(cd "$(dirname "$0")" && pwd)

work=$(mktemp -d)
mkdir -p "$work/bin" "$work/firmware"
cp "$cli" "$simulator" "$work/bin/"
make_image=$(dirname "$simulator")/make_firmware_image
"$make_image" --version 2.1.0 --out "$work/firmware/dock-2.1.0.bin" >/dev/null
"$make_image" --version 2.1.0 --corrupt --out "$work/firmware/dock-corrupt.bin" >/dev/null
export TALVEX_SIM_STATE=$work/dock-state TALVEX_SIM_VERSION=1.0.3 TALVEX_SIM_PACE_MS=100
export XDG_RUNTIME_DIR=$work XDG_CONFIG_HOME=$work/config XDG_STATE_HOME=$work/state
export LANGUAGE=en_US
unset TALVEX_SIM_MISBEHAVE
image=$work/firmware/dock-2.1.0.bin

fail() {
  echo "FAIL ($case_name): $*" >&2
  for f in out err; do [ -f "$work/$f" ] && { echo "--- $f:" >&2; cat "$work/$f" >&2; }; done
  exit 1
}
cleanup() {
  # The tool's outputs the program saved under /tmp go with the case.
  [ ! -f "$work/saved" ] || while IFS= read -r saved; do rm -f -- "$saved"; done <"$work/saved"
  exec 7>&- 2>/dev/null || true
  [ -z "${holder_pid:-}" ] || wait "$holder_pid" 2>/dev/null || true
  [ -z "${helpers:-}" ] || kill $helpers 2>/dev/null || true
}
trap cleanup EXIT

# Keeps a testbed with the devices of $1 (demo, no-dock, two-docks) for the
# case; "plug" on fd 7 plugs a dock in, with udev's "add" event.
start_testbed() {
  mkfifo "$work/control"
  "$holder" "$devices/$1.umockdev" "$work/testbed" <"$work/control" >"$work/holder.out" &
  holder_pid=$!
  exec 7>"$work/control"
  for _ in $(seq 100); do [ -s "$work/testbed" ] && break; sleep 0.05; done
  UMOCKDEV_DIR=$(cat "$work/testbed") || fail "no testbed"
  export UMOCKDEV_DIR
}
plug_dock() { echo plug >&7; }

# Runs quorvale-cli on the testbed: its output in $work/out and $work/err,
# its exit status in $status.
run_cli() {
  status=0
  umockdev-wrapper "$work/bin/quorvale-cli" "$@" >"$work/out" 2>"$work/err" </dev/null || status=$?
  saved_logs
}
saved_logs() { sed -n 's/.*\] Output saved to: //p' "$work/err" "$work/out" >>"$work/saved" 2>/dev/null || true; }
expect_status() { [ "$status" = "$1" ] || fail "exit status $status, expected $1"; }
# A value of the JSON document on standard output, by a Python expression on d;
# the whole of standard output must be that one document.
json() { python3 -c 'import json, sys; d = json.load(open(sys.argv[1])); print(eval(sys.argv[2]))' "$work/out" "$1"; }
expect_json() {
  local got
  got=$(json "$1") || fail "standard output is not one JSON document"
  [ "$got" = "$2" ] || fail "$1 is '$got', expected '$2'"
}
# Standard error holds log lines only, each "date time quorvale-cli[pid:tid] ...".
stderr_is_log() {
  ! grep -v '^[0-9-]* [0-9:.]* quorvale-cli\[[0-9]*:[0-9]*\] ' "$work/err" || fail "not a log line on standard error"
}
dock_version() { cat "$TALVEX_SIM_STATE" 2>/dev/null || echo 1.0.3; }

case_list_table() {
  start_testbed demo
  run_cli list
  expect_status 0
  head -n 1 "$work/out" | grep -q '^Vendor  *Product  *FWVersion$' || fail "no header"
  grep -q '^Talvex  *TD-70 USB-C Dock  *1\.0\.3$' "$work/out" || fail "no row for the dock"
  [ "$(wc -l <"$work/out")" = 2 ] || fail "more than one dock listed"
  stderr_is_log
  grep -q '\[Sync\] Found firmware version: 1.0.3$' "$work/err" || fail "the version query was not logged"
}

case_list_chinese() {
  start_testbed demo
  LANGUAGE=zh_CN run_cli list
  expect_status 0
  head -n 1 "$work/out" | grep -q '^制造商  *产品  *固件版本$' || fail "no Chinese header"
  grep -q '\[Sync\] Found firmware version: 1.0.3$' "$work/err" || fail "the log is not English"
  LANGUAGE=zh_CN run_cli wait --timeout 1x
  expect_status 64
  grep -q '^quorvale-cli: --timeout 需要 0 到 86400 之间的整数秒数' "$work/err" || fail "the hint is not Chinese"
}

case_list_json() {
  start_testbed demo
  run_cli list --json
  expect_status 0
  expect_json 'len(d["docks"])' 1
  expect_json 'd["docks"][0]["manufacturer"]' Talvex
  expect_json 'd["docks"][0]["product"]' 'TD-70 USB-C Dock'
  expect_json 'd["docks"][0]["version"]' 1.0.3
  expect_json 'd["docks"][0]["sysfsPath"]' /sys/bus/usb/devices/1-2
  expect_json 'sorted(d["docks"][0])' "['manufacturer', 'product', 'serial', 'sysfsPath', 'version']"
  stderr_is_log
}

case_list_no_dock() {
  start_testbed no-dock
  run_cli list --json
  expect_status 2
  expect_json 'd' "{'docks': []}"
  run_cli list
  expect_status 2
  grep -qx 'No dock is connected.' "$work/out" || fail "no word about the missing dock"
}

case_usage() {
  start_testbed demo
  local args
  for args in "" "frobnicate" "list --yes" "upgrade" "upgrade $image --timeout 86401" "upgrade $image --timeout 2.5" \
              "history --limit -1" "wait --timeout" "list extra"; do
    # shellcheck disable=SC2086
    run_cli $args
    expect_status 64
    [ ! -s "$work/out" ] || fail "'$args' printed on standard output"
    [ "$(wc -l <"$work/err")" = 1 ] || fail "'$args' did not say one line"
    grep -q '^quorvale-cli: .*\(--help\|86400\|--limit\)' "$work/err" || fail "'$args' gave no hint"
  done
  run_cli upgrade --help
  expect_status 0
  grep -q -- '--timeout SECONDS' "$work/out" || fail "no help for upgrade"
  run_cli --version
  expect_status 0
  grep -qx "quorvale-cli $QUORVALE_VERSION" "$work/out" || fail "no version"
}

case_upgrade_success() {
  start_testbed demo
  run_cli upgrade "$image" --yes --json
  expect_status 0
  expect_json 'd["result"]' success
  expect_json 'd["exitStatus"]' 0
  expect_json 'd["versionBefore"]' 1.0.3
  expect_json 'd["versionAfter"]' 2.1.0
  expect_json 'd["image"]["path"]' "$image"
  expect_json 'd["image"]["size"] == '"$(stat -c %s "$image")" True
  expect_json 'd["image"]["sha256"]' "$(sha256sum "$image" | cut -d' ' -f1)"
  expect_json 'd["silenceLimitSeconds"]' 600
  expect_json 'd["dock"]["version"]' 1.0.3
  expect_json 'type(d["historyId"]).__name__' int
  expect_json 'd["started"].endswith("Z") and len(d["started"]) == 24' True
  expect_json 'd["started"] <= d["ended"]' True
  expect_json 'd["toolExitStatus"]' 0
  local log
  log=$(json 'd["log"]')
  [ -f "$log" ] || fail "no saved log at $log"
  [ "$(dock_version)" = 2.1.0 ] || fail "the dock was not flashed"
  grep -q 'Starting firmware upgrade for Talvex TD-70 USB-C Dock with file: ' "$work/err" || fail "no start line"
  grep -q '^\[0:00\] Upgrading firmware, do not disconnect USB device$' "$work/err" || fail "no status line"
  # Not a terminal: plain status lines, no escape sequence anywhere.
  ! grep -q $'\e' "$work/err" || fail "an escape sequence without a terminal"
}

case_upgrade_table() {
  start_testbed demo
  mkdir -p "$XDG_CONFIG_HOME/Quorvale"
  printf '[General]\nUpgradeTimeoutSeconds=45\n' >"$XDG_CONFIG_HOME/Quorvale/Quorvale.conf"
  run_cli upgrade "$image" --yes --verbose
  expect_status 0
  grep -qx 'Upgrade Success' "$work/out" || fail "no headline"
  grep -qx 'Firmware version now: 2.1.0' "$work/out" || fail "no version after"
  grep -q '^\[0:00\] Upgrading firmware, do not disconnect USB device$' "$work/out" || fail "no status line"
  grep -qx "The tool's output:" "$work/out" || fail "no tool output with --verbose"
  grep -q 'Firmware update completed' "$work/out" || fail "the tool's lines are missing"
  # The settings' silence limit applies where --timeout does not say.
  run_cli history --json --limit 1
  expect_json 'd["upgrades"][0]["silenceLimitSeconds"]' 45
}

case_upgrade_failed() {
  start_testbed demo
  # The simulated dock refuses the corrupt image, and the tool exits with 1.
  run_cli upgrade "$work/firmware/dock-corrupt.bin" --yes --json --timeout 30
  expect_status 1
  expect_json 'd["result"]' 'abnormal end'
  expect_json 'd["exitStatus"]' 1
  expect_json 'd["headline"]' 'Upgrade Failed'
  expect_json 'd["message"]' 'Upgrade tool exited abnormally!'
  expect_json '"Exit status: 1" in d["details"]' True
  expect_json '"payload CRC-32 mismatch" in d["details"]' True
  expect_json 'd["toolExitStatus"]' 1
  expect_json 'd["silenceLimitSeconds"]' 30
  expect_json 'd["versionAfter"]' 1.0.3
  [ "$(dock_version)" = 1.0.3 ] || fail "the version changed"
  # A tool that says the update failed, whatever else it says and returns.
  TALVEX_SIM_MISBEHAVE=fail-phrase-with-success run_cli upgrade "$image" --yes --json
  expect_status 1
  expect_json 'd["result"]' failed
  expect_json 'd["message"]' 'Firmware upgrade failed!'
  expect_json 'd["toolExitStatus"]' 0
}

case_upgrade_abnormal() {
  start_testbed demo
  TALVEX_SIM_MISBEHAVE=sigkill run_cli upgrade "$image" --yes --json
  expect_status 1
  expect_json 'd["result"]' 'abnormal end'
  expect_json 'd["toolSignal"]' 9
  expect_json 'd["toolExitStatus"]' None
}

case_upgrade_no_tool() {
  start_testbed demo
  rm "$work/bin/$(basename "$simulator")"
  run_cli upgrade "$image" --yes --json
  expect_status 1
  expect_json 'd["result"]' 'could not launch'
  expect_json 'd["versionBefore"]' None
  expect_json '"Talvex_Firmware_Update" in d["message"]' True
}

case_upgrade_refusals() {
  start_testbed demo
  : >"$work/empty.bin"
  run_cli upgrade "$work/empty.bin" --yes --json
  expect_status 1
  expect_json 'd["result"]' refused
  expect_json 'd["message"]' "The file $work/empty.bin is empty."
  run_cli upgrade "$work/firmware" --yes --json
  expect_status 1
  expect_json '"not a regular file" in d["message"]' True
  # Another process holds the tool: refused, naming it; nothing flashed.
  local lock=/run/lock/quorvale-firmware-tool.lock
  [ -d /run/lock ] || lock=$XDG_RUNTIME_DIR/quorvale-firmware-tool.lock
  ( exec 9>>"$lock" && flock -x 9 && exec sleep 30 ) &
  helpers=$!
  sleep 0.3
  run_cli upgrade "$image" --yes --json
  kill $helpers
  expect_status 1
  expect_json 'd["result"]' refused
  expect_json '"in use by process" in d["message"]' True
  grep -q '\[Sync\] Version query waits: ' "$work/err" || fail "the query did not say why it waits"
  [ "$(dock_version)" = 1.0.3 ] || fail "flashed anyway"
}

case_upgrade_two_docks() {
  start_testbed two-docks
  run_cli upgrade "$image" --yes --json
  expect_status 1
  expect_json 'd["result"]' refused
  expect_json 'd["message"].startswith("More than one dock is connected")' True
}

case_upgrade_no_dock() {
  start_testbed no-dock
  run_cli upgrade "$image" --yes --json
  expect_status 3
  expect_json 'd["result"]' 'no dock'
  expect_json 'd["dock"]' None
}

# Without a terminal to ask on and without --yes: refused, saying why.
case_no_terminal() {
  start_testbed demo
  run_cli upgrade "$image" --json
  expect_status 1
  expect_json 'd["result"]' 'not confirmed'
  expect_json '"--yes" in d["message"]' True
  run_cli upgrade "$image"
  expect_status 1
  grep -q -- '--yes' "$work/out" || fail "no reason given"
  [ "$(dock_version)" = 1.0.3 ] || fail "flashed without confirmation"
  run_cli history --json
  expect_json 'd["upgrades"]' '[]'
}

# On a terminal: the question, answered; Ctrl+C during the flash does not cut
# it (nor does a second), and the program ends with the flash's status.
case_ctrl_c() {
  start_testbed demo
  status=0
  LD_PRELOAD=libumockdev-preload.so.0 python3 "$here/pty_run.py" "$work/out" \
    --when '[y/N]' --send 'y\r' --when 'do not disconnect' --send '\x03' --when 'goes on' --send '\x03' \
    -- "$work/bin/quorvale-cli" upgrade "$image" || status=$?
  saved_logs
  expect_status 0
  grep -q 'Confirm Firmware Upgrade' "$work/out" || fail "no question"
  grep -q 'The firmware upgrade goes on; quorvale-cli will stop when it ends.' "$work/out" || fail "no word that it goes on"
  [ "$(grep -c 'goes on' "$work/out")" = 1 ] || fail "the second Ctrl+C was told too"
  grep -q $'\r\e\[K\[0:0[0-9]\] Upgrading firmware, do not disconnect USB device' "$work/out" || fail "no status line in place"
  grep -q 'Quit requested during a firmware upgrade; quitting when it ends' "$work/out" || fail "not logged"
  grep -q 'Upgrade Success' "$work/out" || fail "no result"
  [ "$(dock_version)" = 2.1.0 ] || fail "the flash did not complete"
  # Ctrl+C at the question just ends the program.
  status=0
  LD_PRELOAD=libumockdev-preload.so.0 python3 "$here/pty_run.py" "$work/out" --when '[y/N]' --send '\x03' \
    -- "$work/bin/quorvale-cli" upgrade "$work/firmware/dock-corrupt.bin" || status=$?
  saved_logs
  expect_status 1
  grep -q 'Quit requested by signal 2' "$work/out" || fail "the signal was not logged"
}

case_wait_plugged() {
  start_testbed no-dock
  local started
  started=$(date +%s%N)
  umockdev-wrapper "$work/bin/quorvale-cli" wait --json --timeout 30 >"$work/out" 2>"$work/err" &
  local waiter=$!
  sleep 1
  kill -0 $waiter 2>/dev/null || fail "wait ended before a dock came"
  plug_dock
  status=0
  wait $waiter || status=$?
  saved_logs
  expect_status 0
  expect_json 'd["docks"][0]["serial"]' TVX-PLUGGED-1
  expect_json 'd["docks"][0]["version"]' 1.0.3
  stderr_is_log
}

case_wait_timeout() {
  start_testbed no-dock
  local started=$SECONDS
  run_cli wait --json --timeout 1
  expect_status 3
  expect_json 'd' "{'docks': []}"
  [ $((SECONDS - started)) -le 4 ] || fail "waited too long"
  run_cli wait --timeout 1
  expect_status 3
  grep -qx 'No dock was connected within 1 s.' "$work/out" || fail "no word about the timeout"
  # A dock already there: at once.
  exec 7>&-
  wait "$holder_pid"
  rm "$work/control" "$work/testbed"
  start_testbed demo
  run_cli wait
  expect_status 0
  grep -q '^Talvex  *TD-70 USB-C Dock  *1\.0\.3$' "$work/out" || fail "no dock listed"
}

case_history() {
  start_testbed demo
  run_cli upgrade "$image" --yes --json
  expect_status 0
  run_cli upgrade "$work/firmware/dock-corrupt.bin" --yes --json
  expect_status 1
  run_cli history
  expect_status 0
  head -n 1 "$work/out" | grep -q '^Time  *Dock  *Image  *Version  *Result$' || fail "no header"
  sed -n 2p "$work/out" | grep -q 'Talvex TD-70 USB-C Dock  *dock-corrupt.bin  *2.1.0 → 2.1.0  *Ended abnormally$' || fail "newest first"
  sed -n 3p "$work/out" | grep -q 'dock-2.1.0.bin  *1.0.3 → 2.1.0  *Success$' || fail "the upgrade's row"
  run_cli history --json --limit 1
  expect_json 'len(d["upgrades"])' 1
  expect_json 'd["upgrades"][0]["result"]' 'abnormal end'
  run_cli history --json
  expect_json '[u["versionAfter"] for u in d["upgrades"]]' "['2.1.0', '2.1.0']"
  expect_json 'd["upgrades"][1]["image"]["size"] == '"$(stat -c %s "$image")" True
  expect_json 'd["upgrades"][1]["dock"]["manufacturer"]' Talvex
}

# The fleet playbook against this machine alone, its dock the testbed's: the
# command module's quorvale-cli inherits the testbed from ansible-playbook.
run_playbook() {
  status=0
  LD_PRELOAD=libumockdev-preload.so.0 ANSIBLE_LOCAL_TEMP=$work/ansible ANSIBLE_REMOTE_TEMP=$work/ansible \
    ANSIBLE_NOCOLOR=1 ANSIBLE_RETRY_FILES_ENABLED=0 ANSIBLE_PYTHON_INTERPRETER=/usr/bin/python3 \
    ansible-playbook -i localhost, -c local "$fleet/upgrade-docks.yml" -e fleet_hosts=all \
      -e "image=$image" -e target_version=2.1.0 -e "quorvale_cli=$work/bin/quorvale-cli" \
      -e "fleet_image_dir=$work/fleet-image" -e "fleet_summary=$work/out" "$@" >"$work/err" 2>&1 || status=$?
  saved_logs
}
case_fleet() {
  fleet=$here/../../docs/fleet
  start_testbed demo
  run_playbook
  expect_status 0
  expect_json 'd["targetVersion"]' 2.1.0
  expect_json '[h["host"] for h in d["hosts"]]' "['localhost']"
  expect_json 'd["hosts"][0]["status"]' upgraded
  expect_json 'd["hosts"][0]["exitStatus"]' 0
  expect_json 'd["hosts"][0]["upgrade"]["versionBefore"]' 1.0.3
  expect_json 'd["hosts"][0]["upgrade"]["versionAfter"]' 2.1.0
  [ "$(dock_version)" = 2.1.0 ] || fail "the dock was not flashed"
  # Again: the dock reports the image's version, nothing to do.
  run_playbook
  expect_status 0
  expect_json 'd["hosts"][0]["status"]' 'up to date'
  expect_json 'd["hosts"][0]["upgrade"]' None
  expect_json 'd["hosts"][0]["docks"][0]["version"]' 2.1.0
  # A flash that fails stops the rollout, and the summary says so.
  echo 1.0.3 >"$TALVEX_SIM_STATE"
  TALVEX_SIM_MISBEHAVE=exit1 run_playbook
  [ "$status" != 0 ] || fail "a failed flash did not fail the run"
  expect_json 'd["hosts"][0]["status"]' failed
  expect_json 'd["hosts"][0]["exitStatus"]' 1
}

declare -F "case_$case_name" >/dev/null || { echo "no case '$case_name'" >&2; exit 2; }
"case_$case_name"
cleanup
trap - EXIT
rm -rf "$work"
echo "PASS ($case_name)"
