#include "asynmodel/net/TCPSender.h"

#include "asynmodel/AsynManager.h"
#include "asynmodel/PostMsgContext.h"
#include "asynmodel/Session.h"
#include "asynmodel/net/TCPIOProcessor.h"
#include "tzhelper/QosLog.h"

namespace AsynModel {

TCPSender::TCPSender(uint32_t remoteIp, uint16_t remotePort, uint32_t localIp, uint16_t localPort)
    : m_uRemoteIP(remoteIp), m_uLocalIP(localIp), m_uLocalPort(localPort), m_uRemotePort(remotePort) {}

// Thread contract: any thread. Ownership: the caller keeps its context and
// session references on every path.
uint32_t TCPSender::AsynSendEx(const SptrPostMsgContext& /*context*/, const SptrSession& /*session*/) {
  if (m_uRemoteIP == 0 || m_uRemotePort == 0) {
    Log::writeError(AsynLogCategory, kLogTcpSender,
                    "TCPSender::AsynSendEx 中Sender 发送目的地的IP,Port非法,IP = %u Port = %u.", m_uRemoteIP,
                    static_cast<uint32_t>(m_uRemotePort));
    return 8;
  }
  AsynManager* mgr = AsynManager::GetInstance();
  if (mgr == nullptr || mgr->GetState() != Running) {
    Log::writeError(AsynLogCategory, kLogTcpSender, " TCPSender::AsynSendEx 中 获取Manager失败。");
    return 9;
  }
  TCPIOProcessor* tcp = mgr->GetTCPProcessor();
  if (tcp == nullptr) {
    Log::writeError(AsynLogCategory, kLogTcpSender, " TCPSender::AsynSendEx 中 TCPIOProcessor 无法启用，原因为：%s。",
                    "TCPProcessor获取为空");
    return 13;
  }
  if (!tcp->IsUsable()) {
    Log::writeError(AsynLogCategory, kLogTcpSender, " TCPSender::AsynSendEx 中 TCPIOProcessor 无法启用，原因为：%s。",
                    "TCPProcessor当前状态为不可用");
    return 13;
  }
  // Connecting and framing arrive with the TCP transport; a usable processor
  // does not exist before them.
  return 13;
}

}  // namespace AsynModel
