// Events and semaphores on std::mutex + std::condition_variable. Timed waits
// run on the virtual clock and register a ClockWaitScope, so AdvanceClock can
// end them.
#include "platform/sync.h"

#include <atomic>
#include <chrono>

#include "platform/clock.h"

namespace plat {
namespace {

// WaitAny callers sleep on one shared condition variable; Event::Set wakes it
// only while at least one WaitAny is in progress.
// Lock order: g_anyMu, then an event's mutex.
std::atomic<int> g_anyWaiters{0};
std::mutex& AnyMutex() {
  static std::mutex* mu = new std::mutex();
  return *mu;
}
std::condition_variable& AnyCv() {
  static std::condition_variable* cv = new std::condition_variable();
  return *cv;
}

// Remaining virtual time until `deadline`, as a real-time wait length.
std::chrono::milliseconds Left(int64_t deadline) {
  return std::chrono::milliseconds(deadline - MonotonicMs());
}

}  // namespace

Event::Event(bool manualReset, bool initialState) : manual_(manualReset), signalled_(initialState) {}

Event::~Event() = default;

void Event::Set() {
  {
    std::lock_guard<std::mutex> g(mu_);
    signalled_ = true;
  }
  cv_.notify_all();
  if (g_anyWaiters.load(std::memory_order_seq_cst) > 0) {
    // A WaitAny that scanned this event before it was set still holds
    // g_anyMu until it blocks, so taking it here cannot miss that waiter.
    { std::lock_guard<std::mutex> g(AnyMutex()); }
    AnyCv().notify_all();
  }
}

void Event::Reset() {
  std::lock_guard<std::mutex> g(mu_);
  signalled_ = false;
}

bool Event::IsSet() const {
  std::lock_guard<std::mutex> g(mu_);
  return signalled_;
}

int Event::Wait(uint32_t timeoutMs) {
  if (timeoutMs == kInfinite) {
    std::unique_lock<std::mutex> lk(mu_);
    cv_.wait(lk, [this] { return signalled_; });
    if (!manual_) signalled_ = false;
    return kWaitSignalled;
  }
  const int64_t deadline = MonotonicMs() + timeoutMs;
  ClockWaitScope scope(mu_, cv_);  // before the lock: see clock.h
  std::unique_lock<std::mutex> lk(mu_);
  while (!signalled_) {
    if (deadline - MonotonicMs() <= 0) return kWaitTimeout;
    cv_.wait_for(lk, Left(deadline));
  }
  if (!manual_) signalled_ = false;
  return kWaitSignalled;
}

int WaitAny(Event* const* events, int count, uint32_t timeoutMs) {
  if (events == nullptr || count <= 0) return -2;
  for (int i = 0; i < count; ++i) {
    if (events[i] == nullptr) return -2;
  }
  g_anyWaiters.fetch_add(1, std::memory_order_seq_cst);
  int result = -1;
  {
    const int64_t deadline = MonotonicMs() + (timeoutMs == kInfinite ? 0 : timeoutMs);
    ClockWaitScope scope(AnyMutex(), AnyCv());
    std::unique_lock<std::mutex> lk(AnyMutex());
    for (;;) {
      for (int i = 0; i < count && result < 0; ++i) {
        Event* e = events[i];
        std::lock_guard<std::mutex> g(e->mu_);
        if (e->signalled_) {
          if (!e->manual_) e->signalled_ = false;
          result = i;
        }
      }
      if (result >= 0) break;
      if (timeoutMs == kInfinite) {
        AnyCv().wait(lk);
        continue;
      }
      if (deadline - MonotonicMs() <= 0) break;
      AnyCv().wait_for(lk, Left(deadline));
    }
  }
  g_anyWaiters.fetch_sub(1, std::memory_order_seq_cst);
  return result;
}

Semaphore::Semaphore(long initialCount, long maxCount) : count_(initialCount), max_(maxCount) {}

Semaphore::~Semaphore() = default;

bool Semaphore::Release(long count) {
  {
    std::lock_guard<std::mutex> g(mu_);
    if (count <= 0 || count > max_ - count_) return false;
    count_ += count;
  }
  if (count == 1) cv_.notify_one(); else cv_.notify_all();
  return true;
}

int Semaphore::Wait(uint32_t timeoutMs) {
  if (timeoutMs == kInfinite) {
    std::unique_lock<std::mutex> lk(mu_);
    cv_.wait(lk, [this] { return count_ > 0; });
    --count_;
    return kWaitSignalled;
  }
  const int64_t deadline = MonotonicMs() + timeoutMs;
  ClockWaitScope scope(mu_, cv_);  // before the lock: see clock.h
  std::unique_lock<std::mutex> lk(mu_);
  while (count_ <= 0) {
    if (deadline - MonotonicMs() <= 0) return kWaitTimeout;
    cv_.wait_for(lk, Left(deadline));
  }
  --count_;
  return kWaitSignalled;
}

}  // namespace plat
