#!/usr/bin/env bash
# Installs BUILD_DIR into a temporary prefix, checks what lands there, builds examples/ (find_package) and minimal.c
# (pkg-config) against it and runs both against the peer. Usage: install_test.sh BUILD_DIR SOURCE_DIR RUNNER [SAN_FLAGS]
set -euo pipefail
trap 'echo "FAIL at line $LINENO: $BASH_COMMAND"' ERR
build=$1 src=$2 runner=$3 flags=${4:-}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cmake --install "$build" --prefix "$tmp/p" >/dev/null
lib=$(find "$tmp/p" -name libveltrane.so)
export PKG_CONFIG_PATH=${lib%/*}/pkgconfig
objdump -p "$lib" | grep -qE "SONAME +libveltrane\.so\.$(pkg-config --modversion veltrane | cut -d. -f1)$"
test -f "$tmp/p/include/veltrane.h"; test -z "$(find "$tmp/p" -name '*testhooks*')"
"$tmp/p/bin/veltrane-demo" --help >/dev/null; "$tmp/p/bin/veltrane-peer" --help >/dev/null  # rpath to the library
cmake -S "$src/examples" -B "$tmp/by-cmake" -DCMAKE_PREFIX_PATH="$tmp/p" \
  -DCMAKE_C_FLAGS="-Wall -Wextra -Werror $flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null
cmake --build "$tmp/by-cmake" >/dev/null
"$runner" "$tmp/by-cmake/minimal"
${CC:-cc} -std=c11 -Wall -Wextra -Werror $flags "$src/examples/minimal.c" -o "$tmp/by-pkg-config" \
  $(pkg-config --cflags --libs veltrane) -Wl,-rpath,"$(pkg-config --variable=libdir veltrane)"
"$runner" "$tmp/by-pkg-config"
