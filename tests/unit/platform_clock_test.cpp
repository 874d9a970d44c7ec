// The virtual clock: AdvanceClock moves every reading and ends timed waits.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <future>

#include "platform/clock.h"
#include "platform/sync.h"
#include "wait_util.h"

namespace {

using std::chrono::milliseconds;

TEST(PlatformClock, TickDiffIsWrapSafe) {
  EXPECT_EQ(plat::TickDiff(5u, 0xFFFFFFFBu), 10);
  EXPECT_EQ(plat::TickDiff(0xFFFFFFFBu, 5u), -10);
  EXPECT_EQ(plat::TickDiff(1000u, 1000u), 0);
  EXPECT_EQ(plat::TickDiff(0x80000000u, 0x7FFFFFFFu), 1);
}

TEST(PlatformClock, ClocksStartAtUnixTimeAndAdvanceTogether) {
  const int64_t sys = std::chrono::duration_cast<milliseconds>(
                          std::chrono::system_clock::now().time_since_epoch()).count();
  EXPECT_LE(std::abs(plat::NowMs() - sys), 1000);
  EXPECT_LE(std::abs(static_cast<int64_t>(plat::CalendarSeconds()) - sys / 1000), 1);
  const int64_t mono = plat::MonotonicMs();
  plat::SleepMs(0);  // a yield: returns
  plat::SleepMs(5);
  EXPECT_GE(plat::MonotonicMs() - mono, 5);

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

TEST(PlatformClock, AdvanceEndsSleepAndEventWaitOnlyAtTheirDeadline) {
  plat::Event never(true, false);
  auto sleeper = std::async(std::launch::async, [] {
    const int64_t t0 = plat::MonotonicMs();
    plat::SleepMs(60000);
    return plat::MonotonicMs() - t0;
  });
  auto waiter = std::async(std::launch::async, [&never] { return never.Wait(60000); });
  ASSERT_TRUE(WaitUntil([] { return plat::ClockWaitsForTest() == 2; }));

  plat::AdvanceClock(30000);
  // Woken by the advance, both must find their deadline not yet reached.
  EXPECT_EQ(sleeper.wait_for(milliseconds(50)), std::future_status::timeout);
  EXPECT_EQ(waiter.wait_for(milliseconds(0)), std::future_status::timeout);
  EXPECT_EQ(plat::ClockWaitsForTest(), 2u);

  plat::AdvanceClock(30000);
  ASSERT_EQ(sleeper.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  ASSERT_EQ(waiter.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_GE(sleeper.get(), 60000);
  EXPECT_EQ(waiter.get(), plat::kWaitTimeout);
  EXPECT_EQ(plat::ClockWaitsForTest(), 0u);
}

}  // namespace
