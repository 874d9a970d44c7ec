// Private heaps reuse freed blocks and count what they take from the system;
// the interlocked list is a stack.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/heap.h"

namespace {

TEST(PrivateHeap, CountersFollowSteadyTrafficAndOnlyTheFirstRoundTakesFromTheSystem) {
  plat::PrivateHeap heap;
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
    for (void* p : blocks) heap.Free(p);
    EXPECT_EQ(heap.Counters().liveBlocks, 0);
    EXPECT_EQ(heap.Counters().systemBlocks, 10);
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
}

TEST(PrivateHeap, GlobalCountersSumEveryHeap) {
  const plat::HeapCounters g0 = plat::GlobalHeapCounters();
  plat::PrivateHeap a, b;
  void* pa = a.Alloc(32);
  void* pb1 = b.Alloc(64);
  void* pb2 = b.Alloc(64);
  plat::HeapCounters g1 = plat::GlobalHeapCounters();
  EXPECT_EQ(g1.liveBlocks - g0.liveBlocks, 3);
  EXPECT_EQ(g1.systemBlocks - g0.systemBlocks, 3);
  a.Free(pa);
  b.Free(pb1);
  void* again = b.Alloc(64);
  g1 = plat::GlobalHeapCounters();
  EXPECT_EQ(g1.liveBlocks - g0.liveBlocks, 2);
  EXPECT_EQ(g1.systemBlocks - g0.systemBlocks, 3);
  b.Free(again);
  b.Free(pb2);
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
