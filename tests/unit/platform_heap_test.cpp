// Private heaps reuse freed blocks and count what they take from the system;
// the interlocked list hands each block to exactly one popper.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <set>
#include <thread>
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

struct Node {
  void* link;  // the list's link word comes first
  std::atomic<int> owners;
  int id;
};

TEST(InterlockedList, IsALastInFirstOutStackAndHandsEachBlockToOneThread) {
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

  constexpr int kNodes = 64;
  std::vector<Node> nodes(kNodes);
  for (int i = 0; i < kNodes; ++i) {
    nodes[i].id = i;
    nodes[i].owners = 0;
    list.Push(&nodes[i]);
  }
  std::atomic<int> doubleOwned{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int r = 0; r < 20000; ++r) {
        Node* p = static_cast<Node*>(list.Pop());
        if (p == nullptr) continue;
        if (p->owners.fetch_add(1) != 0) doubleOwned.fetch_add(1);
        p->owners.fetch_sub(1);
        list.Push(p);
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(doubleOwned.load(), 0);
  std::set<int> seen;
  while (void* p = list.Pop()) seen.insert(static_cast<Node*>(p)->id);
  EXPECT_EQ(seen.size(), static_cast<size_t>(kNodes));
}

}  // namespace
