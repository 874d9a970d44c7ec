# Sourced by the scripts: installs the Debian packages the build needs, once.
# The tools (peer, demo, soak) also use CLI11 for their options and
# nlohmann/json for the peer's JSON; the library itself links neither.
# ENet is only for the benchmark's reliable-delivery comparison.
VELT_PACKAGES="g++ cmake make pkg-config libloki-dev libspdlog-dev libgtest-dev libgmock-dev libbenchmark-dev libboost-dev libcli11-dev nlohmann-json3-dev libenet-dev"

# The fuzz leg (scripts/fuzz.sh): clang with libFuzzer and its sanitizer
# runtimes, plus what the core links.
VELT_FUZZ_PACKAGES="clang libclang-rt-14-dev cmake make libloki-dev libspdlog-dev libboost-dev libenet-dev"

# The thread-safety leg (scripts/thread_safety.sh): clang and what the library links.
VELT_THREAD_SAFETY_PACKAGES="clang cmake make libloki-dev libspdlog-dev"

# The demo and the soak run: the compiler, the two libraries the core links
# and the two the tools use.
VELT_DEMO_PACKAGES="g++ cmake make libloki-dev libspdlog-dev libcli11-dev nlohmann-json3-dev"

install_deps() {
  local missing=""
  for p in ${1:-$VELT_PACKAGES}; do
    dpkg -s "$p" >/dev/null 2>&1 || missing="$missing $p"
  done
  [ -z "$missing" ] && return 0
  echo "installing:$missing"
  local sudo=""
  [ "$(id -u)" != 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq $missing >/dev/null
}

# The Windows leg (scripts/windows.sh) only: the mingw-w64 cross compilers with
# the posix thread model, Wine to run the 64-bit tests, and the Linux packages
# whose headers and sources the cross build uses (GoogleTest as source).
VELT_WIN_PACKAGES="cmake make g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine64 libspdlog-dev libfmt-dev libloki-dev googletest libcli11-dev nlohmann-json3-dev"

# Loki's small-object allocator for the cross build: libloki-dev ships it only
# compiled for Linux, so the source of the very version installed is taken from
# Debian's source package (through a private source list; the system's apt
# configuration is left as it is) and unpacked into $1. Prints the source
# folder. The Debian patches touch only headers, which come from libloki-dev.
fetch_loki_source() {
  local dest=$1
  local src
  src=$(ls -d "$dest"/libloki-*/src 2>/dev/null | head -n1 || true)
  if [ -n "$src" ] && [ -f "$src/SmallObj.cpp" ]; then
    dirname "$src"
    return 0
  fi
  local version apt work
  version=$(dpkg-query -W -f='${source:Version}' libloki-dev)
  work=$(mktemp -d)
  mkdir -p "$work/parts" "$work/lists/partial" "$work/cache/archives/partial" "$dest"
  # The same archives as the binary packages, asked for sources.
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] && sed 's/^Types: deb$/Types: deb-src/' "$f" > "$work/parts/$(basename "$f")"
  done
  sed -n 's/^deb /deb-src /p' /etc/apt/sources.list 2>/dev/null > "$work/parts/src.list" || true
  apt="-o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts=$work/parts -o Dir::State::Lists=$work/lists"
  apt="$apt -o Dir::Cache=$work/cache -o APT::Sandbox::User=root"
  apt-get -qq $apt update >&2
  (cd "$work" && apt-get -qq $apt source --download-only "libloki=$version" >&2)
  tar -xzf "$work"/libloki_*.orig.tar.gz -C "$dest"
  rm -rf "$work"
  ls -d "$dest"/libloki-* | head -n1
}
