// A std::mutex that clang's lock analysis knows as a lock, and its scoped
// guard. Both are inline wrappers with no state of their own: the same code
// as std::mutex with std::lock_guard.
//
// Threads: a Mutex may be taken from any thread; it is not re-entrant. A
// MutexLock belongs to the thread that made it.
#pragma once
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/thread_annotations.h"

namespace plat {

class TZ_CAPABILITY("mutex") Mutex {
 public:
  Mutex() = default;  // constant-initialised wherever std::mutex is
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void Lock() TZ_ACQUIRE() { mu_.lock(); }
  void Unlock() TZ_RELEASE() { mu_.unlock(); }
  // The mutex itself, for code that registers it with a waiter
  // (ClockWaitScope); never to lock it behind the analysis' back.
  std::mutex& Native() TZ_RETURN_CAPABILITY(this) { return mu_; }

 private:
  std::mutex mu_;
};

class TZ_SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& mu) TZ_ACQUIRE(mu) : mu_(mu) { mu_.Lock(); }
  ~MutexLock() TZ_RELEASE() { mu_.Unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

  // Waits on cv. The mutex is let go during the wait and held again before
  // it returns, so to the analysis it stays held; callers re-check their
  // condition in a loop (spurious wake-ups).
  void Wait(std::condition_variable& cv) {
    std::unique_lock<std::mutex> lk(mu_.Native(), std::adopt_lock);
    cv.wait(lk);
    lk.release();
  }
  template <class Rep, class Period>
  void WaitFor(std::condition_variable& cv, const std::chrono::duration<Rep, Period>& d) {
    std::unique_lock<std::mutex> lk(mu_.Native(), std::adopt_lock);
    cv.wait_for(lk, d);
    lk.release();
  }

 private:
  Mutex& mu_;
};

}  // namespace plat
