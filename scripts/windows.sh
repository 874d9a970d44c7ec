#!/usr/bin/env bash
# Windows leg: cross-builds veltrane.dll for 32-bit Windows and checks that it
# exports exactly the public functions and imports only system DLLs; then
# builds the 64-bit library with its unit and end-to-end suites and runs them
# under Wine (32-bit programs cannot run on these machines, 64-bit ones can).
# The end-to-end suite plays the far side in process with the peer's library;
# the peer and demo programs themselves are Linux ones.
#   WERROR=1          warnings are errors (CI sets it)
#   DLL_ONLY=1        stop after the DLL check
#   CTEST_ARGS="..."  extra arguments for ctest (for example -R Platform)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
install_deps "$VELT_WIN_PACKAGES"
loki=$(fetch_loki_source "$PWD/build-win-deps")
jobs=$(nproc 2>/dev/null || echo 2)

launcher=""
command -v ccache >/dev/null 2>&1 && launcher="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache"
common="-DCMAKE_BUILD_TYPE=Release $launcher -DVELT_LOKI_SOURCE_DIR=$loki
  -DVELT_WERROR=$([ "${WERROR:-0}" = 1 ] && echo ON || echo OFF)"

echo "== veltrane.dll (i686) =="
cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake $common -DVELT_BUILD_TESTS=OFF -DVELT_BUILD_TOOLS=OFF >/dev/null
cmake --build build-win32 -j"$jobs" --target veltrane
(cd build-win32 && ctest --output-on-failure -R '^dll_exports$')
[ "${DLL_ONLY:-0}" = 1 ] && exit 0

echo "== x86_64 suite under Wine =="
cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-x86_64.cmake $common -DVELT_BUILD_TOOLS=ON >/dev/null
cmake --build build-win64 -j"$jobs"

# A prefix of the build's own, and one wineserver kept alive for the whole
# run: without it every test process starts (and waits for) a server of its
# own, and a server started by ctest keeps ctest's output pipe open.
export WINEPREFIX=$PWD/build-win64/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine64=$(command -v wine64 || echo /usr/lib/wine/wine64)
mkdir -p "$WINEPREFIX"
wineserver -p </dev/null >/dev/null 2>&1
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
"$wine64" wineboot -u </dev/null >/dev/null 2>&1
cd build-win64
ctest --output-on-failure -j"$jobs" ${CTEST_ARGS:-}
