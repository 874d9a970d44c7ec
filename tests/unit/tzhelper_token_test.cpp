// TzToken: one holder at a time across threads; a disabled token stops
// spinning.
#include <gtest/gtest.h>

#include <atomic>
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
      for (int i = 0; i < 5000; ++i) {
        TzTokenGuard g(token);
        if (holders.fetch_add(1) != 0) overlaps.fetch_add(1);
        ++counter;
        holders.fetch_sub(1);
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(0, overlaps.load());
  EXPECT_EQ(4L * 5000L, counter);
}

TEST(TzhelperToken, TakeWaitsForTheHolderAndDisablingReleasesATaker) {
  TzToken token;
  token.Take();
  std::atomic<bool> given{false};
  std::thread other([&] {
    token.Take();
    EXPECT_TRUE(given.load());  // it could only have the token after the Give
    token.Give();
  });
  given = true;
  token.Give();
  other.join();

  token.Take();
  std::thread taker([&] { token.Take(); });  // held and enabled: spins until disabled
  token.SetEnabled(false);
  taker.join();
  EXPECT_FALSE(token.Enabled());
  token.Give();  // still held by this thread
}
