#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer (ASan + UBSan) and runs each
# for the given number of seconds (default 60), starting from its seed corpus.
# New inputs go to build/fuzz/corpus/<target>; a finding stops the run and is
# written to build/fuzz/findings/ (add it to fuzz/corpus/<target> as a regression).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
build=build/fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DOSTRELA_FUZZ=ON -DOSTRELA_SANITIZE="address;undefined" -DOSTRELA_BUILD_TESTS=OFF \
  -DOSTRELA_BUILD_BENCHMARKS=OFF -DOSTRELA_BUILD_HOST_APP=OFF >/dev/null
cmake --build "$build" --target ostrela_fuzz_targets
targets=$(cat "$build/fuzz/targets.txt")
mkdir -p "$build/findings"
for t in $targets; do
  mkdir -p "$build/corpus/$t"
  echo "--- $t: ${seconds} s"
  "$build/fuzz/ostrela_${t}_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$build/findings/$t-" \
    "$build/corpus/$t" "fuzz/corpus/$t" 2>&1 |
    grep -E '^(#[0-9]+ +DONE|stat::number_of_executed_units|==[0-9]+==|SUMMARY)' || true
  if ls "$build/findings/$t-"* >/dev/null 2>&1; then
    echo "finding in $t: $(ls "$build/findings/$t-"*)"
    exit 1
  fi
done
