#!/usr/bin/env bash
# Mutation check: does the suite notice small, deliberate faults?
#
# Each entry below is one fault: an exact fragment of one source file and its
# replacement. Every fault is applied alone, the tree is rebuilt incrementally
# in its own build folder, the suite runs against it, and the file is restored
# from git. A fault is CAUGHT when the build or any test fails (a test that
# hangs until the time-out counts as failing), SURVIVED when everything passes.
# This is a report, not a gate: the exit status is 0 either way, unless the
# unmutated suite already fails (checked once, first) or a fragment is missing.
#
#   scripts/mutants.sh               all faults
#   scripts/mutants.sh ID...         only these faults (ids from the list)
#   scripts/mutants.sh --list        print the list and stop
#   BUILD_DIR=dir                    build folder (default build-mutants)
#   MUTANT_TIMEOUT=s                 per-test time-out for ctest (default 60)
#   CHECK_ONLY=1                     only check that every fragment is found once
#   SKIP_BASELINE=1                  trust that the unmutated suite passes
#   CTEST_ARGS="..."                 extra ctest arguments (e.g. -L unit)
#
# The files a fault touches must have no local changes: each one is restored
# with `git checkout`, on success, failure or Ctrl-C alike.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BUILD_DIR:-build-mutants}
timeout=${MUTANT_TIMEOUT:-60}

# id|file|exact original fragment|replacement   (\n in a fragment is a newline)
# The file may be given as a,b: the first of them that exists (a file moved).
FAULTS=(
  # platform
  "plat-port-order|platform/linux/socket.cpp|a.portBe = htons(portHost);|a.portBe = portHost;"
  "plat-tick-real|platform/common/clock.cpp,platform/linux/clock.cpp|uint32_t GetTickCount() { return static_cast<uint32_t>(MonotonicMs()); }|uint32_t GetTickCount() { return static_cast<uint32_t>(RealSteadyMs()); }"
  "plat-clock-nowake|platform/common/clock.cpp,platform/linux/clock.cpp|    w->cv_.notify_all();|    (void)w;"
  "plat-log-threshold|platform/common/log.cpp,platform/linux/log.cpp|  return level >= LogSinks::Level();|  return level > LogSinks::Level();"
  # platform/clock.h is included almost everywhere: this one rebuilds most of the tree
  "plat-tickdiff-wrap|platform/clock.h|  return static_cast<int32_t>(later - earlier);|  const int64_t d = int64_t{later} - int64_t{earlier};\n  return d < INT32_MIN ? INT32_MIN : d > INT32_MAX ? INT32_MAX : static_cast<int32_t>(d);"
  # helpers
  "help-pool-push|inc/baselibrary/tzhelper/TzMemAlloc.cpp|    list_.Push(h);\n    out_.fetch_sub(1, std::memory_order_relaxed);\n  } else {|    heap_.Free(h);\n    out_.fetch_sub(1, std::memory_order_relaxed);\n  } else {"
  "help-wordlock-exclusion|platform/common/word_lock.cpp|void WordLock::LockSlow() {|void WordLock::LockSlow() {\n  return;"
  "plat-rwlock-reader-past-writer|platform/linux/rwlock.cpp|return (s & kWaiting) == 0 && (s & kCount) < kWriter - 1;|return (s & kWaiting) == 0;"
  "help-qtimer-due|inc/baselibrary/tzhelper/TzQuickTimer.cpp|if (!running \\x7c\\x7c e->due <= now) {|if (!running \\x7c\\x7c e->due < now) {"
  # framework
  "fw-sid-wrap|asynmodel/Session.cpp|  g_sessionIDBase = 2;\n  return 1;|  g_sessionIDBase = 1;\n  return 1;"
  "fw-resident-id|asynmodel/Session.cpp|return g_residentSessionIDBase++;|return ++g_residentSessionIDBase;"
  # net
  "net-len-check|asynmodel/net/UdpDatagram.cpp|wire::GetU16(data + kUdpOffLength) != received|wire::GetU16(data + kUdpOffLength) > received"
  "net-csum-check|asynmodel/net/UdpDatagram.cpp|  if (wire::GetU16(data + kUdpOffChecksum) !=|  if (wire::GetU16(data + kUdpOffChecksum) =="
  "net-sn-order|asynmodel/net/UdpDatagram.cpp|  if (reliable) wire::PutU32(buf + kUdpOffSn, sn);|  if (reliable) wire::PutU32(buf + kUdpOffSn, __builtin_bswap32(sn));"
  "net-ack-flag|asynmodel/net/UdpDatagram.cpp|  out[kUdpOffAck] = 1;|  out[kUdpOffAck] = 0;"
  "net-resend-late|asynmodel/net/UDPReliable.cpp|: static_cast<int64_t>(resend->m_sendCount) * kResendStepMs;|: static_cast<int64_t>(resend->m_sendCount + 1) * kResendStepMs;"
  "net-resend-count|asynmodel/net/UDPReliable.cpp|resend->m_sendCount > kMaxSendsWithoutLimit) return -2;|resend->m_sendCount > kMaxSendsWithoutLimit + 1) return -2;"
  "net-ack-find|asynmodel/net/AliableUdpACKTable.cpp|  return m_buckets[b].Holds(sn);|  return true;"
  "net-dup-filter|asynmodel/net/UDPDuplicateFilter.cpp|    if (!bucket.keys.insert(key).second) return false;|    bucket.keys.insert(key);"
  # report
  "rep-stprc-group|report/StprcGroupTable.cpp|    if (e.groupid > currentGroup) {|    if (e.groupid > currentGroup + 1) {"
  "rep-stprc-inner|report/StprcGroupTable.cpp|      currentGroup = e.groupid;\n      ninnerid = 0;|      currentGroup = e.groupid;"
  "rep-secure-ack|report/SecureTransfer.cpp|  RecyclePacket(it);\n  return 0;\n}|  return 0;\n}"
  "rep-ack-dropped|report/ReportCallInfoReqSession.cpp|    m_coordinator.Secure().Acknowledge(report::SerialAt(data, length, i));|    (void)i;"
  "rep-pause-resume|report/ReportCallInfoReqSession.cpp|    if (elapsed >= kAckPauseMs) m_lastAckTick = now;|    (void)now;"
  "rep-resend-gap|report/SecureTransfer.cpp|if (plat::TickDiff(now, p.tick) < static_cast<int32_t>(m_resendInterval)) continue;|if (plat::TickDiff(now, p.tick) <= 0) continue;"
  "rep-trailer-size|report/LocalCommands.h|constexpr size_t kDestTrailerBytes = 18;|constexpr size_t kDestTrailerBytes = 16;"
  "rep-trailer-order|report/LocalCommands.cpp|  wire::PutU16(out + 16, port);|  wire::PutU16(out + 16, static_cast<uint16_t>(port << 8 \\x7c port >> 8));"
  "rep-empty-gap|report/ReportCallInfoReqSession.cpp|if (plat::TickDiff(now, m_lastEmptyLogTick) > static_cast<int32_t>(kEmptyLogGapMs)) {|if (plat::TickDiff(now, m_lastEmptyLogTick) < static_cast<int32_t>(kEmptyLogGapMs)) {"
  # api
  "api-not-started|api/exports.cpp|return c ? c->ReportCallInfo(record, length, destIp, destPort) : Report_NotStarted;|return c ? c->ReportCallInfo(record, length, destIp, destPort) : Report_OK;"
  "api-wrong-type|api/RouterAccessManager.cpp|    return Report_WrongType;|    return Report_OK;"
  "api-file-ip|api/RecverFileParser.cpp|    memcpy(ip, token, static_cast<size_t>(colon - token));|    memcpy(ip, token, static_cast<size_t>(colon - token) + 1);"
  "api-file-port|api/RecverFileParser.cpp|    *port = PortFromText(portText);|    *port = PortFromText(portText) + 1;"
)

field() {  # field N ENTRY
  python3 - "$1" "$2" <<'EOF'
import sys
n, entry = int(sys.argv[1]), sys.argv[2]
parts = entry.split("|")
if len(parts) != 4:
    sys.exit("malformed fault entry: " + entry)
print(parts[n])
EOF
}

# Replaces the fragment, which must occur exactly once. \n stands for a
# newline and \x7c for a bar in both fragment and replacement.
apply_fault() {  # file fragment replacement
  python3 - "$1" "$2" "$3" <<'EOF'
import sys
path, old, new = sys.argv[1:4]
dec = lambda s: s.replace("\\n", "\n").replace("\\x7c", "|")
old, new = dec(old), dec(new)
text = open(path, encoding="utf-8").read()
n = text.count(old)
if n != 1:
    sys.exit(f"fragment found {n} times in {path}: {old!r}")
open(path, "w", encoding="utf-8").write(text.replace(old, new))
EOF
}

pick() {  # a,b,... -> the first that exists
  local c
  for c in ${1//,/ }; do [ -f "$c" ] && { echo "$c"; return; }; done
  echo "mutants: none of $1 exists" >&2
  return 1
}

if [ "${1:-}" = "--list" ]; then
  for f in "${FAULTS[@]}"; do echo "$f"; done
  exit 0
fi

selected=("$@")
wanted() {
  [ ${#selected[@]} -eq 0 ] && return 0
  local s
  for s in "${selected[@]}"; do [ "$s" = "$1" ] && return 0; done
  return 1
}

# Check every entry before touching anything: files clean, fragments unique.
for f in "${FAULTS[@]}"; do
  id=$(field 0 "$f"); file=$(pick "$(field 1 "$f")")
  wanted "$id" || continue
  git diff --quiet -- "$file" || { echo "mutants: $file has local changes; commit or stash them" >&2; exit 2; }
  tmp=$(mktemp)
  cp "$file" "$tmp"
  if ! apply_fault "$tmp" "$(field 2 "$f")" "$(field 3 "$f")"; then rm -f "$tmp"; echo "mutants: fault $id" >&2; exit 2; fi
  rm -f "$tmp"
done
if [ "${CHECK_ONLY:-0}" = 1 ]; then echo "mutants: every fragment found once"; exit 0; fi

current=""
restore() {
  if [ -n "$current" ]; then
    git checkout -- "$current"
    current=""
  fi
}
trap restore EXIT
trap 'restore; exit 130' INT TERM

launcher=""
command -v ccache >/dev/null 2>&1 && launcher="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo $launcher -DVELT_BUILD_BENCH=OFF \
  -DVELT_SANITIZE=OFF -DVELT_SANITIZE_THREAD=OFF -DVELT_WERROR=OFF >/dev/null

build_tree() { nice -n 10 cmake --build "$build" -j2 >"$build/mutant-build.log" 2>&1; }
run_suite() {
  (cd "$build" && nice -n 10 ctest -j2 --timeout "$timeout" --stop-on-failure ${CTEST_ARGS:-} \
     >mutant-ctest.log 2>&1)
}

start=$(date +%s)
if [ "${SKIP_BASELINE:-0}" != 1 ]; then
  echo "mutants: baseline build and suite (no fault)"
  build_tree || { echo "mutants: the unmutated tree does not build (see $build/mutant-build.log)" >&2; exit 1; }
  t0=$(date +%s)
  run_suite || { echo "mutants: the unmutated suite fails (see $build/mutant-ctest.log)" >&2; exit 1; }
  echo "mutants: baseline suite passed in $(( $(date +%s) - t0 )) s"
fi

results=()
caught=0; survived=0
for f in "${FAULTS[@]}"; do
  id=$(field 0 "$f"); file=$(pick "$(field 1 "$f")")
  wanted "$id" || continue
  t0=$(date +%s)
  current=$file
  apply_fault "$file" "$(field 2 "$f")" "$(field 3 "$f")"
  if ! build_tree; then
    verdict="CAUGHT (build)"
  elif ! run_suite; then
    first=$(grep -m1 -E '\*\*\*(Failed|Timeout|Exception)' "$build/mutant-ctest.log" | sed -E 's/^ *[0-9]+\/[0-9]+ Test +#[0-9]+: //; s/ +\.+.*//' || true)
    verdict="CAUGHT ${first:+by $first}"
  else
    verdict="SURVIVED"
  fi
  restore
  secs=$(( $(date +%s) - t0 ))
  case $verdict in SURVIVED) survived=$((survived + 1));; *) caught=$((caught + 1));; esac
  printf '%-18s %-42s %4ss  %s\n' "$id" "$file" "$secs" "$verdict"
  results+=("$(printf '| %s | %s | %s | %s s |' "$id" "$file" "$verdict" "$secs")")
done
# Leave the build folder matching the tree.
build_tree || true

echo
echo "| fault | file | result | time |"
echo "|---|---|---|---|"
for r in "${results[@]}"; do echo "$r"; done
echo
echo "mutants: $caught caught, $survived survived, $(( $(date +%s) - start )) s in all"
exit 0
