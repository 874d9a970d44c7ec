// Session event-list nodes from Loki's small-object allocator.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <vector>

#include "tzhelper/TzEventNodeAlloc.h"

TEST(TzhelperEventNode, CountsLiveNodesAndHandsOutDistinctAlignedBlocks) {
  EXPECT_EQ(0, tz::LiveEventNodes());
  std::vector<void*> nodes;
  std::set<void*> distinct;
  for (int i = 0; i < 300; ++i) {  // more than one 4096-byte page
    void* p = tz::AllocEventNode(68);
    ASSERT_NE(nullptr, p);
    EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(p) % 8);
    std::memset(p, 0xAB, 68);
    nodes.push_back(p);
    distinct.insert(p);
  }
  EXPECT_EQ(300, tz::LiveEventNodes());
  EXPECT_EQ(300u, distinct.size());
  for (void* p : nodes) tz::FreeEventNode(p, 68);
  EXPECT_EQ(0, tz::LiveEventNodes());
  tz::FreeEventNode(nullptr, 68);  // ignored
  EXPECT_EQ(0, tz::LiveEventNodes());
  EXPECT_EQ(nullptr, tz::AllocEventNode(0));
  EXPECT_EQ(0, tz::LiveEventNodes());
}

