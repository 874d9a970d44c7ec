#pragma once
#include "asynmodel/PerIO.h"
#include "asynmodel/PostMsgContext.h"
#include "asynmodel/net/MemStream.h"
#include "platform/socket.h"

namespace AsynModel {

class UDPResendContext;

enum UdpOperation : uint32_t { UdpOp_Send = 0, UdpOp_Recv = 1 };

// One posted UDP receive or send (datagram, ACK or resend). Pooled.
struct UDPIOData : public PerIO, public TzPooled<UDPIOData, TzListMemAllocMethod> {
  // kind PerIO_UDP; targetSession (PerIO) is the session that gets a receipt.
  SptrMemStream stream;              // the datagram
  plat::SockAddrIn remote{};         // send destination or receive source (network order)
  int32_t remoteLen = sizeof(plat::SockAddrIn);
  SptrPostMsgContext context;        // sends
  TzSptr<UDPResendContext> resend;   // reliable sends
  uint32_t transferred = 0;          // bytes of the completed transfer

  static UDPIOData* Create(uint32_t op);  // null when the pool is exhausted
};

}  // namespace AsynModel
