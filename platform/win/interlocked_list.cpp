// The interlocked list on Windows: the system's SLIST_HEADER and its
// interlocked push and pop.
#include <cassert>
#include <cstdint>

#include "platform/heap.h"
#include "platform/win/win_api.h"

namespace plat {
namespace {

PSLIST_HEADER Header(unsigned char* raw) { return reinterpret_cast<PSLIST_HEADER>(raw); }

}  // namespace

static_assert(sizeof(SLIST_HEADER) <= 16 && alignof(SLIST_HEADER) <= 16, "the header fits its storage");

InterlockedList::InterlockedList() { ::InitializeSListHead(Header(head_)); }

void InterlockedList::Push(void* block) {
  assert(block != nullptr);
  assert(reinterpret_cast<uintptr_t>(block) % MEMORY_ALLOCATION_ALIGNMENT == 0 && "list blocks are aligned");
  ::InterlockedPushEntrySList(Header(head_), static_cast<PSLIST_ENTRY>(block));
}

void* InterlockedList::Pop() { return ::InterlockedPopEntrySList(Header(head_)); }

}  // namespace plat
