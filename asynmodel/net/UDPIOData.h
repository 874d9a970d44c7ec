// One posted UDP operation: a receive, a datagram send, an ACK send, or a
// reliable datagram kept alive across its resends. Pooled.
//
// Ownership: the record is the caller's until a start call of the
// completion-port controller returns 0; from then on it belongs to the port
// until a compute worker takes its completion and hands it to
// UDPIOProcess::UDPProc, which either keeps it (result 2: freed, re-posted or
// parked on the resend timer) or leaves it to the worker to delete (0 and 1).
// Deleting the record drops every reference it holds.
#pragma once
#include "asynmodel/PerIO.h"
#include "asynmodel/PostMsgContext.h"
#include "asynmodel/net/MemStream.h"
#include "platform/socket.h"

namespace AsynModel {

class UDPResendContext;

enum UdpOperation : uint32_t { UdpOp_Send = 0, UdpOp_Recv = 1 };

struct UDPIOData : public PerIO, public TzPooled<UDPIOData, TzListMemAllocMethod> {
  // kind PerIO_UDP; targetSession (PerIO) is the session that gets a receipt
  // (null for ACKs sent and for receives, until a received ACK names the
  // session whose datagram it acknowledges).
  SptrMemStream stream;              // the datagram
  plat::SockAddrIn remote{};         // send destination or receive source (network order)
  int32_t remoteLen = sizeof(plat::SockAddrIn);
  SptrPostMsgContext context;        // sends from a session
  TzSptr<UDPResendContext> resend;   // reliable sends
  uint32_t transferred = 0;          // bytes of the completed transfer

  // Kind UDP and the operation. Null when the pool is exhausted. createTime
  // stays 0: nothing asks a UDP record's age, and a clock read for each
  // datagram sent or received is not free.
  static UDPIOData* Create(uint32_t op);

  UDPIOData();
  ~UDPIOData();  // out of line: UDPResendContext is complete only there
  UDPIOData(const UDPIOData&) = delete;
  UDPIOData& operator=(const UDPIOData&) = delete;
};

}  // namespace AsynModel
