// The contended side of WordLock. The waiting threads' protocol is the
// classic three-state futex lock: a thread that cannot get the lock marks it
// contended before it sleeps, so the holder knows to wake someone, and a woken
// thread takes the lock as contended again, since others may still sleep.
#include "platform/word_lock.h"

namespace plat {
namespace {

// A short spin first: the holders' sections are a few instructions, so on a
// second processor the lock is usually free again before a sleep would pay.
constexpr int kSpins = 100;

}  // namespace

void WordLock::LockSlow() {
  for (int i = 0; i < kSpins; ++i) {
    CpuRelax();
    uint32_t free = kFree;
    if (word_.load(std::memory_order_relaxed) == kFree &&
        word_.compare_exchange_weak(free, kLocked, std::memory_order_acquire, std::memory_order_relaxed))
      return;
  }
  uint32_t seen = word_.exchange(kContended, std::memory_order_acquire);
  while (seen != kFree) {
    WaitOnWord(&word_, kContended);
    seen = word_.exchange(kContended, std::memory_order_acquire);
  }
}

}  // namespace plat
