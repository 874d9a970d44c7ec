// A remote peer over UDP: for sending (a local address, possibly (0, 0) for
// the default, and a remote socket address; the socket item is found on the
// first send) or for replying (the item that received a datagram and its
// source address, so the reply leaves from that very socket). Pooled.
// Threads: any thread may send through a shared sender; m_token serializes
// changes to the held item and the local address.
#pragma once
#include <cstdint>

#include "asynmodel/net/ISender.h"
#include "asynmodel/net/UDPSocketItem.h"
#include "platform/socket.h"
#include "tzhelper/TzMemAlloc.h"
#include "tzhelper/TzToken.h"

namespace AsynModel {

class PostMsgContext;
class Session;
typedef TzSptr<PostMsgContext> SptrPostMsgContext;
typedef TzSptr<Session> SptrSession;

enum UdpSenderResult : uint32_t {
  UdpSender_NoManager = 9,
  UdpSender_FindFailed = 29,
  UdpSender_AlreadyPresent = 30,
  UdpSender_ItemDropped = 31,
};

class UDPSender : public BaseSender, public TzPooled<UDPSender, TzListMemAllocMethod> {
 public:
  UDPSender(uint32_t localIp, uint16_t localPort, const plat::SockAddrIn& remote);
  UDPSender(const SptrUdpSocketItem& item, const plat::SockAddrIn& remote);

  int32_t Reserved(void*, void*) override { return -1; }
  void GetLocalAddr(uint32_t* ip, uint16_t* port) override;
  void GetRemoteAddr(uint32_t* ip, uint16_t* port) override;
  uint32_t TransportType() override { return 1; }
  bool IsValid() override;

  uint32_t EstablishSocket();
  uint32_t AsynSendEx(const SptrPostMsgContext& context, const SptrSession& session);

  using TzPooled<UDPSender, TzListMemAllocMethod>::operator new;
  using TzPooled<UDPSender, TzListMemAllocMethod>::operator delete;

 private:
  ~UDPSender() override;
  uint32_t m_localIp;
  uint16_t m_localPort;
  plat::SockAddrIn m_remote;
  SptrUdpSocketItem m_item;  // guarded by m_token
  TzToken m_token;
};

}  // namespace AsynModel
