// Pools of the helper library: the free-list method, its system-version
// switch, concurrent use and trimming.
#include <gtest/gtest.h>

#include <cstdint>
#include <thread>
#include <vector>

#include "platform/heap.h"
#include "platform/system.h"
#include "tzhelper/TzMemAlloc.h"

namespace {

struct PooledRecord : TzPooled<PooledRecord, TzListMemAllocMethod> {
  uint64_t a = 1;
  uint32_t b = 2;
};

}  // namespace

// From 5.x on, only a minor number above zero gives free lists; without them
// a freed block goes straight back to the heap. A pool decides at its first
// use and keeps the answer.
TEST(TzhelperMemAlloc, FreeListsFromVersion51RecycleBlocksAndTheVersionIsReadOnce) {
  const struct { uint32_t major, minor; bool freeList; } versions[] = {
      {10, 0, false}, {5, 1, true}, {4, 9, false}, {6, 0, false}, {6, 1, true}};
  for (const auto& v : versions) {
    plat::SetSystemVersionForTest(v.major, v.minor);
    ListMemAlloc p;
    EXPECT_EQ(v.freeList, p.UsesFreeList()) << v.major << "." << v.minor;
    p.Free(p.Allocate(128), 128);
    EXPECT_EQ(v.freeList ? 1 : 0, p.CachedBlocks()) << v.major << "." << v.minor;
    EXPECT_EQ(p.CachedBlocks(), p.Counters().liveBlocks) << v.major << "." << v.minor;
  }
  ListMemAlloc pool;
  EXPECT_TRUE(pool.UsesFreeList());
  plat::SetSystemVersionForTest(6, 0);
  EXPECT_TRUE(pool.UsesFreeList());
  plat::SetSystemVersionForTest(6, 1);

  EXPECT_EQ(nullptr, pool.Allocate(0));
  EXPECT_EQ(0, pool.Counters().systemBlocks);
  EXPECT_EQ(nullptr, (TzMemAlloc<PooledRecord, TzListMemAllocMethod>::Allocate(0)));
  void* a = pool.Allocate(64);
  ASSERT_NE(nullptr, a);
  EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(a) % alignof(std::max_align_t));
  pool.Free(a, 64);
  pool.Free(nullptr, 64);  // ignored
  EXPECT_EQ(1, pool.CachedBlocks());
  EXPECT_EQ(a, pool.Allocate(64));  // the cached block comes back
  EXPECT_EQ(0, pool.CachedBlocks());
  EXPECT_EQ(1, pool.Counters().systemBlocks);
  pool.Free(a, 64);

  // A smaller cached block is never handed out for a larger request.
  void* small = pool.Allocate(16);
  pool.Free(small, 16);
  uint8_t* big = static_cast<uint8_t*>(pool.Allocate(256));
  ASSERT_NE(nullptr, big);
  for (int i = 0; i < 256; ++i) big[i] = static_cast<uint8_t>(i);  // ASan would flag an overrun
  pool.Free(big, 256);
}

TEST(TzhelperMemAlloc, ConcurrentAllocateAndFreeKeepEveryBlockAccountedFor) {
  plat::SetSystemVersionForTest(6, 1);
  ListMemAlloc pool;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&pool, t] {
      for (int i = 0; i < 20000; ++i) {
        uint32_t* p = static_cast<uint32_t*>(pool.Allocate(32));
        ASSERT_NE(nullptr, p);
        p[0] = static_cast<uint32_t>(t);
        p[7] = static_cast<uint32_t>(i);
        EXPECT_EQ(static_cast<uint32_t>(t), p[0]);  // nobody else holds the block
        pool.Free(p, 32);
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(pool.Counters().liveBlocks, pool.CachedBlocks());
  EXPECT_LE(pool.CachedBlocks(), 4);
}

TEST(PoolTrim, ABurstGoesBackAtTheSecondTrimWhileSteadyUseKeepsItsBlocks) {
  ListMemAlloc pool;
  plat::PrivateHeap heap;
  std::vector<void*> a, h;
  for (int i = 0; i < 1000; ++i) {
    a.push_back(pool.Allocate(64));
    h.push_back(heap.Alloc(64));
  }
  for (int i = 0; i < 1000; ++i) {
    pool.Free(a[i], 64);
    heap.Free(h[i]);
  }
  pool.Trim();  // the burst's own period: its peak keeps every block
  heap.Trim();
  EXPECT_EQ(1000, pool.CachedBlocks());
  EXPECT_EQ(1000, heap.CachedBlocks());
  auto steady = [&] {
    for (int i = 0; i < 10; ++i) a[i] = pool.Allocate(64), h[i] = heap.Alloc(64);
    for (int i = 0; i < 10; ++i) pool.Free(a[i], 64), heap.Free(h[i]);
  };
  steady();
  pool.Trim();
  heap.Trim();
  EXPECT_EQ(10, pool.CachedBlocks());
  EXPECT_EQ(10, pool.Counters().liveBlocks);  // the rest went back to the system
  EXPECT_EQ(10, heap.CachedBlocks());
  const int64_t taken = pool.Counters().systemBlocks + heap.Counters().systemBlocks;
  steady();
  EXPECT_EQ(taken, pool.Counters().systemBlocks + heap.Counters().systemBlocks);
}
