#include "asynmodel/net/TCPSender.h"

#include "asynmodel/AsynLog.h"
#include "asynmodel/AsynManager.h"
#include "asynmodel/PostMsgContext.h"
#include "asynmodel/Session.h"
#include "asynmodel/net/TCPIOProcessor.h"

namespace AsynModel {

TCPSender::TCPSender(uint32_t remoteIp, uint16_t remotePort, uint32_t localIp, uint16_t localPort)
    : m_uRemoteIP(remoteIp), m_uLocalIP(localIp), m_uLocalPort(localPort), m_uRemotePort(remotePort) {}

TCPSender::TCPSender(const SptrTcpSocketItem& item)
    : m_uRemoteIP(plat::NetToHost32(item->m_uRemoteIP)),
      m_uLocalIP(plat::NetToHost32(item->m_uLocalIP)),
      m_uLocalPort(item->m_uLocalPort),
      m_uRemotePort(item->m_uRemotePort),
      m_item(item),
      m_autoConnect(item->m_autoConnect) {}

// The local address changes with the held entry, under m_token.
void TCPSender::GetLocalAddr(uint32_t* ip, uint16_t* port) {
  TzTokenGuard guard(m_token);
  *ip = m_uLocalIP;
  *port = m_uLocalPort;
}

bool TCPSender::IsValid() {
  TzTokenGuard guard(m_token);
  return m_item && m_item->IsValid();
}

// Thread contract: any thread. 0 connecting (or queued behind a connect),
// 23 connected already, 19..22 failures.
uint32_t TCPSender::EstablishConnect(TCPIOProcessor* tcp) {
  TzTokenGuard guard(m_token);
  if (m_item && m_item->IsValid()) return TcpSend_Connected;
  if (!m_item && m_autoConnect == 0) {
    m_uLocalIP = 0;
    m_uLocalPort = 0;
    return TcpSend_NoAutoConnect;
  }
  if (m_item) {
    m_autoConnect = m_item->m_autoConnect;
    if (m_item->IsValid()) {
      m_uLocalIP = plat::NetToHost32(m_item->m_uLocalIP);
      m_uLocalPort = m_item->m_uLocalPort;
      Log::writeDebug(AsynLogCategory, kLogTcpSender, " TCPSender::EstablishConnect 中 Sender已经创建了连接");
      return TcpSend_Connected;
    }
    m_item.reset();
    Log::writeDebug(AsynLogCategory, kLogTcpSender, " TCPSender::EstablishConnect 中 Sender中包含的SocketItem 不可用");
    return TcpSend_StaleEntry;
  }
  SptrTcpSocketItem item;
  const int found = tcp->FindTCPSocketItem(plat::HostToNet32(m_uRemoteIP), m_uRemotePort,
                                           plat::HostToNet32(m_uLocalIP), m_uLocalPort, &item);
  if (found != 0) {
    Log::writeError(AsynLogCategory, kLogTcpSender,
                    " TCPSender::EstablishConnect 中 调用TCPProcessor的FindTCPSocketItem失败，传入参数为:\t\t\t\tm_uRemoteIP = %u,m_uRemotePort = %u m_uLocalIP = %u m_uLocalPort = %u TCPSocketItem 指针地址 = %u。",
                    m_uRemoteIP, static_cast<uint32_t>(m_uRemotePort), m_uLocalIP, static_cast<uint32_t>(m_uLocalPort),
                    static_cast<uint32_t>(reinterpret_cast<uintptr_t>(item.get())));
    return TcpSend_FindFailed;
  }
  m_autoConnect = item->m_autoConnect;
  if (tcp->AsynConn(item) != 0) {
    Log::writeError(AsynLogCategory, kLogTcpSender, " TCPSender::EstablishConnect 中调用TCPProcessor的AsynConn 失败。");
    return TcpSend_ConnFailed;
  }
  m_item = item;
  m_uLocalIP = plat::NetToHost32(item->m_uLocalIP);
  m_uLocalPort = item->m_uLocalPort;
  return TcpSend_OK;
}

// Thread contract: any thread. Ownership: see the header.
uint32_t TCPSender::AsynSendEx(const SptrPostMsgContext& context, const SptrSession& session) {
  if (m_uRemoteIP == 0 || m_uRemotePort == 0) {
    Log::writeError(AsynLogCategory, kLogTcpSender,
                    "TCPSender::AsynSendEx 中Sender 发送目的地的IP,Port非法,IP = %u Port = %u.", m_uRemoteIP,
                    static_cast<uint32_t>(m_uRemotePort));
    return TcpSend_BadAddress;
  }
  AsynManager* mgr = AsynManager::GetInstance();
  if (mgr == nullptr || mgr->GetState() != Running) {
    Log::writeError(AsynLogCategory, kLogTcpSender, " TCPSender::AsynSendEx 中 获取Manager失败。");
    return TcpSend_NoManager;
  }
  TCPIOProcessor* tcp = mgr->GetTCPProcessor();
  if (tcp == nullptr || !tcp->IsUsable()) {
    Log::writeError(AsynLogCategory, kLogTcpSender, " TCPSender::AsynSendEx 中 TCPIOProcessor 无法启用，原因为：%s。",
                    tcp == nullptr ? "TCPProcessor获取为空" : "TCPProcessor当前状态为不可用");
    return TcpSend_NoProcessor;
  }
  uint32_t rc = EstablishConnect(tcp);
  if (rc == TcpSend_StaleEntry) rc = EstablishConnect(tcp);
  if (rc != TcpSend_OK && rc != TcpSend_Connected) return rc;

  SptrTcpSocketItem item;
  {
    TzTokenGuard guard(m_token);
    item = m_item;
  }
  if (!item || tcp->PostUserData(item, context, session) < 0) return TcpSend_PostFailed;
  return TcpSend_OK;
}

}  // namespace AsynModel
