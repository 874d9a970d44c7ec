#include "waitable_count.h"

#include <chrono>

#include "harness.h"

namespace vbench {

// The count and wakeAt_ are sequentially consistent: either Add sees the
// waiter's target and wakes it (taking the lock, so the waiter is asleep or
// not yet checking), or the waiter's check after publishing its target sees
// the new count.
void WaitableCount::Add() {
  if (count_.fetch_add(1) + 1 < wakeAt_.load()) return;
  std::lock_guard<std::mutex> lk(mu_);
  cv_.notify_all();
}

void WaitableCount::Interrupt() {
  interrupts_.fetch_add(1);
  std::lock_guard<std::mutex> lk(mu_);
  cv_.notify_all();
}

void WaitableCount::WaitFor(int64_t target, int64_t deadlineNs) {
  const uint64_t seen = interrupts_.load();
  std::unique_lock<std::mutex> lk(mu_);
  wakeAt_.store(target);
  for (int64_t now = NowNs(); count_.load() < target && interrupts_.load() == seen && now < deadlineNs;
       now = NowNs()) {
    cv_.wait_for(lk, std::chrono::nanoseconds(deadlineNs - now));
  }
  wakeAt_.store(INT64_MAX);
}

}  // namespace vbench
