// TzCustomTimerEx on a frozen clock: exact firing times, insertion order among
// equal due times, the wake for a new earliest timer, batches, refusals and
// throwing callbacks.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "frozen_clock.h"
#include "tzhelper/TzCustomTimerEx.h"
#include "wait_util.h"

namespace {

// Records each firing: the timer's tag (arg) and the clock reading.
struct Recorder {
  std::mutex mu;
  std::vector<std::pair<intptr_t, int64_t>> fired;
  std::atomic<int> count{0};

  static void Callback(void* owner, uint32_t reserved, void* arg) {
    Recorder* r = static_cast<Recorder*>(owner);
    EXPECT_EQ(reserved, 0u);
    {
      std::lock_guard<std::mutex> g(r->mu);
      r->fired.emplace_back(reinterpret_cast<intptr_t>(arg), plat::NowMs());
    }
    r->count.fetch_add(1);
  }
  std::vector<std::pair<intptr_t, int64_t>> Fired() {
    std::lock_guard<std::mutex> g(mu);
    return fired;
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

// The timer thread is waiting on the clock with its deadline fixed, in a
// wait begun after `begun` waits (the one that saw the latest timers).
bool Waiting(uint64_t begun = 0) {
  return WaitUntil([&] { return plat::ClockWaitsForTest() == 1 && plat::ClockWaitsBegunForTest() > begun; });
}

}  // namespace

// A 60 s timer first, then runs of equal delays on two lists, 250 each (more
// than the batch of 100 per take): the thread wakes for the earlier ones,
// fires each at its due time in the order they were added, and the 60 s one
// at its own time.
TEST(CustomTimer, EachFiresAtItsDueTimeEqualOnesInInsertionOrder) {
  TzCustomTimerEx timer(2, [](uint32_t delayMs) -> uint32_t { return delayMs % 2; });
  FrozenClock clock;  // thawed first: stopping the thread waits in clock steps
  ASSERT_TRUE(timer.Start());
  Recorder r;
  const int64_t t0 = plat::NowMs();
  ASSERT_TRUE(Waiting());
  uint64_t begun = plat::ClockWaitsBegunForTest();
  ASSERT_TRUE(r.Set(timer, 60000, 9999));
  ASSERT_TRUE(Waiting(begun));
  begun = plat::ClockWaitsBegunForTest();
  for (intptr_t i = 0; i < 250; ++i) {
    ASSERT_TRUE(r.Set(timer, 1000, i));
    ASSERT_TRUE(r.Set(timer, 1001, 1000 + i));
  }
  ASSERT_TRUE(Waiting(begun));
  clock.Advance(1000);
  ASSERT_TRUE(WaitUntil([&] { return r.count.load() == 250; }));
  ASSERT_TRUE(Waiting());
  clock.Advance(1);
  ASSERT_TRUE(WaitUntil([&] { return r.count.load() == 500; }));
  ASSERT_TRUE(Waiting());
  clock.Advance(58999);
  ASSERT_TRUE(WaitUntil([&] { return r.count.load() == 501; }));
  std::vector<std::pair<intptr_t, int64_t>> want;
  for (intptr_t i = 0; i < 250; ++i) want.emplace_back(i, t0 + 1000);
  for (intptr_t i = 0; i < 250; ++i) want.emplace_back(1000 + i, t0 + 1001);
  want.emplace_back(9999, t0 + 60000);
  EXPECT_EQ(r.Fired(), want);
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

TEST(CustomTimer, ACallbackMaySetItsNextTimerAndAThrowingOneIsPrinted) {
  TzCustomTimerEx timer;
  FrozenClock clock;  // thawed first: stopping the thread waits in clock steps
  ASSERT_TRUE(timer.Start());
  Rearming re{&timer};
  ASSERT_TRUE(timer.SetTimer(100, &re, &Rearming::Callback, nullptr));
  for (int expected = 1; expected <= 3; ++expected) {
    ASSERT_TRUE(Waiting());
    clock.Advance(100);
    ASSERT_TRUE(WaitUntil([&] { return re.runs.load() == expected; }));
  }
  Recorder r;
  testing::internal::CaptureStdout();
  int owner = 0;
  ASSERT_TRUE(Waiting());
  const uint64_t begun = plat::ClockWaitsBegunForTest();
  ASSERT_TRUE(timer.SetTimer(10, &owner, &Throws, nullptr));
  ASSERT_TRUE(r.Set(timer, 20, 1));
  ASSERT_TRUE(Waiting(begun));
  clock.Advance(1000);
  ASSERT_TRUE(WaitUntil([&] { return r.count.load() == 1; }));
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(re.runs.load(), 3);  // no fourth run
  EXPECT_EQ(g_throws.load(), 1);
  EXPECT_NE(out.find("TzCustomTimerEx<TimerOwner>::TimeDueProc() 342 unknown exception\r\n"),
            std::string::npos) << out;
}
