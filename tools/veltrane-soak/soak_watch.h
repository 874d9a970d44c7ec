// What the soak run watches besides the peer: the library's log lines (flow
// lines, refusals, applied STPRC lists), the secured blocks it posted and
// where they arrived, and the process's resident memory, threads and fds.
//
// Threads: every method is safe from any thread (host threads, the library's
// log callback, the peer's service thread).
#pragma once
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace soak {

struct ProcessFigures {
  uint64_t rssKiB = 0;
  uint32_t threads = 0;
  uint32_t fds = 0;
};
ProcessFigures ReadProcessFigures();

// Installed as the library's log callback (one watcher per process).
class LogWatch {
 public:
  static LogWatch& Get();
  static void Callback(uint64_t category, uint32_t subType, int level, const char* text);

  // A SetStpRc call; its list counts as applied when the session logs it.
  void NoteListPosted();
  uint64_t FlowLines() const { return m_flowLines.load(); }
  uint64_t Refused() const { return m_refused.load(); }
  uint64_t ListsPosted();
  uint64_t ListsApplied();
  double MaxFlowGapSec();  // longest wait for a flow line (counting the one now open)
  double MaxListLagSec();  // longest wait from a SetStpRc call to its list being applied
  uint64_t Errors() const { return m_errors.load(); }

 private:
  using Clock = std::chrono::steady_clock;
  void OnLine(int level, const char* text);
  std::atomic<uint64_t> m_flowLines{0};
  std::atomic<uint64_t> m_refused{0};
  std::atomic<uint64_t> m_errors{0};
  std::mutex m_mu;
  Clock::time_point m_start = Clock::now();
  Clock::time_point m_lastFlow = m_start;  // guarded by m_mu
  double m_maxFlowGap = 0;                 // guarded by m_mu
  std::vector<Clock::time_point> m_listTimes;  // guarded by m_mu
  size_t m_listsApplied = 0;               // guarded by m_mu
  double m_maxListLag = 0;                 // guarded by m_mu
};

// Secured blocks: each carries (thread, sequence) at the front of its
// payload; the peer's 1119 hook reports every distinct serialnum.
class SecureLedger {
 public:
  explicit SecureLedger(uint32_t threads);
  void NotePosted(uint32_t thread, uint32_t seq);
  // A 1119 body (serialnum first). Serialnums seen before (a resend that a
  // restarted peer takes for new) are ignored.
  void NotePacket(uint32_t serialnum, const uint8_t* body, size_t len);
  uint64_t Posted();
  uint64_t DeliveredOnce();
  uint64_t DeliveredTwice();  // blocks that came in two different packets
  uint64_t Packets();

 private:
  std::mutex m_mu;
  std::vector<std::vector<uint8_t>> m_state;  // per thread, per seq: 1 posted, 2 delivered, 3 twice
  std::vector<uint8_t> m_serials;            // bitmap of serialnums seen
  uint64_t m_posted = 0, m_once = 0, m_twice = 0, m_packets = 0;
};

}  // namespace soak
