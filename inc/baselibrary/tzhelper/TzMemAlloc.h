// Pooled allocation. Each pooled class gets its own process-wide private heap,
// and with the free-list method an interlocked list of returned blocks in front
// of it, so the steady state takes nothing new from the system.
#pragma once
#include <atomic>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <new>

#include "platform/heap.h"

// Blocks straight from the class's private heap.
struct TzPrivateHeapMemAllocMethod {};
// Blocks recycled through a lock-free free list; the heap is touched only to
// grow the pool.
struct TzListMemAllocMethod {};

// The free-list method as an object with its own state (one per MemStream
// size class). Thread-safe; lock-free after the first use.
class ListMemAlloc {
 public:
  ListMemAlloc();
  ~ListMemAlloc();
  ListMemAlloc(const ListMemAlloc&) = delete;
  ListMemAlloc& operator=(const ListMemAlloc&) = delete;

  void* Allocate(size_t size);  // null for 0
  void Free(void* block, size_t size);
  bool UsesFreeList();  // decided on first use from the system version
  plat::HeapCounters Counters() const { return heap_.Counters(); }
  // Blocks waiting on the free list (exact while no other thread uses the
  // pool).
  int64_t CachedBlocks() const {
    return owned_.load(std::memory_order_relaxed) - out_.load(std::memory_order_relaxed);
  }

  // Frees cached blocks beyond what reaches the peak of blocks handed out
  // since the previous Trim, and starts a new peak (as PrivateHeap::Trim).
  // A block leaves for the system only while no other thread is inside a
  // pop, so no pop can still read its link. Any thread.
  void Trim();
  // Trims every pool, then every private heap, of the process: after a
  // burst, memory goes back once two calls have passed.
  static void TrimAll();

 private:
  void Probe();
  void* PopCounted();
  plat::PrivateHeap heap_;
  plat::InterlockedList list_;
  // The blocks of the free-list method: handed out (out_) or cached, so the
  // cached count is owned_ - out_. owned_ changes only when the pool grows or
  // gives a block back to its heap; a recycled block touches out_ alone.
  std::atomic<int64_t> owned_{0};
  std::atomic<int64_t> out_{0};
  std::atomic<int64_t> peakOut_{0};  // since the last Trim
  std::atomic<int> poppers_{0};      // threads inside list_.Pop
  std::atomic<int> state_{-1};  // -1 not probed, 0 heap only, 1 free list
  ListMemAlloc* nextPool_ = nullptr;  // the process's list of pools
};

namespace tz_detail {
// One private heap per pooled class, created on first use.
template <class T>
plat::PrivateHeap& ClassHeap() {
  static plat::PrivateHeap* heap = new plat::PrivateHeap();  // lives to process end
  return *heap;
}
template <class T>
ListMemAlloc& ClassList() {
  static ListMemAlloc* list = new ListMemAlloc();
  return *list;
}
}  // namespace tz_detail

template <class T, class Method>
struct TzMemAlloc;

template <class T>
struct TzMemAlloc<T, TzPrivateHeapMemAllocMethod> {
  static void* Allocate(size_t s) {
    assert(s % 4 == 0 && "s % 4 == 0");
    if (s == 0) return nullptr;
    return tz_detail::ClassHeap<T>().Alloc(s);
  }
  static void Free(void* p, size_t) { tz_detail::ClassHeap<T>().Free(p); }
  static plat::HeapCounters Counters() { return tz_detail::ClassHeap<T>().Counters(); }
};

template <class T>
struct TzMemAlloc<T, TzListMemAllocMethod> {
  static void* Allocate(size_t s) {
    assert(s % 4 == 0 && "s % 4 == 0");
    return tz_detail::ClassList<T>().Allocate(s);
  }
  static void Free(void* p, size_t s) { tz_detail::ClassList<T>().Free(p, s); }
  static plat::HeapCounters Counters() { return tz_detail::ClassList<T>().Counters(); }
};

// Mix-in that routes a class's new/delete through its pool:
//   class PostMsgContext : public TzPooled<PostMsgContext, TzListMemAllocMethod>
// operator new returns null instead of throwing when the pool is exhausted.
template <class T, class Method>
class TzPooled {
 public:
  static void* operator new(size_t s) noexcept { return TzMemAlloc<T, Method>::Allocate(RoundUp(s)); }
  static void operator delete(void* p, size_t s) noexcept { TzMemAlloc<T, Method>::Free(p, RoundUp(s)); }

 private:
  static size_t RoundUp(size_t s) { return (s + 3) & ~size_t(3); }
};
