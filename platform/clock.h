// Every reading of time in the library goes through here, so that tests can
// move time forward (AdvanceClock) instead of sleeping.
#pragma once
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>

namespace plat {

// Milliseconds since an arbitrary start, wrapping at 2^32 like GetTickCount.
uint32_t GetTickCount();
// Framework clock: milliseconds since 1970-01-01 00:00 UTC.
int64_t NowMs();
// Calendar time in seconds since 1970 (low 32 bits).
uint32_t CalendarSeconds();
// Monotonic high-resolution seconds.
double HighResSeconds();
// Sleeps for ms milliseconds of (virtual) time; 0 yields the processor.
// AdvanceClock wakes a sleeper whose deadline it passes.
void SleepMs(uint32_t ms);

// Test hook: shifts every clock above by ms at once and wakes every SleepMs and
// timed wait whose deadline now lies in the past.
void AdvanceClock(int64_t ms);
// Total shift applied so far by AdvanceClock.
int64_t ClockOffsetMs();
// Test hook: how many waits (SleepMs, timed waits of sync.h, WaitAny, any
// ClockWaitScope) are in progress, so a test can advance the clock once a
// waiter has fixed its deadline.
size_t ClockWaitsForTest();
// Test hook: how many such waits have begun so far (each with its deadline
// fixed), so a test can tell that a waiter has started its next wait.
uint64_t ClockWaitsBegunForTest();

// Test hook: from now on time stands still. Every clock above keeps the
// reading it had at this moment and moves only through AdvanceClock; every
// sleeper (SleepMs, the timed waits of sync.h, WaitAny, ClockWaitScope users,
// and so every timer thread built on them) wakes only when AdvanceClock moves
// the clock past its deadline. Freezing twice changes nothing. Polls that wait
// for another thread (RealSleepMs) keep running on real time, so nothing
// spins and nothing that only waits for work to finish hangs. Stopping
// threads waits in clock steps (TzThread::Wait, a worker's forced stop), so
// stopping a timer, a worker or the framework while frozen needs the clock
// moved, or ThawClockForTest first.
void FreezeClockForTest();
// Lets real time flow again, from the reading the clocks have now: no clock
// jumps back or forward. Does nothing when the clock is not frozen.
void ThawClockForTest();
bool ClockFrozenForTest();

// Sleeps ms of real time whatever the clock does: for polls that wait for
// another thread to finish something, not for a moment in time.
void RealSleepMs(uint32_t ms);

// Monotonic virtual milliseconds without wrap-around (the tick count is its
// low 32 bits). Deadlines of timed waits are measured on this.
int64_t MonotonicMs();

// Lets AdvanceClock end a condition-variable wait that is measured in virtual
// time. Construct it BEFORE locking `mu` and keep it for the whole wait:
// AdvanceClock takes its registry lock and then `mu` (briefly) before it
// notifies `cv`, so holding `mu` while constructing would invert that order.
// The waiter must re-read MonotonicMs() under `mu` on every wake-up. Fix the
// deadline before constructing the scope, so that a registered waiter has its
// deadline already (ClockWaitsForTest relies on that).
//   const int64_t deadline = plat::MonotonicMs() + timeoutMs;
//   plat::ClockWaitScope scope(mu_, cv_);
//   std::unique_lock<std::mutex> lk(mu_);
//   while (!ready_) {
//     const int64_t left = deadline - plat::MonotonicMs();
//     if (left <= 0) return false;
//     cv_.wait_for(lk, std::chrono::milliseconds(left));
//   }
class ClockWaitScope {
 public:
  ClockWaitScope(std::mutex& mu, std::condition_variable& cv);
  ~ClockWaitScope();
  ClockWaitScope(const ClockWaitScope&) = delete;
  ClockWaitScope& operator=(const ClockWaitScope&) = delete;

 private:
  friend void AdvanceClock(int64_t ms);
  std::mutex& mu_;
  std::condition_variable& cv_;
  ClockWaitScope* prev_ = nullptr;
  ClockWaitScope* next_ = nullptr;
};

// Wrap-safe comparison of two tick counts: positive when `later` is after
// `earlier`. Compare ticks only through this.
inline int32_t TickDiff(uint32_t later, uint32_t earlier) {
  return static_cast<int32_t>(later - earlier);
}

}  // namespace plat
