#pragma once
#include <atomic>
#include <cstdint>

#include "asynmodel/net/UDPSocketItem.h"
#include "tzhelper/TzMemAlloc.h"

namespace AsynModel {

// One reliable datagram in flight: its sn, when it was first built, its time
// limit and how often it has been sent, and the socket that carries it.
class UDPResendContext : public TzPooled<UDPResendContext, TzListMemAllocMethod> {
 public:
  static UDPResendContext* Create(uint32_t sn, int64_t start, uint32_t limitMs,
                                  const SptrUdpSocketItem& item);
  void AddRef() { m_refCount.fetch_add(1, std::memory_order_relaxed); }
  void Release();

  uint32_t m_sn = 0;
  int64_t m_start = 0;
  uint32_t m_limitMs = 0xFFFFFFFFu;  // all ones: none
  uint32_t m_sendCount = 1;
  SptrUdpSocketItem m_item;

 private:
  UDPResendContext() = default;
  ~UDPResendContext() = default;
  std::atomic<uint32_t> m_refCount{0};
};
typedef TzSptr<UDPResendContext> SptrUDPResendContext;

}  // namespace AsynModel
