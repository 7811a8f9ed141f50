#!/usr/bin/env bash
# check_readme.sh SOURCE_DIR BUILD_DIR
# What the README promises of its own commands: a command it shows with sudo
# it also shows without, for root on a machine that has no sudo; and every
# benchmark in its Performance table prints the core count with its figures.
# Each benchmark runs as briefly as it allows: only the count is checked here,
# not the figures, which a loaded machine may push over their targets.
set -euo pipefail
src=$1 build=$2
readme=$src/README.md
fail() { echo "FAIL: $*" >&2; exit 1; }

# Every "sudo COMMAND" line of a code block (comments aside) has its
# "COMMAND" line in the code blocks too.
awk '/^```/ { open = !open; next }
     open { line = $0; sub(/[[:space:]]*#.*$/, "", line)
            if (line ~ /^sudo /) sudo[substr(line, 6)] = 1; else plain[line] = 1 }
     END { for (c in sudo) if (!(c in plain)) { print "only with sudo: " c; bad = 1 }; exit bad }' "$readme" >&2 ||
  fail "a command in the README works only with sudo"

cores=$(nproc)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
commands=$(sed -n '/^## Performance/,/^## [^P]/p' "$readme" | grep -o '`[^`]*` |$' | tr -d '`|' | sed 's/ *$//' | sort -u)
[ -n "$commands" ] || fail "no benchmark commands in the README's Performance table"
while read -r command; do
  case $command in
    *bench/bench_scan) run=(umockdev-wrapper "$build/bench/bench_scan") ;;
    *bench/query/bench_version_query) run=("$build/bench/query/bench_version_query" 3) ;;
    *bench/upgrade/bench_upgrade_run) run=("$build/bench/upgrade/bench_upgrade_run" 1 1) ;;
    *bench/hotplug/bench_hotplug) run=(umockdev-wrapper "$build/bench/hotplug/bench_hotplug") ;;
    *bench/history/bench_history) run=("$build/bench/history/bench_history" "$scratch" 50 1) ;;
    *bench/history/bench_history" "*) run=("$build/bench/history/bench_history" "$scratch" 50 1) ;;
    *bench/history/bench_history_window) run=(env QT_QPA_PLATFORM=offscreen "$build/bench/history/bench_history_window" 50 1) ;;
    *bench/upgrade/bench_image_copy) run=("$build/bench/upgrade/bench_image_copy" 1 1) ;;
    "bench/idle_cpu.sh build "*) run=(bash "$src/bench/idle_cpu.sh" "$build" 1) ;;
    "bench/startup.sh build "*) run=(bash "$src/bench/startup.sh" "$build" 1) ;;
    "bench/cli.sh build "*) run=(bash "$src/bench/cli.sh" "$build" 1) ;;
    *) fail "the README names a benchmark this test does not know how to run briefly: $command" ;;
  esac
  output=$(cd "$src" && "${run[@]}" 2>&1) || true
  grep -Eq "(cores=$cores|\\b$cores cores)\\b" <<<"$output" || fail "'$command' prints no core count ($cores): $output"
  echo "$command: prints the core count"
done <<<"$commands"
