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

TzLock g_nodeLock;
long g_liveNodes TZ_GUARDED_BY(g_nodeLock) = 0;

// Loki packs blocks back to back inside a page with 4-byte granularity; a node
// holds 8-byte fields, so sizes are rounded to 8 to keep every block aligned.
size_t NodeBytes(size_t size) { return (size + 7) & ~size_t(7); }

}  // namespace

void* AllocEventNode(size_t size) {
  if (size == 0) return nullptr;
  TzAutoLock g(&g_nodeLock);
  void* p = nullptr;
  try {
    p = NodeAllocator::Instance().Allocate(NodeBytes(size), false);
  } catch (...) {
    p = nullptr;  // no exception leaves the allocator
  }
  if (p) ++g_liveNodes;
  return p;
}

void FreeEventNode(void* p, size_t size) {
  if (!p) return;
  TzAutoLock g(&g_nodeLock);
  NodeAllocator::Instance().Deallocate(p, NodeBytes(size));
  --g_liveNodes;
}

long LiveEventNodes() {
  TzAutoLock g(&g_nodeLock);
  return g_liveNodes;
}

}  // namespace tz
