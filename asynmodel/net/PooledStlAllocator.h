// A standard-library allocator over the pooled free-list method, so that the
// node-based tables of the UDP transport (acknowledgement table, duplicate
// filter, socket table) recycle their nodes instead of asking the system heap
// for every datagram. Each node type gets its own pool (the rebound
// allocator's T), so blocks of one size are reused for that size.
//
// Threads: allocate and deallocate are safe from any thread.
#pragma once
#include <cstddef>
#include <new>

#include "tzhelper/TzMemAlloc.h"

namespace AsynModel {

template <class T>
class PooledStlAllocator {
 public:
  typedef T value_type;

  PooledStlAllocator() noexcept = default;
  template <class U>
  PooledStlAllocator(const PooledStlAllocator<U>&) noexcept {}

  T* allocate(size_t n) {
    void* p = TzMemAlloc<T, TzListMemAllocMethod>::Allocate(Bytes(n));
    // The containers that use this allocator are only touched inside
    // functions that must not throw; an exhausted pool is reported to them
    // the standard way and caught at the table's boundary.
    if (!p) throw std::bad_alloc();
    return static_cast<T*>(p);
  }
  void deallocate(T* p, size_t n) noexcept {
    TzMemAlloc<T, TzListMemAllocMethod>::Free(p, Bytes(n));
  }

  template <class U>
  bool operator==(const PooledStlAllocator<U>&) const noexcept { return true; }
  template <class U>
  bool operator!=(const PooledStlAllocator<U>&) const noexcept { return false; }

 private:
  static size_t Bytes(size_t n) { return (n * sizeof(T) + 3) & ~size_t(3); }
};

}  // namespace AsynModel
