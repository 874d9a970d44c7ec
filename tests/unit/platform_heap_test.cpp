// Private heaps reuse freed blocks and count what they take from the system;
// the interlocked list is a stack.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/heap.h"

namespace {

// The global counters sum every heap: here this one and `other`.
TEST(PrivateHeap, CountersFollowSteadyTrafficAndOnlyTheFirstRoundTakesFromTheSystem) {
  const plat::HeapCounters g0 = plat::GlobalHeapCounters();
  plat::PrivateHeap heap, other;
  void* kept = other.Alloc(32);
  EXPECT_EQ(heap.Alloc(0), nullptr);
  heap.Free(nullptr);
  EXPECT_EQ(heap.Counters().systemBlocks, 0);
  const size_t sizes[] = {8, 24, 64, 100, 256, 300, 1000, 4096, 70000, 2 * 1024 * 1024};
  std::vector<void*> first;
  for (int round = 0; round < 3; ++round) {
    std::vector<void*> blocks;
    for (size_t s : sizes) {
      void* p = heap.Alloc(s);
      ASSERT_NE(p, nullptr);
      EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % alignof(std::max_align_t), 0u) << s;
      std::memset(p, 0xAB, s);  // the whole block is ours (ASan checks the bounds)
      blocks.push_back(p);
    }
    EXPECT_EQ(heap.Counters().liveBlocks, 10);
    EXPECT_EQ(plat::GlobalHeapCounters().liveBlocks - g0.liveBlocks, 11);
    for (void* p : blocks) heap.Free(p);
    EXPECT_EQ(heap.Counters().liveBlocks, 0);
    EXPECT_EQ(heap.Counters().systemBlocks, 10);
    EXPECT_EQ(plat::GlobalHeapCounters().systemBlocks - g0.systemBlocks, 11);
    if (round == 0) first = blocks;
  }
  void* again = heap.Alloc(100);  // a freed block of its class comes back
  EXPECT_EQ(std::count(first.begin(), first.end(), again), 1);
  heap.Free(again);

  // Above the largest class still works.
  const size_t big = 20 * 1024 * 1024;
  char* p = static_cast<char*>(heap.Alloc(big));
  ASSERT_NE(p, nullptr);
  p[0] = 1;
  p[big - 1] = 2;
  EXPECT_EQ(heap.Counters().liveBlocks, 1);
  heap.Free(p);
  EXPECT_EQ(heap.Counters().liveBlocks, 0);
  other.Free(kept);
  EXPECT_EQ(plat::GlobalHeapCounters().liveBlocks, g0.liveBlocks);
}

// Entries are 16-byte aligned like the pool blocks the list carries: Windows'
// interlocked lists drop the low bits of a 64-bit entry's address.
struct alignas(16) Node {
  void* link;  // the list's link word comes first
};

TEST(InterlockedList, IsALastInFirstOutStack) {
  plat::InterlockedList list;
  EXPECT_EQ(list.Pop(), nullptr);
  Node n[3] = {};
  for (Node& x : n) list.Push(&x);
  EXPECT_EQ(list.Pop(), &n[2]);
  EXPECT_EQ(list.Pop(), &n[1]);
  list.Push(&n[2]);
  EXPECT_EQ(list.Pop(), &n[2]);
  EXPECT_EQ(list.Pop(), &n[0]);
  EXPECT_EQ(list.Pop(), nullptr);
}

}  // namespace
