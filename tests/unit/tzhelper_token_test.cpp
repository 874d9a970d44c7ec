// TzToken: one holder at a time across threads; a disabled token stops
// spinning.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "tzhelper/TzToken.h"

TEST(TzhelperToken, OnlyOneHolderAtATimeAcrossThreads) {
  TzToken token;
  std::atomic<int> holders{0};
  std::atomic<int> overlaps{0};
  long counter = 0;  // guarded by the token only
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 20000; ++i) {
        TzTokenGuard g(token);
        if (holders.fetch_add(1) != 0) overlaps.fetch_add(1);
        ++counter;
        holders.fetch_sub(1);
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(0, overlaps.load());
  EXPECT_EQ(4L * 20000L, counter);
}

TEST(TzhelperToken, TakeWaitsForTheHolderAndDisablingReleasesASpinningTaker) {
  TzToken token;
  token.Take();
  std::atomic<int> taken{0};
  std::thread other([&] {
    token.Take();
    taken = 1;
    token.Give();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(0, taken.load());
  token.Give();
  other.join();
  EXPECT_EQ(1, taken.load());

  token.Take();
  std::thread spinner([&] {
    token.Take();  // spins: held and enabled
    taken = 2;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(1, taken.load());
  token.SetEnabled(false);
  spinner.join();
  EXPECT_EQ(2, taken.load());
  EXPECT_FALSE(token.Enabled());
  token.Give();  // still held by this thread
}
