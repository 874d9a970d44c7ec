#!/usr/bin/env bash
# Soak run on loopback: builds Release and runs tools/veltrane-soak, the
# library under 8 host threads above the rate it can send, SetStpRc and key
# churn, 30% drop plus duplication plus delay both ways and a QoS server that
# vanishes and returns. Prints records offered/refused/delivered, secured
# blocks posted/acknowledged/delivered once, resident memory, threads and fds
# at start and end; exits non-zero when a bound did not hold.
#   SOAK_SECONDS=n  length of the load (default 30); the run ends within
#                   n + drain + 60 seconds whatever happens
#   BUILD_DIR=dir   build directory (default: build-release)
# Further arguments go to veltrane-soak (--rate 0 for full speed, --help).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
install_deps "$VELT_DEMO_PACKAGES"

build=${BUILD_DIR:-build-release}
seconds=${SOAK_SECONDS:-30}
jobs=$(nproc 2>/dev/null || echo 2)
launcher=""
command -v ccache >/dev/null 2>&1 && launcher="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache"

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release $launcher -DVELT_BUILD_BENCH=OFF -DVELT_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target veltrane-soak -j"$jobs"

exec timeout --signal=KILL $((seconds + 60 + 60)) \
  "$build/tools/veltrane-soak/veltrane-soak" --seconds "$seconds" --drain 60 "$@"
