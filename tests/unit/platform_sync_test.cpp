// Events, WaitAny and semaphores: reset modes, results, wake-ups. Timed
// waits on the frozen clock: platform_clock_test.cpp.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "platform/clock.h"
#include "platform/sync.h"
#include "wait_util.h"

namespace {

TEST(PlatformEvent, AutoResetIsConsumedByOneWaitManualReleasesAllUntilReset) {
  plat::Event a(false, true);
  EXPECT_EQ(a.Wait(0), plat::kWaitSignalled);
  EXPECT_FALSE(a.IsSet());
  EXPECT_EQ(a.Wait(0), plat::kWaitTimeout);

  plat::Event m(true, false);
  std::atomic<int> released{0};
  std::thread threads[3];
  for (std::thread& t : threads) {
    t = std::thread([&] { if (m.Wait(60000) == plat::kWaitSignalled) released.fetch_add(1); });
  }
  ASSERT_TRUE(WaitUntil([] { return plat::ClockWaitsForTest() == 3; }));
  m.Set();
  EXPECT_TRUE(WaitUntil([&] { return released.load() == 3; }));
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(m.Wait(0), plat::kWaitSignalled);
  m.Reset();
  EXPECT_EQ(m.Wait(0), plat::kWaitTimeout);
}

TEST(PlatformWaitAny, ReturnsTheLowestSignalledIndexConsumesAutoResetAndWakesOnASet) {
  plat::Event autoEv(false, false);
  plat::Event manualEv(true, false);
  plat::Event* both[] = {&autoEv, &manualEv};
  EXPECT_EQ(plat::WaitAny(both, 2, 0), -1);
  autoEv.Set();
  EXPECT_EQ(plat::WaitAny(both, 2, 0), 0);
  EXPECT_FALSE(autoEv.IsSet());
  manualEv.Set();
  EXPECT_EQ(plat::WaitAny(both, 2, 0), 1);
  EXPECT_TRUE(manualEv.IsSet());
  // With both set, the lower index wins, as with WaitForMultipleObjects.
  autoEv.Set();
  EXPECT_EQ(plat::WaitAny(both, 2, 0), 0);

  plat::Event* withNull[] = {&manualEv, nullptr};
  EXPECT_EQ(plat::WaitAny(nullptr, 1, 0), -2);
  EXPECT_EQ(plat::WaitAny(withNull, 0, 0), -2);
  EXPECT_EQ(plat::WaitAny(withNull, 2, 0), -2);

  // A set from another thread wakes an unlimited wait.
  manualEv.Reset();
  auto waiter = std::async(std::launch::async, [&both] { return plat::WaitAny(both, 2, plat::kInfinite); });
  ASSERT_TRUE(WaitUntil([] { return plat::ClockWaitsForTest() == 1; }));
  manualEv.Set();
  ASSERT_EQ(waiter.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(waiter.get(), 1);
}

TEST(PlatformSemaphore, ReleaseRespectsTheMaximumAndWakesThatManyWaiters) {
  plat::Semaphore s(0, 3);
  for (int32_t bad : {4, 0, -1}) EXPECT_FALSE(s.Release(bad)) << bad;
  EXPECT_TRUE(s.Release(3));
  EXPECT_FALSE(s.Release(1));  // nothing added: still three
  for (int i = 0; i < 3; ++i) EXPECT_EQ(s.Wait(0), plat::kWaitSignalled);
  EXPECT_EQ(s.Wait(0), plat::kWaitTimeout);
  std::atomic<int> passed{0};
  std::thread threads[3];
  for (std::thread& t : threads) {
    t = std::thread([&] { if (s.Wait(plat::kInfinite) == plat::kWaitSignalled) passed.fetch_add(1); });
  }
  EXPECT_TRUE(s.Release(2));
  ASSERT_TRUE(WaitUntil([&] { return passed.load() == 2; }));
  EXPECT_TRUE(s.Release(1));
  ASSERT_TRUE(WaitUntil([&] { return passed.load() == 3; }));
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(s.Wait(0), plat::kWaitTimeout);
}

}  // namespace
