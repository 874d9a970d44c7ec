// A remote peer over TCP (transport 2). A sender made by a session connects
// on its first send (auto-connect); one made from a connection (a received
// message's reply sender) holds that connection's entry from the start.
//
// Threads: any thread may send through a shared sender. m_token serializes
// changes to the held entry and the local address; the entry reference is
// copied under it and the send itself runs outside it.
#pragma once
#include <cstdint>

#include "asynmodel/SessionPtr.h"
#include "asynmodel/net/ISender.h"
#include "asynmodel/net/TCPSocketItem.h"
#include "tzhelper/TzMemAlloc.h"
#include "tzhelper/TzToken.h"

namespace AsynModel {

class PostMsgContext;
class Session;
class TCPIOProcessor;
typedef TzSptr<PostMsgContext> SptrPostMsgContext;

enum TcpSenderResult : uint32_t {
  TcpSend_OK = 0,
  TcpSend_BadAddress = 8,
  TcpSend_NoManager = 9,
  TcpSend_NoProcessor = 13,
  TcpSend_PostFailed = 18,
  TcpSend_FindFailed = 19,
  TcpSend_StaleEntry = 20,
  TcpSend_ConnFailed = 21,
  TcpSend_NoAutoConnect = 22,
  TcpSend_Connected = 23,
};

class TCPSender : public BaseSender, public TzPooled<TCPSender, TzListMemAllocMethod> {
 public:
  // Host order; auto-connect on.
  TCPSender(uint32_t remoteIp, uint16_t remotePort, uint32_t localIp, uint16_t localPort);
  // From a connection: its addresses and auto-connect flag; holds the entry.
  explicit TCPSender(const SptrTcpSocketItem& item);

  int32_t Reserved(void*, void*) override { return 0; }
  void GetLocalAddr(uint32_t* ip, uint16_t* port) override;
  void GetRemoteAddr(uint32_t* ip, uint16_t* port) override { *ip = m_uRemoteIP; *port = m_uRemotePort; }
  uint32_t TransportType() override { return 2; }
  bool IsValid() override;

  // Ownership: the caller keeps its context and session references on every
  // path; on 0 the processor's send record holds its own.
  uint32_t AsynSendEx(const SptrPostMsgContext& context, const SptrSession& session);
  uint32_t EstablishConnect(TCPIOProcessor* tcp);

  using TzPooled<TCPSender, TzListMemAllocMethod>::operator new;
  using TzPooled<TCPSender, TzListMemAllocMethod>::operator delete;

 private:
  ~TCPSender() override = default;
  uint32_t m_uRemoteIP;
  uint32_t m_uLocalIP;
  uint16_t m_uLocalPort;
  uint16_t m_uRemotePort;
  SptrTcpSocketItem m_item;  // under m_token
  uint8_t m_autoConnect = 1;
  TzToken m_token;
};

}  // namespace AsynModel
