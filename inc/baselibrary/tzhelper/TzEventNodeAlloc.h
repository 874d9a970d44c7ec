// Fixed-size nodes for session event lists, from Loki's small-object
// allocator (page size 4096) used under one global lock.
#pragma once
#include <cstddef>

namespace tz {
void* AllocEventNode(size_t size);  // null on failure
void FreeEventNode(void* p, size_t size);
// Nodes handed out and not yet freed (for leak tests).
long LiveEventNodes();
}  // namespace tz
