// Virtual clock: the real clocks plus one process-wide offset that tests move
// forward with AdvanceClock. Every timed wait of the library measures its
// deadline on MonotonicMs() and is registered while it waits, so moving the
// offset can end it at once instead of letting it run out in real time. The
// real clocks themselves come from the system (system_clock.h); a test may
// freeze them, so that only AdvanceClock moves time.
#include "platform/clock.h"

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/common/system_clock.h"
#include "platform/mutex.h"

namespace plat {
namespace {

std::atomic<int64_t> g_offsetMs{0};

// The real readings taken when the clock was frozen. Until the first freeze
// the clocks read the system without a lock; from then on (tests only) a
// reading, its offset and a thaw are made under one lock, so a thaw, which
// folds the real time spent frozen into the offset, is never seen half done.
struct FrozenClock {
  bool on = false;
  int64_t steadyMs = 0;
  int64_t systemMs = 0;
  double highResSeconds = 0.0;
};
std::atomic<bool> g_everFrozen{false};
Mutex& FrozenMutex() {
  static Mutex* mu = new Mutex();
  return *mu;
}
FrozenClock g_frozen TZ_GUARDED_BY(FrozenMutex());

int64_t SteadyWithOffset() {
  if (!g_everFrozen.load(std::memory_order_acquire)) {
    return RealSteadyMs() + g_offsetMs.load(std::memory_order_acquire);
  }
  MutexLock g(FrozenMutex());
  return (g_frozen.on ? g_frozen.steadyMs : RealSteadyMs()) + g_offsetMs.load();
}

int64_t SystemWithOffset() {
  if (!g_everFrozen.load(std::memory_order_acquire)) {
    return RealSystemMs() + g_offsetMs.load(std::memory_order_acquire);
  }
  MutexLock g(FrozenMutex());
  return (g_frozen.on ? g_frozen.systemMs : RealSystemMs()) + g_offsetMs.load();
}

// Registry of waits in progress (intrusive list of ClockWaitScope).
// Lock order: g_registryMu, then a registered wait's own mutex.
Mutex g_registryMu;
ClockWaitScope* g_registryHead TZ_GUARDED_BY(g_registryMu) = nullptr;
size_t g_registryCount TZ_GUARDED_BY(g_registryMu) = 0;
uint64_t g_registryBegun TZ_GUARDED_BY(g_registryMu) = 0;

// SleepMs waits here. Never destroyed, so a thread still sleeping while the
// process exits does not touch a dead object.
std::mutex& SleepMutex() {
  static std::mutex* mu = new std::mutex();
  return *mu;
}
std::condition_variable& SleepCv() {
  static std::condition_variable* cv = new std::condition_variable();
  return *cv;
}

}  // namespace

int64_t MonotonicMs() { return SteadyWithOffset(); }

uint32_t GetTickCount() { return static_cast<uint32_t>(MonotonicMs()); }

int64_t NowMs() { return SystemWithOffset(); }

uint32_t CalendarSeconds() { return static_cast<uint32_t>(NowMs() / 1000); }

double HighResSeconds() {
  if (!g_everFrozen.load(std::memory_order_acquire)) {
    return RealHighResSeconds() + static_cast<double>(g_offsetMs.load(std::memory_order_acquire)) / 1000.0;
  }
  MutexLock g(FrozenMutex());
  const double real = g_frozen.on ? g_frozen.highResSeconds : RealHighResSeconds();
  return real + static_cast<double>(g_offsetMs.load()) / 1000.0;
}

void FreezeClockForTest() {
  MutexLock g(FrozenMutex());
  if (g_frozen.on) return;
  g_frozen.steadyMs = RealSteadyMs();
  g_frozen.systemMs = RealSystemMs();
  g_frozen.highResSeconds = RealHighResSeconds();
  g_frozen.on = true;
  g_everFrozen.store(true, std::memory_order_release);
}

void ThawClockForTest() {
  {
    MutexLock g(FrozenMutex());
    if (!g_frozen.on) return;
    // The real time spent frozen never happened for the virtual clock.
    g_offsetMs.fetch_sub(RealSteadyMs() - g_frozen.steadyMs);
    g_frozen.on = false;
  }
  // Waiters measured their remaining time against a clock that stood still;
  // they re-read it now that it flows.
  AdvanceClock(0);
}

bool ClockFrozenForTest() {
  if (!g_everFrozen.load(std::memory_order_acquire)) return false;
  MutexLock g(FrozenMutex());
  return g_frozen.on;
}

void RealSleepMs(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

void SleepMs(uint32_t ms) {
  if (ms == 0) {
    std::this_thread::yield();
    return;
  }
  const int64_t deadline = MonotonicMs() + ms;
  ClockWaitScope scope(SleepMutex(), SleepCv());
  std::unique_lock<std::mutex> lk(SleepMutex());
  for (;;) {
    const int64_t left = deadline - MonotonicMs();
    if (left <= 0) return;
    SleepCv().wait_for(lk, std::chrono::milliseconds(left));
  }
}

void AdvanceClock(int64_t ms) {
  // The offset changes before any waiter is woken, so a woken waiter (or one
  // that has not started waiting yet) reads the new time.
  {
    MutexLock g(FrozenMutex());
    g_offsetMs.fetch_add(ms, std::memory_order_acq_rel);
  }
  MutexLock reg(g_registryMu);
  for (ClockWaitScope* w = g_registryHead; w != nullptr; w = w->next_) {
    // Taking the waiter's mutex orders us after a waiter that has read the
    // old time but not yet blocked: it blocks first, then gets the notify.
    { std::lock_guard<std::mutex> g(w->mu_); }
    w->cv_.notify_all();
  }
}

int64_t ClockOffsetMs() { return g_offsetMs.load(std::memory_order_acquire); }

size_t ClockWaitsForTest() {
  MutexLock reg(g_registryMu);
  return g_registryCount;
}

uint64_t ClockWaitsBegunForTest() {
  MutexLock reg(g_registryMu);
  return g_registryBegun;
}

ClockWaitScope::ClockWaitScope(std::mutex& mu, std::condition_variable& cv) : mu_(mu), cv_(cv) {
  MutexLock reg(g_registryMu);
  next_ = g_registryHead;
  if (next_) next_->prev_ = this;
  g_registryHead = this;
  ++g_registryCount;
  ++g_registryBegun;
}

ClockWaitScope::~ClockWaitScope() {
  MutexLock reg(g_registryMu);
  if (prev_) prev_->next_ = next_; else g_registryHead = next_;
  if (next_) next_->prev_ = prev_;
  --g_registryCount;
}

}  // namespace plat
