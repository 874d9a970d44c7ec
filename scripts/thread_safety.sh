#!/usr/bin/env bash
# Clang's lock analysis over the library: the layer libraries and the shared
# library (no tests, tools or benchmarks) built by clang with -Wthread-safety
# and warnings as errors. Every member a lock guards carries TZ_GUARDED_BY,
# so touching one without its lock fails this build.
#   BUILD_DIR=dir     build directory (default build-thread-safety)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
install_deps "$VELT_THREAD_SAFETY_PACKAGES"
build=${BUILD_DIR:-build-thread-safety}
jobs=$(nproc 2>/dev/null || echo 2)

launcher=""
command -v ccache >/dev/null 2>&1 && launcher="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache"

# No optimisation and no debug information: the analysis is all this build is for.
CC=clang CXX=clang++ cmake -S . -B "$build" $launcher -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-O0 \
  -DCMAKE_CXX_FLAGS="-Wthread-safety" -DVELT_WERROR=ON \
  -DVELT_BUILD_TESTS=OFF -DVELT_BUILD_TOOLS=OFF -DVELT_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j"$jobs" --target veltrane
