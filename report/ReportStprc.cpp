// QoS server discovery: the session asks every STPRC server of one group for
// the QoS server, every 500 ms until one answers, moving on to the next group
// after a while; then it checks once a minute and asks again when the answer
// is more than 24 hours old. The config directory message lives here too.
#include <cstring>

#include "asynmodel/PostMsgContext.h"
#include "platform/clock.h"
#include "report/ReportCallInfoReqSession.h"
#include "report/ReportCommands.h"
#include "report/ReportLog.h"
#include "report/StprcCommands.h"
#include "tzhelper/TzIpText.h"
#include "tzhelper/TzQuickTimer.h"
#include "tzhelper/TzWarnLimiter.h"

using AsynModel::PeerAddress;

int32_t ReportCallInfoReqSession::OnReportRCAddrArrived(const uint8_t* data, uint32_t length) {
  report::RcAddrGroups groups;
  if (report::ReadRcAddrCmd(data, length, &groups) == 0) {
    REPORT_LOG_ERROR("[Kelvarn][stprc] 传入的stprc地址长度不够一个，不请求服务器地址！！");
    return 0;
  }
  m_curGroup = 0;
  m_groupCount = groups.groupCount;
  for (auto& group : m_stprc)
    for (auto& entry : group) entry = PeerAddress();
  for (uint32_t g = 0; g < groups.groupsUsed; ++g) {
    for (uint32_t i = 0; i < groups.entryCount[g]; ++i) {
      m_stprc[g][i] = groups.table[g][i];
      REPORT_LOG_WARN("[Kelvarn][stprc] OnReportRCAddrArrived 输入的stprcIp地址为:%s:%d index:%d",
                      m_stprc[g][i].udp_ip, m_stprc[g][i].udp_port, static_cast<int>(i));
    }
  }
  m_groupNum = groups.groupsUsed;

  // A held answer stays: the immediate request below is then the only one,
  // and timer 7 goes on with its minute checks.
  REPORT_LOG_ERROR("[Kelvarn][stprc] 收到STPRC地址，向STPRC请求QOS服务器地址");
  RequestQosServerFromStprc();
  m_lastRequestTick = plat::GetTickCount();
  ArmStprcTimer(kStprcAskMs);
  return 0;
}

// Session timers cannot be cancelled, so a list that arrives while timer 7 is
// pending only moves the due tick; the pending timer, when it fires early,
// re-arms itself for the rest. Without this every list would start a chain
// of its own, each asking every 500 ms for good.
void ReportCallInfoReqSession::ArmStprcTimer(uint32_t ms) {
  m_stprcDueTick = plat::GetTickCount() + ms;
  if (m_stprcTimerArmed) return;
  m_stprcTimerArmed = SetTimer(Timer_StprcRequest, ms, nullptr);
}

void ReportCallInfoReqSession::RequestQosServerFromStprc() {
  if (m_curGroup >= report::MAX_STPRC_GROUP_NUM) m_curGroup = 0;
  for (uint32_t i = 0; i < report::MAX_STPRC_NUM; ++i) {
    const PeerAddress& stprc = m_stprc[m_curGroup][i];
    if (stprc.udp_port == 0) {
      REPORT_LOG_WARN("[Kelvarn][stprc] 传入的stprc地址(%d)为:%s:%d,stprc地址错误！！ curGroup:%d x:%d",
                      static_cast<int>(m_groupNum), stprc.udp_ip, stprc.udp_port,
                      static_cast<int>(m_curGroup), static_cast<int>(i));
      continue;
    }
    REPORT_LOG_WARN("[Kelvarn][stprc] 传入的stprc地址(%d)为:%s:%d,开始请求QOS服务器地址！！ curGroup:%d x:%d",
                    static_cast<int>(m_groupNum), stprc.udp_ip, stprc.udp_port,
                    static_cast<int>(m_curGroup), static_cast<int>(i));
    uint32_t rc = SendUnreliable(stprc, report::Stprc_ADDR_REQ_CMD, nullptr, 0, AsynModel::kNoTimeLimit,
                                 AsynModel::Receipt_None);
    if (rc != 0)
      REPORT_LOG_ERROR("[Kelvarn][stprc] 向STPRC请求QOS服务器地址命令发送失败:%d！！", static_cast<int>(rc));
    else
      REPORT_LOG_ERROR("[Kelvarn][stprc] 向STPRC请求QOS服务器地址命令发送成功:%d！！", 0);
  }
}

// Stays on a group for at most kGroupStayMs without an answer, then moves to
// the next one, and back to group 0 after the last.
void ReportCallInfoReqSession::NextStprcGroup() {
  if (m_groupNum <= 1) {
    m_curGroup = 0;
    return;
  }
  const uint32_t now = plat::GetTickCount();
  if (plat::TickDiff(now, m_lastRequestTick) < static_cast<int32_t>(kGroupStayMs)) return;
  uint32_t next = m_curGroup + 1;
  if (next >= m_groupNum) next = 0;
  REPORT_LOG_WARN("[Kelvarn][stprc] 没有收到QOS服务器，向下一组STPRC请求QOS服务器地址 m_curGroup:%d nextGroup:%d,m_groupNum:%d",
                  static_cast<int>(m_curGroup), static_cast<int>(next), static_cast<int>(m_groupNum));
  m_curGroup = next;
  m_lastRequestTick = now;
}

int32_t ReportCallInfoReqSession::OnStprcRequestTimer() {
  m_stprcTimerArmed = false;
  // One quick-timer tick of slack: a timer may fire up to a tick early.
  const int32_t early = plat::TickDiff(m_stprcDueTick, plat::GetTickCount());
  if (early > static_cast<int32_t>(TzQuickTimer::kTickMs)) {
    ArmStprcTimer(static_cast<uint32_t>(early));
    return 0;
  }
  if (m_haveStprcServer) {
    if (plat::TickDiff(plat::GetTickCount(), m_stprcAnswerTick) > static_cast<int32_t>(kStprcRefreshMs)) {
      REPORT_LOG_ERROR("[Kelvarn][stprc] 超过24小时，向STPRC请求QOS服务器地址");
      m_curGroup = 0;
      RequestQosServerFromStprc();
      m_haveStprcServer = false;
      m_lastRequestTick = plat::GetTickCount();
      ArmStprcTimer(kStprcAskMs);
    } else {
      ArmStprcTimer(kStprcCheckMs);
    }
    return 0;
  }
  REPORT_LOG_WARN("[Kelvarn][strprc] 没有收到QOS服务器，向STPRC请求QOS服务器地址");
  RequestQosServerFromStprc();
  NextStprcGroup();
  ArmStprcTimer(kStprcAskMs);
  return 0;
}

bool ReportCallInfoReqSession::FromStprcServer(const AsynModel::SptrISender& sender) const {
  if (report::FromInsideProcess(sender)) return true;
  for (const auto& group : m_stprc)
    for (const PeerAddress& entry : group)
      if (report::SenderIs(sender, entry)) return true;
  return false;
}

int32_t ReportCallInfoReqSession::OnStpAddrRespArrived(const uint8_t* data, uint32_t length,
                                                       const AsynModel::SptrISender& sender) {
  if (!FromStprcServer(sender)) {
    report::IgnoredAnswer(report::Stprc_ADDR_RESP_CMD, sender, "not an STPRC server that was asked");
    return 0;
  }
  report::StpAddrResp resp;
  static TzWarnLimiter badAnswer(ReportLogCategory, ReportLogSubType, "[Kelvarn] bad 6802");
  if (report::ReadStpAddrResp(data, length, &resp) != 0) {
    if (badAnswer.Admit()) REPORT_LOG_ERROR("[Kelvarn]STP发送来的地址长度小于结构体大小，不解析！！");
    return -1;
  }
  if (resp.result != 0) {
    if (badAnswer.Admit()) REPORT_LOG_ERROR("[Kelvarn]STP发送来的地址结果不为0(%d)，无可用地址，不做处理！！！", static_cast<int>(resp.result));
    return 0;
  }
  if (!tzip::ParseUnicastIpv4(resp.ip, sizeof(resp.ip), nullptr) || resp.port == 0) {
    // Taking it would stop the asking for a day with nowhere to send to.
    report::IgnoredAnswer(report::Stprc_ADDR_RESP_CMD, sender, "names no usable address");
    return 0;
  }
  PeerAddress server;
  server.SetUdp(resp.ip, resp.port);
  m_stprcAnswerTick = plat::GetTickCount();
  m_haveStprcServer = true;
  SetServerAddrList(&server, 1);
  REPORT_LOG_WARN("[Kelvarn]STP发送来的地址为:%s:%d！！", resp.ip, resp.port);
  return 0;
}

int32_t ReportCallInfoReqSession::OnConfigDirArrived(const uint8_t* data, uint32_t length) {
  if (static_cast<int32_t>(length) < 1 || data == nullptr) {
    REPORT_LOG_ERROR("[Kelvarn]设置config目录传入session，长度为0，不解析。");
    return -1;
  }
  if (length >= sizeof(m_path)) {
    REPORT_LOG_ERROR("[Kelvarn]设置config目录传入session,长度为%d,大于m_path大小,无法拷贝！.", static_cast<int>(length));
    return -2;
  }
  memset(m_path, 0, sizeof(m_path));
  memcpy(m_path, data, length);
  REPORT_LOG_WARN("[Kelvarn]设置config目录传入session，path:%s!\r\n", m_path);
  return 0;
}
