// TzThread: start handshake and waits in 100 ms steps of a frozen clock.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "frozen_clock.h"
#include "platform/sync.h"
#include "platform/system.h"
#include "tzhelper/TzThread.h"
#include "wait_util.h"

namespace {

struct Blocker {
  std::atomic<bool> release{false};
  std::atomic<uint32_t> bodyThreadId{0};
  std::atomic<int> calls{0};
  void* seenArg = nullptr;
};

void BlockingBody(void* owner, void* arg) {
  Blocker* b = static_cast<Blocker*>(owner);
  b->seenArg = arg;
  b->bodyThreadId.store(plat::CurrentThreadId());
  b->calls.fetch_add(1);
  while (!b->release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// Moves the frozen clock 100 ms each time the waiter has begun its next
// sleep, until `wait` ends; `beforeStep` runs before each step. Returns the
// steps taken. `begun` counts the clock waits begun before the waiter.
template <class BeforeStep>
int StepsUntilDone(FrozenClock& clock, std::future<bool>& wait, uint64_t begun, BeforeStep beforeStep) {
  auto done = [&] { return wait.wait_for(std::chrono::milliseconds(0)) == std::future_status::ready; };
  int steps = 0;
  while (steps < 100 && WaitUntil([&] { return done() || plat::ClockWaitsBegunForTest() > begun + steps; }) &&
         !done()) {
    beforeStep(steps);
    clock.Advance(100);
    ++steps;
  }
  return steps;
}

}  // namespace

TEST(TzhelperThread, StartReturnsWithTheThreadRunningAndAWrapperRunsAgainAfterItEnded) {
  Blocker b;
  int arg = 7;
  TzThread t(&b, &arg, BlockingBody);
  EXPECT_FALSE(t.IsRunning());
  EXPECT_FALSE(t.Wait(1000));  // nothing runs yet
  for (int run = 1; run <= 2; ++run) {
    b.release = false;
    b.bodyThreadId = 0;
    ASSERT_TRUE(t.Start());
    EXPECT_TRUE(t.IsRunning());
    EXPECT_NE(0u, t.ThreadId());
    EXPECT_TRUE(t.Start());  // already running: nothing new
    ASSERT_TRUE(WaitUntil([&] { return b.bodyThreadId.load() != 0; }));
    EXPECT_EQ(t.ThreadId(), b.bodyThreadId.load());
    EXPECT_EQ(&arg, b.seenArg);
    EXPECT_EQ(run, b.calls.load());
    b.release = true;
    ASSERT_TRUE(WaitUntil([&] { return !t.IsRunning(); }));
    EXPECT_EQ(0u, t.ThreadId());
    EXPECT_FALSE(t.Wait(1000));  // finished: no thread to wait for
  }
}

// Wait sleeps 100 ms of clock time per step: Wait(250) gives up after three
// steps; an unlimited Wait sees the body end at the step after it ended.
TEST(TzhelperThread, WaitGivesUpAfterThreeStepsOrSeesTheBodyEndWithinItsBudget) {
  Blocker b;
  TzThread t(&b, nullptr, BlockingBody);
  ASSERT_TRUE(t.Start());
  FrozenClock clock;
  uint64_t begun = plat::ClockWaitsBegunForTest();
  auto wait = std::async(std::launch::async, [&t] { return t.Wait(250); });
  EXPECT_EQ(StepsUntilDone(clock, wait, begun, [](int) {}), 3);
  EXPECT_FALSE(wait.get());
  EXPECT_TRUE(t.IsRunning());

  begun = plat::ClockWaitsBegunForTest();
  wait = std::async(std::launch::async, [&t] { return t.Wait(plat::kInfinite); });
  EXPECT_EQ(StepsUntilDone(clock, wait, begun, [&](int step) {
              if (step == 4) {
                b.release = true;
                EXPECT_TRUE(WaitUntil([&] { return !t.IsRunning(); }));
              }
            }), 5);
  EXPECT_TRUE(wait.get());
}

