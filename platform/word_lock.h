// A mutual-exclusion lock in one 32-bit word: a compare-and-swap to take it
// and an exchange to give it back when nobody waits, both inline, with the
// system's wait-on-address service behind them for the threads that must
// wait (Linux: a futex; Windows: WaitOnAddress). It is what a critical
// section costs uncontended, where a C library mutex spends a call chain on
// every take and give: the per-message paths take such locks many times.
//
// Threads: any thread may take it; not re-entrant. Unlike plat::Mutex it has
// no condition-variable partner, so it guards short sections only.
#pragma once
#include <atomic>
#include <cstdint>

#include "platform/thread_annotations.h"

namespace plat {

// Sleeps while *word holds `expected`; may return early for no reason, so
// callers re-read the word. Any thread.
void WaitOnWord(std::atomic<uint32_t>* word, uint32_t expected);
// Wakes at least one thread sleeping in WaitOnWord on `word`. Any thread.
void WakeOneOnWord(std::atomic<uint32_t>* word);
// Wakes every thread sleeping in WaitOnWord on `word`. Any thread.
void WakeAllOnWord(std::atomic<uint32_t>* word);

// One step of a short spin on a word another processor is about to change.
inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

class TZ_CAPABILITY("mutex") WordLock {
 public:
  constexpr WordLock() noexcept = default;
  WordLock(const WordLock&) = delete;
  WordLock& operator=(const WordLock&) = delete;

  void Lock() TZ_ACQUIRE() {
    uint32_t free = kFree;
    if (!word_.compare_exchange_strong(free, kLocked, std::memory_order_acquire, std::memory_order_relaxed))
      LockSlow();
  }
  void Unlock() TZ_RELEASE() {
    if (word_.exchange(kFree, std::memory_order_release) == kContended) WakeOneOnWord(&word_);
  }

 private:
  static constexpr uint32_t kFree = 0;
  static constexpr uint32_t kLocked = 1;
  static constexpr uint32_t kContended = 2;  // locked, and someone may sleep on it
  void LockSlow();
  std::atomic<uint32_t> word_{kFree};
};

class TZ_SCOPED_CAPABILITY WordLockGuard {
 public:
  explicit WordLockGuard(WordLock& lock) TZ_ACQUIRE(lock) : lock_(lock) { lock_.Lock(); }
  ~WordLockGuard() TZ_RELEASE() { lock_.Unlock(); }
  WordLockGuard(const WordLockGuard&) = delete;
  WordLockGuard& operator=(const WordLockGuard&) = delete;

 private:
  WordLock& lock_;
};

}  // namespace plat
