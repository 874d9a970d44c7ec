#!/usr/bin/env bash
# Installs what the build needs (Debian), configures, builds and runs the tests.
#   BUILD_DIR=dir     build directory (default: build, or build-san with SANITIZE=1)
#   SANITIZE=1        AddressSanitizer + UndefinedBehaviorSanitizer build
#   TSAN=1            ThreadSanitizer build (default dir build-tsan)
#   WERROR=1          warnings are errors (CI sets it)
#   CTEST_ARGS="..."  extra arguments for ctest (for example -L unit)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
install_deps

san=${SANITIZE:-0}
build=${BUILD_DIR:-build}
[ "$san" = 1 ] && build=${BUILD_DIR:-build-san}
tsan=${TSAN:-0}
[ "$tsan" = 1 ] && build=${BUILD_DIR:-build-tsan}
jobs=$(nproc 2>/dev/null || echo 2)

# ccache, when present, keeps rebuilds across build folders cheap.
launcher=""
command -v ccache >/dev/null 2>&1 && launcher="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache"

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} $launcher \
  -DVELT_SANITIZE=$([ "$san" = 1 ] && echo ON || echo OFF) \
  -DVELT_SANITIZE_THREAD=$([ "$tsan" = 1 ] && echo ON || echo OFF) \
  -DVELT_WERROR=$([ "${WERROR:-0}" = 1 ] && echo ON || echo OFF) \
  -DVELT_BUILD_BENCH=${BUILD_BENCH:-ON} >/dev/null
cmake --build "$build" -j"$jobs"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=0:second_deadlock_stack=1}
cd "$build"
ctest --output-on-failure -j"$jobs" ${CTEST_ARGS:-}
