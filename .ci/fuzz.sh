#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each on a scratch copy of
# its seed corpus (the seeds in the repository stay as they are). Exits
# non-zero when a target crashes or a sanitizer reports.
#
# As a CI gate the run is repeatable: a fixed seed and a fixed number of
# inputs per target, so a clean commit stays clean on every run and a crash
# found here is found again. FUZZ_SECONDS caps each target's time. For a long
# exploratory run pick a fresh seed and no input limit, for example
#   FUZZ_SEED=0 FUZZ_RUNS=-1 FUZZ_SECONDS=1800 .ci/fuzz.sh
set -euo pipefail
cd "$(dirname "$0")/.."

FUZZ_SECONDS="${FUZZ_SECONDS:-120}"
FUZZ_SEED="${FUZZ_SEED:-1}"   # 0 lets libFuzzer pick one
BUILD=build-fuzz

cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGAMERULES_FUZZ=ON \
      -DCMAKE_CXX_COMPILER=clang++ -DGAMERULES_TESTS=OFF -DGAMERULES_BENCH=OFF >/dev/null

# target name -> seed corpus directory under fuzz/corpus
declare -A CORPUS=([ini_fuzz]=ini [class_xml_fuzz]=xml [candidate_tables_fuzz]=candidate_tables
                   [script_answer_fuzz]=script_answer [world_fuzz]=world)
# inputs per target, about a minute each on a CI core; FUZZ_RUNS overrides all
declare -A RUNS=([ini_fuzz]=1200000 [class_xml_fuzz]=60000 [candidate_tables_fuzz]=40000
                 [script_answer_fuzz]=50000 [world_fuzz]=4000)
# longest input per target: class files reach the nesting bound only with
# large inputs, so that target may grow them up to the 1 MiB size bound
declare -A MAXLEN=([ini_fuzz]=4096 [class_xml_fuzz]=1048576 [candidate_tables_fuzz]=4096
                   [script_answer_fuzz]=1024 [world_fuzz]=4096)

cmake --build "$BUILD" --target "${!CORPUS[@]}" -j2

status=0
for target in ini_fuzz class_xml_fuzz candidate_tables_fuzz script_answer_fuzz world_fuzz; do
  work="$BUILD/fuzz-run/$target"
  rm -rf "$work"
  mkdir -p "$work/corpus" "$work/artifacts"
  cp fuzz/corpus/"${CORPUS[$target]}"/* "$work/corpus/"
  runs="${FUZZ_RUNS:-${RUNS[$target]}}"
  echo "-- $target: seed $FUZZ_SEED, $runs inputs, at most ${FUZZ_SECONDS}s"
  if ! ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
       UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
       "$BUILD/fuzz/$target" -seed="$FUZZ_SEED" -runs="$runs" -max_total_time="$FUZZ_SECONDS" -max_len="${MAXLEN[$target]}" -timeout=20 -rss_limit_mb=2048 \
         -print_final_stats=1 -artifact_prefix="$work/artifacts/" "$work/corpus" \
         >"$work/log.txt" 2>&1; then
    echo "!! $target failed; last lines of its log:"
    tail -n 60 "$work/log.txt"
    # The artifact dies with the CI machine: print its bytes so the input
    # can be rebuilt from the log.
    for f in "$work"/artifacts/*; do
      [ -f "$f" ] || continue
      echo "-- $f, $(wc -c <"$f") bytes:"
      od -An -tx1 -v "$f" | head -n 300
    done
    status=1
  else
    grep -E "^stat::number_of_executed_units|^Done" "$work/log.txt" || tail -n 3 "$work/log.txt"
  fi
done
exit "$status"
