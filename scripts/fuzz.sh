#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into their own build directory and
# runs each for a while on a copy of its seed corpus (fuzz/corpus/<name>).
# Usage: scripts/fuzz.sh [seconds per target, default 20] [build-dir]
# A crash leaves its input as crash-* in <build-dir>/runs/<name>/ and fails.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_EACH="${1:-20}"
BUILD_DIR="${2:-build-fuzz}"
CC=clang-14 CXX=clang++-14 cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DORDALIS_FUZZ=ON -DORDALIS_BUILD_TESTS=OFF -DORDALIS_BUILD_BENCH=OFF ${ORDALIS_CMAKE_ARGS:-}
targets=(registry_file ini_file zone_rule date_text number_analysis filter_clause)
cmake --build "$BUILD_DIR" -j"$(nproc)" --target "${targets[@]/#/fuzz_}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
status=0
for t in "${targets[@]}"; do
  run="$BUILD_DIR/runs/$t"
  rm -rf "$run" && mkdir -p "$run/corpus"
  cp fuzz/corpus/"$t"/* "$run/corpus/"
  if (cd "$run" && "../../fuzz/fuzz_$t" -max_total_time="$SECONDS_EACH" -max_len=4096 -timeout=10 \
        -rss_limit_mb=2048 -print_final_stats=1 corpus >log 2>&1); then
    echo "fuzz_$t: $(grep -o 'stat::number_of_executed_units: *[0-9]*' "$run/log" | grep -o '[0-9]*$') executions," \
         "$(ls "$run/corpus" | wc -l) inputs in the corpus"
  else
    echo "fuzz_$t FAILED:" && tail -40 "$run/log"
    status=1
  fi
done
exit $status
