// Counts every heap allocation the process makes (malloc, calloc, realloc,
// and so operator new), whatever thread or library makes it.
#pragma once
#include <cstdint>

namespace vbench {

// False in sanitizer builds, whose runtimes own malloc: nothing is counted.
bool MallocCounting();
uint64_t MallocCalls();

}  // namespace vbench
