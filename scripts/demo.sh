#!/usr/bin/env bash
# Installs what the build needs (Debian), builds Release and runs the demo:
# the library against an embedded simulated peer on 127.0.0.1 (or a real
# STPRC with --stprc IP:PORT --local IP). Arguments go to veltrane-demo;
# ./scripts/demo.sh --help lists them.
#   BUILD_DIR=dir   build directory (default: build-release)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
install_deps "$VELT_DEMO_PACKAGES"

build=${BUILD_DIR:-build-release}
jobs=$(nproc 2>/dev/null || echo 2)

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVELT_BUILD_BENCH=OFF -DVELT_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target veltrane-demo -j"$jobs"

exec "$build/tools/veltrane-demo/veltrane-demo" "$@"
