#include "asynmodel/net/UDPResendContext.h"

namespace AsynModel {

UDPResendContext* UDPResendContext::Create(uint32_t sn, int64_t start, uint32_t limitMs,
                                           const SptrUdpSocketItem& item) {
  UDPResendContext* c = new UDPResendContext();  // TzPooled: null instead of throwing
  if (!c) return nullptr;
  c->m_sn = sn;
  c->m_start = start;
  c->m_limitMs = limitMs;
  c->m_sendCount = 1;
  c->m_item = item;
  return c;
}

void UDPResendContext::Release() {
  if (m_refCount.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
}

}  // namespace AsynModel
