// A count that one thread can sleep on until it reaches a target. Only the
// increment that reaches the target pays a wake-up; the others are one
// atomic add and one load. Used where the benchmark waits for the library's
// callbacks: a waiting thread that polled or spun would take processor time
// from what it measures.
//
// Threads: Add and Interrupt from any thread; one thread at a time in
// WaitFor.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace vbench {

class WaitableCount {
 public:
  int64_t Load() const { return count_.load(); }
  void Add();
  // Ends the current (or next) WaitFor early, e.g. on a failure.
  void Interrupt();
  // Until the count reaches target, Interrupt is called, or NowNs() passes
  // deadlineNs.
  void WaitFor(int64_t target, int64_t deadlineNs);

 private:
  std::atomic<int64_t> count_{0};
  std::atomic<int64_t> wakeAt_{INT64_MAX};  // the waiter's target
  std::atomic<uint64_t> interrupts_{0};
  std::mutex mu_;
  std::condition_variable cv_;
};

}  // namespace vbench
