#include "api/DefaultAddrFailureCallBack.h"

#include "api/RouterAccessManager.h"
#include "platform/sync.h"
#include "report/ReportLog.h"

void DefaultAddrFailureCallBack::TCPDefaultListenPortFailureCallBack(const char* ip, uint32_t port,
                                                                     int32_t errorType) {
  REPORT_LOG_ERROR("TCPDefaultListenPortFailureCallBack回调. error_ip:%s, error_port:%u, errorType:%d",
                   ip ? ip : "", port, errorType);
  if (m_owner && m_owner->TcpFailureEvent()) m_owner->TcpFailureEvent()->Set();
}

void DefaultAddrFailureCallBack::UDPDefaultPortFailureCallBack(const char* ip, uint32_t port,
                                                               int32_t errorType) {
  REPORT_LOG_ERROR("UDPDefaultPortFailureCallBack回调. error_ip:%s, error_port:%u, errorType:%d",
                   ip ? ip : "", port, errorType);
  if (m_owner && m_owner->UdpFailureEvent()) m_owner->UdpFailureEvent()->Set();
}
