#!/usr/bin/env bash
# Installs the build into a temporary prefix, checks what lands there, then
# builds examples/minimal.c against the installed tree twice, through
# find_package and through pkg-config; each build must get its record to the
# simulated peer (run_minimal_example).
# Usage: install_test.sh BUILD_DIR SOURCE_DIR RUN_MINIMAL_EXAMPLE [FLAGS]
# FLAGS go to every compile and link (the sanitizer of the build, if any).
set -euo pipefail
build=$1 src=$2 runner=$3 flags=${4:-}
cc=${CC:-cc}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

prefix=$tmp/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
lib=$(find "$prefix" -name libveltrane.so)
[ -n "$lib" ] || fail "no libveltrane.so under the prefix"
libdir=$(dirname "$lib")
for f in include/veltrane.h bin/veltrane-peer bin/veltrane-demo; do
  [ -e "$prefix/$f" ] || fail "$f not installed"
done
[ -z "$(find "$prefix" -name '*testhooks*')" ] || fail "the test-hooks library was installed"

export PKG_CONFIG_PATH=$libdir/pkgconfig
version=$(pkg-config --modversion veltrane)
soname=$(objdump -p "$lib" | awk '$1 == "SONAME" {print $2}')
[ "$soname" = "libveltrane.so.${version%%.*}" ] || fail "SONAME $soname for version $version"
[ -e "$libdir/libveltrane.so.$version" ] || fail "no libveltrane.so.$version"
# The installed programs find the installed library on their own.
"$prefix/bin/veltrane-demo" --help >/dev/null || fail "the installed demo does not start"
"$prefix/bin/veltrane-peer" --help >/dev/null || fail "the installed peer does not start"

warn="-Wall -Wextra -Werror"
cmake -S "$src/tests/e2e/install_consumer" -B "$tmp/by-cmake" -DCMAKE_PREFIX_PATH="$prefix" \
  -DMINIMAL_SOURCE="$src/examples/minimal.c" -DCMAKE_C_FLAGS="$warn $flags" \
  -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null || fail "find_package(Veltrane) project does not configure"
cmake --build "$tmp/by-cmake" >/dev/null || fail "find_package(Veltrane) project does not build"
echo "find_package build:"
"$runner" "$tmp/by-cmake/minimal"

# shellcheck disable=SC2046  # the flags are meant to split
"$cc" -std=c11 $warn $flags "$src/examples/minimal.c" -o "$tmp/by-pkg-config" \
  $(pkg-config --cflags --libs veltrane) -Wl,-rpath,"$(pkg-config --variable=libdir veltrane)" \
  || fail "pkg-config build failed"
echo "pkg-config build:"
"$runner" "$tmp/by-pkg-config"
