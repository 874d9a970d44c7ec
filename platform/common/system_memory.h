// Where PrivateHeap takes its blocks from; one implementation per system.
// Internal to the platform layer. Both functions are safe from any thread.
#pragma once
#include <cstddef>

namespace plat {

// Null when the system refuses; the block is aligned for any fundamental type.
void* SystemAlloc(size_t bytes);
void SystemFree(void* block);  // null is ignored
// Hands memory that the system allocator keeps cached back to the system.
void SystemGiveBack();

}  // namespace plat
