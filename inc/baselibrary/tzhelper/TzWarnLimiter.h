// Rate limit for one kind of warning that outside input can cause (a junk
// datagram, an answer nobody asked for). A flood of such input must not turn
// into a flood of log lines that rotates the start-up lines away: the first
// kBurst occurrences are written in full; after that, while the kind keeps
// coming, at most one line per second says how many were left out. A second
// without suppression gives the kind its burst back.
//
// The summary for a second is written by the first occurrence after that
// second has ended, so nothing runs on a timer.
//
// Threads: Admit may be called from any number of threads at once; one object
// per kind, normally a function-local static.
#pragma once
#include <cstdint>
#include "tzhelper/Tzautolock.h"

class TzWarnLimiter {
 public:
  static constexpr uint32_t kBurst = 5;
  static constexpr int64_t kWindowMs = 1000;

  // kind names the warning in the summary line; it must outlive the object.
  TzWarnLimiter(uint64_t category, uint32_t subType, const char* kind)
      : category_(category), subType_(subType), kind_(kind) {}
  TzWarnLimiter(const TzWarnLimiter&) = delete;
  TzWarnLimiter& operator=(const TzWarnLimiter&) = delete;

  // True: write this occurrence's line now. False: it was counted instead.
  // May write the summary line of the second that has just ended.
  bool Admit();

  // Total occurrences left out so far (tests and statistics).
  uint64_t SuppressedTotal();

 private:
  const uint64_t category_;
  const uint32_t subType_;
  const char* const kind_;
  TzLock mu_;
  int64_t windowStart_ TZ_GUARDED_BY(mu_) = 0;
  uint32_t fullLines_ TZ_GUARDED_BY(mu_) = 0;   // lines written in full since the last quiet second
  uint32_t suppressed_ TZ_GUARDED_BY(mu_) = 0;  // left out in the current second
  uint64_t suppressedTotal_ = 0;
};
