// TzCustomTimerEx: sorted lists, insertion order among equal due times, the
// wake event for a new earliest timer, batches, refusals and throwing
// callbacks. Time moves with plat::AdvanceClock.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "tzhelper/TzCustomTimerEx.h"
#include "wait_util.h"

namespace {

// Records the order of firings: arg is the timer's tag.
struct Recorder {
  std::mutex mu;
  std::vector<intptr_t> order;
  std::vector<int64_t> firedAt;
  std::atomic<int> count{0};

  static void Callback(void* owner, uint32_t reserved, void* arg) {
    Recorder* r = static_cast<Recorder*>(owner);
    EXPECT_EQ(reserved, 0u);
    {
      std::lock_guard<std::mutex> g(r->mu);
      r->order.push_back(reinterpret_cast<intptr_t>(arg));
      r->firedAt.push_back(plat::NowMs());
    }
    r->count.fetch_add(1);
  }
  std::vector<intptr_t> Order() {
    std::lock_guard<std::mutex> g(mu);
    return order;
  }
  bool Set(TzCustomTimerEx& t, uint32_t delayMs, intptr_t tag) {
    return t.SetTimer(delayMs, this, &Recorder::Callback, reinterpret_cast<void*>(tag));
  }
};

struct Rearming {
  TzCustomTimerEx* timer;
  std::atomic<int> runs{0};
  static void Callback(void* owner, uint32_t, void*) {
    Rearming* self = static_cast<Rearming*>(owner);
    // Runs outside the timer's lock, so it may set its next timer.
    if (self->runs.fetch_add(1) + 1 < 3) {
      EXPECT_TRUE(self->timer->SetTimer(100, self, &Rearming::Callback, nullptr));
    }
  }
};

std::atomic<int> g_throws{0};
void Throws(void*, uint32_t, void*) {
  g_throws.fetch_add(1);
  throw 7;
}

}  // namespace

TEST(CustomTimer, EqualDueTimesFireInInsertionOrderAfterEarlierOnes) {
  TzCustomTimerEx timer;
  ASSERT_TRUE(timer.Start());
  Recorder r;
  // A late one first, then a run of equal delays: most of them share the
  // same due millisecond, and all must keep the order they were added in.
  ASSERT_TRUE(r.Set(timer, 2000, 1000));
  for (intptr_t i = 0; i < 50; ++i) ASSERT_TRUE(r.Set(timer, 1000, i));
  plat::AdvanceClock(1000);
  ASSERT_TRUE(WaitUntil([&] { return r.count.load() == 50; }));
  plat::AdvanceClock(1000);
  ASSERT_TRUE(WaitUntil([&] { return r.count.load() == 51; }));
  std::vector<intptr_t> order = r.Order();
  for (intptr_t i = 0; i < 50; ++i) EXPECT_EQ(order[size_t(i)], i);
  EXPECT_EQ(order[50], 1000);
}

TEST(CustomTimer, AnEarlierTimerAddedLaterWakesTheThreadAndFiresOnTime) {
  TzCustomTimerEx timer;
  ASSERT_TRUE(timer.Start());
  Recorder r;
  ASSERT_TRUE(r.Set(timer, 60000, 1));
  // Let the thread settle into its wait for the 60 s timer.
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  const int64_t due = plat::NowMs() + 1000;
  ASSERT_TRUE(r.Set(timer, 1000, 2));
  // Without the wake the thread would sleep until the 60 s deadline, which
  // moving the clock by 1 s does not reach.
  plat::AdvanceClock(1000);
  ASSERT_TRUE(WaitUntil([&] { return r.count.load() == 1; }));
  {
    std::lock_guard<std::mutex> g(r.mu);
    EXPECT_EQ(r.order[0], 2);
    EXPECT_GE(r.firedAt[0], due);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(r.count.load(), 1);  // the 60 s timer waits for its time
  plat::AdvanceClock(59000);
  ASSERT_TRUE(WaitUntil([&] { return r.count.load() == 2; }));
}

TEST(CustomTimer, RefusesNullOwnerOrCallbackAStoppedThreadAndABadList) {
  Recorder r;
  TzCustomTimerEx timer(2, [](uint32_t delayMs) -> uint32_t { return delayMs < 1000 ? 0 : 5; });
  EXPECT_FALSE(r.Set(timer, 10, 0));  // not started
  ASSERT_TRUE(timer.Start());
  EXPECT_TRUE(timer.Start());  // already running
  EXPECT_FALSE(timer.SetTimer(10, nullptr, &Recorder::Callback, nullptr));
  EXPECT_FALSE(timer.SetTimer(10, &r, nullptr, nullptr));
  EXPECT_FALSE(r.Set(timer, 1000, 0));  // list 5 of 2
  EXPECT_TRUE(r.Set(timer, 10, 0));
  timer.Stop();
  EXPECT_FALSE(r.Set(timer, 10, 0));
}

TEST(CustomTimer, LargeBatchesOnSeveralListsAllFireInOrder) {
  // Two lists; 250 due timers on each exceed the batch of 100 per take.
  TzCustomTimerEx timer(2, [](uint32_t delayMs) -> uint32_t { return delayMs % 2; });
  ASSERT_TRUE(timer.Start());
  Recorder r;
  for (intptr_t i = 0; i < 250; ++i) {
    ASSERT_TRUE(r.Set(timer, 100, i));
    ASSERT_TRUE(r.Set(timer, 101, 1000 + i));
  }
  plat::AdvanceClock(200);
  ASSERT_TRUE(WaitUntil([&] { return r.count.load() == 500; }));
  std::vector<intptr_t> even, odd;
  for (intptr_t tag : r.Order()) (tag < 1000 ? even : odd).push_back(tag);
  ASSERT_EQ(even.size(), 250u);
  ASSERT_EQ(odd.size(), 250u);
  for (intptr_t i = 0; i < 250; ++i) {
    EXPECT_EQ(even[size_t(i)], i);
    EXPECT_EQ(odd[size_t(i)], 1000 + i);
  }
}

TEST(CustomTimer, ACallbackMaySetItsNextTimerAndAThrowingOneIsPrinted) {
  TzCustomTimerEx timer;
  ASSERT_TRUE(timer.Start());
  Rearming re{&timer};
  ASSERT_TRUE(timer.SetTimer(100, &re, &Rearming::Callback, nullptr));
  for (int expected = 1; expected <= 3; ++expected) {
    plat::AdvanceClock(100);
    ASSERT_TRUE(WaitUntil([&] { return re.runs.load() == expected; }));
  }

  Recorder r;
  testing::internal::CaptureStdout();
  int owner = 0;
  ASSERT_TRUE(timer.SetTimer(10, &owner, &Throws, nullptr));
  ASSERT_TRUE(r.Set(timer, 20, 1));
  plat::AdvanceClock(1000);
  ASSERT_TRUE(WaitUntil([&] { return r.count.load() == 1; }));
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(re.runs.load(), 3);  // no fourth run
  EXPECT_EQ(g_throws.load(), 1);
  EXPECT_NE(out.find("TzCustomTimerEx<TimerOwner>::TimeDueProc() 342 unknown exception\r\n"),
            std::string::npos) << out;
}
