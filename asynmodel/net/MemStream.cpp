#include "asynmodel/net/MemStream.h"

#include <cassert>
#include <cstring>
#include <new>

namespace AsynModel {

namespace {

// The 16 class pools live for the whole process (never destroyed, so a stream
// released during static destruction still finds its pool). The function-local
// static builds them, under the compiler's initialisation lock, before the
// first stream can take a block.
ListMemAlloc* Pools() {
  static ListMemAlloc* pools = new ListMemAlloc[MemStream::kClasses];
  return pools;
}

// Number of significant bits of v (v > 0).
int BitWidth(uint32_t v) { return 32 - __builtin_clz(v); }

}  // namespace

int MemStream::SizeClass(uint32_t n) {
  if (n == 0 || n > kMaxSize) return 0;
  uint32_t c = (n + 63) / 64 - 1;  // c < 32768 here
  return c == 0 ? 1 : 1 + BitWidth(c);
}

ListMemAlloc& MemStream::ClassPool(int cls) {
  assert(cls >= 1 && cls <= static_cast<int>(kClasses) && "size class out of range");
  return Pools()[cls - 1];
}

// Thread contract: any thread. The stream starts with count 0; the creator
// takes the first reference (SptrMemStream or AddRef).
MemStream* MemStream::Create(uint32_t size) {
  Pools();  // the pools exist before any stream
  MemStream* s = new MemStream();  // TzPooled: null instead of throwing
  if (!s) return nullptr;
  int cls = SizeClass(size);
  if (cls == 0) return s;  // caller error: a stream without buffer
  s->m_buffer = static_cast<uint8_t*>(ClassPool(cls).Allocate(ClassBytes(cls)));
  if (s->m_buffer) {
    s->m_capacity = size;
    s->m_realSection = cls;
  }
  return s;
}

// Thread contract: any thread holding a reference. The last release gives the
// block back to its class and frees the object.
void MemStream::Release() {
  if (m_refCount.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
  if (m_buffer) {
    assert(m_realSection > 0 && "m_realSection > 0");
    ClassPool(m_realSection).Free(m_buffer, ClassBytes(m_realSection));
    m_buffer = nullptr;
  }
  delete this;
}

// LinkBuff data blocks share the MemStream class pools: a node takes the
// smallest class that holds bufflen and gives the block back to it.
LinkBuff* LinkBuff::Create(uint32_t bufflen) {
  int cls = MemStream::SizeClass(bufflen);
  if (cls == 0) return nullptr;
  void* data = MemStream::ClassPool(cls).Allocate(MemStream::ClassBytes(cls));
  if (!data) return nullptr;
  LinkBuff* node = new (std::nothrow) LinkBuff();
  if (!node) {
    MemStream::ClassPool(cls).Free(data, MemStream::ClassBytes(cls));
    return nullptr;
  }
  node->m_data = static_cast<uint8_t*>(data);
  node->m_bufflen = bufflen;
  return node;
}

// Dropping the node drops its reference to the next one, so releasing the
// head of an unshared chain frees the whole chain.
LinkBuff::~LinkBuff() {
  if (m_data) {
    int cls = MemStream::SizeClass(m_bufflen);
    MemStream::ClassPool(cls).Free(m_data, MemStream::ClassBytes(cls));
  }
}

uint32_t LinkBuff::TotalLength() const {
  uint32_t total = 0;
  for (const LinkBuff* n = this; n; n = n->m_next.get()) total += n->m_reallen;
  return total;
}

// The capacity is checked before each node is copied, so a short destination
// may already hold the earlier nodes when -2 comes back.
int32_t LinkBuff::CopyOut(uint8_t* dest, uint32_t capacity) const {
  if (!dest) return -1;
  uint32_t left = capacity;
  uint32_t copied = 0;
  for (const LinkBuff* n = this; n; n = n->m_next.get()) {
    if (left < n->m_reallen) return -2;
    if (n->m_reallen != 0) std::memcpy(dest + copied, n->m_data, n->m_reallen);
    copied += n->m_reallen;
    left -= n->m_reallen;
  }
  return static_cast<int32_t>(copied);
}

}  // namespace AsynModel
