// The record handed to the completion port with every operation. It begins
// with the port's Overlapped block, so the port hands back the same pointer.
#pragma once
#include <cstdint>

#include "asynmodel/Event.h"
#include "asynmodel/SessionPtr.h"
#include "platform/completion_port.h"
#include "tzhelper/TzMemAlloc.h"
#include "tzhelper/TzRefCounter.h"

namespace AsynModel {


enum PerIOKind : uint32_t {
  PerIO_UDP = 0,    // UDPIOData
  PerIO_TCP = 1,    // TCPIOData
  PerIO_Local = 2,  // LocalEventIOData
};

struct PerIO {
  plat::Overlapped overlapped;  // must stay first; zeroed before every operation
  uint32_t kind = 0;            // PerIOKind
  SptrSession targetSession;    // optional: who gets the completion
  int64_t createTime = 0;       // framework clock, ms
  uint32_t operation = 0;       // UDP: 0 send, 1 receive; TCP: m_type

  static PerIO* FromOverlapped(plat::Overlapped* ov) { return reinterpret_cast<PerIO*>(ov); }
  void ZeroOverlapped() { overlapped = plat::Overlapped(); }
};

// A local event travelling through the port: a posted message, a timer
// expiry, a start or terminate request, a wake-up or a thread exit.
struct LocalEventIOData : public PerIO, public TzPooled<LocalEventIOData, TzListMemAllocMethod> {
  Event event;
  SptrSession dest;    // counted reference to the destination, or null
  SptrSession source;  // counted reference to the source; the reply path of messages
};

}  // namespace AsynModel
