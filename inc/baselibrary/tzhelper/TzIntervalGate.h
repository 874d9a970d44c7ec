// Lets one caller through per interval, without a lock: for a line that a
// busy path (a refused record, a refused key) may want to write many times a
// second. Whoever moves the stamp is let through; the others are not.
//
// Threads: Pass may be called from any number of threads at once.
#pragma once
#include <atomic>
#include <cstdint>

class TzIntervalGate {
 public:
  explicit constexpr TzIntervalGate(int64_t intervalMs) : intervalMs_(intervalMs) {}
  TzIntervalGate(const TzIntervalGate&) = delete;
  TzIntervalGate& operator=(const TzIntervalGate&) = delete;

  // nowMs: a monotonic clock in ms. The first call always passes.
  bool Pass(int64_t nowMs) {
    int64_t last = last_.load(std::memory_order_relaxed);
    return nowMs - last >= intervalMs_ && last_.compare_exchange_strong(last, nowMs, std::memory_order_relaxed);
  }

 private:
  const int64_t intervalMs_;
  std::atomic<int64_t> last_{INT64_MIN / 2};
};
