// Fixed-size nodes for session event lists, from Loki's small-object
// allocator (page size 4096) used under one global lock.
#pragma once
#include <cstddef>

// All three are safe from any thread; they take the global node lock, which
// is innermost (nothing else is locked while it is held).
namespace tz {
void* AllocEventNode(size_t size);  // null on failure
void FreeEventNode(void* p, size_t size);
// Nodes handed out and not yet freed (for leak tests).
long LiveEventNodes();
}  // namespace tz
