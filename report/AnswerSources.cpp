#include "report/AnswerSources.h"

#include "platform/socket.h"
#include "report/ReportCommands.h"
#include "report/ReportLog.h"
#include "tzhelper/TzIpText.h"
#include "tzhelper/TzWarnLimiter.h"

namespace report {

bool FromInsideProcess(const AsynModel::SptrISender& sender) {
  return !sender || sender->TransportType() == AsynModel::Transport_Local;
}

bool SenderIs(const AsynModel::SptrISender& sender, const AsynModel::PeerAddress& addr) {
  if (!sender || addr.udp_port == 0) return false;
  uint32_t want = 0;
  if (!tzip::ParseDottedIpv4(addr.udp_ip, sizeof(addr.udp_ip), &want)) return false;
  uint32_t ip = 0;
  uint16_t port = 0;
  sender->GetRemoteAddr(&ip, &port);
  return ip == want && port == addr.udp_port;
}

void IgnoredAnswer(uint32_t msgId, const AsynModel::SptrISender& sender, const char* why) {
  static TzWarnLimiter stprc(ReportLogCategory, ReportLogSubType, "[Kelvarn] ignored 6802");
  static TzWarnLimiter ack(ReportLogCategory, ReportLogSubType, "[Kelvarn] ignored 1120");
  TzWarnLimiter& limiter = msgId == Stprc_ADDR_RESP_CMD ? stprc : ack;
  if (!limiter.Admit()) return;
  uint32_t ip = 0;
  uint16_t port = 0;
  if (sender) sender->GetRemoteAddr(&ip, &port);
  char text[16] = {};
  plat::InetNtoa(plat::HostToNet32(ip), text);
  REPORT_LOG_WARN("[Kelvarn] ignored %u from %s:%u: %s", msgId, text, static_cast<unsigned>(port), why);
}

void SecureAckSources::Remember(const AsynModel::PeerAddress& dest) {
  uint32_t ip = 0;
  if (!tzip::ParseDottedIpv4(dest.udp_ip, sizeof(dest.udp_ip), &ip) || dest.udp_port == 0) return;
  for (size_t i = 0; i < kRemembered; ++i) {
    if (m_ip[i] == ip && m_port[i] == dest.udp_port) return;
  }
  m_ip[m_next] = ip;
  m_port[m_next] = dest.udp_port;
  m_next = (m_next + 1) % kRemembered;
}

bool SecureAckSources::Accepts(const AsynModel::SptrISender& sender) const {
  if (FromInsideProcess(sender)) return true;
  uint32_t ip = 0;
  uint16_t port = 0;
  sender->GetRemoteAddr(&ip, &port);
  for (size_t i = 0; i < kRemembered; ++i) {
    if (m_port[i] != 0 && m_ip[i] == ip && m_port[i] == port) return true;
  }
  return false;
}

}  // namespace report
