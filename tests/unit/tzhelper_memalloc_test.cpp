// Pools of the helper library: the free-list method, its system-version
// switch, and the typed pools behind TzPooled.
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

struct HeapRecord : TzPooled<HeapRecord, TzPrivateHeapMemAllocMethod> {
  uint32_t v[5] = {};
};

}  // namespace

TEST(TzhelperMemAlloc, AllocateZeroReturnsNullWithoutTouchingTheHeap) {
  ListMemAlloc pool;
  plat::HeapCounters before = pool.Counters();
  EXPECT_EQ(nullptr, pool.Allocate(0));
  plat::HeapCounters after = pool.Counters();
  EXPECT_EQ(before.liveBlocks, after.liveBlocks);
  EXPECT_EQ(before.systemBlocks, after.systemBlocks);
  EXPECT_EQ(nullptr, (TzMemAlloc<PooledRecord, TzListMemAllocMethod>::Allocate(0)));
}

TEST(TzhelperMemAlloc, FreeListRecyclesBlocksOnVersion61) {
  plat::SetSystemVersionForTest(6, 1);
  ListMemAlloc pool;
  EXPECT_TRUE(pool.UsesFreeList());
  void* a = pool.Allocate(64);
  ASSERT_NE(nullptr, a);
  EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(a) % alignof(std::max_align_t));
  int64_t system = pool.Counters().systemBlocks;
  pool.Free(a, 64);
  EXPECT_EQ(1, pool.CachedBlocks());
  void* b = pool.Allocate(64);
  EXPECT_EQ(a, b);  // the cached block comes back
  EXPECT_EQ(0, pool.CachedBlocks());
  EXPECT_EQ(system, pool.Counters().systemBlocks);
  pool.Free(b, 64);
  pool.Free(nullptr, 64);  // ignored
  EXPECT_EQ(1, pool.CachedBlocks());
}

TEST(TzhelperMemAlloc, FreeListsOffOnVersion60SoEveryAllocationHitsTheHeap) {
  plat::SetSystemVersionForTest(6, 0);
  ListMemAlloc pool;
  EXPECT_FALSE(pool.UsesFreeList());
  void* a = pool.Allocate(128);
  ASSERT_NE(nullptr, a);
  plat::HeapCounters afterAlloc = pool.Counters();
  pool.Free(a, 128);
  EXPECT_EQ(0, pool.CachedBlocks());
  EXPECT_EQ(afterAlloc.liveBlocks - 1, pool.Counters().liveBlocks);
  void* b = pool.Allocate(128);
  ASSERT_NE(nullptr, b);
  EXPECT_EQ(afterAlloc.liveBlocks, pool.Counters().liveBlocks);
  EXPECT_EQ(0, pool.CachedBlocks());
  pool.Free(b, 128);
}

TEST(TzhelperMemAlloc, VersionIsProbedOnceAndOnlyMinorAboveZeroQualifies) {
  plat::SetSystemVersionForTest(10, 0);
  ListMemAlloc ten;
  EXPECT_FALSE(ten.UsesFreeList());
  plat::SetSystemVersionForTest(5, 1);
  ListMemAlloc xp;
  EXPECT_TRUE(xp.UsesFreeList());
  EXPECT_FALSE(ten.UsesFreeList());  // decided at its first use, kept
  plat::SetSystemVersionForTest(4, 9);
  ListMemAlloc old;
  EXPECT_FALSE(old.UsesFreeList());
}

TEST(TzhelperMemAlloc, SmallerCachedBlockIsNotHandedOutForALargerRequest) {
  plat::SetSystemVersionForTest(6, 1);
  ListMemAlloc pool;
  void* small = pool.Allocate(16);
  ASSERT_NE(nullptr, small);
  pool.Free(small, 16);
  uint8_t* big = static_cast<uint8_t*>(pool.Allocate(256));
  ASSERT_NE(nullptr, big);
  for (int i = 0; i < 256; ++i) big[i] = static_cast<uint8_t>(i);  // ASan would flag an overrun
  pool.Free(big, 256);
}

TEST(TzhelperMemAlloc, PooledClassesCycleThroughTheirPools) {
  plat::SetSystemVersionForTest(6, 1);
  PooledRecord* r = new PooledRecord();
  ASSERT_NE(nullptr, r);
  EXPECT_EQ(1u, r->a);
  delete r;
  int64_t system = TzMemAlloc<PooledRecord, TzListMemAllocMethod>::Counters().systemBlocks;
  for (int i = 0; i < 100; ++i) delete new PooledRecord();
  EXPECT_EQ(system, (TzMemAlloc<PooledRecord, TzListMemAllocMethod>::Counters().systemBlocks));

  HeapRecord* h = new HeapRecord();
  ASSERT_NE(nullptr, h);
  EXPECT_EQ(1, (TzMemAlloc<HeapRecord, TzPrivateHeapMemAllocMethod>::Counters().liveBlocks));
  delete h;
  EXPECT_EQ(0, (TzMemAlloc<HeapRecord, TzPrivateHeapMemAllocMethod>::Counters().liveBlocks));
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
