// Private heaps: one arena per pooled class that keeps freed blocks for reuse,
// as a Windows private heap does, and counts what it took from the system so
// tests and benchmarks can prove that steady traffic takes nothing new.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/word_lock.h"

namespace plat {

struct HeapCounters {
  int64_t liveBlocks;    // handed out and not yet freed
  int64_t systemBlocks;  // obtained from the system (malloc) over the lifetime
};

class PrivateHeap {
 public:
  PrivateHeap();
  ~PrivateHeap();
  PrivateHeap(const PrivateHeap&) = delete;
  PrivateHeap& operator=(const PrivateHeap&) = delete;

  // Null for size 0 or when the system refuses memory. The block is aligned
  // for any fundamental type. Thread-safe.
  void* Alloc(size_t size);
  // Takes back a block of this heap; null is ignored. Thread-safe.
  void Free(void* block);

  HeapCounters Counters() const;

  // Gives cached blocks back to the system, keeping as many as reach the
  // peak of blocks handed out since the previous Trim, and starts a new
  // peak. Traffic that comes back to the same peak therefore takes nothing
  // new, while what a burst left behind is freed by the second Trim after
  // it. Thread-safe.
  void Trim();
  // Hands one block of this heap straight back to the system. Thread-safe.
  void Release(void* block);
  int64_t CachedBlocks() const;

 private:
  struct FreeBlock;
  static constexpr int kBins = 48;
  mutable WordLock mu_;
  FreeBlock* bins_[kBins] TZ_GUARDED_BY(mu_);
  int64_t live_ TZ_GUARDED_BY(mu_) = 0;
  int64_t system_ TZ_GUARDED_BY(mu_) = 0;
  int64_t cached_ TZ_GUARDED_BY(mu_) = 0;    // blocks in the bins
  int64_t peakLive_ TZ_GUARDED_BY(mu_) = 0;  // since the last Trim
  // The process's list of heaps, guarded by that list's lock (heap.cpp).
  PrivateHeap* nextHeap_ = nullptr;
  friend void TrimAllHeaps();
  friend HeapCounters GlobalHeapCounters();
};

// Trims every private heap of the process, then lets the C library hand
// its free pages back to the system.
void TrimAllHeaps();

// Sum over every private heap and pool of the process.
HeapCounters GlobalHeapCounters();

// Lock-free stack of blocks (the interlocked singly linked list). The first
// pointer-sized word of a pushed block is used as the link. A block's memory
// must stay mapped while any thread may still pop (pool blocks go back to
// the system only while no other pop is in flight, see ListMemAlloc::Trim),
// because a losing Pop can read the link of a block that another thread has
// just taken. Push and Pop are safe from any thread.
class InterlockedList {
 public:
  InterlockedList();
  InterlockedList(const InterlockedList&) = delete;
  InterlockedList& operator=(const InterlockedList&) = delete;
  void Push(void* block);
  void* Pop();  // null when empty

 private:
  // The list head, laid out by the system's implementation: on Linux an
  // atomic tagged pointer (48-bit address, 16-bit tag bumped on every change
  // so a head that was popped and pushed back in between does not compare
  // equal); on Windows the system's SLIST_HEADER. Blocks pushed on Windows
  // must be 16-byte aligned (8 on 32-bit), which PrivateHeap blocks are.
  alignas(16) unsigned char head_[16];
};

}  // namespace plat
