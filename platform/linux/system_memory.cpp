// PrivateHeap blocks on Linux come from the C heap.
#include "platform/common/system_memory.h"

#include <cstdlib>

namespace plat {

void* SystemAlloc(size_t bytes) { return std::malloc(bytes); }

void SystemFree(void* block) { std::free(block); }

}  // namespace plat
