// Steady traffic takes nothing new from the system: once the pools are warm,
// MemStream blocks and TimerEntry records cycle through the free lists and
// private heaps, and the live-block counters come back where they started.
#include <gtest/gtest.h>

#include <atomic>

#include "asynmodel/SessionTimer.h"
#include "asynmodel/net/MemStream.h"
#include "platform/clock.h"
#include "platform/heap.h"
#include "tzhelper/TzMemAlloc.h"
#include "tzhelper/TzQuickTimer.h"
#include "wait_util.h"

using AsynModel::MemStream;
using AsynModel::SptrMemStream;

namespace {

void CycleStreams(int rounds) {
  for (int i = 0; i < rounds; ++i) {
    SptrMemStream rx(MemStream::Create(2048));  // a receive buffer
    SptrMemStream tx(MemStream::Create(8 + 16 + static_cast<uint32_t>(i % 200)));  // a send buffer
    if (!rx || !rx->Buffer() || !tx || !tx->Buffer()) {
      ADD_FAILURE() << "stream without buffer at round " << i;
      return;
    }
    rx->Buffer()[0] = static_cast<uint8_t>(i);
    tx->Buffer()[0] = static_cast<uint8_t>(i);
  }
}

std::atomic<int64_t> g_fired{0};
void CountFire(void*, uint16_t cancelled, void*) {
  if (cancelled == 0) g_fired.fetch_add(1, std::memory_order_relaxed);
}

// Arms `batch` timers of delay 0, wakes the timer thread and waits until all
// of them have fired and their entries are freed, so batches never overlap.
bool RunBatch(SessionTimer& channel, int batch) {
  const int64_t target = g_fired.load() + batch;
  int owner = 0;
  for (int i = 0; i < batch; ++i) {
    if (!channel.SetTimer(0, &owner, &CountFire, nullptr)) return false;
  }
  plat::AdvanceClock(TzQuickTimer::kTickMs);  // ends the thread's sleep at once
  return WaitUntil([&] {
    return g_fired.load() >= target &&
           TzMemAlloc<TimerEntry, TzPrivateHeapMemAllocMethod>::Counters().liveBlocks == 0;
  });
}

}  // namespace

TEST(SteadyState, MemStreamCyclesTakeNothingNewFromTheSystem) {
  CycleStreams(1000);  // warm-up: every class used below holds its blocks
  plat::HeapCounters start = plat::GlobalHeapCounters();
  CycleStreams(1000000);
  plat::HeapCounters end = plat::GlobalHeapCounters();
  EXPECT_EQ(start.systemBlocks, end.systemBlocks);
  EXPECT_EQ(start.liveBlocks, end.liveBlocks);
}

TEST(SteadyState, AMillionTimerAddFireCyclesTakeNothingNewFromTheSystem) {
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
