// Timers: 100,000 quick-timer session timers spread over one second, armed
// at once and all fired, against the same through a priority-queue timer
// thread (one mutex, one condition variable, a heap of due times). The
// figure is process CPU time per timer; the measuring thread sleeps until the
// last timer of a round wakes it, so the figure is the timers' and the
// process's background only.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <queue>
#include <thread>
#include <vector>

#include "comparisons.h"
#include "harness.h"
#include "waitable_count.h"
#include "asynmodel/SessionTimer.h"
#include "tzhelper/TzQuickTimer.h"

namespace vbench {

namespace {

constexpr int64_t kSpreadMs = 1000;

// The same on both sides: one count, and one wake-up per round.
WaitableCount g_fired;

void CountFire(void*, uint16_t, void*) { g_fired.Add(); }

TzQuickTimer* QuickTimer() {
  static TzQuickTimer* timer = [] {
    TzQuickTimer* t = TzQuickTimer::Create();
    t->AddRef();  // lives until the process ends
    t->Enable();
    return t;
  }();
  return timer;
}

// Fires each entry when it is due, on its own thread.
class HeapTimerThread {
 public:
  HeapTimerThread() : thread_([this] { Run(); }) {}
  ~HeapTimerThread() {
    {
      std::lock_guard<std::mutex> g(mu_);
      stop_ = true;
    }
    cv_.notify_one();
    thread_.join();
  }
  void Add(int64_t dueNs) {
    bool earliest;
    {
      std::lock_guard<std::mutex> g(mu_);
      earliest = heap_.empty() || dueNs < heap_.top();
      heap_.push(dueNs);
    }
    if (earliest) cv_.notify_one();
  }

 private:
  void Run() {
    std::unique_lock<std::mutex> lk(mu_);
    while (!stop_) {
      if (heap_.empty()) {
        cv_.wait(lk);
        continue;
      }
      const int64_t due = heap_.top();
      const int64_t now = NowNs();
      if (due > now) {
        cv_.wait_for(lk, std::chrono::nanoseconds(due - now));
        continue;
      }
      heap_.pop();
      lk.unlock();
      CountFire(nullptr, 0, nullptr);
      lk.lock();
    }
  }

  std::mutex mu_;
  std::condition_variable cv_;
  std::priority_queue<int64_t, std::vector<int64_t>, std::greater<int64_t>> heap_;
  bool stop_ = false;
  std::thread thread_;
};

template <typename Arm>
double CpuNsPerTimer(int64_t n, Arm arm) {
  const int64_t target = g_fired.Load() + n;
  const double cpu0 = ProcessCpuSeconds();
  for (int64_t i = 0; i < n; ++i) arm(static_cast<uint32_t>(i * kSpreadMs / n));
  // Woken once by the last timer: polling would charge its wake-ups (about a
  // fifth of the quick timer's figure at 10 ms) to both sides.
  g_fired.WaitFor(target, NowNs() + int64_t{60} * 1000000000);
  return (ProcessCpuSeconds() - cpu0) * 1e9 / static_cast<double>(n);
}

}  // namespace

void RunTimers(const Options& o) {
  PrintHeader("timers: add and fire, 100,000 spread over 1 s; CPU ns per timer, heap thread (A) / quick timer (B)");
  const int64_t n = static_cast<int64_t>(100000 * o.scale) + 100;
  SessionTimer channel(QuickTimer(), 0);
  HeapTimerThread heap;
  auto quick = [&] {
    return CpuNsPerTimer(n, [&](uint32_t delayMs) { channel.SetTimer(delayMs, nullptr, &CountFire, nullptr); });
  };
  auto pq = [&] {
    return CpuNsPerTimer(n, [&](uint32_t delayMs) { heap.Add(NowNs() + int64_t{delayMs} * 1000000); });
  };
  // One unmeasured round of each side first: the quick timer's entry pool
  // and the heap's vector grow to 100,000 once per process, and the first
  // pair would otherwise count that growth for both (for the quick timer,
  // a heap allocation per entry).
  pq();
  quick();
  // Bigger is better for RunPairs, so side A is the heap thread's cost.
  PrintPairs("CPU ns per timer", "ns", RunPairs(o.pairs, pq, quick), ">= 3.0");
}

}  // namespace vbench
