// The virtual clock: AdvanceClock moves every reading and ends timed waits.
#include <gtest/gtest.h>

#include <cstdlib>
#include <chrono>
#include <future>
#include <thread>

#include "platform/clock.h"
#include "platform/sync.h"

namespace {

using std::chrono::milliseconds;

// Real-time bounded wait for a condition that another thread will make true.
template <class Pred>
bool EventuallyTrue(Pred pred, int timeoutMs = 5000) {
  const auto end = std::chrono::steady_clock::now() + milliseconds(timeoutMs);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(milliseconds(1));
  }
  return true;
}

TEST(PlatformClock, TickDiffIsWrapSafe) {
  EXPECT_EQ(plat::TickDiff(5u, 0xFFFFFFFBu), 10);
  EXPECT_EQ(plat::TickDiff(0xFFFFFFFBu, 5u), -10);
  EXPECT_EQ(plat::TickDiff(1000u, 1000u), 0);
  EXPECT_EQ(plat::TickDiff(0x80000000u, 0x7FFFFFFFu), 1);
}

TEST(PlatformClock, AdvanceMovesEveryClock) {
  const uint32_t tick0 = plat::GetTickCount();
  const int64_t now0 = plat::NowMs();
  const uint32_t cal0 = plat::CalendarSeconds();
  const double hr0 = plat::HighResSeconds();
  const int64_t mono0 = plat::MonotonicMs();

  // More than 2^32 ms: the tick count wraps, the other clocks do not.
  const int64_t step = (int64_t{1} << 32) + 5000;
  plat::AdvanceClock(step);

  EXPECT_EQ(plat::ClockOffsetMs(), step);
  EXPECT_GE(plat::TickDiff(plat::GetTickCount(), tick0), 5000);
  EXPECT_GE(plat::NowMs() - now0, step);
  EXPECT_GE(static_cast<int64_t>(plat::CalendarSeconds() - cal0), step / 1000);
  EXPECT_GE(plat::HighResSeconds() - hr0, static_cast<double>(step) / 1000.0);
  EXPECT_GE(plat::MonotonicMs() - mono0, step);
}

TEST(PlatformClock, FrameworkClockIsUnixMilliseconds) {
  const int64_t sys = std::chrono::duration_cast<milliseconds>(
                          std::chrono::system_clock::now().time_since_epoch()).count();
  EXPECT_LE(std::abs(plat::NowMs() - sys), 1000);
  EXPECT_LE(std::abs(static_cast<int64_t>(plat::CalendarSeconds()) - sys / 1000), 1);
}

TEST(PlatformClock, ShortSleepLastsAtLeastItsTime) {
  plat::SleepMs(0);  // a yield: returns
  const int64_t t0 = plat::MonotonicMs();
  plat::SleepMs(5);
  EXPECT_GE(plat::MonotonicMs() - t0, 5);
}

TEST(PlatformClock, AdvanceEndsLongSleepAndEventWait) {
  plat::Event never(true, false);
  auto sleeper = std::async(std::launch::async, [] {
    const int64_t t0 = plat::MonotonicMs();
    plat::SleepMs(60000);
    return plat::MonotonicMs() - t0;
  });
  auto waiter = std::async(std::launch::async, [&never] { return never.Wait(60000); });

  ASSERT_TRUE(EventuallyTrue([] { return plat::ClockWaitsForTest() == 2; }));
  plat::AdvanceClock(60000);

  ASSERT_EQ(sleeper.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  ASSERT_EQ(waiter.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_GE(sleeper.get(), 60000);
  EXPECT_EQ(waiter.get(), plat::kWaitTimeout);
  EXPECT_EQ(plat::ClockWaitsForTest(), 0u);
}

TEST(PlatformClock, PartialAdvanceKeepsWaiting) {
  auto sleeper = std::async(std::launch::async, [] { plat::SleepMs(60000); });
  ASSERT_TRUE(EventuallyTrue([] { return plat::ClockWaitsForTest() == 1; }));

  plat::AdvanceClock(30000);
  // Woken by the advance, the sleeper must find its deadline not yet reached.
  EXPECT_EQ(sleeper.wait_for(milliseconds(50)), std::future_status::timeout);
  EXPECT_EQ(plat::ClockWaitsForTest(), 1u);

  plat::AdvanceClock(30000);
  EXPECT_EQ(sleeper.wait_for(std::chrono::seconds(5)), std::future_status::ready);
}

}  // namespace
