#!/usr/bin/env bash
# One end-to-end case: e2e.sh CASE QUORVALE SIMULATOR DEVICES.umockdev
# Runs the function case_CASE below. Screenshots and logs of the run stay in
# $E2E_ARTIFACTS (default: a temp dir).
set -euo pipefail
case_name=$1 quorvale=$2 simulator=$3 devices=$4
here=$(cd "$(dirname "$0")" && pwd)

work=${E2E_WORK:-$(mktemp -d)} # the run on its own X server shares its starter's
artifacts=${E2E_ARTIFACTS:-$work}
# A passed case leaves nothing behind but the artifacts asked for (kept
# elsewhere); a failed one keeps its folder for a look.
clean_work() { [ "$artifacts" = "$work" ] && [ -n "${E2E_ARTIFACTS:-}" ] || rm -rf "$work"; }
log=$artifacts/$case_name.log
images=$work/firmware
mkdir -p "$artifacts" "$work/bin" "$images"
cp "$quorvale" "$simulator" "$work/bin/"
make_image=$(dirname "$simulator")/make_firmware_image
"$make_image" --version 2.1.0 --out "$images/dock-2.1.0.bin" >/dev/null
"$make_image" --version 2.1.0 --corrupt --out "$images/dock-corrupt.bin" >/dev/null
export TALVEX_SIM_STATE=$work/dock-state TALVEX_SIM_VERSION=1.0.3 TALVEX_SIM_PACE_MS=250
export XDG_RUNTIME_DIR=$work XDG_CONFIG_HOME=$work/config XDG_STATE_HOME=$work/state # never the user's own files
export LANGUAGE=${LANGUAGE_FOR_CASE:-en_US}
case $case_name in chinese_menu | a11y_zh) export LANGUAGE=zh_CN ;; esac
case $case_name in no_dock | two_docks) devices=$(dirname "$devices")/${case_name//_/-}.umockdev ;; esac

# The English or the Chinese form of a text, as the case's language picks.
say() { if [ "$LANGUAGE" = zh_CN ]; then printf %s "$2"; else printf %s "$1"; fi; }
# Cases whose user has no mouse, or reads the screen through AT-SPI.
keys_only() { case $case_name in keyboard_only | a11y_*) return 0 ;; *) return 1 ;; esac; }
reads_atspi() { case $case_name in chinese_menu | a11y_* | upgrade_* | two_docks | killed_mid_flash | history | missing_tool) return 0 ;; *) return 1 ;; esac; }

fail() { echo "FAIL ($case_name): $*" >&2; echo "--- program log:" >&2; cat "$log" >&2 || true; exit 1; }

# Polls a command for up to $1 tenths of a second.
poll() {
  local tries=$1
  shift
  for _ in $(seq "$tries"); do "$@" && return 0; sleep 0.1; done
  "$@"
}

# Starts the program in a process group of its own ($group).
launch_quorvale() {
  # The fake device tree's folder goes to $work/testbed, for plugging docks in and out.
  (cd "$work" && exec setsid umockdev-run --device "$devices" -- \
     sh -c 'echo "$UMOCKDEV_DIR" >"$0"; exec "$@"' "$work/testbed" "$work/bin/quorvale" 2>>"$log" >/dev/null) &
  group=$!
}

# The same on the X display; $win is its main window.
start_quorvale() {
  launch_quorvale
  win=$(timeout 20 xdotool search --sync --onlyvisible --name '^Quorvale$' | head -n 1) || fail "no main window"
}

# Row 0 of the table as the screen shows it: succeeds when it holds text.
row_shows_text() {
  local mean
  mean=$(import -window root -crop 440x14+$((X + 2))+$((Y + 48)) png:- \
         | convert - -colorspace gray -threshold 50% -format '%[fx:mean]' info:)
  awk -v m="$mean" 'BEGIN { exit !(m < 0.98) }'
}

# Moves the demo dock's entry out of (unplug) or back into (plug) the USB bus.
dock_entry() { echo "$(cat "$work/testbed")/sys/bus/usb/devices/1-2"; }
unplug_dock() { mv "$(dock_entry)" "$work/unplugged-dock"; }
plug_dock() { mv "$work/unplugged-dock" "$(dock_entry)"; }

# Ends what the case started, never this script's own process group.
stop_all() {
  if [ -n "${group:-}" ] && [ "$group" != "$(ps -o pgid= -p $$ | tr -d ' ')" ]; then
    kill -- -"$group" 2>/dev/null || true
  fi
  [ -z "${helpers:-}" ] || kill $helpers 2>/dev/null || true
}

# The program itself, not the umockdev-run around it.
quorvale_pid() { pgrep -g "$group" -x quorvale; }

# Waits up to 20 s for a line matching a grep pattern in the program's log.
wait_for_log() { poll 200 grep -q -- "$1" "$log" || fail "log never showed: $1"; }

# Prints the id of a visible window titled $1 other than the main window.
other_window() {
  local w
  for w in $(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null); do
    [ "$w" != "$win" ] && { echo "$w"; return 0; }
  done
  return 1
}
wait_for_window() { poll 200 other_window "$1" || fail "no window '$1'"; }

# Succeeds when the file holds every one of the given lines.
expect_lines() {
  local file=$1 expected
  shift
  for expected in "$@"; do
    grep -qxF -- "$expected" "$file" || fail "no '$expected' among: $(cat "$file")"
  done
}

# What a screen reader reads of the program's windows now, into file $1.
read_atspi() { timeout 30 /usr/bin/python3 "$here/atspi_names.py" Quorvale >"$1" || fail "no accessibility tree"; }
# Records what takes the focus in the next 4 s into file $1, in the background ($!).
listen_focus() {
  timeout 30 /usr/bin/python3 "$here/atspi_names.py" Quorvale 4 >>"$1" &
  poll 50 grep -q '^listening$' "$1" || true
}

# The clipboard holds exactly $1.
clipboard_is() {
  timeout 5 xclip -o -selection clipboard >"$work/clipboard" 2>/dev/null || fail "clipboard empty"
  printf %s "$1" >"$work/expected"
  cmp -s "$work/clipboard" "$work/expected" || fail "clipboard holds: $(od -c "$work/clipboard")"
}

# The dock's row menu: a right-click on the row, or from the keyboard the
# row highlighted with an arrow and the menu key.
open_row_menu() {
  if keys_only; then
    xdotool key Down
    sleep 0.3
    xdotool key Menu
  else
    xdotool mousemove "$row_x" "$row_y" click 3
  fi
  sleep 0.5
}

# The row menu, "Upgrade Firmware", the image typed into the file dialog,
# then "Confirm Upgrade" in the alert.
start_upgrade() {
  open_row_menu
  xdotool key Up Return # the last item is "Upgrade Firmware"
  local dialog=$(wait_for_window "$(say 'Select Firmware File' 选择固件文件)")
  sleep 0.5
  if [[ $case_name == a11y_* ]]; then # Qt's own texts in the program's language
    read_atspi "$work/dialog"
    expect_lines "$work/dialog" "label:$(say 'Look in:' 查找范围：)" "label:$(say 'File name:' '文件名称(N)：')" \
                 "push button:$(say Open '打开(O)')" "push button:$(say Cancel 取消)"
  fi
  xdotool type --window "$dialog" "$1"
  xdotool key Return
  wait_for_window Quorvale >/dev/null # the confirmation
  sleep 0.5
  import -window root "$artifacts/$case_name-confirm.png"
  xdotool key Return
}

# Waits for the result alert, checks its verdict line and (where a screen
# reader listens) its headline and message, then dismisses it.
finish_upgrade() {
  wait_for_log "\[Upgrade\] Success: $1, Message: $2\$"
  wait_for_window Quorvale >/dev/null
  sleep 0.5
  import -window root "$artifacts/$case_name-result.png"
  if reads_atspi; then
    read_atspi "$work/alert"
    local headline=$(say 'Upgrade Success' 升级成功)
    [ "$1" = YES ] || headline=$(say 'Upgrade Failed' 升级失败)
    # The details and the log of the run are a click away.
    expect_lines "$work/alert" "label:$headline" "label:$2" "push button:$(say OK 确定)" \
                 "push button:$(say 'Open Log' 打开日志)"
  fi
  xdotool key Return
}

# Clicks a control of the program's windows that a screen reader names ROLE:NAME.
click_named() {
  local point
  point=$(timeout 30 /usr/bin/python3 "$here/atspi_names.py" Quorvale --centre "$1") || fail "nothing named $1"
  xdotool mousemove $point click 1
}

# The saved output of the last upgrade ends with the tool's closing line.
flash_completed() {
  local saved=$(sed -n 's/.*\[Upgrade\] Output saved to: //p' "$log" | tail -n 1)
  [ -f "$saved" ] || fail "no saved upgrade output at '$saved'"
  tail -n 1 "$saved" | grep -qx 'Firmware update completed' || fail "the flash was cut short: $(tail -n 3 "$saved")"
}

# Starts an upgrade with the valid image and waits until the tool flashes.
upgrade_running() {
  start_upgrade "$images/dock-2.1.0.bin"
  wait_for_window "$(say 'Firmware Updating' 升级固件中)" >/dev/null
  wait_for_log '\[Upgrade\] Launching firmware tool at: '
}

# After a quit request during a flash: the flash goes on to its end, its
# output is saved, then the program quits by itself, with no result alert.
quits_after_flash() {
  wait_for_log '\[Upgrade\] Quit requested during a firmware upgrade; quitting when it ends$'
  grep -q '\[Upgrade\] Success:' "$log" && fail "the run did not outlive the signal"
  local pid=$1
  poll 200 eval '! kill -0 '"$pid"' 2>/dev/null' || fail "still running after the upgrade"
  flash_completed
  [ "$(cat "$TALVEX_SIM_STATE")" = 2.1.0 ] || fail "the dock did not get the new firmware"
}

# --- The cases. Each runs with the program started and its window shown
# ($win at X,Y), and the dock's version read unless the case has no dock.

case_version_shown() {
  [ "$elapsed_ms" -lt 5000 ] || fail "version took ${elapsed_ms} ms"
  local saved=$(sed -n 's/.*\[Sync\] Output saved to: //p' "$log" | head -n 1)
  [ -f "$saved" ] || fail "no saved output at '$saved'"
  grep -qx 'Composite dock image version: 1.0.3' "$saved" || fail "saved output lacks the version line"
  sleep 0.5
  import -window root "$artifacts/$case_name.png"
}

case_copy_device_info() {
  open_row_menu
  import -window root "$artifacts/$case_name-menu.png"
  xdotool key Down Return # the first item is "Copy Device Info"
  sleep 0.5
  clipboard_is $'Vendor: Talvex\nProduct: TD-70 USB-C Dock\nFWVersion: 1.0.3'
  grep -q 'Device info copied to clipboard: Vendor: Talvex' "$log" || fail "no copy log line"
}

case_chinese_menu() {
  local names=$work/names
  read_atspi "$names"
  listen_focus "$names"
  xdotool mousemove "$row_x" "$row_y" click 3
  sleep 0.5
  import -window root "$artifacts/$case_name-row-menu.png"
  xdotool key Down sleep 0.3 key Down sleep 0.3 key Down sleep 0.3 key Escape # each item takes the focus in turn
  wait $! || fail "no focus events"
  expect_lines "$names" 'table column header:制造商' 'table column header:产品' 'table column header:固件版本' \
               'menu item:偏好设置' 'menu item:退出 quorvale' 'menu item:复制设备信息' 'menu item:重新读取版本' \
               'menu item:升级固件'
  # The log stays English, the C library's words in it too.
  kill -TERM "$(quorvale_pid)"
  wait_for_log 'Quit requested by signal 15 (Terminated)$'
}

case_a11y_en() {
  local names=$work/names focus=$work/focus
  read_atspi "$names"
  expect_lines "$names" "table:$(say Docks 扩展坞)" rows:1 \
               'table cell:Talvex' 'table cell:TD-70 USB-C Dock' 'table cell:1.0.3'
  listen_focus "$focus"
  open_row_menu
  xdotool key Down sleep 0.3 key Up sleep 0.3 key Escape # each item takes the focus in turn
  wait $! || fail "no focus events"
  expect_lines "$focus" "menu item:$(say 'Copy Device Info' 复制设备信息)" "menu item:$(say 'Upgrade Firmware' 升级固件)"
  upgrade_running
  read_atspi "$names"
  expect_lines "$names" "frame:$(say 'Firmware Updating' 升级固件中)" \
               "description:$(say 'Upgrading firmware, do not disconnect USB device' 正在升级固件，请勿断开USB设备)" \
               "progress bar:$(say 'Upgrade progress' 升级进度)"
  finish_upgrade YES "$(say 'Firmware upgrade successful!' 固件升级成功！)"
  open_about_by_key # each place on a line of its own
  import -window "$about" "$artifacts/$case_name-about.png"
  read_atspi "$names"
  expect_lines "$names" "dialog:$(say 'About Quorvale' '关于 Quorvale')" "label:$(say Version 版本) $QUORVALE_VERSION" \
               "label:$(say 'Free software under the MIT license.' '自由软件，以 MIT 许可证发布。')" \
               "label:$work/bin" "label:$work/libexec/quorvale" "label:$XDG_CONFIG_HOME/Quorvale/Quorvale.conf" \
               "label:$XDG_STATE_HOME/quorvale/history.sqlite" 'label:/tmp/talvex_sync_*.log' \
               'label:/tmp/talvex_upgrade_*.log' "push button:$(say OK 确定)"
  xdotool key Escape
  window_closed "$(say 'About Quorvale' '关于 Quorvale')" "after Escape"
  xdotool key ctrl+comma # the timeout field is named by its label
  timeout 10 xdotool search --sync --onlyvisible --name "^$(say Preferences 偏好设置)\$" >/dev/null || fail "no Preferences"
  read_atspi "$names"
  expect_lines "$names" "text:$(say 'Upgrade timeout (seconds, 0 to disable):' '升级超时（秒，0 表示禁用）：')"
}
case_a11y_zh() { case_a11y_en; }

# Ctrl+, and the Preferences window showing, with the keyboard in its field.
open_preferences_by_key() {
  xdotool key ctrl+comma
  timeout 10 xdotool search --sync --onlyvisible --name '^Preferences$' >/dev/null || fail "no Preferences window"
  sleep 0.3
}
# Waits until no window titled $1 shows; $2 says when, should it stay.
window_closed() {
  poll 50 eval '! xdotool search --onlyvisible --name "^$1\$" >/dev/null' || fail "$1 stayed open $2"
}
preferences_closed() { window_closed Preferences "$1"; }
# The About window from the menu bar: Alt, Down opens "Application" at its first item, Return.
open_about_by_key() {
  xdotool key alt sleep 0.3 key Down sleep 0.3 key Return
  about=$(wait_for_window "$(say 'About Quorvale' '关于 Quorvale')")
  sleep 0.3
}

case_keyboard_only() {
  start_upgrade "$images/dock-2.1.0.bin"
  finish_upgrade YES 'Firmware upgrade successful!'
  # Back in the table, the row's menu again: "Copy Device Info" shows the new version.
  wait_for_log '\[Sync\] Found firmware version: 2.1.0$'
  open_row_menu
  xdotool key Down Return # "Copy Device Info"
  sleep 0.5
  clipboard_is $'Vendor: Talvex\nProduct: TD-70 USB-C Dock\nFWVersion: 2.1.0'
  # Preferences: the field has the focus; Tab reaches "Save", Space presses it.
  open_preferences_by_key
  xdotool key ctrl+a type 45
  xdotool key Tab space
  preferences_closed "after Save"
  grep -qx 'UpgradeTimeoutSeconds=45' "$XDG_CONFIG_HOME/Quorvale/Quorvale.conf" || fail "45 not in the settings file: $(cat "$XDG_CONFIG_HOME/Quorvale/Quorvale.conf" 2>&1)"
  # No window manager hands the keyboard back: the program does, to the table.
  printf cleared | xclip -i -selection clipboard >/dev/null 2>&1
  open_row_menu
  xdotool key Down Return # "Copy Device Info"
  sleep 0.5
  clipboard_is $'Vendor: Talvex\nProduct: TD-70 USB-C Dock\nFWVersion: 2.1.0'
  # Escape closes Preferences without saving; the text typed is there at the next open.
  open_preferences_by_key
  xdotool key ctrl+a type 99
  xdotool key Escape
  preferences_closed "after Escape"
  grep -qx 'UpgradeTimeoutSeconds=45' "$XDG_CONFIG_HOME/Quorvale/Quorvale.conf" || fail "Escape saved"
  open_preferences_by_key
  xdotool key ctrl+a ctrl+c
  clipboard_is 99
  xdotool key Escape
  preferences_closed "after the second Escape"
  # About, from the menu bar: Return closes it and the table has the keyboard again.
  open_about_by_key
  xdotool key Return
  window_closed 'About Quorvale' "after Return"
  printf cleared | xclip -i -selection clipboard >/dev/null 2>&1
  open_row_menu
  xdotool key Down Return # "Copy Device Info"
  sleep 0.5
  clipboard_is $'Vendor: Talvex\nProduct: TD-70 USB-C Dock\nFWVersion: 2.1.0'
  xdotool key ctrl+q
  poll 50 eval '! kill -0 "$group" 2>/dev/null' || fail "Ctrl+Q did nothing after Preferences closed"
}

case_upgrade_success() {
  start_upgrade "$images/dock-2.1.0.bin"
  wait_for_window 'Firmware Updating' >/dev/null
  sleep 0.5
  import -window root "$artifacts/$case_name-progress.png"
  grep -q "Starting firmware upgrade for Talvex TD-70 USB-C Dock with file: $images/dock-2.1.0.bin\$" "$log" \
    || fail "no start line"
  finish_upgrade YES 'Firmware upgrade successful!'
  flash_completed
  # The version is read again once the run has ended.
  wait_for_log '\[Sync\] Found firmware version: 2.1.0$'
  sleep 0.5
  import -window root "$artifacts/$case_name-after.png"
}

case_upgrade_failed() {
  start_upgrade "$images/dock-corrupt.bin"
  # The details say why (the tool's own words, its exit status and its log):
  # shown for the screenshot; what they hold is checked by the widget tests.
  wait_for_log '\[Upgrade\] Success: NO'
  wait_for_window Quorvale >/dev/null
  sleep 0.5
  click_named "push button:$(say 'Show Details...' 显示详情...)"
  sleep 0.5
  import -window root "$artifacts/$case_name-details.png"
  finish_upgrade NO "$(say 'Upgrade tool exited abnormally!' 升级工具异常退出！)"
  grep -q 'Firmware update failed: payload CRC-32 mismatch' "$log" || fail "no tool output in the log"
}

case_preferences_saved() {
  open_preferences() {
    xdotool key ctrl+comma
    prefs=$(timeout 10 xdotool search --sync --onlyvisible --name '^Preferences$' | head -n 1) || fail "no Preferences window"
    xdotool mousemove --window "$prefs" 80 80 click 1 key ctrl+a # the field
  }
  open_preferences
  eval "$(xdotool getwindowgeometry --shell "$prefs")"
  [ "$X,$Y,$WIDTH,$HEIGHT" = 200,460,360,140 ] || fail "Preferences window at $X,$Y size ${WIDTH}x${HEIGHT}"
  import -window root "$artifacts/$case_name.png"
  xdotool type 45
  xdotool mousemove --window "$prefs" 290 114 click 1 # "Save"
  poll 50 eval '! xdotool search --onlyvisible --name "^Preferences\$" >/dev/null' || fail "Preferences stayed open after Save"
  grep -qx 'UpgradeTimeoutSeconds=45' "$XDG_CONFIG_HOME/Quorvale/Quorvale.conf" || fail "45 not in the settings file"
  kill -- -"$group"; wait "$group" 2>/dev/null || true
  start_quorvale
  open_preferences
  xdotool key ctrl+c
  local got
  got=$(timeout 5 xclip -o -selection clipboard 2>/dev/null) || fail "clipboard empty"
  [ "$got" = 45 ] || fail "after a restart the field shows '$got'"
}

case_no_dock() {
  sleep 2.5 # two more scans
  grep -q '\[Sync\]' "$log" && fail "a version query ran without a dock"
  ! row_shows_text || fail "the table shows a row"
  import -window root "$artifacts/$case_name.png"
}

case_hotplug() {
  row_shows_text || fail "no row for the dock"
  unplug_dock
  sleep 2
  ! row_shows_text || fail "the row stayed after the dock was unplugged"
  import -window root "$artifacts/$case_name-unplugged.png"
  plug_dock
  read_twice() { [ "$(grep -c '\[Sync\] Found firmware version: 1.0.3$' "$log")" = 2 ]; }
  poll 50 read_twice || fail "the version was not read again"
  sleep 0.5
  row_shows_text || fail "no row after the dock came back"
  import -window root "$artifacts/$case_name-replugged.png"
}

case_sigterm_during_upgrade() {
  upgrade_running
  kill -TERM "$(quorvale_pid)"
  quits_after_flash "$group"
  grep -q 'Quit requested by signal 15' "$log" || fail "the signal was not seen"
  wait "$group" || fail "exited with status $?"
}

# Ctrl+C or a closed terminal reaches the whole foreground process group:
# the firmware tool must not be in it.
case_group_signal() {
  upgrade_running
  local pid=$(quorvale_pid)
  kill -INT -- -"$group"
  kill -HUP -- -"$group"
  quits_after_flash "$pid"
  grep -q 'Quit requested by signal 2' "$log" || fail "SIGINT was not seen"
  # umockdev-run passes the signals on to the program and outlives them.
  wait "$group" || fail "exited with status $?"
}

# The logind stand-in's lock is held while the tool flashes, and handed back
# once the run has ended, with the program still running.
case_sleep_lock() {
  upgrade_running
  expect_lines "$work/logind" 'inhibit:sleep:shutdown:Quorvale:Firmware update in progress:block'
  grep -q released "$work/logind" && fail "the lock was released during the flash"
  finish_upgrade YES 'Firmware upgrade successful!'
  poll 20 grep -q released "$work/logind" || fail "the lock is still held after the run"
  kill -0 "$(quorvale_pid)" || fail "the program is gone"
}
# A private bus for the program's system bus, with logind played on it.
prepare_sleep_lock() {
  dbus-daemon --session --nofork --print-address=3 3>"$work/bus" 2>/dev/null &
  helpers="${helpers:-} $!"
  poll 50 grep -q . "$work/bus" || fail "no private bus"
  export DBUS_SYSTEM_BUS_ADDRESS=$(head -n 1 "$work/bus")
  /usr/bin/python3 "$here/fake_logind.py" "$DBUS_SYSTEM_BUS_ADDRESS" >"$work/logind" 2>&1 &
  helpers="$helpers $!"
  poll 50 grep -q '^ready$' "$work/logind" || fail "no logind stand-in: $(cat "$work/logind")"
}

# With two docks, the pointer resting on the second row and that row's menu
# opened and closed with the mouse, the first Down highlights the first row.
case_two_docks() {
  xdotool mousemove "$row_x" "$((row_y + row_height))" click 3
  sleep 0.5
  xdotool key Escape
  sleep 0.3
  xdotool key Down
  sleep 0.3
  import -window root "$artifacts/$case_name.png"
  read_atspi "$work/names"
  expect_lines "$work/names" rows:2 selected:0
}

# The program killed mid-flash (SIGKILL, or its display gone at a logout):
# the tool finishes the flash unread, and keeps the machine-wide lock. A copy
# started meanwhile, with a runtime folder of its own, neither reads the
# version nor upgrades until that tool has exited, then reads the new version
# and says that the upgrade on record was cut short, with that version.
case_killed_mid_flash() {
  upgrade_running
  kill -KILL "$(quorvale_pid)"
  wait "$group" 2>/dev/null || true
  local tool
  tool=$(pgrep -x -f "$work/bin/Talvex_Firmware_Update .*-i .*") || fail "the tool died with the program"
  local before=$(wc -l <"$log")
  XDG_RUNTIME_DIR=$work/other-runtime start_quorvale
  wait_for_log 'An upgrade on record has not ended and the firmware tool is in use by process [0-9]* (Talvex_Firmware); waiting'
  eval "$(xdotool getwindowgeometry --shell "$win")"
  row_x=$((X + 200)) row_y=$((Y + 55))
  start_upgrade "$images/dock-2.1.0.bin"
  wait_for_log '\[Upgrade\] Not starting: the firmware tool is in use by process [0-9]* (Talvex_Firmware)$'
  wait_for_window Quorvale >/dev/null
  xdotool key Return
  # Alive: neither gone nor dead and waiting to be reaped by whoever adopted it.
  alive() { local state; state=$(sed 's/.*) //' "/proc/$1/stat" 2>/dev/null | cut -d' ' -f1) && [ "$state" != Z ]; }
  alive "$tool" || fail "the flash ended before the second copy was refused"
  # Until the first tool is gone, nothing of the second copy runs a tool.
  while alive "$tool"; do
    tail -n +"$((before + 1))" "$log" | grep -q '\[\(Sync\|Upgrade\)\] Launching firmware tool' \
      && fail "a second tool ran beside the first"
    sleep 0.1
  done
  [ "$(cat "$TALVEX_SIM_STATE")" = 2.1.0 ] || fail "the flash did not complete after the program was killed"
  wait_for_log '\[Sync\] Found firmware version: 2.1.0$'
  wait_for_window Quorvale >/dev/null
  sleep 0.5
  import -window root "$artifacts/$case_name-interrupted.png"
  read_atspi "$work/alert"
  expect_lines "$work/alert" "label:$(say 'Upgrade Interrupted' 升级中断)"
  grep -q "^label:$(say 'Quorvale closed before the upgrade of Talvex TD-70 USB-C Dock with dock-2.1.0.bin, started ' \
                        'Quorvale 在升级完成之前已关闭：Talvex TD-70 USB-C Dock，映像 dock-2.1.0.bin，开始于 ')" "$work/alert" \
    || fail "no interrupted upgrade named: $(cat "$work/alert")"
  grep -q "$(say 'The dock now reports firmware version 2.1.0.' '扩展坞现在报告的固件版本为 2.1.0。')\$" "$work/alert" \
    || fail "the alert lacks the version read now: $(cat "$work/alert")"
  xdotool key Return
}

# A flash, then the History window (Ctrl+H) as a screen reader reads it:
# the row of the upgrade, newest first; Ctrl+C copies it.
case_history() {
  start_upgrade "$images/dock-2.1.0.bin"
  finish_upgrade YES "$(say 'Firmware upgrade successful!' 固件升级成功！)"
  wait_for_log '\[Sync\] Found firmware version: 2.1.0$'
  xdotool key ctrl+h
  local history=$(wait_for_window "$(say 'Upgrade History' 升级历史)")
  sleep 0.5
  import -window root "$artifacts/$case_name.png"
  read_atspi "$work/names"
  expect_lines "$work/names" "table:$(say Upgrades 升级记录)" rows:1 'table cell:Talvex TD-70 USB-C Dock' \
               'table cell:dock-2.1.0.bin' 'table cell:1.0.3 → 2.1.0' "table cell:$(say Success 成功)" \
               "table column header:$(say Time 时间)" "table column header:$(say Result 结果)"
  xdotool key ctrl+c
  sleep 0.3
  timeout 5 xclip -o -selection clipboard >"$work/clipboard" 2>/dev/null || fail "clipboard empty"
  grep -qx 'Version: 1.0.3 → 2.1.0' "$work/clipboard" && grep -qx 'Result: success' "$work/clipboard" \
    || fail "the copied row: $(cat "$work/clipboard")"
  xdotool key Escape
  poll 50 eval '! xdotool search --onlyvisible --name "^$(say 'Upgrade History' 升级历史)\$" >/dev/null' \
    || fail "Escape left the History window open"
}
prepare_killed_mid_flash() {
  export TALVEX_SIM_MISBEHAVE=outlive-reader TALVEX_SIM_PACE_MS=800
  mkdir -m 700 "$work/other-runtime"
}

# A system bus that takes the connection and never answers: the upgrade
# waits 2 s for logind at most, flashes, and the program still quits at once.
case_dead_system_bus() {
  upgrade_running
  wait_for_log '\[Upgrade\] No answer about blocking sleep and shutdown within 2000 ms; going on without it$'
  finish_upgrade YES 'Firmware upgrade successful!'
  flash_completed
  local pid=$(quorvale_pid)
  kill -TERM "$pid"
  poll 50 eval '! kill -0 '"$pid"' 2>/dev/null' || fail "the program did not end on SIGTERM"
}
prepare_dead_system_bus() {
  /usr/bin/python3 -c '
import socket, sys, time
s = socket.socket(socket.AF_UNIX)
s.bind(sys.argv[1]); s.listen(8)
print("ready", flush=True)
held = []
while True:
    held.append(s.accept()[0])  # never a word back
' "$work/dead-bus" >"$work/dead-bus.log" 2>&1 &
  helpers="${helpers:-} $!"
  poll 50 grep -q '^ready$' "$work/dead-bus.log" || fail "no dead bus"
  export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$work/dead-bus
}

# No firmware tool in either place: a line under the table says so and where
# it is looked for, "Upgrade Firmware" cannot be chosen; the tool copied in
# while the program runs is found, the line goes and the version is read.
case_missing_tool() {
  sleep 1
  import -window root "$artifacts/$case_name.png"
  read_atspi "$work/names"
  grep -q "^label:$(say 'The firmware tool Talvex_Firmware_Update is missing. Quorvale looks for it in ' \
                        '缺少固件工具 Talvex_Firmware_Update。Quorvale 会在 ')$work/bin" "$work/names" \
    || fail "no line about the missing tool: $(cat "$work/names")"
  grep -q '\[Sync\] Launching firmware tool' "$log" && fail "a launch line names a tool that is not there"
  cp "$simulator" "$work/bin/"
  wait_for_log '\[Sync\] Found firmware version: 1.0.3$'
  read_atspi "$work/names"
  ! grep -q "^label:$(say 'The firmware tool' '缺少固件工具')" "$work/names" || fail "the line stayed after the tool came"
}
prepare_missing_tool() { rm "$work/bin/$(basename "$simulator")"; }

case_quit_shortcut() {
  xdotool key ctrl+q
  poll 50 eval '! kill -0 "$group" 2>/dev/null' || fail "still running after Ctrl+Q"
}

# Runs inside the X server: start the program, then the case's steps.
run_case() {
  : >"$log"
  helpers=
  trap stop_all EXIT
  # Tells a server that never answers from one that stops answering later.
  poll 50 xdotool getmouselocation >/dev/null 2>&1 || fail "X server $DISPLAY does not answer"
  if reads_atspi; then
    # What a screen reader reads is the texts the program really shows.
    /usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null 2>&1 &
    helpers=$!
    export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
  fi
  ! declare -F "prepare_$case_name" >/dev/null || "prepare_$case_name"
  local started=$(date +%s%N)
  start_quorvale
  eval "$(xdotool getwindowgeometry --shell "$win")" # X, Y, WIDTH, HEIGHT
  [ "$WIDTH" = 600 ] && [ "$HEIGHT" = 400 ] || fail "window is ${WIDTH}x${HEIGHT}"

  # Row 0 of the table, below the menu bar and the header.
  row_x=$((X + 200)) row_y=$((Y + 55)) row_height=30
  if [ "$case_name" != no_dock ] && [ "$case_name" != missing_tool ]; then
    # The first scan runs the version query before the window can repaint.
    poll 50 grep -q '\[Sync\] Found firmware version: 1.0.3$' "$log" || fail "no version found"
    elapsed_ms=$(( ($(date +%s%N) - started) / 1000000 ))
    echo "version shown ${elapsed_ms} ms after launch"
  fi
  "case_$case_name"
  echo "PASS ($case_name)"
}

# Under a headless Wayland compositor, with no X server at all.
case_wayland_smoke() {
  : >"$log"
  trap stop_all EXIT
  weston --backend=headless-backend.so --shell=kiosk-shell.so --idle-time=0 --socket=quorvale-e2e \
    >"$artifacts/$case_name-weston.log" 2>&1 &
  helpers=$!
  poll 50 test -S "$XDG_RUNTIME_DIR/quorvale-e2e" || true
  unset DISPLAY
  export WAYLAND_DISPLAY=quorvale-e2e
  launch_quorvale
  wait_for_log '\[Sync\] Found firmware version: 1.0.3$'
  grep -q '/platforms/libqwayland' "/proc/$(quorvale_pid)/maps" || fail "not on the wayland platform"
  kill -TERM "$(quorvale_pid)"
  wait "$group" || fail "exited with status $?"
  # Nothing but the program's own log lines: no warning from Qt.
  ! grep -v '^[0-9-]* [0-9:.]* quorvale\[' "$log" || fail "unexpected output on stderr"
  clean_work
  echo "PASS ($case_name)"
}

# Runs this script again on an X server of its own. Xvfb picks a free display
# number itself and names it on fd 3 only once it accepts connections, so two
# cases started at once (from two test runs) can neither take the same number
# nor talk to a server that is not up yet; the case waits for its server to be
# gone before it ends.
# -noreset: by default the server resets each time its last client leaves (the
# readiness check in run_case, at-spi-bus-launcher's brief connection, a restart
# of the program) and drops every connection still being set up meanwhile: the
# program or xdotool, connecting just then, would find no display.
on_own_x_server() {
  local xlog=$artifacts/$case_name-xvfb.log
  Xvfb -displayfd 3 -noreset -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" 2>"$xlog" &
  local xvfb=$!
  poll 100 grep -q . "$work/display" || { cat "$xlog" >&2; fail "Xvfb did not start"; }
  local session=() status=0
  reads_atspi && session=(dbus-run-session --)
  DISPLAY=:$(head -n 1 "$work/display") E2E_DISPLAY_READY=1 E2E_ARTIFACTS=$artifacts E2E_WORK=$work \
    "${session[@]}" bash "$0" "$@" || status=$?
  [ $status = 0 ] || { echo "--- X server's log:" >&2; cat "$xlog" >&2; }
  kill "$xvfb"
  wait "$xvfb" || true
  [ $status != 0 ] || clean_work
  return $status
}

if ! declare -F "case_$case_name" >/dev/null; then
  echo "no case '$case_name'" >&2
  exit 2
elif [ "$case_name" = wayland_smoke ]; then
  case_wayland_smoke
elif [ -n "${E2E_DISPLAY_READY:-}" ]; then
  run_case
else
  on_own_x_server "$@"
fi
