// Reader and writer guards over a TzRWLock that clang's thread-safety
// analysis can follow (TzAutoLock picks the mode at run time, which it
// cannot).
#pragma once
#include "tzhelper/Tzautolock.h"

namespace AsynModel {

class TZ_SCOPED_CAPABILITY SharedRWGuard {
 public:
  explicit SharedRWGuard(TzRWLock& lock) TZ_ACQUIRE_SHARED(lock) TZ_NO_THREAD_SAFETY_ANALYSIS : lock_(lock) {
    lock_.LockShared();
  }
  ~SharedRWGuard() TZ_RELEASE() TZ_NO_THREAD_SAFETY_ANALYSIS { lock_.UnlockShared(); }
  SharedRWGuard(const SharedRWGuard&) = delete;
  SharedRWGuard& operator=(const SharedRWGuard&) = delete;

 private:
  TzRWLock& lock_;
};

class TZ_SCOPED_CAPABILITY ExclusiveRWGuard {
 public:
  explicit ExclusiveRWGuard(TzRWLock& lock) TZ_ACQUIRE(lock) TZ_NO_THREAD_SAFETY_ANALYSIS : lock_(lock) {
    lock_.LockExclusive();
  }
  ~ExclusiveRWGuard() TZ_RELEASE() TZ_NO_THREAD_SAFETY_ANALYSIS { lock_.UnlockExclusive(); }
  ExclusiveRWGuard(const ExclusiveRWGuard&) = delete;
  ExclusiveRWGuard& operator=(const ExclusiveRWGuard&) = delete;

 private:
  TzRWLock& lock_;
};

}  // namespace AsynModel
