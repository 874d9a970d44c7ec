// TzRandom: the shared linear congruential state and its mapping to [lo, hi].
#include <gtest/gtest.h>

#include <cstdint>

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

