// Private heaps (the interlocked list is per system: interlocked_list.cpp).
//
// A PrivateHeap hands out blocks of a few size classes and keeps every freed
// block in the bin of its class for the next Alloc of that class, as a
// Windows private heap keeps freed blocks. Each block carries a 16-byte
// header in front of it (owner, class), so Free needs no size and the block
// stays aligned for any fundamental type. Classes: 16-byte steps up to 256
// bytes, then two per doubling (x1.5, x2) up to 16 MiB; larger blocks go
// straight to the system and back. "The system" is system_memory.h: the C heap
// on Linux, a heap of its own (HeapCreate) on Windows.
#include "platform/heap.h"

#include <cassert>
#include <cstdint>
#include <new>

#include "platform/common/system_memory.h"
#include "platform/mutex.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define VELT_POISON(p, n) ASAN_POISON_MEMORY_REGION((p), (n))
#define VELT_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION((p), (n))
#else
#define VELT_POISON(p, n) ((void)(p), (void)(n))
#define VELT_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace plat {
namespace {

constexpr uint32_t kMagic = 0x48656170;  // "Heap"
constexpr int kSmallBins = 16;           // 16..256 bytes in 16-byte steps
constexpr int kUnbinned = -1;

struct alignas(alignof(std::max_align_t)) BlockHeader {
  const PrivateHeap* owner;
  int32_t bin;  // kUnbinned for blocks above the largest class
  uint32_t magic;
  size_t size;  // bytes after the header
};
static_assert(sizeof(BlockHeader) % alignof(std::max_align_t) == 0, "header keeps blocks aligned");

// Every heap of the process, for TrimAllHeaps and GlobalHeapCounters.
// Constant-initialised, so heaps made during static initialisation find it
// ready. The process-wide sums are taken by walking the list when asked
// rather than kept in shared counters, which every allocation on every
// thread would otherwise write; what destroyed heaps had counted is kept in
// g_retired.
Mutex g_heapsLock;
PrivateHeap* g_heaps TZ_GUARDED_BY(g_heapsLock) = nullptr;
HeapCounters g_retired TZ_GUARDED_BY(g_heapsLock) = {0, 0};

int BinOf(size_t size, int bins) {
  if (size <= 256) return static_cast<int>((size + 15) / 16) - 1;
  // size in (256 << k, 512 << k]  <=>  (size - 1) >> 8 in [1 << k, 2 << k)
  const size_t t = (size - 1) >> 8;
  const int k = 63 - __builtin_clzll(t);
  const int bin = kSmallBins + 2 * k + (size <= (size_t{384} << k) ? 0 : 1);
  return bin < bins ? bin : kUnbinned;
}

size_t ClassSize(int bin) {
  if (bin < kSmallBins) return static_cast<size_t>(bin + 1) * 16;
  const int k = (bin - kSmallBins) / 2;
  return ((bin - kSmallBins) % 2 == 0 ? size_t{384} : size_t{512}) << k;
}

BlockHeader* HeaderOf(void* block) { return static_cast<BlockHeader*>(block) - 1; }

}  // namespace

// A freed block's first word links it into its bin.
struct PrivateHeap::FreeBlock {
  FreeBlock* next;
};

PrivateHeap::PrivateHeap() {
  for (FreeBlock*& b : bins_) b = nullptr;
  MutexLock g(g_heapsLock);
  nextHeap_ = g_heaps;
  g_heaps = this;
}

PrivateHeap::~PrivateHeap() {
  {
    MutexLock g(g_heapsLock);
    const HeapCounters mine = Counters();
    g_retired.liveBlocks += mine.liveBlocks;
    g_retired.systemBlocks += mine.systemBlocks;
    for (PrivateHeap** p = &g_heaps; *p != nullptr; p = &(*p)->nextHeap_) {
      if (*p == this) {
        *p = nextHeap_;
        break;
      }
    }
  }
  // Cached blocks go back to the system; blocks still handed out belong to
  // their holders (a pool lives to process end, so this is rare).
  for (int i = 0; i < kBins; ++i) {
    FreeBlock* b = bins_[i];
    while (b != nullptr) {
      VELT_UNPOISON(b, ClassSize(i));
      FreeBlock* next = b->next;
      SystemFree(HeaderOf(b));
      b = next;
    }
    bins_[i] = nullptr;
  }
}

void* PrivateHeap::Alloc(size_t size) {
  if (size == 0) return nullptr;
  const int bin = BinOf(size, kBins);
  if (bin != kUnbinned) {
    WordLockGuard g(mu_);
    FreeBlock* b = bins_[bin];
    if (b != nullptr) {
      bins_[bin] = b->next;
      --cached_;
      if (++live_ > peakLive_) peakLive_ = live_;
      VELT_UNPOISON(b, ClassSize(bin));
      return b;
    }
  }
  const size_t payload = bin != kUnbinned ? ClassSize(bin) : size;
  if (payload > SIZE_MAX - sizeof(BlockHeader)) return nullptr;
  void* raw = SystemAlloc(sizeof(BlockHeader) + payload);
  if (raw == nullptr) return nullptr;
  BlockHeader* h = new (raw) BlockHeader{this, bin, kMagic, payload};
  {
    WordLockGuard g(mu_);
    if (++live_ > peakLive_) peakLive_ = live_;
    ++system_;
  }
  return h + 1;
}

void PrivateHeap::Free(void* block) {
  if (block == nullptr) return;
  BlockHeader* h = HeaderOf(block);
  assert(h->magic == kMagic && h->owner == this && "block freed to the wrong heap");
  if (h->bin == kUnbinned) {
    {
      WordLockGuard g(mu_);
      --live_;
    }
    SystemFree(h);
    return;
  }
  FreeBlock* b = static_cast<FreeBlock*>(block);
  WordLockGuard g(mu_);
  b->next = bins_[h->bin];
  bins_[h->bin] = b;
  --live_;
  ++cached_;
  // Everything after the link word is dead until the block is handed out
  // again; the link itself stays readable for InterlockedList::Pop.
  VELT_POISON(reinterpret_cast<char*>(b) + sizeof(FreeBlock), h->size - sizeof(FreeBlock));
}

HeapCounters PrivateHeap::Counters() const {
  WordLockGuard g(mu_);
  return HeapCounters{live_, system_};
}

void PrivateHeap::Release(void* block) {
  if (block == nullptr) return;
  BlockHeader* h = HeaderOf(block);
  assert(h->magic == kMagic && h->owner == this && "block released to the wrong heap");
  VELT_UNPOISON(block, h->size);
  {
    WordLockGuard g(mu_);
    --live_;
  }
  std::free(h);
}

void PrivateHeap::Trim() {
  FreeBlock* surplus = nullptr;
  {
    WordLockGuard g(mu_);
    int64_t keep = peakLive_ - live_;
    peakLive_ = live_;
    for (int i = kBins - 1; i >= 0 && cached_ > keep; --i) {
      while (bins_[i] != nullptr && cached_ > keep) {
        FreeBlock* b = bins_[i];
        VELT_UNPOISON(b, ClassSize(i));
        bins_[i] = b->next;
        b->next = surplus;
        surplus = b;
        --cached_;
      }
    }
  }
  while (surplus != nullptr) {  // freed outside the lock
    FreeBlock* next = surplus->next;
    std::free(HeaderOf(surplus));
    surplus = next;
  }
}

int64_t PrivateHeap::CachedBlocks() const {
  WordLockGuard g(mu_);
  return cached_;
}

void TrimAllHeaps() {
  {
    MutexLock g(g_heapsLock);
    for (PrivateHeap* h = g_heaps; h != nullptr; h = h->nextHeap_) h->Trim();
  }
  SystemGiveBack();
}

HeapCounters GlobalHeapCounters() {
  MutexLock g(g_heapsLock);
  HeapCounters sum = g_retired;
  for (PrivateHeap* h = g_heaps; h != nullptr; h = h->nextHeap_) {
    const HeapCounters c = h->Counters();
    sum.liveBlocks += c.liveBlocks;
    sum.systemBlocks += c.systemBlocks;
  }
  return sum;
}

}  // namespace plat
