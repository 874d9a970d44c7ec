#include "tzhelper/TzWarnLimiter.h"

#include "platform/clock.h"
#include "platform/log.h"

bool TzWarnLimiter::Admit() {
  const int64_t now = plat::NowMs();
  uint32_t report = 0;
  int64_t reportedSpan = 0;
  bool admit = false;
  {
    TzAutoLock lock(&mu_);
    if (windowStart_ == 0 || now - windowStart_ >= kWindowMs) {
      report = suppressed_;
      reportedSpan = windowStart_ == 0 ? 0 : now - windowStart_;
      suppressed_ = 0;
      windowStart_ = now;
      if (report == 0) fullLines_ = 0;  // a quiet second: the burst is back
    }
    if (fullLines_ < kBurst) {
      ++fullLines_;
      admit = true;
    } else {
      ++suppressed_;
      ++suppressedTotal_;
    }
  }
  if (report != 0) {
    Log::writeWarning(category_, subType_, "%s: %u similar warnings suppressed in the last %lld ms",
                      kind_, report, static_cast<long long>(reportedSpan));
  }
  return admit;
}

uint64_t TzWarnLimiter::SuppressedTotal() {
  TzAutoLock lock(&mu_);
  return suppressedTotal_;
}
