#include "tzhelper/TzMemAlloc.h"

#include <mutex>

#include "platform/system.h"
#include "tzhelper/Tzautolock.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#include <sanitizer/lsan_interface.h>
#define TZ_POISON(p, n) ASAN_POISON_MEMORY_REGION((p), (n))
#define TZ_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION((p), (n))
// The free list's head is a tagged pointer, which the leak checker does not
// recognise, so the block on top of the list would look unreachable at exit.
// Pool blocks belong to the pool for the life of the process: tell the
// checker so.
#define TZ_POOL_OWNED(p) __lsan_ignore_object(p)
#else
#define TZ_POISON(p, n) ((void)(p), (void)(n))
#define TZ_UNPOISON(p, n) ((void)(p), (void)(n))
#define TZ_POOL_OWNED(p) ((void)(p))
#endif

namespace {

// Every block handed out by the free-list method is preceded by this header.
// While the block sits on the free list, the first word is the list link; the
// second word always remembers how many usable bytes follow the header, so a
// recycled block is never handed out for a larger request. Sixteen bytes keep
// the block aligned for any fundamental type.
struct BlockHeader {
  void* link;
  size_t bytes;
};
constexpr size_t kHeaderBytes = 16;
static_assert(sizeof(BlockHeader) <= kHeaderBytes, "header must fit its slot");

// The number of blocks a pool keeps cached; unlimited in practice.
constexpr int64_t kCacheCapacity = 0x7FFFFFFF;

// Guards the one-time probe of every pool.
std::mutex g_probeLock;

// Every pool of the process, for TrimAll. Pools live to process end.
TzLock g_poolsLock;
ListMemAlloc* g_pools TZ_GUARDED_BY(g_poolsLock) = nullptr;

BlockHeader* HeaderOf(void* block) {
  return reinterpret_cast<BlockHeader*>(static_cast<uint8_t*>(block) - kHeaderBytes);
}

void* BlockOf(void* raw) { return static_cast<uint8_t*>(raw) + kHeaderBytes; }

}  // namespace

ListMemAlloc::ListMemAlloc() {
  TzAutoLock g(&g_poolsLock);
  nextPool_ = g_pools;
  g_pools = this;
}

ListMemAlloc::~ListMemAlloc() {
  {
    TzAutoLock g(&g_poolsLock);
    for (ListMemAlloc** p = &g_pools; *p != nullptr; p = &(*p)->nextPool_) {
      if (*p == this) {
        *p = nextPool_;
        break;
      }
    }
  }
  while (void* raw = list_.Pop()) {
    TZ_UNPOISON(BlockOf(raw), static_cast<BlockHeader*>(raw)->bytes);
    heap_.Free(raw);
  }
}

// Free lists are used only where the system version is at least 5 with a
// minor number above 0 (5.1, 5.2, 6.1 ...). On the other versions the pool
// hands blocks straight to and from its private heap.
void ListMemAlloc::Probe() {
  std::lock_guard<std::mutex> g(g_probeLock);
  if (state_.load(std::memory_order_acquire) >= 0) return;
  plat::SystemVersion v = plat::GetSystemVersion();
  state_.store((v.major >= 5 && v.minor > 0) ? 1 : 0, std::memory_order_release);
}

bool ListMemAlloc::UsesFreeList() {
  if (state_.load(std::memory_order_acquire) < 0) Probe();
  return state_.load(std::memory_order_acquire) == 1;
}

void* ListMemAlloc::Allocate(size_t size) {
  bool useList = UsesFreeList();
  if (size == 0) return nullptr;
  if (!useList) return heap_.Alloc(size);

  const int64_t out = out_.fetch_add(1, std::memory_order_relaxed) + 1;
  if (out > peakOut_.load(std::memory_order_relaxed)) peakOut_.store(out, std::memory_order_relaxed);
  void* raw = PopCounted();
  if (raw) {
    size_t bytes = static_cast<BlockHeader*>(raw)->bytes;
    TZ_UNPOISON(BlockOf(raw), bytes);
    if (bytes >= size) return BlockOf(raw);
    // A smaller block from an earlier, smaller request: let the heap have it
    // back rather than overrun it.
    owned_.fetch_sub(1, std::memory_order_relaxed);
    heap_.Free(raw);
  }
  raw = heap_.Alloc(size + kHeaderBytes);
  if (!raw) {
    out_.fetch_sub(1, std::memory_order_relaxed);
    return nullptr;
  }
  owned_.fetch_add(1, std::memory_order_relaxed);
  TZ_POOL_OWNED(raw);
  static_cast<BlockHeader*>(raw)->bytes = size;
  return BlockOf(raw);
}

void ListMemAlloc::Free(void* block, size_t /*size*/) {
  if (!block) return;
  if (!UsesFreeList()) {
    heap_.Free(block);
    return;
  }
  BlockHeader* h = HeaderOf(block);
  if (CachedBlocks() < kCacheCapacity) {
    // A cached block is dead until handed out again; under ASan any late
    // write through a released stream shows up here. The header stays
    // readable for the list.
    TZ_POISON(block, h->bytes);
    list_.Push(h);
    out_.fetch_sub(1, std::memory_order_relaxed);
  } else {
    out_.fetch_sub(1, std::memory_order_relaxed);
    owned_.fetch_sub(1, std::memory_order_relaxed);
    heap_.Free(h);
  }
}

void* ListMemAlloc::PopCounted() {
  poppers_.fetch_add(1);
  void* raw = list_.Pop();
  poppers_.fetch_sub(1);
  return raw;
}

void ListMemAlloc::Trim() {
  if (state_.load(std::memory_order_acquire) != 1) return;  // heap only: TrimAllHeaps covers it
  const int64_t out = out_.load(std::memory_order_relaxed);
  const int64_t keep = peakOut_.exchange(out, std::memory_order_relaxed) - out;
  poppers_.fetch_add(1);
  while (CachedBlocks() > keep) {
    void* raw = list_.Pop();
    if (raw == nullptr) break;
    if (poppers_.load() != 1) {
      // Another pop may have read this block as the head: it stays a pool
      // block, and the next Trim tries again.
      list_.Push(raw);
      break;
    }
    owned_.fetch_sub(1, std::memory_order_relaxed);
    TZ_UNPOISON(BlockOf(raw), static_cast<BlockHeader*>(raw)->bytes);
    heap_.Release(raw);
  }
  poppers_.fetch_sub(1);
}

void ListMemAlloc::TrimAll() {
  {
    TzAutoLock g(&g_poolsLock);
    for (ListMemAlloc* p = g_pools; p != nullptr; p = p->nextPool_) p->Trim();
  }
  plat::TrimAllHeaps();
}
