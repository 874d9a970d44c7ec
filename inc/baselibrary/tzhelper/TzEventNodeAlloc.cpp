#include "tzhelper/TzEventNodeAlloc.h"

#include "tzhelper/Tzautolock.h"

#include <loki/SmallObj.h>

#include <mutex>
#include <new>

namespace tz {
namespace {

// Loki's own threading policies do not build with current compilers, so the
// allocator is instantiated single-threaded and every call below holds
// g_nodeLock instead. NoDestroy keeps the allocator alive until the process
// ends: nodes may still be freed by threads that outlive static destruction.
constexpr size_t kPageSize = 4096;
constexpr size_t kMaxNodeSize = 256;
typedef Loki::AllocatorSingleton<Loki::SingleThreaded, kPageSize, kMaxNodeSize, 4, Loki::NoDestroy>
    NodeAllocator;

// Loki gives a page back to the system as soon as a second one falls empty,
// so a burst of events that fills a queue and drains it again costs a
// malloc and a free per page. Freed nodes therefore wait on a spare list of
// their size (up to kMaxSpare nodes in all) and are handed out again first;
// Loki only sees the high-water mark.
constexpr size_t kMaxSpare = 16384;
constexpr size_t kSizeClasses = kMaxNodeSize / 8 + 1;

struct SpareNode {
  SpareNode* next;
};

TzLock g_nodeLock;
long g_liveNodes TZ_GUARDED_BY(g_nodeLock) = 0;
long g_lokiAllocations TZ_GUARDED_BY(g_nodeLock) = 0;
SpareNode* g_spare[kSizeClasses] TZ_GUARDED_BY(g_nodeLock) = {};
size_t g_spareCount TZ_GUARDED_BY(g_nodeLock) = 0;

// Loki packs blocks back to back inside a page with 4-byte granularity; a node
// holds 8-byte fields, so sizes are rounded to 8 to keep every block aligned.
size_t NodeBytes(size_t size) { return (size + 7) & ~size_t(7); }

}  // namespace

void* AllocEventNode(size_t size) {
  if (size == 0) return nullptr;
  const size_t bytes = NodeBytes(size);
  TzAutoLock g(&g_nodeLock);
  if (bytes <= kMaxNodeSize && g_spare[bytes / 8] != nullptr) {
    SpareNode* node = g_spare[bytes / 8];
    g_spare[bytes / 8] = node->next;
    --g_spareCount;
    ++g_liveNodes;
    return node;
  }
  void* p = nullptr;
  try {
    p = NodeAllocator::Instance().Allocate(bytes, false);
  } catch (...) {
    p = nullptr;  // no exception leaves the allocator
  }
  if (p) {
    ++g_liveNodes;
    ++g_lokiAllocations;
  }
  return p;
}

void FreeEventNode(void* p, size_t size) {
  if (!p) return;
  const size_t bytes = NodeBytes(size);
  TzAutoLock g(&g_nodeLock);
  --g_liveNodes;
  if (bytes <= kMaxNodeSize && g_spareCount < kMaxSpare) {
    SpareNode* node = static_cast<SpareNode*>(p);
    node->next = g_spare[bytes / 8];
    g_spare[bytes / 8] = node;
    ++g_spareCount;
    return;
  }
  NodeAllocator::Instance().Deallocate(p, bytes);
}

long LiveEventNodes() {
  TzAutoLock g(&g_nodeLock);
  return g_liveNodes;
}

long EventNodeLokiAllocations() {
  TzAutoLock g(&g_nodeLock);
  return g_lokiAllocations;
}

}  // namespace tz
