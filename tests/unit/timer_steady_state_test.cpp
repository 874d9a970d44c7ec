// Once warmed up, timer traffic takes nothing new from the system: every
// TimerEntry comes back to the entries' private heap and is handed out again.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/clock.h"
#include "platform/heap.h"
#include "tzhelper/SessionTimer.h"
#include "tzhelper/TzMemAlloc.h"
#include "tzhelper/TzQuickTimer.h"

namespace {

std::atomic<int64_t> g_fired{0};
void CountFire(void*, uint16_t cancelled, void*) {
  if (cancelled == 0) g_fired.fetch_add(1, std::memory_order_relaxed);
}

int64_t LiveEntries() {
  return TzMemAlloc<TimerEntry, TzPrivateHeapMemAllocMethod>::Counters().liveBlocks;
}

// Arms `batch` timers of delay 0, wakes the timer thread and waits (bounded,
// real time) until all of them have fired. False on time-out or refusal.
bool RunBatch(SessionTimer& channel, int batch) {
  const int64_t target = g_fired.load() + batch;
  int owner = 0;
  for (int i = 0; i < batch; ++i) {
    if (!channel.SetTimer(0, &owner, &CountFire, nullptr)) return false;
  }
  plat::AdvanceClock(TzQuickTimer::kTickMs);  // ends the thread's sleep at once
  // The callback runs just before its entry is freed: wait for both, so the
  // next batch never overlaps this one.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (g_fired.load() < target || LiveEntries() != 0) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

}  // namespace

TEST(TimerSteadyState, AMillionAddFireCyclesTakeNothingNewFromTheSystem) {
  constexpr int kBatch = 10000;
  constexpr int kCycles = 1000000;
  TzSptr<TzQuickTimer> timer(TzQuickTimer::Create());
  ASSERT_TRUE(timer);
  ASSERT_TRUE(timer->Enable());
  SessionTimer channel(timer.get(), timer->NextChannelIndex());

  // Warm-up: a whole batch live at once (the thread held meanwhile), so the
  // entries' heap grows to the most that a batch can hold.
  timer->SuspendPassesForTest(true);
  int owner = 0;
  for (int i = 0; i < kBatch; ++i) ASSERT_TRUE(channel.SetTimer(0, &owner, &CountFire, nullptr));
  timer->SuspendPassesForTest(false);
  ASSERT_TRUE(RunBatch(channel, 0));
  const plat::HeapCounters start = plat::GlobalHeapCounters();
  for (int done = 0; done < kCycles; done += kBatch) ASSERT_TRUE(RunBatch(channel, kBatch));
  const plat::HeapCounters end = plat::GlobalHeapCounters();

  EXPECT_EQ(g_fired.load(), int64_t(kBatch) + kCycles);
  EXPECT_EQ(end.systemBlocks, start.systemBlocks);
  EXPECT_EQ(end.liveBlocks, start.liveBlocks);
}
