#!/usr/bin/env bash
# check_install.sh BUILD_DIR CMAKE CPACK SIMULATOR
# Installs BUILD_DIR under a temporary /usr, then builds its Debian package and
# installs that into a temporary root with dpkg; both trees must hold exactly
# the files below, and the desktop file, metainfo, udev rule and manual pages
# must validate. Debian's lintian must find nothing wrong with the package,
# hardening-check must pass for its programs, and the program installed from
# it must find the firmware tool (SIMULATOR) in its ../libexec/quorvale.
set -euo pipefail
build=$1 cmake=$2 cpack=$3 simulator=$4
devices=$(cd "$(dirname "$0")/../../testsupport/devices" && pwd)/demo.umockdev
tmp=$(mktemp -d)
group=""
cleanup() {
  if [ -n "$group" ]; then kill -- -"$group" 2>/dev/null || true; wait "$group" 2>/dev/null || true; fi
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
for t in desktop-file-validate appstreamcli dpkg-deb dpkg-shlibdeps dpkg-parsechangelog file lintian hardening-check \
         man ninja readelf umockdev-run; do
  command -v $t >/dev/null || fail "$t is not installed (scripts/install-deps installs it)"
done

expected="usr/bin/quorvale
usr/bin/quorvale-cli
usr/lib/udev/rules.d/70-quorvale-dock.rules
usr/share/applications/org.quorvale.Quorvale.desktop
usr/share/doc/quorvale/changelog.gz
usr/share/doc/quorvale/copyright
usr/share/icons/hicolor/scalable/apps/org.quorvale.Quorvale.svg
usr/share/man/man1/quorvale-cli.1.gz
usr/share/man/man1/quorvale.1.gz
usr/share/metainfo/org.quorvale.Quorvale.metainfo.xml"

# Files, and empty folders with a trailing slash, under $1/usr.
tree() { (cd "$1" && find usr \( -type f -printf '%p\n' \) -o \( -type d -empty -printf '%p/\n' \) | LC_ALL=C sort); }
check_tree() {
  diff <(echo "$expected") <(tree "$1") || fail "$2 holds other files than expected (< expected, > found)"
}

"$cmake" --install "$build" --prefix "$tmp/src/usr" >/dev/null
check_tree "$tmp/src" "cmake --install"
share=$tmp/src/usr/share

desktop-file-validate "$share/applications/org.quorvale.Quorvale.desktop" || fail "desktop file"
appstreamcli validate --no-net --pedantic "$share/metainfo/org.quorvale.Quorvale.metainfo.xml" || fail "metainfo"
# man reads every page without a warning (it prints its warnings and still succeeds).
for page in "$tmp/src/usr/share/man/man"*/*; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null) || fail "man cannot read $page"
  [ -z "$warnings" ] || fail "man warns about $(basename "$page"): $warnings"
done
# The copyright file names the MIT license (Debian calls it Expat) and holds
# LICENSE's words.
copyright=$share/doc/quorvale/copyright
grep -qx 'License: Expat' "$copyright" && grep -q 'MIT' "$copyright" || fail "copyright file does not name the MIT license"
diff <(sed '1,/^License: Expat$/d; s/^ //; s/^\.$//' "$copyright") <(sed '1,/^Copyright (c)/d' "$(dirname "$0")/../../LICENSE" | sed '1{/^$/d}') >&2 ||
  fail "copyright file's license text differs from LICENSE (< copyright, > LICENSE)"

grep -q '<modalias>usb:v21C4pB070d\*</modalias>' "$share/metainfo/"*.xml || fail "metainfo lacks the dock's modalias"
# A software centre tells the license LICENSE has, by its SPDX name.
[ "$(head -n 1 "$(dirname "$0")/../../LICENSE")" = "MIT License" ] || fail "LICENSE is no longer the MIT license"
license=$(sed -n 's:.*<project_license>\(.*\)</project_license>.*:\1:p' "$share/metainfo/"*.xml)
[ "$license" = MIT ] || fail "metainfo names the license '$license', LICENSE has MIT"
icon=$(sed -n 's/^Icon=//p' "$share/applications/"*.desktop)
[ -f "$share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "desktop file names icon '$icon', not installed"
launch=$(sed -n 's:.*<launchable type="desktop-id">\(.*\)</launchable>.*:\1:p' "$share/metainfo/"*.xml)
[ -f "$share/applications/$launch" ] || fail "metainfo launches '$launch', not installed"

# Every rule line: comma-separated KEY=="v", KEY{attr}=="v", KEY+="v" or KEY="v".
rules=$tmp/src/usr/lib/udev/rules.d/70-quorvale-dock.rules
awk '!/^[[:space:]]*(#|$)/ { n = split($0, f, /,[[:space:]]*/)
  for (i = 1; i <= n; i++)
    if (f[i] !~ /^[A-Z_]+(\{[A-Za-z_]+\})?(==|!=|\+=|=)"[^"]*"$/) { print "bad udev key: " f[i]; bad = 1 } }
  END { exit bad }' "$rules" || fail "udev rule syntax"
for want in 'SUBSYSTEM=="usb"' 'ATTR{idVendor}=="21c4"' 'ATTR{idProduct}=="b070"' 'TAG+="uaccess"'; do
  grep -v '^#' "$rules" | grep -qF "$want" || fail "udev rule lacks $want"
done

# The rule must reach the dock itself (the usb_device the tool opens), not one
# of its interfaces: each match key of the rule's uaccess line is compared with
# the demo dock's properties (E:) and attributes (A:).
declare -A dock=()
while IFS= read -r line; do
  key=${line:3} key=${key%%=*} value=${line#*=}
  case $line in
    'P: '*) dock[KERNEL]=${line##*/} ;;
    'E: '*) dock["ENV{$key}"]=$value
            case $key in SUBSYSTEM | DRIVER) dock[$key]=$value ;; esac ;;
    'A: '*) dock["ATTR{$key}"]=$value ;;
  esac
done < <(awk -v RS= '/\nA: idVendor=21c4\n/' "$(dirname "$0")/../../testsupport/devices/demo.umockdev")
[ "${dock[ATTR{idProduct}]:-}" = b070 ] || fail "no demo dock in demo.umockdev"
# Succeeds when every match key of rule line $1 holds for the dock; udev's
# patterns are shell globs with "|" between alternatives.
matches_dock() {
  local field key op pattern hit alt
  while IFS= read -r field; do
    [[ $field =~ ^([A-Z_]+(\{[A-Za-z_]+\})?)(==|!=)\"(.*)\"$ ]] || continue # an assignment
    key=${BASH_REMATCH[1]} op=${BASH_REMATCH[3]} pattern=${BASH_REMATCH[4]} hit=no
    [ -n "${dock[$key]+set}" ] || fail "udev rule matches on $key, which the dock has no value for"
    IFS='|' read -ra alts <<<"$pattern"
    for alt in "${alts[@]}"; do [[ ${dock[$key]} == $alt ]] && hit=yes; done
    [ "$op" = '==' ] && [ $hit = no ] && return 1
    [ "$op" = '!=' ] && [ $hit = yes ] && return 1
  done < <(sed 's/,[[:space:]]*/\n/g' <<<"$1")
  return 0
}
uaccess=$(grep -v '^[[:space:]]*#' "$rules" | grep -F 'TAG+="uaccess"') || fail "udev rule tags nothing uaccess"
while IFS= read -r rule; do
  matches_dock "$rule" || fail "udev rule does not match the demo dock's device: $rule"
done <<<"$uaccess"

"$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/pkg" >/dev/null
deb=$(echo "$tmp"/pkg/quorvale_*.deb)
[ -f "$deb" ] || fail "no quorvale_*.deb built"
version=$(dpkg-deb -f "$deb" Version)
zcat "$share/doc/quorvale/changelog.gz" >"$tmp/changelog"
[ "$(dpkg-parsechangelog -l "$tmp/changelog" -S Version)" = "$version" ] ||
  fail "the changelog's newest entry is not the package's version $version"

# Debian's checker, showing its notes (info), pedantic and experimental tags
# and what the package overrides: no error, no warning, and none of these.
lintian --allow-root --no-cfg --display-info --pedantic --display-experimental --show-overrides \
  --fail-on error,warning "$deb" >"$tmp/lintian" 2>&1 || { cat "$tmp/lintian" >&2; fail "lintian: errors or warnings"; }
cat "$tmp/lintian"
for tag in hardening-no-bindnow hardening-no-relro hardening-no-pie hardening-no-fortify-functions \
           binary-has-unneeded-section no-changelog no-copyright-file no-manual-page package-contains-empty-directory; do
  ! grep -E "^[EWIPX]: [^ ]+ $tag( |$)" "$tmp/lintian" >&2 || fail "lintian: $tag"
done
depends=$(dpkg-deb -f "$deb" Depends)
for want in libqt6widgets6 libudev1 qt6-qpa-plugins qt6-wayland libqt6sql6-sqlite qt6-translations-l10n; do
  [[ $depends == *"$want"* ]] || fail "package Depends lacks $want: $depends"
done
[ "$(dpkg-deb -f "$deb" Section)" = utils ] || fail "package section is not utils"

root=$tmp/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status"
dpkg --root="$root" --force-not-root --force-depends --log=/dev/null -i "$deb" >/dev/null
check_tree "$root" "dpkg -i of $(basename "$deb")"

# Debian's hardening in every program the package installs. hardening-check
# fails a program on a "no" only; its "unknown" (no symbols, no stack clash
# probe seen) is no failure. One of its checks cannot see this build's flags
# in the binary where the C library's start files carry no IBT/SHSTK property
# (Debian 12's do not): the linker then marks no program as protected against
# control-flow hijacking, whatever its own code was compiled with, so that
# flag is looked for in the commands that build the program instead, as is
# _FORTIFY_SOURCE, which a binary shows only where a call needed a check.
skip=() wanted=(-D_FORTIFY_SOURCE=)
if [ "$(uname -m)" = x86_64 ] && ! readelf -n "$(c++ -print-file-name=Scrt1.o)" | grep -q 'x86 feature: IBT, SHSTK'; then
  skip+=(--nocfprotection) wanted+=(-fcf-protection)
fi
programs=0
while IFS= read -r program; do
  file -b "$program" | grep -q '^ELF' || continue
  programs=$((programs + 1))
  hardening-check "${skip[@]}" "$program" || fail "hardening-check: $program"
  commands=$(ninja -C "$build" -t commands "$(basename "$program")" | grep -E '^[^ ]*(c\+\+|g\+\+|clang\+\+) .* -c ') ||
    fail "no compile commands for $(basename "$program") in $build (a Ninja build)"
  for flag in "${wanted[@]}"; do
    ! grep -v -e " $flag" <<<"$commands" >&2 || fail "compiled without $flag (above)"
  done
done < <(find "$root/usr" -type f)
[ $programs -gt 0 ] || fail "no program in the package"

# The installed layout: the program installed from the package, with the
# firmware tool simulator in its ../libexec/quorvale and the demo's fake dock,
# reads the dock's version through the tool there.
libexec=$root/usr/libexec/quorvale
mkdir -p "$libexec" "$tmp/run/runtime" "$tmp/run/config"
cp "$simulator" "$libexec/Talvex_Firmware_Update"
log=$tmp/run/quorvale.log
# In a session of its own, so that the signal reaches the program inside
# umockdev-run, which passes none on.
(cd "$tmp/run" && QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$tmp/run/runtime XDG_CONFIG_HOME=$tmp/run/config XDG_STATE_HOME=$tmp/run/state \
   TALVEX_SIM_STATE=$tmp/run/dock-state TALVEX_SIM_VERSION=1.0.3 \
   exec setsid umockdev-run --device "$devices" -- "$root/usr/bin/quorvale" 2>"$log" >/dev/null) &
group=$!
# Up to 20 s: another Quorvale flashing meanwhile holds the tool's lock.
for _ in $(seq 200); do
  grep -q '\[Sync\] Found firmware version: 1\.0\.3$' "$log" && break
  sleep 0.1
done
kill -- -"$group" 2>/dev/null || true
wait "$group" 2>/dev/null || true
group=""
# The outputs the run saved under /tmp go with it.
sed -n 's/.*\[Sync\] Output saved to: //p' "$log" | while IFS= read -r saved; do rm -f -- "$saved"; done
grep -q '\[Sync\] Found firmware version: 1\.0\.3$' "$log" || { cat "$log" >&2; fail "the installed program read no version"; }
launched=$(sed -n 's/.*\[Sync\] Launching firmware tool at: //p' "$log" | head -n 1)
[ "$launched" = "$libexec/Talvex_Firmware_Update" ] || fail "the installed program ran '$launched', not $libexec/Talvex_Firmware_Update"

# The installed command line, beside the same tool, over the same fake dock:
# its version, and the dock listed as JSON with the version read through the
# tool in ../libexec/quorvale; no GUI library loaded.
cli() {
  (cd "$tmp/run" && XDG_RUNTIME_DIR=$tmp/run/runtime XDG_CONFIG_HOME=$tmp/run/config XDG_STATE_HOME=$tmp/run/state \
     TALVEX_SIM_STATE=$tmp/run/dock-state TALVEX_SIM_VERSION=1.0.3 \
     exec umockdev-run --device "$devices" -- "$root/usr/bin/quorvale-cli" "$@")
}
[ "$(cli --version)" = "quorvale-cli $version" ] || fail "quorvale-cli --version: $(cli --version)"
cli list --json >"$tmp/run/list.json" 2>"$tmp/run/cli.log" || { cat "$tmp/run/cli.log" >&2; fail "quorvale-cli list --json failed"; }
sed -n 's/.*\[Sync\] Output saved to: //p' "$tmp/run/cli.log" | while IFS= read -r saved; do rm -f -- "$saved"; done
python3 -c 'import json, sys; d = json.load(open(sys.argv[1])); assert d["docks"][0]["version"] == "1.0.3", d' \
  "$tmp/run/list.json" || fail "quorvale-cli listed no dock with version 1.0.3"
launched=$(sed -n 's/.*\[Sync\] Launching firmware tool at: //p' "$tmp/run/cli.log" | head -n 1)
[ "$launched" = "$libexec/Talvex_Firmware_Update" ] || fail "quorvale-cli ran '$launched'"
! ldd "$root/usr/bin/quorvale-cli" | grep -E 'libQt6(Gui|Widgets)' >&2 || fail "quorvale-cli links a GUI library"
echo "install and package: OK"
