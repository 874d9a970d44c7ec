// A remote peer over TCP (transport 2). Sending needs the TCP processor; until
// it can carry traffic a send is refused with 13 and its error line.
#pragma once
#include <cstdint>

#include "asynmodel/net/ISender.h"
#include "tzhelper/TzMemAlloc.h"
#include "tzhelper/TzToken.h"

namespace AsynModel {

class PostMsgContext;
class Session;
typedef TzSptr<PostMsgContext> SptrPostMsgContext;
typedef TzSptr<Session> SptrSession;

class TCPSender : public BaseSender, public TzPooled<TCPSender, TzListMemAllocMethod> {
 public:
  // Host order; auto-connect on.
  TCPSender(uint32_t remoteIp, uint16_t remotePort, uint32_t localIp, uint16_t localPort);

  int32_t Reserved(void*, void*) override { return 0; }
  void GetLocalAddr(uint32_t* ip, uint16_t* port) override { *ip = m_uLocalIP; *port = m_uLocalPort; }
  void GetRemoteAddr(uint32_t* ip, uint16_t* port) override { *ip = m_uRemoteIP; *port = m_uRemotePort; }
  uint32_t TransportType() override { return 2; }
  bool IsValid() override { return false; }

  uint32_t AsynSendEx(const SptrPostMsgContext& context, const SptrSession& session);

  using TzPooled<TCPSender, TzListMemAllocMethod>::operator new;
  using TzPooled<TCPSender, TzListMemAllocMethod>::operator delete;

 private:
  ~TCPSender() override = default;
  uint32_t m_uRemoteIP;
  uint32_t m_uLocalIP;
  uint16_t m_uLocalPort;
  uint16_t m_uRemotePort;
  uint8_t m_autoConnect = 1;
  TzToken m_token;
};

}  // namespace AsynModel
