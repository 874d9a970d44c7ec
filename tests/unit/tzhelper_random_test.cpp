// TzRandom: the shared linear congruential state and its mapping to [lo, hi].
#include <gtest/gtest.h>

#include <cstdint>

#include "tzhelper/TzRandom.h"

TEST(TzhelperRandom, MapsTheStateIntoBoundsAndSwapsReversedBounds) {
  TzSrand(1);
  const uint32_t x1 = 1u * 214013u + 2531011u;
  const uint32_t x2 = x1 * 214013u + 2531011u;
  const uint32_t x3 = x2 * 214013u + 2531011u;
  EXPECT_EQ(x1, TzRandom(0, 0xFFFFFFFFu));  // full range: the state itself
  EXPECT_EQ(7000u + x2 % 2001u, TzRandom(7000, 9000));
  EXPECT_EQ(3u + x3 % 38u, TzRandom(40, 3));
  EXPECT_EQ(5u, TzRandom(5, 5));
}
