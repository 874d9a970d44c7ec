// Steady traffic takes nothing new from the system: once the pools are warm,
// a start/post/timer/stop cycle of the framework (copied bodies in pooled
// streams, events, timers) gives back every pooled block and every
// event-list node, and the system-block counters stay where they were.
#include <gtest/gtest.h>

#include <vector>

#include "asyn_test_util.h"
#include "platform/clock.h"
#include "platform/heap.h"
#include "tzhelper/TzEventNodeAlloc.h"
#include "wait_util.h"

using namespace AsynModel;
using namespace asyn_test;

namespace {

constexpr int kMessages = 200;

// The gate holds the only worker while the cycle posts, so that every cycle
// reaches the same high-water mark in the pools.
void Cycle(AsynManager* mgr) {
  ASSERT_EQ(mgr->Start(), 0u);
  SptrSession gate(new Gate());
  auto* g = static_cast<Gate*>(gate.get());
  SptrSession ordered(new RecordingSession(Serial(true)));
  SptrSession parallel(new RecordingSession(Parallel()));
  RecordingSession* o = Rec(ordered);
  RecordingSession* p = Rec(parallel);
  ASSERT_EQ(gate->Start(), 0);
  ASSERT_EQ(ordered->Start(), 0);
  ASSERT_EQ(parallel->Start(), 0);
  ASSERT_TRUE(WaitUntil([&] { return o->starts.load() == 1 && p->starts.load() == 1; }));
  ASSERT_EQ(mgr->PostMsg(gate->GetSessionID(), 1, nullptr, 0, false), 0u);
  ASSERT_TRUE(WaitUntil([&] { return g->entered.load() != 0; }));

  std::vector<uint8_t> body(300, 0x11);
  static const uint8_t shared[64] = {};
  for (int i = 0; i < kMessages; ++i) {
    ASSERT_EQ(mgr->PostMsg(ordered->GetSessionID(), 2, body.data(), 300, false), 0u);
    ASSERT_EQ(mgr->PostMsg(parallel->GetSessionID(), 3, shared, sizeof(shared), true), 0u);
  }
  ASSERT_TRUE(ordered->SetTimer(1, 10));
  ASSERT_TRUE(parallel->SetTimer(2, 600000));  // cancelled by Stop
  g->open.store(1);
  ASSERT_TRUE(WaitUntil([&] { return o->messageCount.load() == kMessages && p->messageCount.load() == kMessages; }));
  plat::AdvanceClock(10);
  ASSERT_TRUE(WaitUntil([&] { return o->timerCount.load() == 1; }));

  gate->Terminate(0);
  ordered->Terminate(0);
  ASSERT_EQ(mgr->Stop(), 0u);
  ASSERT_TRUE(WaitUntil([&] { return p->timerCount.load() == 1; }));
  parallel->Terminate(0);
  ASSERT_TRUE(WaitUntil([&] {
    return gate->RefCount() == 1 && ordered->RefCount() == 1 && parallel->RefCount() == 1 &&
           mgr->GetCompletionPort()->Outstanding() == 0;
  }));
}

}  // namespace

TEST(SteadyState, ACycleOfTheFrameworkTakesNothingNewFromTheSystem) {
  AsynManager* mgr = AsynManager::GetInstance();
  ASSERT_EQ(mgr->Init(1), 0u);
  // Warm-up: the pools grow to the high-water mark.
  ASSERT_NO_FATAL_FAILURE(Cycle(mgr));
  ASSERT_NO_FATAL_FAILURE(Cycle(mgr));
  const plat::HeapCounters before = plat::GlobalHeapCounters();
  const long nodesBefore = tz::LiveEventNodes();
  ASSERT_NO_FATAL_FAILURE(Cycle(mgr));
  const plat::HeapCounters after = plat::GlobalHeapCounters();
  EXPECT_EQ(after.liveBlocks, before.liveBlocks);
  EXPECT_EQ(after.systemBlocks, before.systemBlocks);
  EXPECT_EQ(tz::LiveEventNodes(), nodesBefore);
  mgr->Destroy();
}
