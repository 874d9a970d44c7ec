// TzLock is a plat::WordLock, inline in the header. TzRWLock uses the
// system's slim reader/writer lock (plat::SlimRwLock) when the platform offers
// one, otherwise the writer-preferring lock below: a mutex guards three
// counters, and readers and writers that must wait sleep on a semaphore of
// their own.
#include "tzhelper/Tzautolock.h"

#include <new>

#include "platform/sync.h"
#include "platform/system.h"

struct TzRWLock::Fallback {
  static constexpr long kMaxWaiters = 0x7FFFFFFF;

  TzLock cs;  // the critical section
  plat::Semaphore readers{0, kMaxWaiters};
  plat::Semaphore writers{0, kMaxWaiters};
  int32_t waitingReaders TZ_GUARDED_BY(cs) = 0;
  int32_t waitingWriters TZ_GUARDED_BY(cs) = 0;
  int32_t active TZ_GUARDED_BY(cs) = 0;  // > 0 readers, -1 one writer, 0 free

  void AcquireShared() {
    cs.Lock();
    // A waiting writer keeps new readers out, so writers cannot starve.
    const bool wait = waitingWriters > 0 || active < 0;
    if (wait) ++waitingReaders; else ++active;
    cs.Unlock();
    // Whoever releases us has already counted us in `active`.
    if (wait) readers.Wait(plat::kInfinite);
  }

  void AcquireExclusive() {
    cs.Lock();
    const bool wait = active != 0;
    if (wait) ++waitingWriters; else active = -1;
    cs.Unlock();
    if (wait) writers.Wait(plat::kInfinite);
  }

  void Release() {
    cs.Lock();
    if (active > 0) --active; else ++active;
    // Hand-over happens only once the lock is free: while readers are still
    // inside, the waiting readers stay queued behind the waiting writer.
    if (active == 0) {
      if (waitingWriters > 0) {
        --waitingWriters;
        active = -1;
        writers.Release(1);
      } else if (waitingReaders > 0) {
        active = waitingReaders;
        waitingReaders = 0;
        readers.Release(active);
      }
    }
    cs.Unlock();
  }
};

TzRWLock::TzRWLock() {
  // Without memory for the fallback the slim lock still works; only a test
  // that forced the fallback would notice.
  if (!plat::SrwAvailable()) fallback_ = new (std::nothrow) Fallback();
}

TzRWLock::~TzRWLock() { delete fallback_; }

void TzRWLock::LockShared() {
  if (fallback_) fallback_->AcquireShared(); else srw_.LockShared();
}

void TzRWLock::UnlockShared() {
  if (fallback_) fallback_->Release(); else srw_.UnlockShared();
}

void TzRWLock::LockExclusive() {
  if (fallback_) fallback_->AcquireExclusive(); else srw_.LockExclusive();
}

void TzRWLock::UnlockExclusive() {
  if (fallback_) fallback_->Release(); else srw_.UnlockExclusive();
}

bool TzRWLock::FallbackStateForTest(int32_t* waitingReaders, int32_t* waitingWriters, int32_t* active) const {
  if (!fallback_) return false;
  TzAutoLock guard(&fallback_->cs);
  *waitingReaders = fallback_->waitingReaders;
  *waitingWriters = fallback_->waitingWriters;
  *active = fallback_->active;
  return true;
}
