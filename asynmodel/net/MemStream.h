// A counted byte buffer from one of 16 pooled size classes (64 bytes << k-1,
// up to 2 MiB). The last Release gives the block back to its class.
#pragma once
#include <atomic>
#include <cstdint>

#include "tzhelper/TzMemAlloc.h"
#include "tzhelper/TzRefCounter.h"

namespace AsynModel {

class MemStream : public TzPooled<MemStream, TzPrivateHeapMemAllocMethod> {
 public:
  static constexpr uint32_t kClasses = 16;
  static constexpr uint32_t kMaxSize = 2097152;

  // A stream of capacity `size`. Null only when the object itself cannot be
  // made; a size outside 1..kMaxSize, or an exhausted pool, gives a stream
  // whose Buffer() is null. Every caller checks the buffer.
  static MemStream* Create(uint32_t size);
  // Size class (1..16) for n bytes, or 0 when n is outside 1..kMaxSize.
  static int SizeClass(uint32_t n);
  static uint32_t ClassBytes(int cls) { return 64u << (cls - 1); }
  // Pool of a class (tests and benchmarks read its counters).
  static ListMemAlloc& ClassPool(int cls);

  void AddRef() { m_refCount.fetch_add(1, std::memory_order_relaxed); }
  void Release();
  uint32_t RefCount() const { return m_refCount.load(std::memory_order_relaxed); }

  uint8_t* Buffer() const { return m_buffer; }
  uint32_t Capacity() const { return m_capacity; }
  uint32_t DataLength() const { return m_dataLength; }
  void SetDataLength(uint32_t n) { m_dataLength = n; }
  uint32_t PayloadOffset() const { return m_payloadOffset; }
  void SetPayloadOffset(uint32_t n) { m_payloadOffset = n; }
  int RealSection() const { return m_realSection; }

 private:
  MemStream() = default;
  ~MemStream() = default;
  std::atomic<uint32_t> m_refCount{0};
  uint32_t m_dataLength = 0;
  uint8_t* m_buffer = nullptr;
  uint32_t m_capacity = 0;
  uint32_t m_payloadOffset = 0;
  int32_t m_realSection = 0;
};
typedef TzSptr<MemStream> SptrMemStream;

// One node of a chain of byte blocks. Nothing in the system builds chains; a
// Msg can carry one and serialization copies it out.
class LinkBuff : public TzRefCounterBase<LinkBuff> {
 public:
  // A node with a data block of bufflen bytes from the pool; null on failure.
  static LinkBuff* Create(uint32_t bufflen);
  uint8_t* Data() const { return m_data; }
  uint32_t BuffLen() const { return m_bufflen; }
  uint32_t RealLen() const { return m_reallen; }
  void SetRealLen(uint32_t n) { m_reallen = n <= m_bufflen ? n : m_bufflen; }
  TzSptr<LinkBuff>& Next() { return m_next; }

  // Sum of reallen over this node and every following one.
  uint32_t TotalLength() const;
  // Copies every node's used bytes in chain order: the total, -1 for a null
  // destination, -2 when the capacity left runs short before a node.
  int32_t CopyOut(uint8_t* dest, uint32_t capacity) const;

 private:
  LinkBuff() = default;
  ~LinkBuff() override;
  friend class TzRefCounterBase<LinkBuff>;
  uint8_t* m_data = nullptr;
  uint32_t m_bufflen = 0;
  uint32_t m_reallen = 0;
  TzSptr<LinkBuff> m_next;
};
typedef TzSptr<LinkBuff> SptrLinkBuff;

}  // namespace AsynModel
