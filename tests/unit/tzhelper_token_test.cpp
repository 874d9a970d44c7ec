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
  std::atomic<int> maxHolders{0};
  long counter = 0;  // guarded by the token only
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 20000; ++i) {
        TzTokenGuard g(token);
        int now = holders.fetch_add(1) + 1;
        int seen = maxHolders.load();
        while (now > seen && !maxHolders.compare_exchange_weak(seen, now)) {
        }
        ++counter;
        holders.fetch_sub(1);
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(1, maxHolders.load());
  EXPECT_EQ(4L * 20000L, counter);
}

TEST(TzhelperToken, TakeWaitsForTheHolderToGiveBack) {
  TzToken token;
  token.Take();
  std::atomic<bool> taken{false};
  std::thread other([&] {
    token.Take();
    taken = true;
    token.Give();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(taken.load());
  token.Give();
  other.join();
  EXPECT_TRUE(taken.load());
}

TEST(TzhelperToken, DisablingReleasesASpinningTaker) {
  TzToken token;
  token.Take();
  std::atomic<bool> returned{false};
  std::thread other([&] {
    token.Take();  // spins: held and enabled
    returned = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(returned.load());
  token.SetEnabled(false);
  other.join();
  EXPECT_TRUE(returned.load());
  EXPECT_FALSE(token.Enabled());
  token.Give();  // still held by this thread
}
