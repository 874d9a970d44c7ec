// PrivateHeap blocks on Linux come from the C heap.
#include "platform/common/system_memory.h"

#include <malloc.h>

#include <cstdlib>

namespace plat {

void* SystemAlloc(size_t bytes) { return std::malloc(bytes); }

void SystemFree(void* block) { std::free(block); }

// glibc keeps freed memory at the top of its arenas until asked.
void SystemGiveBack() { malloc_trim(0); }

}  // namespace plat
