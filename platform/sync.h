// Events and semaphores with Windows-style waits. Timed waits measure the
// virtual clock of clock.h, so AdvanceClock can end them.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace plat {

constexpr uint32_t kInfinite = 0xFFFFFFFFu;

// Result of a wait: 1 signalled, -1 timed out, 0 failure.
enum WaitResult : int { kWaitFailed = 0, kWaitSignalled = 1, kWaitTimeout = -1 };

class Event {
 public:
  Event(bool manualReset, bool initialState);
  ~Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void Set();
  void Reset();
  bool IsSet() const;
  // Waits until signalled or timeoutMs of virtual time passed (kInfinite: no
  // limit). An auto-reset event is consumed by the waiter it releases.
  int Wait(uint32_t timeoutMs);

 private:
  friend int WaitAny(Event* const* events, int count, uint32_t timeoutMs);
  const bool manual_;
  bool signalled_;
  mutable std::mutex mu_;
  std::condition_variable cv_;
};

// Waits for the first of several events. Returns the index of the event that
// released the waiter, -1 on timeout, -2 on bad arguments.
int WaitAny(Event* const* events, int count, uint32_t timeoutMs);

class Semaphore {
 public:
  Semaphore(long initialCount, long maxCount);
  ~Semaphore();
  Semaphore(const Semaphore&) = delete;
  Semaphore& operator=(const Semaphore&) = delete;
  // Adds count; false when that would pass the maximum (nothing added).
  bool Release(long count);
  int Wait(uint32_t timeoutMs);

 private:
  long count_;
  const long max_;
  std::mutex mu_;
  std::condition_variable cv_;
};

// Slim reader/writer lock: the system's own (Windows: SRWLOCK, looked up at
// run time). Not re-entrant, not upgradable; any thread. Use it only while
// SrwAvailable() (system.h) answers true: without it, callers bring their own
// fallback and leave this lock untouched.
class SlimRwLock {
 public:
  SlimRwLock();
  ~SlimRwLock();
  SlimRwLock(const SlimRwLock&) = delete;
  SlimRwLock& operator=(const SlimRwLock&) = delete;
  void LockShared();
  void UnlockShared();
  void LockExclusive();
  void UnlockExclusive();

 private:
  alignas(16) unsigned char storage_[64];  // the system's lock object
};

}  // namespace plat
