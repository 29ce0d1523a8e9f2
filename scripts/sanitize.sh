#!/usr/bin/env bash
# Builds everything with clang, AddressSanitizer and UndefinedBehaviorSanitizer
# into build-sanitize/, runs every test there (the window's offscreen), then builds
# the tests of the passes split between two threads with ThreadSanitizer into
# build-tsan/ and runs them, then runs each fuzz target from its kept corpus for a
# bounded time. Any sanitizer report, failed test or fuzzer finding fails the script.
#
#   scripts/sanitize.sh [seconds per fuzz target]    (default 60; 0 skips fuzzing)
#
# A fuzzer's finding is saved under build-sanitize/fuzz-findings/; run the
# fuzzer on that file alone to see it again. The kept corpus is only read: each
# run works on a copy in a temporary folder.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
fuzz_seconds="${1:-60}"
build=build-sanitize
jobs="$(nproc)"

# clang with its sanitizer and libFuzzer runtimes, and llvm-symbolizer for the
# stacks in their reports.
scripts/install_packages.sh clang libclang-rt-14-dev llvm-14

# Reports end the program (the code is built not to recover); stacks are symbolized.
export ASAN_OPTIONS="detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export ASAN_SYMBOLIZER_PATH="${ASAN_SYMBOLIZER_PATH:-$(command -v llvm-symbolizer-14 || command -v llvm-symbolizer || true)}"
export QT_QPA_PLATFORM=offscreen

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DLANDUSE_SANITIZE=ON -DLANDUSE_BUILD_FUZZERS=ON -DLANDUSE_BUILD_UI=ON -DLANDUSE_BUILD_TESTS=ON \
  -DLANDUSE_BUILD_BENCHMARKS=OFF
cmake --build "$build" -j"$jobs"

ctest_log="$build/ctest.log"
(cd "$build" && ctest --output-on-failure -j"$jobs") 2>&1 | tee "$ctest_log"
tests_summary="$(grep -E 'tests passed' "$ctest_log" | tail -n 1)"

# ThreadSanitizer: only the tests that run the split passes on two threads (the
# splitter itself, the fast phases, the recorded scenes with every worker count and
# helper timing, the window's drawing pass), so the build stays small. A report
# ends the test program with an error.
tsan=build-tsan
cmake -S . -B "$tsan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_CXX_FLAGS="-fsanitize=thread -fno-omit-frame-pointer" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread" \
  -DLANDUSE_BUILD_UI=ON -DLANDUSE_BUILD_TESTS=ON -DLANDUSE_BUILD_BENCHMARKS=OFF -DLANDUSE_BUILD_PYTHON=OFF
cmake --build "$tsan" -j"$jobs" --target landuse_sim_tests landuse_determinism_tests drawing_pass_test
export TSAN_OPTIONS="halt_on_error=1:exitcode=66:second_deadlock_stack=1"
"$tsan/tests/landuse_sim_tests" --gtest_filter='RowSplitter.*:FastPhases.*:PotentialFields.*:DisplayRange.*'
"$tsan/tests/landuse_determinism_tests"
"$tsan/tests/ui/drawing_pass_test"
tsan_summary="thread sanitizer: splitter, fast phases, determinism and drawing pass without reports"

fuzz_summary="fuzzing skipped"
if [ "$fuzz_seconds" -gt 0 ]; then
  findings="$root/$build/fuzz-findings"
  work="$(mktemp -d)"
  trap 'rm -rf "$work"' EXIT
  fuzzers=(conversion_runner_fuzzer model_driver_fuzzer run_state_fuzzer)
  # The fuzzers run side by side, one per core, each for the same time.
  pids=()
  for name in "${fuzzers[@]}"; do
    # A run state holds at least a 40 x 40 grid of cells: its inputs are larger.
    max_len=4096
    [ "$name" = run_state_fuzzer ] && max_len=262144
    mkdir -p "$work/$name/corpus" "$findings"
    cp -r "fuzz/corpus/$name/." "$work/$name/corpus/"
    (cd "$work/$name" && exec "$root/$build/fuzz/$name" -max_total_time="$fuzz_seconds" -timeout=5 \
       -rss_limit_mb=2048 -max_len=$max_len -print_final_stats=1 -artifact_prefix="$findings/$name-" corpus \
       > "$work/$name/log" 2>&1) &
    pids+=($!)
  done
  failed=0
  fuzz_summary=""
  for i in "${!fuzzers[@]}"; do
    name="${fuzzers[$i]}"
    if ! wait "${pids[$i]}"; then
      failed=1
      echo "=== $name FAILED; its finding is in $findings; the last of its log:" >&2
      tail -n 60 "$work/$name/log" >&2
    fi
    runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$name/log")"
    rate="$(sed -n 's/^stat::average_exec_per_sec: *//p' "$work/$name/log")"
    cov="$(grep -oE 'cov: [0-9]+' "$work/$name/log" | tail -n 1)"
    echo "$name: ${runs:-?} runs in ${fuzz_seconds} s (${rate:-?}/s), ${cov:-cov: ?}"
    fuzz_summary+="${fuzz_summary:+; }$name ${runs:-?} runs"
  done
  [ "$failed" -eq 0 ] || exit 1
fi

echo "sanitizer build: $tests_summary; $tsan_summary; fuzzers without findings: $fuzz_summary"
