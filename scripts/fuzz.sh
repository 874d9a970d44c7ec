#!/usr/bin/env bash
# Builds every libFuzzer target under fuzz/ (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a bounded time, starting from
# its committed seed corpus fuzz/corpus/<target>/ (read only: new inputs go to
# a scratch directory). Any crash, leak, sanitizer report or oracle failure
# fails the script and leaves the input in the build directory.
#   FUZZ_SECONDS=n   time per target (default 25)
#   FUZZ_RUNS=n      run n inputs per target instead of a time (long runs)
#   FUZZ_JOBS=n      parallel fuzzing processes per target (default 1)
#   BUILD_DIR=dir    build directory (default build-fuzz)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
install_deps "$VELT_FUZZ_PACKAGES"

build=${BUILD_DIR:-build-fuzz}
seconds=${FUZZ_SECONDS:-25}
launcher=""
command -v ccache >/dev/null 2>&1 && launcher="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache"
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo $launcher \
  -DVELT_BUILD_FUZZ=ON -DVELT_BUILD_TESTS=OFF -DVELT_BUILD_TOOLS=OFF -DVELT_BUILD_BENCH=OFF >/dev/null

targets=()
for src in fuzz/*_fuzz.cpp; do targets+=("$(basename "$src" .cpp)"); done
cmake --build "$build" -j"$(nproc 2>/dev/null || echo 2)" --target "${targets[@]}"

# Leaks are checked after every input; the pools keep their blocks until the
# process ends by design, so there is no check at exit.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:leak_check_at_exit=0:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
budget="-max_total_time=$seconds"
[ -n "${FUZZ_RUNS:-}" ] && budget="-runs=$FUZZ_RUNS"
parallel=""
[ -n "${FUZZ_JOBS:-}" ] && parallel="-jobs=$FUZZ_JOBS -workers=$FUZZ_JOBS"
for t in "${targets[@]}"; do
  mkdir -p "$build/fuzz-work/$t" "fuzz/corpus/$t"
  echo "== $t ($budget) =="
  rc=0
  (cd "$build" && "./fuzz/$t" $budget $parallel -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="fuzz-work/$t-" "fuzz-work/$t" "../fuzz/corpus/$t") >"$build/fuzz-work/$t.log" 2>&1 || rc=$?
  grep -E "^stat::number_of_executed_units|^stat::average_exec_per_sec|^#[0-9]+ +DONE|ERROR|oracle failed|SUMMARY" \
    "$build/fuzz-work/$t.log" || true
  if [ "$rc" != 0 ]; then
    tail -40 "$build/fuzz-work/$t.log" >&2
    echo "fuzz target $t failed (exit $rc); input kept as $build/fuzz-work/$t-*" >&2
    exit 1
  fi
done
