#include "demo_runner.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <thread>

#include "adjust_callbacks.h"
#include "codec.h"
#include "demo_record.h"
#include "library_log.h"
#include "veltrane.h"

namespace vdemo {

namespace {

using std::chrono::milliseconds;

// The library binds p + (tick mod 100) for p in the range, so a random range
// of 50 ports keeps every port it may try inside 40000-59999.
constexpr uint32_t kRangeLow = 40000;
constexpr uint32_t kRangeHigh = 60000;
constexpr uint32_t kRangeWidth = 50;
constexpr uint32_t kRangeOvershoot = 99;

// The peer resends an unanswered notification for about 3 s; nothing that
// was going to arrive arrives later than that after the last change.
constexpr int64_t kQuietLimitMs = 4000;
// The library's flow line comes every 5 s.
constexpr int64_t kFlowQuietLimitMs = 6000;
// Once everything is in, wait a little for copies that should not come.
constexpr int64_t kSettleMs = 300;

// The library copies 16 bytes from its IP arguments.
struct IpField {
  char text[16];
  explicit IpField(const std::string& ip) {
    std::memset(text, 0, sizeof(text));
    std::memcpy(text, ip.data(), std::min(ip.size(), sizeof(text) - 1));
  }
};

vpeer::FaultPlan FaultsOf(const DemoOptions& o) {
  vpeer::FaultPlan plan;
  plan.dropPct = o.dropPct;
  plan.dupPct = o.dupPct;
  plan.delayMs = o.delayMs;
  plan.delayRandom = o.delayRandom;
  return plan;
}

}  // namespace

DemoRunner::DemoRunner(const DemoOptions& opts, Progress* progress)
    : m_opts(opts),
      m_progress(progress),
      m_start(Clock::now()),
      m_deadline(m_start + std::chrono::seconds(opts.timeoutSec)),
      m_tracker(new RecordTracker(opts.count)),
      m_rateAt(m_start),
      m_lastShow(m_start - milliseconds(1000)) {}

DemoRunner::~DemoRunner() {
  // The peer's hooks point at the tracker: stop the peer first.
  if (m_peer) m_peer->Stop();
}

double DemoRunner::SecondsSince(Clock::time_point t) const {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

int DemoRunner::Run() {
  std::string err;
  if (!LibraryLog::Instance().Install(m_opts.logFile, &err)) {
    std::fprintf(stderr, "veltrane-demo: %s\n", err.c_str());
    return 2;
  }
  std::random_device rd;
  std::mt19937 rng(rd());
  if (!m_opts.realStprc) {
    // A dialog of its own per run, never 0: Dialog 0 with PacketId 0 is what a
    // fresh library takes for a repeat.
    const uint32_t dialog = 1 + rng() % 0x7FFFFFFEu;
    for (uint32_t i = 0; i < m_opts.adjust; ++i) m_notes.push_back(BuildNotify(dialog, i));
  }
  AdjustCallbacks::Instance().Expect(m_notes);

  if (m_opts.portFirst != 0) {
    m_portFirst = m_opts.portFirst;
    m_portLast = m_opts.portLast;
  } else {
    const uint32_t span = kRangeHigh - kRangeLow - (kRangeWidth - 1) - kRangeOvershoot;
    m_portFirst = static_cast<uint16_t>(kRangeLow + rng() % span);
    m_portLast = static_cast<uint16_t>(m_portFirst + kRangeWidth - 1);
  }

  if (!m_opts.realStprc) {
    if (!StartPeer(&err)) {
      std::fprintf(stderr, "veltrane-demo: cannot start the embedded peer: %s\n", err.c_str());
      return 2;
    }
  } else {
    m_stprcIp = m_opts.stprcIp;
    m_stprcPort = m_opts.stprcPort;
  }
  if (!StartLibrary(&err)) {
    m_progress->Finish();
    std::fprintf(stderr, "veltrane-demo: %s\n", err.c_str());
    return 2;
  }
  if (Discover()) {
    Report();
    Drain();
    Show("done", true);
  }
  Collect();
  m_progress->Finish();
  const std::vector<std::string> problems = Judge(m_totals);
  PrintSummary(stdout, m_totals, problems);
  LibraryLog::Instance().Flush();
  return problems.empty() ? 0 : 1;
}

bool DemoRunner::StartPeer(std::string* err) {
  vpeer::PeerConfig cfg;  // 127.0.0.1, one STPRC socket, ephemeral ports
  cfg.faultIn = FaultsOf(m_opts);
  cfg.faultOut = FaultsOf(m_opts);
  cfg.seed = m_opts.seed;
  RecordTracker* tracker = m_tracker.get();
  cfg.on1116 = [tracker](const vpeer::QosRecord& r) { tracker->OnRecord(r.body, r.len); };
  m_peer.reset(new vpeer::Peer(cfg));
  if (!m_peer->Start(err)) return false;
  m_stprcIp = vpeer::IpToString(m_peer->StprcEndpoint(0).ip);
  m_stprcPort = m_peer->StprcEndpoint(0).port;
  m_progress->Note("peer: STPRC " + m_peer->StprcEndpoint(0).ToString() + ", QoS server and log receiver " +
                   m_peer->QosEndpoint().ToString());
  return true;
}

bool DemoRunner::StartLibrary(std::string* err) {
  const IpField local(m_opts.localIp);
  const IpField stprc(m_stprcIp);
  m_progress->Note("library: InitVeltraneWithCallback(local " + m_opts.localIp + ", ports " +
                   std::to_string(m_portFirst) + "-" + std::to_string(m_portLast) + ", STPRC " +
                   m_stprcIp + ":" + std::to_string(m_stprcPort) + ")");
  const int32_t rc = InitVeltraneWithCallback(&AdjustCallbacks::OnAdjust, 0, 0, local.text, m_portFirst,
                                              0, m_portLast, stprc.text, m_stprcPort);
  if (rc != 0) {
    *err = "InitVeltraneWithCallback returned " + std::to_string(rc);
    return false;
  }
  return true;
}

bool DemoRunner::Discover() {
  const Clock::time_point begun = Clock::now();
  bool firstSent = false;
  std::vector<uint8_t> record;
  while (!PastDeadline()) {
    const bool learnt = !LibraryLog::Instance().Discovered().empty();
    char detail[160];
    if (m_peer) {
      const vpeer::PeerStats s = m_peer->Stats();
      const uint64_t asked = s.stprcRequests.empty() ? 0 : s.stprcRequests[0];
      std::snprintf(detail, sizeof(detail), "waiting for the QoS server: 6801 received %llu, 6802 sent %llu%s",
                    static_cast<unsigned long long>(asked), static_cast<unsigned long long>(s.stprcAnswers),
                    firstSent ? ", first record on its way" : "");
      // The library logs the server it learnt while handling the answer; a
      // record posted after that line queues behind the answer, so it goes to
      // the new server. The first record reaching the peer (or being dropped
      // there on purpose) ends discovery.
      if (learnt && s.stprcAnswers > 0 && !firstSent && m_opts.count > 0) {
        BuildRecord(0, &record);
        if (ReportMeetingQosInfo(record.data(), static_cast<uint32_t>(record.size())) != 0) ++m_reportFailures;
        m_recordsSent = 1;
        firstSent = true;
      }
      const bool done = m_opts.count == 0 ? learnt && s.stprcAnswers > 0
                                          : firstSent && (m_tracker->Snapshot().distinct > 0 ||
                                                          s.DroppedIn(vpeer::kMsgQosRecord) > 0);
      if (done) m_discovered = true;
    } else {
      std::snprintf(detail, sizeof(detail), "waiting for the QoS server from STPRC %s:%u", m_stprcIp.c_str(),
                    static_cast<unsigned>(m_stprcPort));
      m_discovered = learnt;
    }
    FlushNotes();
    if (m_discovered) {
      m_discoveryMs = SecondsSince(begun) * 1000.0;
      m_progress->Note("discovery: done after " + std::to_string(static_cast<long>(m_discoveryMs)) + " ms");
      return true;
    }
    ProgressState st;
    st.phase = "discovery";
    st.elapsedSec = SecondsSince(m_start);
    st.detail = detail;
    m_progress->Update(st);
    std::this_thread::sleep_for(milliseconds(5));
  }
  m_timedOut = true;
  return false;
}

void DemoRunner::Report() {
  const Clock::time_point t0 = Clock::now();
  const uint64_t base = m_recordsSent;  // the first record may have gone already
  const uint64_t total = m_opts.count;
  std::vector<uint8_t> record;
  m_rateAt = t0;
  m_rateSent = m_recordsSent;
  SendDueAdjustments();
  while (m_recordsSent < total) {
    if (PastDeadline()) {
      m_timedOut = true;
      break;
    }
    uint64_t due = total;
    if (m_opts.rate > 0) {
      due = std::min<uint64_t>(total, base + static_cast<uint64_t>(SecondsSince(t0) * m_opts.rate) + 1);
    }
    // In batches, so that an unthrottled run still redraws its line.
    const uint64_t batchEnd = std::min<uint64_t>(due, m_recordsSent + 1000);
    while (m_recordsSent < batchEnd) {
      BuildRecord(static_cast<uint32_t>(m_recordsSent), &record);
      if (ReportMeetingQosInfo(record.data(), static_cast<uint32_t>(record.size())) != 0) ++m_reportFailures;
      ++m_recordsSent;
      SendDueAdjustments();
    }
    Show("reporting");
    if (m_opts.rate > 0 && m_recordsSent < total) {
      const auto next = t0 + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
                                 static_cast<double>(m_recordsSent - base) / m_opts.rate));
      std::this_thread::sleep_until(std::min(next, Clock::now() + milliseconds(10)));
    }
  }
  SendDueAdjustments();
  Show("reporting", true);
}

void DemoRunner::SendDueAdjustments() {
  if (!m_peer) return;
  const uint64_t m = m_notes.size();
  while (m_adjustSent < m) {
    // Spread evenly over the stream of records.
    const uint64_t threshold = (m_adjustSent + 1) * m_opts.count / (m + 1);
    if (m_recordsSent < threshold) break;
    // To the client the peer learnt from the library's requests.
    if (m_peer->SendAdjust(m_notes[m_adjustSent], nullptr, true) != vpeer::Peer::kSendOk) {
      ++m_adjustSendFailures;
    }
    ++m_adjustSent;
  }
}

bool DemoRunner::EverythingArrived(const vpeer::PeerStats& s) const {
  if (m_tracker->Snapshot().distinct + s.DroppedIn(vpeer::kMsgQosRecord) < m_recordsSent) return false;
  const CallbackCounts c = AdjustCallbacks::Instance().Snapshot();
  uint64_t must = s.adjustSent;
  if (m_opts.FaultsActive()) must = s.adjustSent > s.adjustGaveUp ? s.adjustSent - s.adjustGaveUp : 0;
  return c.distinct >= must && s.adjustAnswered >= c.distinct;
}

void DemoRunner::Drain() {
  const int64_t delaySlack = 2 * static_cast<int64_t>(m_opts.delayMs);
  const int64_t quietLimit = (m_peer ? kQuietLimitMs : kFlowQuietLimitMs) + delaySlack;
  Clock::time_point lastChange = Clock::now();
  Clock::time_point completeSince{};
  bool complete = false;
  std::vector<uint64_t> seen;
  while (!PastDeadline()) {
    std::vector<uint64_t> now;
    bool all = false;
    if (m_peer) {
      const vpeer::PeerStats s = m_peer->Stats();
      const RecordCounts r = m_tracker->Snapshot();
      const CallbackCounts c = AdjustCallbacks::Instance().Snapshot();
      now = {r.distinct, r.duplicates, s.datagramsIn, c.calls, s.adjustAnswered, s.adjustGaveUp};
      all = EverythingArrived(s);
    } else {
      const LogCounts l = LibraryLog::Instance().Counts();
      now = {l.flowLines, l.flowOut};
      all = l.flowOut >= m_recordsSent;
    }
    if (now != seen) {
      seen = now;
      lastChange = Clock::now();
    }
    if (all && !complete) completeSince = Clock::now();
    complete = all;
    if (complete && Clock::now() - completeSince >= milliseconds(kSettleMs + delaySlack)) return;
    if (!complete && Clock::now() - lastChange >= milliseconds(quietLimit)) return;  // nothing more is coming
    Show("draining");
    std::this_thread::sleep_for(milliseconds(10));
  }
  m_timedOut = true;
}

void DemoRunner::FlushNotes() {
  for (const std::string& note : LibraryLog::Instance().TakeNotes()) m_progress->Note(note);
}

void DemoRunner::Show(const char* phase, bool force) {
  FlushNotes();
  const Clock::time_point now = Clock::now();
  if (!force && now - m_lastShow < milliseconds(50)) return;
  m_lastShow = now;
  const double dt = std::chrono::duration<double>(now - m_rateAt).count();
  if (dt >= 0.5) {
    m_rate = static_cast<double>(m_recordsSent - m_rateSent) / dt;
    m_rateAt = now;
    m_rateSent = m_recordsSent;
  } else if (m_rate == 0 && dt >= 0.05) {
    // Until the first half-second window closes, the average so far.
    m_rate = static_cast<double>(m_recordsSent - m_rateSent) / dt;
  }
  ProgressState st;
  st.phase = phase;
  st.elapsedSec = SecondsSince(m_start);
  st.sent = m_recordsSent;
  st.total = m_opts.count;
  st.rate = m_rate;
  st.adjSent = m_adjustSent;
  st.adjTotal = m_notes.size();
  st.adjCalled = AdjustCallbacks::Instance().Snapshot().distinct;
  if (m_peer) {
    st.received = static_cast<int64_t>(m_tracker->Snapshot().distinct);
    st.adjAnswered = static_cast<int64_t>(m_peer->Stats().adjustAnswered);
  }
  m_progress->Update(st, force);
}

void DemoRunner::Collect() {
  RunTotals& t = m_totals;
  t.embedded = m_peer != nullptr;
  t.faults = m_opts.FaultsActive();
  t.dupFaults = m_opts.dupPct > 0;
  t.portRange = std::to_string(m_portFirst) + "-" + std::to_string(m_portLast);
  t.bound = LibraryLog::Instance().Bound();
  t.qosServer = LibraryLog::Instance().Discovered();
  t.discovered = m_discovered;
  t.discoveryMs = m_discoveryMs;
  t.timedOut = m_timedOut;
  t.recordsPlanned = m_opts.count;
  t.recordsSent = m_recordsSent;
  t.reportFailures = m_reportFailures;
  t.adjustPlanned = m_notes.size();
  t.adjustSendFailures = m_adjustSendFailures;
  t.callbacks = AdjustCallbacks::Instance().Snapshot();
  t.log = LibraryLog::Instance().Counts();
  if (m_peer) {
    // Stopped first, so that no hook runs while the totals are taken.
    m_peer->Stop();
    const vpeer::PeerStats s = m_peer->Stats();
    char faults[96] = "";
    if (t.faults) {
      std::snprintf(faults, sizeof(faults), ", faults both ways: drop %g%%, dup %g%%, delay %s%u ms",
                    m_opts.dropPct, m_opts.dupPct, m_opts.delayRandom ? "up to " : "", m_opts.delayMs);
    }
    t.mode = "embedded peer, STPRC " + m_stprcIp + ":" + std::to_string(m_stprcPort) + faults;
    t.records = m_tracker->Snapshot();
    t.missing = m_tracker->Missing(m_recordsSent, 5);
    t.droppedByPeer = s.DroppedIn(vpeer::kMsgQosRecord);
    t.duplicatedByPeer = s.faultIn.duplicated;
    t.peerRefused = s.malformed;
    t.peerProblem = s.lastProblem;
    t.adjustSent = s.adjustSent;
    t.adjustGaveUp = s.adjustGaveUp;
    t.answered = s.adjustAnswered;
    t.answersInvalid = s.adjustAcksInvalid;
    t.answersDuplicate = s.adjustAcksDuplicates;
  } else {
    t.mode = "real STPRC " + m_stprcIp + ":" + std::to_string(m_stprcPort) + ", local " + m_opts.localIp;
  }
  t.elapsedSec = SecondsSince(m_start);
}

}  // namespace vdemo
