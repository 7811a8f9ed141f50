#!/usr/bin/env bash
# Started without a display the program says so in one line and exits with 1
# instead of dumping core: with no display named at all, and with one named
# that is not there.   no_display.sh QUORVALE
set -uo pipefail
quorvale=$1
line='quorvale: no graphical display found; set DISPLAY or WAYLAND_DISPLAY to a running display'
ulimit -c 0
err=$(mktemp)
trap 'rm -f "$err"' EXIT
failed=0
# check NAME ONLY_LINE ENV...: ONLY_LINE=1 when nothing else may be printed.
check() {
  local name=$1 only=$2
  shift 2
  env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$@" timeout 20 "$quorvale" >/dev/null 2>"$err"
  local rc=$?
  if [ "$rc" = 1 ] && grep -qxF "$line" "$err" && { [ "$only" = 0 ] || [ "$(cat "$err")" = "$line" ]; }; then
    echo "PASS ($name)"
  else
    echo "FAIL ($name): exit status $rc, standard error:"
    cat "$err"
    failed=1
  fi
}
check "no display named" 1
check "display not there" 0 DISPLAY=:987 XAUTHORITY=/nonexistent
exit $failed
