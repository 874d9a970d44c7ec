// Fixed-size nodes for session event lists, from Loki's small-object
// allocator (page size 4096) used under one global lock. Freed nodes are kept
// for reuse (a bounded spare list per size), so steady bursts take nothing
// new from Loki or from the system.
#pragma once
#include <cstddef>

// All four are safe from any thread; they take the global node lock, which
// is innermost (nothing else is locked while it is held).
namespace tz {
void* AllocEventNode(size_t size);  // null on failure
void FreeEventNode(void* p, size_t size);
// Nodes handed out and not yet freed (for leak tests).
long LiveEventNodes();
// Nodes ever taken from Loki rather than from the spares (steady-state tests).
long EventNodeLokiAllocations();
}  // namespace tz
