// Locks of the helper library. TzLock is exclusive and not re-entrant;
// TzRWLock is a reader/writer lock that falls back to a writer-preferring lock
// built from a mutex and two semaphores when slim locks are not available.
// Both may be taken from any thread.
#pragma once
#include <cassert>
#include <cstdint>
#include <mutex>

#include "platform/sync.h"
#include "platform/thread_annotations.h"
#include "platform/word_lock.h"

#if defined(__MINGW32__)
#define TZ_LOCK_CONSTEXPR
#else
#define TZ_LOCK_CONSTEXPR constexpr
#endif

class TZ_CAPABILITY("mutex") TzLock {
 public:
  // forceCriticalSection is kept for the Windows build, where it picks a
  // critical section over a slim lock; here both are one word lock, taken
  // inline. Constant-initialised, so a file-level lock exists before any
  // static constructor can take it.
  TZ_LOCK_CONSTEXPR explicit TzLock(bool forceCriticalSection = false) noexcept { (void)forceCriticalSection; }
  ~TzLock() = default;
  TzLock(const TzLock&) = delete;
  TzLock& operator=(const TzLock&) = delete;
  void Lock() TZ_ACQUIRE() TZ_NO_THREAD_SAFETY_ANALYSIS { mu_.Lock(); }
  void Unlock() TZ_RELEASE() TZ_NO_THREAD_SAFETY_ANALYSIS { mu_.Unlock(); }

 private:
  plat::WordLock mu_;
};

class TZ_CAPABILITY("mutex") TzRWLock {
 public:
  TzRWLock();
  ~TzRWLock();
  TzRWLock(const TzRWLock&) = delete;
  TzRWLock& operator=(const TzRWLock&) = delete;
  void LockShared() TZ_ACQUIRE_SHARED();
  void UnlockShared() TZ_RELEASE_SHARED();
  void LockExclusive() TZ_ACQUIRE();
  void UnlockExclusive() TZ_RELEASE();
  bool UsesFallback() const { return fallback_ != nullptr; }
  // Test hook: the fallback's counters (false without the fallback).
  bool FallbackStateForTest(int32_t* waitingReaders, int32_t* waitingWriters, int32_t* active) const;

 private:
  struct Fallback;
  plat::SlimRwLock srw_;
  Fallback* fallback_ = nullptr;
};

// Scoped guard over a TzLock, or a TzRWLock in the mode asked for. A null lock
// is a programming error. The TzRWLock form picks its mode at run time, which
// clang's analysis cannot follow: it counts as holding the lock, so reads and
// writes of what the lock guards are checked for some hold, not for the mode.
class TZ_SCOPED_CAPABILITY TzAutoLock {
 public:
  explicit TzAutoLock(TzLock* lock) TZ_ACQUIRE(lock) TZ_NO_THREAD_SAFETY_ANALYSIS : lock_(lock) {
    assert(lock != nullptr && "TzAutoLock needs a lock");
    if (lock_) lock_->Lock();
  }
  TzAutoLock(TzRWLock* lock, bool exclusive) TZ_ACQUIRE(lock) TZ_NO_THREAD_SAFETY_ANALYSIS
      : rw_(lock), exclusive_(exclusive) {
    assert(lock != nullptr && "TzAutoLock needs a lock");
    if (!rw_) return;
    if (exclusive_) rw_->LockExclusive(); else rw_->LockShared();
  }
  ~TzAutoLock() TZ_RELEASE() TZ_NO_THREAD_SAFETY_ANALYSIS {
    if (lock_) lock_->Unlock();
    if (rw_) { if (exclusive_) rw_->UnlockExclusive(); else rw_->UnlockShared(); }
  }
  TzAutoLock(const TzAutoLock&) = delete;
  TzAutoLock& operator=(const TzAutoLock&) = delete;

 private:
  TzLock* lock_ = nullptr;
  TzRWLock* rw_ = nullptr;
  bool exclusive_ = false;
};
