# Sourced by the scripts: installs the Debian packages the build needs, once.
VELT_PACKAGES="g++ cmake make pkg-config libloki-dev libspdlog-dev libgtest-dev libgmock-dev libbenchmark-dev libboost-dev"

# The fuzz leg (scripts/fuzz.sh): clang with libFuzzer and its sanitizer
# runtimes, plus what the core links.
VELT_FUZZ_PACKAGES="clang libclang-rt-14-dev cmake make libloki-dev libspdlog-dev libboost-dev"

# The demo needs only the compiler and the two libraries the core links.
VELT_DEMO_PACKAGES="g++ cmake make libloki-dev libspdlog-dev"

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
