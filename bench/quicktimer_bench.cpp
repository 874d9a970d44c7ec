// Quick timer: the cost of arming a session timer, and of whole add/fire
// cycles (arm a batch of delay-0 timers, wake the timer thread, wait until
// every callback has run and every entry is back in its pool).
#include <benchmark/benchmark.h>

#include <atomic>
#include <thread>

#include "asynmodel/SessionTimer.h"
#include "platform/clock.h"
#include "platform/heap.h"
#include "tzhelper/TzMemAlloc.h"
#include "tzhelper/TzQuickTimer.h"

namespace {

struct Counter {
  alignas(64) std::atomic<int64_t> fired{0};
};

void CountFire(void* owner, uint16_t, void*) {
  static_cast<Counter*>(owner)->fired.fetch_add(1, std::memory_order_relaxed);
}

// One enabled timer for the whole run (it lives until the process ends).
TzQuickTimer* Timer() {
  static TzQuickTimer* timer = [] {
    TzQuickTimer* t = TzQuickTimer::Create();
    t->AddRef();
    t->Enable();
    return t;
  }();
  return timer;
}

int64_t LiveEntries() {
  return TzMemAlloc<TimerEntry, TzPrivateHeapMemAllocMethod>::Counters().liveBlocks;
}

// Wakes the timer thread (moving the clock one step ends its sleep) and waits
// until `counter` reaches `target`.
void Drain(Counter& counter, int64_t target) {
  plat::AdvanceClock(TzQuickTimer::kTickMs);
  while (counter.fired.load(std::memory_order_relaxed) < target) std::this_thread::yield();
}

// Arming alone: pool allocation, the shared timer lock, the channel's lock.
void BM_SessionTimerSetTimer(benchmark::State& state) {
  SessionTimer channel(Timer(), 0);
  Counter counter;
  int64_t armed = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(channel.SetTimer(0, &counter, &CountFire, nullptr));
    if (++armed % 1000 == 0) {
      state.PauseTiming();
      Drain(counter, armed);
      state.ResumeTiming();
    }
  }
  Drain(counter, armed);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SessionTimerSetTimer);

// Whole cycles, batch = range(0). With two threads each uses its own channel,
// as sessions of odd and even ids do.
void BM_QuickTimerAddFireCycle(benchmark::State& state) {
  const int batch = static_cast<int>(state.range(0));
  SessionTimer channel(Timer(), static_cast<uint32_t>(state.thread_index()));
  Counter counter;
  int64_t armed = 0;
  const int64_t systemBefore = plat::GlobalHeapCounters().systemBlocks;
  for (auto _ : state) {
    for (int i = 0; i < batch; ++i) channel.SetTimer(0, &counter, &CountFire, nullptr);
    armed += batch;
    Drain(counter, armed);
  }
  while (LiveEntries() != 0) std::this_thread::yield();
  state.SetItemsProcessed(state.iterations() * batch);
  state.counters["newSystemBlocks"] =
      static_cast<double>(plat::GlobalHeapCounters().systemBlocks - systemBefore);
}
BENCHMARK(BM_QuickTimerAddFireCycle)->Arg(1)->Arg(100)->Arg(10000)->UseRealTime();
BENCHMARK(BM_QuickTimerAddFireCycle)->Arg(10000)->Threads(2)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
