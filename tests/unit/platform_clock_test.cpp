// The virtual clock: frozen, it moves only through AdvanceClock, all readings
// together, and ends timed waits exactly at their deadline.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <future>

#include "frozen_clock.h"
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

TEST(PlatformClock, FrozenClocksMoveOnlyTogetherThroughAdvanceAndThawWithoutAJump) {
  const int64_t sys = std::chrono::duration_cast<milliseconds>(
                          std::chrono::system_clock::now().time_since_epoch()).count();
  int64_t frozenEnd = 0;
  {
    FrozenClock clock;
    EXPECT_TRUE(plat::ClockFrozenForTest());
    EXPECT_LE(std::abs(plat::NowMs() - sys), 1000);
    const uint32_t tick0 = plat::GetTickCount();
    const int64_t now0 = plat::NowMs();
    const double hr0 = plat::HighResSeconds();
    const int64_t mono0 = plat::MonotonicMs();

    // More than 2^32 ms: the tick count wraps, the other clocks do not.
    const int64_t step = (int64_t{1} << 32) + 5000;
    clock.Advance(step);
    EXPECT_EQ(plat::TickDiff(plat::GetTickCount(), tick0), 5000);
    EXPECT_EQ(plat::NowMs(), now0 + step);
    EXPECT_EQ(plat::CalendarSeconds(), static_cast<uint32_t>((now0 + step) / 1000));
    EXPECT_NEAR(plat::HighResSeconds() - hr0, static_cast<double>(step) / 1000.0, 1e-3);
    EXPECT_EQ(plat::MonotonicMs(), mono0 + step);
    clock.ToTickWrap(10);
    EXPECT_EQ(plat::GetTickCount(), 0xFFFFFFF6u);
    frozenEnd = plat::MonotonicMs();
  }
  // Thawed: time flows again from where it stood, without a jump.
  EXPECT_FALSE(plat::ClockFrozenForTest());
  const int64_t thawed = plat::MonotonicMs();
  EXPECT_GE(thawed, frozenEnd);
  EXPECT_LT(thawed - frozenEnd, 100);
  EXPECT_TRUE(WaitUntil([&] { return plat::MonotonicMs() > thawed; }));
}

TEST(PlatformClock, FrozenSleepAndEventWaitEndExactlyAtTheirDeadline) {
  FrozenClock clock;
  plat::Event never(true, false);
  auto sleeper = std::async(std::launch::async, [] {
    const int64_t t0 = plat::MonotonicMs();
    plat::SleepMs(60000);
    return plat::MonotonicMs() - t0;
  });
  auto waiter = std::async(std::launch::async, [&never] { return never.Wait(60000); });
  ASSERT_TRUE(WaitUntil([] { return plat::ClockWaitsForTest() == 2; }));

  clock.Advance(59999);  // woken, both must find their deadline not reached
  clock.Advance(1);
  ASSERT_EQ(sleeper.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  ASSERT_EQ(waiter.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(sleeper.get(), 60000);
  EXPECT_EQ(waiter.get(), plat::kWaitTimeout);
  EXPECT_EQ(plat::ClockWaitsForTest(), 0u);
}

}  // namespace
