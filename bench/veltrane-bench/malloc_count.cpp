// The executable's own malloc family forwards to glibc's and counts; the
// dynamic linker binds every library's calls to these definitions.
#include "malloc_count.h"

#include <atomic>
#include <cstddef>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VBENCH_NO_MALLOC_COUNT 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define VBENCH_NO_MALLOC_COUNT 1
#endif
#endif

namespace {
std::atomic<uint64_t> g_calls{0};
}

#if !defined(VBENCH_NO_MALLOC_COUNT) && defined(__GLIBC__)
extern "C" {
void* __libc_malloc(size_t n);
void* __libc_calloc(size_t n, size_t size);
void* __libc_realloc(void* p, size_t n);
void __libc_free(void* p);

void* malloc(size_t n) noexcept {
  g_calls.fetch_add(1, std::memory_order_relaxed);
  return __libc_malloc(n);
}
void* calloc(size_t n, size_t size) noexcept {
  g_calls.fetch_add(1, std::memory_order_relaxed);
  return __libc_calloc(n, size);
}
void* realloc(void* p, size_t n) noexcept {
  g_calls.fetch_add(1, std::memory_order_relaxed);
  return __libc_realloc(p, n);
}
void free(void* p) noexcept { __libc_free(p); }
}
#define VBENCH_COUNTING 1
#endif

namespace vbench {

#ifdef VBENCH_COUNTING
bool MallocCounting() { return true; }
#else
bool MallocCounting() { return false; }
#endif
uint64_t MallocCalls() { return g_calls.load(std::memory_order_relaxed); }

}  // namespace vbench
