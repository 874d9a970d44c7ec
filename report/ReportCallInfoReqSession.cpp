// The session's core: dispatch, the plain and secured record roads, secured
// acknowledgements and pacing, the flow line and the server list. Discovery
// is in ReportStprc.cpp, media adjustment in ReportAdjust.cpp, call-log
// reporting in ReportCallLog.cpp.
#include "report/ReportCallInfoReqSession.h"

#include <cstdio>
#include <cstring>

#include "asynmodel/PostMsgContext.h"
#include "platform/clock.h"
#include "platform/socket.h"
#include "report/RecordBacklog.h"
#include "report/ReportCommands.h"
#include "report/ReportLog.h"
#include "report/SecureCommands.h"
#include "report/SecureTransfer.h"
#include "tzhelper/TzIpText.h"

using AsynModel::PeerAddress;

namespace {

constexpr uint32_t kAckSilenceMs = 2000;
constexpr uint32_t kAckPauseMs = 12000;

AsynModel::SessionProperty ReportSessionProperty() {
  AsynModel::SessionProperty p;
  p.threadMode = AsynModel::ThreadMode_Serial;
  p.idKind = 0;  // resident id
  p.msgArrivedModel = 1;
  p.findable = 1;
  return p;
}

}  // namespace

ReportCallInfoReqSession::ReportCallInfoReqSession(uint32_t, uint32_t groupNum, VeltAdjustCallback callback,
                                                   IReportCoordinator& coordinator)
    : AsynModel::Session(ReportSessionProperty()),
      m_coordinator(coordinator),
      m_agentCallback(callback),
      m_groupNum(groupNum),
      m_lastAckTick(plat::GetTickCount()),
      m_lastEmptyLogTick(plat::GetTickCount()) {
  m_serverAddrList.reserve(kMaxServers);
  m_cacheBatch.reserve(CallLogCacheList::kMaxBatch);
  ArmTimer(Timer_FlowStat, kFlowPeriodMs);
  ArmTimer(Timer_CheckLogCache, kCheckLogCacheMs);
  ArmTimer(Timer_SendPacing, kSendPacingMs);
  ArmTimer(Timer_SecureStat, kSecureStatMs);
}

void ReportCallInfoReqSession::ArmTimer(uint16_t id, uint32_t ms) {
  // A refusal is logged by the framework; the timer then stays unarmed.
  SetTimer(id, ms, nullptr);
}

namespace {

// Messages that only the coordinator and SecureTransfer post inside the
// process. Arriving from the network they would let any datagram replace the
// server list or inject records, so they are taken only from a local sender
// (a queued local post carries none).
bool LocalOnly(uint32_t msgId) {
  return msgId >= report::Report_LOCAL_REP_CMD && msgId <= report::Report_RECVER_ADDR_MAP_CMD;
}

}  // namespace

int32_t ReportCallInfoReqSession::OnMessage(uint32_t msgId, const uint8_t* data, uint32_t length,
                                            uint32_t srcSid, const AsynModel::SptrISender& sender) {
  if (LocalOnly(msgId) && sender && sender->TransportType() != AsynModel::Transport_Local) return 0;
  if (msgId == report::Report_LOCAL_QOSINFO_CMD) report::RecordBacklog::Global().Give();
  switch (msgId) {
    case report::Report_LOCAL_REP_CMD: return OnReportLocalRepCmdArrived(data, length);
    case report::Report_LOCAL_QOSINFO_CMD: return OnReportLocalQosinfoCmdArrived(data, length);
    case report::Report_LOCAL_QOSINFO_CMD_NEW: return OnReportLocalQosinfoCmdArrivedNew(data, length);
    case report::Report_SECURE_ACK_CMD: return OnSecureAckArrived(data, length, sender);
    case report::Report_RECEIVERS_RESP_CMD: return OnReceiversRespArrived(data, length, sender);
    case report::Report_LOG_RESP_CMD: return OnReportLogRespArrived(data, length, sender);
    case report::Report_RC_ADDR_CMD: return OnReportRCAddrArrived(data, length);
    case report::Stprc_ADDR_RESP_CMD: return OnStpAddrRespArrived(data, length, sender);
    case report::Report_CONFIG_DIR_CMD: return OnConfigDirArrived(data, length);
    case report::Adjust_MEDIA_NOTIFY_CMD: return OnAdjustMediaArrived(data, length, srcSid, sender);
    case report::Report_RECVER_ADDR_MAP_CMD: return OnRecverAddrMapUpdated();
    default: return 0;
  }
}

int32_t ReportCallInfoReqSession::OnTimer(bool, uint16_t timerId, AsynModel::UserDataInfo* userData) {
  // A cancelled timer runs its handler like an expired one.
  switch (timerId) {
    case Timer_ReportSingleCmdTimeOut: return OnReportSingleCmdTimeOutTimer(userData);
    case Timer_GetReceiverCmdTimeOut: return 0;  // nothing arms it
    case Timer_ReportCmdTotalTimeOut: return OnReportCmdTotalTimeOutTimer(userData);
    case Timer_CheckLogCache: return OnCheckLogCacheTimer();
    case Timer_FlowStat: return OnFlowStatTimer();
    case Timer_StprcRequest: return OnStprcRequestTimer();
    case Timer_SendPacing: return OnSendPacingTimer();
    case Timer_SecureStat: return OnSecureStatTimer();
    default: return 0;
  }
}

const PeerAddress* ReportCallInfoReqSession::ChooseDestination(const report::DestTrailer& trailer,
                                                               PeerAddress* scratch) {
  const report::FixedRecverAddr direct = m_coordinator.GetFixedRecverAddr();
  const PeerAddress* chosen = &m_currentServer;
  if (direct.port != 0) {
    m_currentServer.SetUdp(direct.ip, direct.port);
  } else if (trailer.port != 0) {
    *scratch = PeerAddress();
    scratch->SetUdp(trailer.ip, trailer.port);
    PeerAddress converted;
    if (m_coordinator.GetCovertRecverAddr(trailer.ip, trailer.port, &converted)) {
      REPORT_LOG_WARN("[Kelvarn]获取LogReceiver服务器地址,地址转换:src:%s:%d,dst:%s:%d", trailer.ip,
                      trailer.port, converted.udp_ip, converted.udp_port);
      *scratch = converted;
    }
    chosen = scratch;
  }
  if (chosen->udp_port == 0) {
    uint32_t now = plat::GetTickCount();
    if (plat::TickDiff(now, m_lastEmptyLogTick) > static_cast<int32_t>(kEmptyLogGapMs)) {
      m_lastEmptyLogTick = now;
      REPORT_LOG_ERROR("[Kelvarn]服务器地址列表为空，无法发送数据！！");
    }
    return nullptr;
  }
  return chosen;
}

uint32_t ReportCallInfoReqSession::SendUnreliable(const PeerAddress& dest, uint32_t msgId,
                                                  const uint8_t* data, uint32_t length,
                                                  uint32_t timeLimitMs, uint32_t receiptMode) {
  uint32_t localIp = 0;
  uint16_t localPort = 0;
  m_coordinator.GetDefaultAddr(&localIp, &localPort);
  return PostMsg(dest, 0, msgId, data, length, 0, timeLimitMs, receiptMode, 3, nullptr, localIp, localPort);
}

int32_t ReportCallInfoReqSession::OnReportLocalQosinfoCmdArrived(const uint8_t* data, uint32_t length) {
  report::DestTrailer trailer;
  if (!report::ReadDestTrailer(data, length, &trailer)) return -1;
  const uint32_t recordLength = length - static_cast<uint32_t>(report::kDestTrailerBytes);
  m_bytesIn += recordLength;
  ++m_recordsIn;

  PeerAddress scratch;
  const PeerAddress* dest = ChooseDestination(trailer, &scratch);
  if (dest == nullptr) return -2;
  uint32_t rc = SendUnreliable(*dest, report::Report_QOSINFO_CMD, data, recordLength,
                               AsynModel::kNoTimeLimit, AsynModel::Receipt_None);
  if (rc != 0) {
    REPORT_LOG_ERROR("[Kelvarn]OnReportLocalQosinfoCmdArrived PostMsg failed ec:%d , destip:%s,destport:%d",
                     static_cast<int>(rc), dest->udp_ip, dest->udp_port);
  } else {
    ++m_recordsOut;
    m_bytesOut += recordLength;
    REPORT_LOG_DEBUG("[Kelvarn]OnReportLocalQosinfoCmdArrived PostMsg succ , destip:%s,destport:%d",
                     dest->udp_ip, dest->udp_port);
  }
  return 0;
}

int32_t ReportCallInfoReqSession::OnReportLocalQosinfoCmdArrivedNew(const uint8_t* data, uint32_t length) {
  report::DestTrailer trailer;
  if (!report::ReadDestTrailer(data, length, &trailer)) return -1;
  const uint32_t packetLength = length - static_cast<uint32_t>(report::kDestTrailerBytes);
  m_bytesIn += packetLength;
  ++m_recordsIn;
  const uint32_t serialnum = packetLength >= 4 ? report::SerialAt(data, packetLength, 0) : 0;

  PeerAddress scratch;
  const PeerAddress* dest = ChooseDestination(trailer, &scratch);
  if (dest == nullptr) return -2;
  // Receipt on failure only, which this session ignores: an unacknowledged
  // packet is resent by SecureTransfer's next pass anyway.
  uint32_t rc = SendUnreliable(*dest, report::Report_SECURE_QOSINFO_CMD, data, packetLength, 1000,
                               AsynModel::Receipt_OnFailure);
  if (rc != 0) {
    REPORT_LOG_ERROR("[Kelvarn]OnReportLocalQosinfoCmdArrivedNew PostMsg failed,QosDetailInfo serialnum=%u", serialnum);
    REPORT_LOG_ERROR("[Kelvarn]OnReportLocalQosinfoCmdArrivedNew PostMsg failed ec:%d , destip:%s,destport:%d",
                     static_cast<int>(rc), dest->udp_ip, dest->udp_port);
  } else {
    REPORT_LOG_DEBUG("[Kelvarn]OnReportLocalQosinfoCmdArrivedNew PostMsg succ,QosDetailInfo serialnum=%u", serialnum);
    m_ackSources.Remember(*dest);
    m_flow.Add(length);
    ++m_secureOut;
    REPORT_LOG_DEBUG("[Kelvarn]OnReportLocalQosinfoCmdArrivedNew PostMsg succ , destip:%s,destport:%d",
                     dest->udp_ip, dest->udp_port);
  }
  return 0;
}

int32_t ReportCallInfoReqSession::OnSecureAckArrived(const uint8_t* data, uint32_t length,
                                                     const AsynModel::SptrISender& sender) {
  if (!m_ackSources.Accepts(sender)) {
    report::IgnoredAnswer(report::Report_SECURE_ACK_CMD, sender, "not where the secured packets go");
    return 0;
  }
  const size_t count = report::SerialCount(data, length);
  for (size_t i = 0; i < count; ++i) {
    m_lastAckTick = plat::GetTickCount();
    m_coordinator.Secure().Acknowledge(report::SerialAt(data, length, i));
  }
  return 0;
}

int32_t ReportCallInfoReqSession::OnSendPacingTimer() {
  ArmTimer(Timer_SendPacing, kSendPacingMs);
  SecureTransfer& secure = m_coordinator.Secure();
  const uint32_t now = plat::GetTickCount();
  const uint32_t elapsed = now - m_lastAckTick;
  if (m_keysAtLastPacing == 0 && secure.KeyCount() >= 1) {
    // The first data after SecureTransfer held no key goes out at once.
    secure.SendPass();
    m_keysAtLastPacing = secure.KeyCount();
    return 0;
  }
  if (elapsed > kAckSilenceMs) {
    // The server went quiet: pause, and after 12 s try again for 2 s.
    if (elapsed >= kAckPauseMs) m_lastAckTick = now;
    REPORT_LOG_DEBUG("[Travix][时间控制]服务器2s没给回应，休息10s再次发送");
    m_keysAtLastPacing = secure.KeyCount();
    return -1;
  }
  REPORT_LOG_DEBUG("[Travix][时间控制]正常内容发送");
  secure.SendPass();
  m_keysAtLastPacing = secure.KeyCount();
  return 0;
}

int32_t ReportCallInfoReqSession::OnSecureStatTimer() {
  ArmTimer(Timer_SecureStat, kSecureStatMs);
  m_coordinator.Secure().LogAndResetStatistics();
  return 0;
}

int32_t ReportCallInfoReqSession::OnFlowStatTimer() {
  ArmTimer(Timer_FlowStat, kFlowPeriodMs);
  // What a burst left cached in the pools goes back within two periods.
  ListMemAlloc::TrimAll();
  // At most ten entries of "ip:port|" (15 + 1 + 5 + 1 characters each).
  char servers[kMaxServers * 24 + 1] = {};
  size_t used = 0;
  for (const PeerAddress& a : m_serverAddrList) {
    int n = snprintf(servers + used, sizeof(servers) - used, "%s:%u|", a.udp_ip, a.udp_port);
    if (n < 0 || static_cast<size_t>(n) >= sizeof(servers) - used) break;
    used += static_cast<size_t>(n);
  }
  REPORT_LOG_WARN("[Kelvarn][flow][meetId:%d]收到的客户端postmsg传来的记录:%u条,postmsg出去的记录:%u条!!ServerAdd:%s:%u(serVers:%s)",
                  static_cast<int>(m_meetId), m_recordsIn, m_recordsOut, m_currentServer.udp_ip,
                  m_currentServer.udp_port, servers);
  REPORT_LOG_WARN("SecureTransfer[统计]向服务器发送流量(安全数据):流量:%u/s(kbps),总次数:%u,ServerAdd(%s:%u)",
                  m_flow.RateBps() / 1000, m_secureOut, m_currentServer.udp_ip, m_currentServer.udp_port);
  const uint32_t refused = report::RecordBacklog::Global().TakeRefused();
  if (refused != 0)
    REPORT_LOG_WARN("[Kelvarn][flow]队列已满拒绝的客户端记录:%u条(上限:%u条)", refused,
                    report::RecordBacklog::Global().Limit());
  m_flow.Reset();
  m_secureOut = 0;
  m_recordsIn = 0;
  m_recordsOut = 0;
  m_bytesIn = 0;
  m_bytesOut = 0;
  return 0;
}

void ReportCallInfoReqSession::SetServerAddrList(const PeerAddress* addrs, uint32_t count) {
  if (addrs == nullptr || count == 0) return;
  if (count > kMaxServers) count = kMaxServers;
  PeerAddress list[kMaxServers];
  for (uint32_t i = 0; i < count; ++i) list[i] = addrs[i];

  PeerAddress& first = list[0];
  const bool usable = (tzip::ParseUnicastIpv4(first.udp_ip, sizeof(first.udp_ip), nullptr) && first.udp_port != 0) ||
                      (tzip::ParseUnicastIpv4(first.tcp_ip, sizeof(first.tcp_ip), nullptr) && first.tcp_port != 0);
  if (!usable) {
    REPORT_LOG_WARN("[Kelvarn]获取LogReceiver服务器地址无效%s：%d", first.udp_ip, first.udp_port);
  } else {
    const report::FixedRecverAddr direct = m_coordinator.GetFixedRecverAddr();
    if (direct.ip[0] != 0 && direct.port != 0) {
      first.SetUdp(direct.ip, direct.port);
      REPORT_LOG_WARN("[Kelvarn]从配置文件获取服务器地址 ip:%s,port:%d", first.udp_ip, first.udp_port);
    }
    m_currentServer = first;
    PeerAddress converted;
    if (m_coordinator.GetCovertRecverAddr(m_currentServer.udp_ip, m_currentServer.udp_port, &converted)) {
      REPORT_LOG_WARN("[Kelvarn]获取LogReceiver服务器地址,地址转换:src:%s:%d,dst:%s:%d", m_currentServer.udp_ip,
                      m_currentServer.udp_port, converted.udp_ip, converted.udp_port);
      first = converted;
      m_currentServer = converted;
    }
    REPORT_LOG_WARN("[Kelvarn]获取LogReceiver服务器地址为%s:%d", m_currentServer.udp_ip, m_currentServer.udp_port);
  }
  m_serverAddrList.clear();
  for (uint32_t i = 0; i < count; ++i) {
    if (list[i].udp_port != 0 || list[i].tcp_port != 0) m_serverAddrList.push_back(list[i]);
  }
  m_serverListTime = static_cast<uint64_t>(plat::NowMs());
}

int32_t ReportCallInfoReqSession::OnRecverAddrMapUpdated() {
  REPORT_LOG_WARN("[Kelvarn]获取LogReceiver服务器地址,更新map,命令执行");
  PeerAddress current = m_currentServer;
  SetServerAddrList(&current, 1);
  return 0;
}

