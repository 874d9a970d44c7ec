// PrivateHeap blocks on Windows come from one growable heap of the library's
// own (HeapCreate), kept apart from the host's process heap so the library's
// pools neither fragment it nor show up in the host's heap statistics.
#include "platform/common/system_memory.h"

#include <cstdint>

#include "platform/win/win_api.h"

namespace plat {
namespace {

// HeapAlloc aligns to 8 bytes on 32-bit Windows, less than a fundamental type
// may need there; blocks are over-allocated and shifted when needed.
constexpr size_t kAlign = alignof(std::max_align_t);
constexpr size_t kNativeAlign = sizeof(void*) * 2;

// Never destroyed: blocks may be freed while the process exits.
HANDLE LibraryHeap() {
  static HANDLE heap = ::HeapCreate(0, 0, 0);
  return heap;
}

}  // namespace

void* SystemAlloc(size_t bytes) {
  HANDLE heap = LibraryHeap();
  if (heap == nullptr) return nullptr;
  if (kAlign <= kNativeAlign) return ::HeapAlloc(heap, 0, bytes);
  if (bytes > SIZE_MAX - kAlign) return nullptr;
  unsigned char* raw = static_cast<unsigned char*>(::HeapAlloc(heap, 0, bytes + kAlign));
  if (raw == nullptr) return nullptr;
  // At least one byte of shift, so the byte in front of the block can hold it.
  const size_t shift = kAlign - (reinterpret_cast<uintptr_t>(raw) % kAlign);
  unsigned char* block = raw + shift;
  block[-1] = static_cast<unsigned char>(shift);
  return block;
}

void SystemFree(void* block) {
  if (block == nullptr) return;
  if (kAlign <= kNativeAlign) {
    ::HeapFree(LibraryHeap(), 0, block);
    return;
  }
  unsigned char* b = static_cast<unsigned char*>(block);
  ::HeapFree(LibraryHeap(), 0, b - b[-1]);
}

// Gives the library heap's free pages back to the system.
void SystemGiveBack() {
  HANDLE heap = LibraryHeap();
  if (heap != nullptr) ::HeapCompact(heap, 0);
}

}  // namespace plat
