#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for about a minute on
# a scratch copy of its seed corpus (the seeds in the repository stay as they
# are). Exits non-zero when a target crashes or a sanitizer reports.
set -euo pipefail
cd "$(dirname "$0")/.."

FUZZ_SECONDS="${FUZZ_SECONDS:-60}"
BUILD=build-fuzz

cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGAMERULES_FUZZ=ON \
      -DCMAKE_CXX_COMPILER=clang++ -DGAMERULES_TESTS=OFF -DGAMERULES_BENCH=OFF >/dev/null

# target name -> seed corpus directory under fuzz/corpus
declare -A CORPUS=([ini_fuzz]=ini [class_xml_fuzz]=xml)

cmake --build "$BUILD" --target "${!CORPUS[@]}" -j2

status=0
for target in ini_fuzz class_xml_fuzz; do
  work="$BUILD/fuzz-run/$target"
  rm -rf "$work"
  mkdir -p "$work/corpus" "$work/artifacts"
  cp fuzz/corpus/"${CORPUS[$target]}"/* "$work/corpus/"
  echo "-- $target for ${FUZZ_SECONDS}s"
  if ! ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
       UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
       "$BUILD/fuzz/$target" -max_total_time="$FUZZ_SECONDS" -max_len=4096 -timeout=20 -rss_limit_mb=2048 \
         -print_final_stats=1 -artifact_prefix="$work/artifacts/" "$work/corpus" \
         >"$work/log.txt" 2>&1; then
    echo "!! $target failed; last lines of its log:"
    tail -n 60 "$work/log.txt"
    ls -l "$work/artifacts" || true
    status=1
  else
    grep -E "^stat::number_of_executed_units|^Done" "$work/log.txt" || tail -n 3 "$work/log.txt"
  fi
done
exit "$status"
