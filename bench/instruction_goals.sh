#!/usr/bin/env bash
# Measures the reference host against its speed and memory goals and prints
# each figure beside its goal with PASS or MISS. Builds nothing: give it a
# build directory that holds rulehost and bench/class_declare_probe (built
# with benchmarks on).
#
#   bench/instruction_goals.sh [BUILD_DIR]        (default: build)
#
# Instruction counts come from valgrind's callgrind (deterministic on a noisy
# machine). Each is taken at two sizes and the difference is divided by the
# difference in units of work, so start-up and loading cost drop out. Sizes
# (environment, defaults in brackets):
#   SIM_SAMPLES_SMALL/SIM_SAMPLES_LARGE   simulate selects     [1000/5000]
#   PAIRS_SMALL/PAIRS_LARGE               select+fight pairs   [100/600]
#   LOG_ROUNDS_SMALL/LOG_ROUNDS_LARGE     event-log rounds     [5000/25000]
#   CLASS_PROPERTIES                      properties declared  [100000]
#   WORLD_CREATORS                        creators loaded      [100000]
# The goals are stated for the default sizes of the last two; other sizes
# print their figure without a verdict.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=${1:-build}
rulehost=$build/rulehost
probe=$build/bench/class_declare_probe
scenarios=$here/scenarios

sim_small=${SIM_SAMPLES_SMALL:-1000}
sim_large=${SIM_SAMPLES_LARGE:-5000}
pairs_small=${PAIRS_SMALL:-100}
pairs_large=${PAIRS_LARGE:-600}
log_small=${LOG_ROUNDS_SMALL:-5000}
log_large=${LOG_ROUNDS_LARGE:-25000}
class_props=${CLASS_PROPERTIES:-100000}
world_creators=${WORLD_CREATORS:-100000}

for tool in valgrind /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "missing $tool: run scripts/deps.sh" >&2; exit 2; }
done
for bin in "$rulehost" "$probe"; do
  [ -x "$bin" ] || { echo "missing $bin: build with -DGAMERULES_BENCH=ON" >&2; exit 2; }
done

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Instructions callgrind collected running "$@" (every thread); fails with
# the command's output when it fails.
instructions() {
  if ! valgrind --tool=callgrind --callgrind-out-file="$tmp/callgrind.out" "$@" \
      >"$tmp/out" 2>"$tmp/err"; then
    echo "failed: $*" >&2
    cat "$tmp/out" "$tmp/err" >&2
    exit 1
  fi
  sed -n 's/.*Collected : \([0-9]*\).*/\1/p' "$tmp/err"
}

# "$@" run under /usr/bin/time: sets peak_kb and cpu_s; its stdout is in $tmp/out.
timed() {
  if ! /usr/bin/time -o "$tmp/time" -f "%M %U %S" "$@" >"$tmp/out" 2>"$tmp/err"; then
    echo "failed: $*" >&2
    cat "$tmp/out" "$tmp/err" >&2
    exit 1
  fi
  read -r peak_kb user_s sys_s <"$tmp/time"
  cpu_s=$(awk -v u="$user_s" -v s="$sys_s" 'BEGIN { printf "%.2f", u + s }')
}

rows=()
# row LABEL FIGURE UNIT GOAL_OP GOAL [VERDICT]; verdict computed unless given.
row() {
  local verdict=${6:-}
  if [ -z "$verdict" ]; then
    verdict=$(awk -v f="$2" -v op="$4" -v g="$5" \
      'BEGIN { ok = (op == "<=") ? (f <= g) : (f < g); print ok ? "PASS" : "MISS" }')
  fi
  rows+=("$(printf '%-58s %12s %-6s %3s %-8s %s' "$1" "$2" "$3" "$4" "$5" "$verdict")")
  echo "${rows[-1]}"
}

per_unit() {  # (large - small) / (units_large - units_small)
  awk -v a="$1" -v b="$2" -v u="$3" -v v="$4" 'BEGIN { printf "%.0f", (b - a) / (v - u) }'
}

echo "== rulehost simulate --creator 1 --selects {$sim_small,$sim_large} under callgrind"
i1=$(instructions "$rulehost" simulate --creator 1 --selects "$sim_small")
i2=$(instructions "$rulehost" simulate --creator 1 --selects "$sim_large")
row "simulate --creator 1, instructions per sample" "$(per_unit "$i1" "$i2" "$sim_small" "$sim_large")" instr "<=" 8000

echo "== rulehost run bench/scenarios/select_fight.lua, BENCH_PAIRS={$pairs_small,$pairs_large}, under callgrind"
i1=$(BENCH_PAIRS=$pairs_small instructions "$rulehost" run --quiet "$scenarios/select_fight.lua")
i2=$(BENCH_PAIRS=$pairs_large instructions "$rulehost" run --quiet "$scenarios/select_fight.lua")
row "scenario select + fight_won, log on, instructions per pair" "$(per_unit "$i1" "$i2" "$pairs_small" "$pairs_large")" instr "<=" 20000

echo "== rulehost run bench/scenarios/event_log_long.lua, BENCH_ROUNDS={$log_small,$log_large}, under /usr/bin/time"
# Two figures: the peak RSS of the long run less that of the short one, per
# extra event; and the resident memory the long run gained between its two
# checkpoints (after $log_small and $log_large rounds), per event logged in
# between. The verdict takes the larger.
events_of() { sed -n 's/^bench-checkpoint events=\([0-9]*\) rss_kb=\([0-9]*\)$/\1 \2/p' "$tmp/out" | sed -n "$1p"; }
BENCH_ROUNDS_FIRST=$log_small BENCH_ROUNDS=$log_small timed "$rulehost" run --quiet "$scenarios/event_log_long.lua"
peak_short=$peak_kb
read -r events_short _ <<<"$(events_of 2)"
BENCH_ROUNDS_FIRST=$log_small BENCH_ROUNDS=$log_large timed "$rulehost" run --quiet "$scenarios/event_log_long.lua"
peak_long=$peak_kb
read -r ev1 rss1 <<<"$(events_of 1)"
read -r ev2 rss2 <<<"$(events_of 2)"
by_peak=$(per_unit "$((peak_short * 1024))" "$((peak_long * 1024))" "$events_short" "$ev2")
by_resident=$(per_unit "$((rss1 * 1024))" "$((rss2 * 1024))" "$ev1" "$ev2")
worse=$(( by_peak > by_resident ? by_peak : by_resident ))
echo "   $events_short events: peak ${peak_short} KB; $ev2 events: peak ${peak_long} KB" \
  "(resident ${rss1} KB at event $ev1, ${rss2} KB at event $ev2)"
row "event log, peak RSS difference per extra event" "$by_peak" B "<=" 100 \
  "$( [ "$worse" -le 100 ] && echo PASS || echo MISS)"
row "event log, resident growth within the run per event" "$by_resident" B "<=" 100 \
  "$( [ "$worse" -le 100 ] && echo PASS || echo MISS)"

echo "== $probe $class_props under /usr/bin/time"
timed "$probe" "$class_props"
verdict=""
[ "$class_props" -eq 100000 ] || verdict="-- (goal is for 100000)"
row "declaring a class of $class_props properties, CPU seconds" "$cpu_s" s "<" 1 "$verdict"

echo "== rulehost run bench/scenarios/creators_world.lua, BENCH_CREATORS=$world_creators, under /usr/bin/time"
BENCH_CREATORS=$world_creators timed "$rulehost" run --quiet "$scenarios/creators_world.lua"
verdict=""
[ "$world_creators" -eq 100000 ] || verdict="-- (goal is for 100000)"
row "a world of $world_creators loaded creators, peak RSS" "$((peak_kb / 1024))" MB "<=" 400 "$verdict"
echo "   (took $cpu_s CPU seconds)"

echo
echo "== summary ($rulehost)"
printf '%s\n' "${rows[@]}"
