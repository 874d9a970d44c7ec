// TzRandom: the shared linear congruential state and its mapping to [lo, hi].
#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <thread>
#include <vector>

#include "tzhelper/TzRandom.h"

TEST(TzhelperRandom, MapsTheStateIntoBoundsAndSwapsReversedBounds) {
  TzSrand(1);
  const uint32_t x1 = 1u * 214013u + 2531011u;
  const uint32_t x2 = x1 * 214013u + 2531011u;
  EXPECT_EQ(x1, TzRandom(0, 0xFFFFFFFFu));  // full range: the state itself
  EXPECT_EQ(7000u + x2 % 2001u, TzRandom(7000, 9000));
  EXPECT_EQ(5u, TzRandom(5, 5));
  for (int i = 0; i < 2000; ++i) {
    uint32_t v = TzRandom(7000, 9000);
    ASSERT_GE(v, 7000u);
    ASSERT_LE(v, 9000u);
    ASSERT_GE(TzRandom(0xFFFFFFFFu, 0xFFFFFFF0u), 0xFFFFFFF0u);
  }
  TzSrand(77);
  const uint32_t forward = TzRandom(3, 40);
  TzSrand(77);
  EXPECT_EQ(forward, TzRandom(40, 3));
}

TEST(TzhelperRandom, ConcurrentCallersEachTakeTheirOwnStep) {
  TzSrand(99);
  constexpr int kPerThread = 5000;
  std::vector<std::vector<uint32_t>> got(4);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&got, t] {
      for (int i = 0; i < kPerThread; ++i) got[t].push_back(TzRandom(0, 0xFFFFFFFFu));
    });
  }
  for (auto& th : threads) th.join();
  std::set<uint32_t> all;
  for (auto& v : got) all.insert(v.begin(), v.end());
  std::set<uint32_t> expected;
  uint32_t x = 99;
  for (int i = 0; i < 4 * kPerThread; ++i) {
    x = x * 214013u + 2531011u;
    expected.insert(x);
  }
  EXPECT_EQ(expected, all);  // no step lost or repeated
}
