// One run of the demo: the embedded peer (or a real STPRC), the library in
// port-range mode, discovery, the timed stream of records with adjustment
// notifications woven in, the wait for the last of them, and the totals.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bodies.h"
#include "demo_options.h"
#include "peer.h"
#include "progress.h"
#include "record_tracker.h"
#include "summary.h"

namespace vdemo {

// Thread contract: every method runs on the thread that calls Run(). The
// peer's hooks and the library's callbacks run on their own threads and only
// touch the thread-safe trackers.
class DemoRunner {
 public:
  DemoRunner(const DemoOptions& opts, Progress* progress);
  ~DemoRunner();
  DemoRunner(const DemoRunner&) = delete;
  DemoRunner& operator=(const DemoRunner&) = delete;

  // Runs everything and prints the summary. Returns the exit status: 0 when
  // everything is accounted for, 1 when something is missing, 2 when the run
  // could not be set up.
  int Run();

 private:
  using Clock = std::chrono::steady_clock;

  bool StartPeer(std::string* err);
  bool StartLibrary(std::string* err);
  bool Discover();
  void Report();
  void Drain();
  void Collect();

  // Sends the notifications whose turn has come after `recordsSent` records.
  void SendDueAdjustments();
  bool EverythingArrived(const vpeer::PeerStats& s) const;
  // Progress line and library notes; at most every 50 ms unless forced.
  void Show(const char* phase, bool force = false);
  // Prints the library's notable lines that came in since the last call.
  void FlushNotes();
  double SecondsSince(Clock::time_point t) const;
  bool PastDeadline() const { return Clock::now() >= m_deadline; }

  const DemoOptions m_opts;
  Progress* m_progress;
  Clock::time_point m_start;
  Clock::time_point m_deadline;

  std::unique_ptr<RecordTracker> m_tracker;
  std::unique_ptr<vpeer::Peer> m_peer;  // null with a real STPRC
  std::vector<vpeer::AdjustNotify> m_notes;
  uint16_t m_portFirst = 0;
  uint16_t m_portLast = 0;
  std::string m_stprcIp;
  uint16_t m_stprcPort = 0;

  uint64_t m_recordsSent = 0;
  uint64_t m_reportFailures = 0;
  uint64_t m_adjustSent = 0;  // SendAdjust calls made (successful or not)
  uint64_t m_adjustSendFailures = 0;
  bool m_discovered = false;
  double m_discoveryMs = 0;
  bool m_timedOut = false;

  // Recent send rate for the progress line.
  Clock::time_point m_rateAt;
  uint64_t m_rateSent = 0;
  double m_rate = 0;
  Clock::time_point m_lastShow;

  RunTotals m_totals;
};

}  // namespace vdemo
