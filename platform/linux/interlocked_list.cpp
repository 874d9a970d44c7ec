// The interlocked list on Linux: a lock-free stack whose head is a tagged
// pointer updated with compare-and-swap.
#include <atomic>
#include <cassert>
#include <cstdint>
#include <new>

#include "platform/heap.h"

namespace plat {
namespace {

constexpr uint64_t kAddrMask = (uint64_t{1} << 48) - 1;

void* AddrOf(uint64_t head) { return reinterpret_cast<void*>(static_cast<uintptr_t>(head & kAddrMask)); }

uint64_t NextHead(uint64_t old, void* p) {
  const uint64_t tag = (old >> 48) + 1;
  return (tag << 48) | (static_cast<uint64_t>(reinterpret_cast<uintptr_t>(p)) & kAddrMask);
}

// The link is read while another thread may be taking the same block, so it
// is always accessed atomically.
void* LoadLink(void* block) { return __atomic_load_n(static_cast<void**>(block), __ATOMIC_RELAXED); }
void StoreLink(void* block, void* next) { __atomic_store_n(static_cast<void**>(block), next, __ATOMIC_RELAXED); }

std::atomic<uint64_t>& Head(unsigned char* raw) {
  return *std::launder(reinterpret_cast<std::atomic<uint64_t>*>(raw));
}

}  // namespace

static_assert(sizeof(std::atomic<uint64_t>) <= 16, "the head fits its storage");

InterlockedList::InterlockedList() { new (head_) std::atomic<uint64_t>(0); }

void InterlockedList::Push(void* block) {
  assert(block != nullptr);
  assert((reinterpret_cast<uintptr_t>(block) & ~kAddrMask) == 0 && "address needs more than 48 bits");
  uint64_t old = Head(head_).load(std::memory_order_relaxed);
  do {
    StoreLink(block, AddrOf(old));
  } while (!Head(head_).compare_exchange_weak(old, NextHead(old, block), std::memory_order_release,
                                              std::memory_order_relaxed));
}

void* InterlockedList::Pop() {
  uint64_t old = Head(head_).load(std::memory_order_acquire);
  for (;;) {
    void* top = AddrOf(old);
    if (top == nullptr) return nullptr;
    void* next = LoadLink(top);
    if (Head(head_).compare_exchange_weak(old, NextHead(old, next), std::memory_order_acquire,
                                          std::memory_order_acquire)) {
      return top;
    }
  }
}

}  // namespace plat
