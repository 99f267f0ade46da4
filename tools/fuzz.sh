#!/usr/bin/env bash
# Fuzzes everything Ramulon reads from people (OBJ envelopes, presets, typed settings, whole
# parameter records, requests to the server) with libFuzzer, each target for the given number of seconds (default 30).
#
#   tools/fuzz.sh [seconds]
#
# Each target starts from a copy of its seed corpus (fuzz/corpus/<target>) in
# out/fuzz-corpus/<target>, where the inputs it finds stay for the next run; crashes, leaks,
# hangs and broken checks go to out/fuzz-crashes/, the logs to out/fuzz-logs/. Exits non-zero
# when any target found one.
#
# Environment: FUZZ_BUILD (build folder, default build-fuzz), FUZZ_TARGETS (default all five),
# FUZZ_TIMEOUT (seconds one input may take before it counts as a hang, default 60; generous,
# because the targets run with AddressSanitizer and UndefinedBehaviorSanitizer on shared
# machines), CMAKE_FLAGS (extra configure flags, as the Makefile passes them).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-30}
build=${FUZZ_BUILD:-build-fuzz}
targets=(${FUZZ_TARGETS:-fuzz_obj fuzz_preset fuzz_set fuzz_build fuzz_http})
timeout=${FUZZ_TIMEOUT:-60}
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
  echo "usage: tools/fuzz.sh [seconds]  (a whole number of seconds per target, at least 1)" >&2
  exit 2
fi

# The build's own packages, with clang and its fuzzer runtime.
./tools/install-deps.sh clang libclang-rt-14-dev

CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRAMULON_FUZZ=ON \
  -DRAMULON_TESTS=OFF -DRAMULON_BENCH=OFF ${CMAKE_FLAGS:-}
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"

mkdir -p out/fuzz-crashes out/fuzz-logs
failed=()
for t in "${targets[@]}"; do
  corpus=out/fuzz-corpus/$t
  mkdir -p "$corpus"
  cp -n fuzz/corpus/"$t"/* "$corpus"/ 2>/dev/null || true
  log=out/fuzz-logs/$t.log
  echo "== $t: ${seconds} s on $corpus"
  rc=0
  ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1} UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1} \
    "$build"/fuzz/"$t" -max_total_time="$seconds" -timeout="$timeout" -rss_limit_mb=4096 \
    -print_final_stats=1 -artifact_prefix=out/fuzz-crashes/"$t"- "$corpus" >"$log" 2>&1 || rc=$?
  grep -aE '^#[0-9]+[[:space:]]+DONE|^stat::number_of_executed_units|^stat::peak_rss_mb' "$log" || true
  if [ "$rc" -ne 0 ]; then
    echo "$t FAILED (exit $rc); see $log and out/fuzz-crashes/"
    grep -aE 'ERROR|broken promise|SUMMARY|Test unit written' "$log" | head -5 || true
    failed+=("$t")
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing found problems in: ${failed[*]}"
  exit 1
fi
echo "fuzzing found nothing in ${seconds} s per target"
