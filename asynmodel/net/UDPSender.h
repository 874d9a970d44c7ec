// A remote peer over UDP (transport 1). Made for sending (a local address,
// possibly (0, 0) for the default, and a remote socket address; the socket
// item is found on the first send) or for replying (the item that received a
// datagram and its source address, so the reply leaves from that very
// socket). If the held item's socket dies, the sender drops it and falls back
// to the default local address on the next send. Pooled.
//
// Threads: any thread may send through a shared sender. m_token serializes
// changes to the held item and the local address and is held across the
// find-or-create of EstablishSocket (lock order: sender token, then the
// processor's creation token, then its table lock); the socket send itself
// runs outside it.
#pragma once
#include <cstdint>

#include "asynmodel/SessionPtr.h"
#include "asynmodel/net/ISender.h"
#include "asynmodel/net/UDPSocketItem.h"
#include "platform/socket.h"
#include "tzhelper/TzMemAlloc.h"
#include "tzhelper/TzToken.h"

namespace AsynModel {

class PostMsgContext;
class Session;
typedef TzSptr<PostMsgContext> SptrPostMsgContext;

enum UdpSenderResult : uint32_t {
  UdpSender_OK = 0,
  UdpSender_NoManager = 9,
  UdpSender_FindFailed = 29,
  UdpSender_AlreadyPresent = 30,
  UdpSender_ItemDropped = 31,
};

class UDPSender : public BaseSender, public TzPooled<UDPSender, TzListMemAllocMethod> {
 public:
  // For sending: local address in host order ((0, 0) = the default), remote
  // in network order. No item is held yet.
  UDPSender(uint32_t localIp, uint16_t localPort, const plat::SockAddrIn& remote);
  // For replying: the receiving item (held from the start) and the source.
  UDPSender(const SptrUdpSocketItem& item, const plat::SockAddrIn& remote);

  int32_t Reserved(void*, void*) override { return -1; }
  // Host order.
  void GetLocalAddr(uint32_t* ip, uint16_t* port) override;
  void GetRemoteAddr(uint32_t* ip, uint16_t* port) override;
  uint32_t TransportType() override { return Transport_UDP; }
  // Holds an item whose socket is open.
  bool IsValid() override;

  // 0 found or created an item, 30 an open item is already held, 29 the
  // find-or-create failed (local address reset to (0, 0)), 31 the held item
  // was dead and was dropped (local address reset; try again).
  uint32_t EstablishSocket();
  // 9 without a running manager, 29/31 from EstablishSocket (31 only after
  // one retry), else the processor's SendMsg result. Ownership: the context
  // and session stay the caller's; the processor takes its own references.
  uint32_t AsynSendEx(const SptrPostMsgContext& context, const SptrSession& session);

  using TzPooled<UDPSender, TzListMemAllocMethod>::operator new;
  using TzPooled<UDPSender, TzListMemAllocMethod>::operator delete;

 private:
  ~UDPSender() override;
  uint32_t m_localIp TZ_GUARDED_BY(m_token);    // host order
  uint16_t m_localPort TZ_GUARDED_BY(m_token);  // host order
  plat::SockAddrIn m_remote;  // network order; fixed at construction
  SptrUdpSocketItem m_item TZ_GUARDED_BY(m_token);
  TzToken m_token;
};

}  // namespace AsynModel
