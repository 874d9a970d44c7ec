// Call-log reporting: lines of the call-log cache (and report requests, 4000)
// go to log receivers one after the other, 7 to 9 s each, within 60 s for the
// whole report; a receiver's success answer (1112) ends the report and takes
// the line out of the cache, a receiver list (115) installs new servers.
//
// The life of one cached line: timer 4 takes it from the cache's history
// list (report_log), arms the 60 s total time-out (timer 3) and starts the
// report (start_report); send_report_cmd sends it to the next receiver and
// arms timer 1, whose expiry moves on to the next one (report). The report
// ends in deal_report_finish: answered (0) or unserializable (8) removes the
// line, a total time-out (3) leaves it cached for a later timer 4. Reports
// made from the cache have no receivers of their own, so they send nothing
// and end by the time-out.
#include <cstdio>
#include <cstring>

#include "asynmodel/PostMsgContext.h"
#include "platform/clock.h"
#include "platform/socket.h"
#include "report/ReportCallInfoReqSession.h"
#include "report/ReportCommands.h"
#include "report/ReportLog.h"
#include "tzhelper/QosLog.h"
#include "tzhelper/TzRandom.h"

using AsynModel::PeerAddress;

namespace {

constexpr uint32_t kReportCmdBuffer = 1024;

// The peer of a received message, for log lines.
void PeerText(const AsynModel::SptrISender& sender, char (&ip)[16], uint16_t* port) {
  uint32_t host = 0;
  *port = 0;
  if (sender) sender->GetRemoteAddr(&host, port);
  plat::InetNtoa(plat::HostToNet32(host), ip);
}

// The context a report timer carries, or null for any other record.
SptrReportCallInfoContext ContextOf(AsynModel::UserDataInfo* userData) {
  return SptrReportCallInfoContext(dynamic_cast<ReportCallInfoContext*>(userData));
}

unsigned long long Ull(uint64_t v) { return static_cast<unsigned long long>(v); }

}  // namespace

int32_t ReportCallInfoReqSession::OnCheckLogCacheTimer() {
  CallLogCacheList* cache = CallLogCacheList::GetInstance();
  if (m_activeReports <= 0 && cache != nullptr) {
    m_cacheBatch.clear();
    cache->get_call_logs(&m_cacheBatch);
    if (!m_cacheBatch.empty()) {
      if (QosLogIsOpen(FacadeLogCategory, 1))
        QosLogInfo(FacadeLogCategory, FacadeLogSubType,
                   "ReportCallInfoReqSession::OnCheckLogCacheTimer 从缓存中获取到日志%d条， 开始发送",
                   static_cast<int>(m_cacheBatch.size()));
      for (const SptrCallLogRecord& r : m_cacheBatch)
        report_log(r->text, r->length, r->guid, r->log_index, r->start_time);
      m_cacheBatch.clear();
    }
  }
  SweepStatistics();
  ArmTimer(Timer_CheckLogCache, kCheckLogCacheMs);
  return 0;
}

void ReportCallInfoReqSession::SweepStatistics() {
  const int64_t now = plat::NowMs();
  for (auto it = m_statistics.begin(); it != m_statistics.end();) {
    if (!it->second.flagged || now - it->second.time <= kStatisticsAgeMs) {
      ++it;
      continue;
    }
    char line[ReportCallInfoContext::kMaxText];
    int n = snprintf(line, sizeof(line), "[statistics][%s][%d]", it->first.c_str(),
                     static_cast<int>(it->second.count));
    const uint32_t length = n < 0 ? 0 : (static_cast<size_t>(n) >= sizeof(line) ? sizeof(line) - 1 : n);
    const uint64_t guid = ReportCallInfoContext::NewGuid();
    if (QosLogIsOpen(FacadeLogCategory, 1))
      QosLogInfo(FacadeLogCategory, FacadeLogSubType, "ReportCallInfoReqSession::OnCheckLogCacheTimer 生成统计信息 :%s",
                 line);
    CallLogCacheList* cache = CallLogCacheList::GetInstance();
    if (cache != nullptr) cache->add_call_log(guid, line, length, kStatisticsLogIndex, static_cast<uint64_t>(now));
    it = m_statistics.erase(it);
    report_log(line, length, guid, kStatisticsLogIndex, static_cast<uint64_t>(now));
  }
}

void ReportCallInfoReqSession::report_log(const char* text, uint32_t length, uint64_t guid, uint32_t logIndex,
                                          uint64_t startTime) {
  SptrReportCallInfoContext ctx = ReportCallInfoContext::Make(text, length);
  if (!ctx) {
    if (QosLogIsOpen(FacadeLogCategory, 1))
      QosLogError(FacadeLogCategory, FacadeLogSubType,
                  "ReportCallInfoReqSession::OnReportLocalRepCmdArrived sid 收到 report请求, 但分配内存失败");
    return;
  }
  const char* key;
  uint32_t keyLength;
  if (!ctx->BracketKey(&key, &keyLength) && QosLogIsOpen(FacadeLogCategory, 1))
    QosLogInfo(FacadeLogCategory, FacadeLogSubType, "ReportCallInfoReqSession::OnReportLocalRepCmdArrived 话务日志");
  ctx->msg_type = report::Report_QOSINFO_CMD;
  ctx->guid = guid;
  ctx->log_index = logIndex;
  ctx->start_time = startTime;
  SetTimer(Timer_ReportCmdTotalTimeOut, kReportTotalMs, ctx.get());
  if (QosLogIsOpen(FacadeLogCategory, 1)) {
    char printable[ReportCallInfoContext::kMaxText + 1];
    memcpy(printable, ctx->text, ctx->text_len);
    printable[ctx->text_len] = 0;
    QosLogError(FacadeLogCategory, FacadeLogSubType,
                "ReportCallInfoReqSession::report_log sid log:%s, guid:%llu,log_index:%d, starttime:%llu ", printable,
                Ull(guid), static_cast<int>(logIndex), Ull(startTime));
  }
  start_report(ctx);
}

void ReportCallInfoReqSession::start_report(const SptrReportCallInfoContext& ctx) {
  ++m_activeReports;
  REPORT_LOG_MSG("[Kelvarn] ReportCallInfoReqSession::start_report sid[%llu] get receiver 同步成功 ", Ull(ctx->guid));
  // The context's own receivers are used as they are.
  send_report_cmd(ctx);
}

int32_t ReportCallInfoReqSession::send_report_cmd(const SptrReportCallInfoContext& ctx) {
  if (ctx->next_receiver >= ctx->receiver_count) return -1;
  ctx->attempt = ctx->next_receiver;
  const int64_t elapsed = plat::NowMs() - static_cast<int64_t>(ctx->start_time);
  ctx->elapsed = elapsed > 0 ? static_cast<uint32_t>(elapsed) : 0;
  ctx->guid_copy = ctx->guid;
  uint8_t buffer[kReportCmdBuffer] = {};
  const int length = ctx->WriteCommand(buffer, sizeof(buffer));
  if (length < 0) {
    deal_report_finish(ctx, 8);
    return 0;
  }
  // The command printed as text ends at its first zero byte, inside the
  // name length: what the line shows is the version and that length.
  REPORT_LOG_DEBUG("[Kelvarn] try_send_report_cmd len:%d:%d,内容:%s ", length, static_cast<int>(ctx->text_len),
                   reinterpret_cast<const char*>(buffer));
  const uint32_t index = ctx->next_receiver;
  const PeerAddress& dest = ctx->receivers[index];
  const uint32_t rc = SendUnreliable(dest, ctx->msg_type, buffer, static_cast<uint32_t>(length),
                                     AsynModel::kNoTimeLimit, AsynModel::Receipt_None);
  ++ctx->next_receiver;
  if (rc != 0) {
    QosLogError(FacadeLogCategory, FacadeLogSubType,
                "ReportCallInfoReqSession::send_report_cmd sid[%llu] PostMsg failed ec:%d , destip:%s,destport:%d,index:%d",
                Ull(ctx->guid), static_cast<int>(rc), dest.udp_ip, dest.udp_port, static_cast<int>(index));
  } else {
    m_bytesOut += static_cast<uint32_t>(length);
    if (QosLogIsOpen(FacadeLogCategory, 1))
      QosLogInfo(FacadeLogCategory, FacadeLogSubType,
                 "ReportCallInfoReqSession::send_report_cmd sid[%llu] PostMsg succ , destip:%s,destport:%d， index:%d",
                 Ull(ctx->guid), dest.udp_ip, dest.udp_port, static_cast<int>(index));
    try {
      m_sentMap.emplace(ctx->guid, ctx);  // kept as it is when the guid is there already
    } catch (...) {
      // Without memory the answer will not be matched; the time-outs still end the report.
    }
  }
  SetTimer(Timer_ReportSingleCmdTimeOut, TzRandom(kReportSingleMinMs, kReportSingleMaxMs), ctx.get());
  return 0;
}

void ReportCallInfoReqSession::report(const SptrReportCallInfoContext& ctx) {
  if (send_report_cmd(ctx) != -1) return;
  // No receiver left: the report waits for its total time-out.
  ctx->next_receiver = 0;
  ctx->receiver_count = 0;
  REPORT_LOG_MSG("[Kelvarn] ReportCallInfoReqSession::report sid[%llu] 同步获取receiver成功 ", Ull(ctx->guid));
  send_report_cmd(ctx);
}

int32_t ReportCallInfoReqSession::OnReportSingleCmdTimeOutTimer(AsynModel::UserDataInfo* userData) {
  SptrReportCallInfoContext ctx = ContextOf(userData);
  if (!ctx) return 0;
  if (!ctx->finished) {
    if (QosLogIsOpen(FacadeLogCategory, 3))
      QosLogWarning(FacadeLogCategory, FacadeLogSubType,
                    "ReportCallInfoReqSession::OnReportSingleCmdTimeOutTimer sid[%llu] timeout", Ull(ctx->guid));
    report(ctx);
  } else if (QosLogIsOpen(FacadeLogCategory, 1)) {
    QosLogInfo(FacadeLogCategory, FacadeLogSubType,
               "ReportCallInfoReqSession::OnReportSingleCmdTimeOutTimer sid[%llu] has dealed", Ull(ctx->guid));
  }
  return 0;
}

int32_t ReportCallInfoReqSession::OnReportCmdTotalTimeOutTimer(AsynModel::UserDataInfo* userData) {
  SptrReportCallInfoContext ctx = ContextOf(userData);
  if (!ctx) return 0;
  if (!ctx->finished) {
    if (QosLogIsOpen(FacadeLogCategory, 3))
      QosLogWarning(FacadeLogCategory, FacadeLogSubType,
                    "ReportCallInfoReqSession::OnReportCmdTotalTimeOutTimer sid[%llu] 整体超时时间到", Ull(ctx->guid));
    deal_report_finish(ctx, 3);
    return 0;
  }
  if (QosLogIsOpen(FacadeLogCategory, 1))
    QosLogInfo(FacadeLogCategory, FacadeLogSubType, "ReportCallInfoReqSession::OnReportCmdTotalTimeOutTimer sid[%llu] timeout",
               Ull(ctx->guid));
  // The last timer of an answered report: it need not be found any more.
  auto it = m_sentMap.find(ctx->guid);
  if (it != m_sentMap.end() && it->second == ctx) m_sentMap.erase(it);
  return 0;
}

void ReportCallInfoReqSession::deal_report_finish(SptrReportCallInfoContext ctx, int32_t code) {
  ctx->finished = true;
  if (code == 0 || code == 8) {
    CallLogCacheList* cache = CallLogCacheList::GetInstance();
    if (cache != nullptr) cache->remove_call_log(ctx->guid);
  }
  if (code != 0) {
    if (QosLogIsOpen(FacadeLogCategory, 3))
      QosLogWarning(FacadeLogCategory, FacadeLogSubType, "ReportCallInfoReqSession::deal_report_finish sid[%llu] failed ec:%d",
                    Ull(ctx->guid), static_cast<int>(code));
  } else if (QosLogIsOpen(FacadeLogCategory, 1)) {
    QosLogInfo(FacadeLogCategory, FacadeLogSubType, "ReportCallInfoReqSession::deal_report_finish sid[%llu] succ",
               Ull(ctx->guid));
  }
  --m_activeReports;
  m_waitingList.remove(ctx);
  // An answered report stays findable until its total time-out, so that a
  // repeated answer is seen as already dealt with rather than unknown.
  if (code != 0) {
    auto it = m_sentMap.find(ctx->guid);
    if (it != m_sentMap.end() && it->second == ctx) m_sentMap.erase(it);
  }
}

int32_t ReportCallInfoReqSession::OnReportLogRespArrived(const uint8_t* data, uint32_t length,
                                                         const AsynModel::SptrISender& sender) {
  char ip[16];
  uint16_t port;
  PeerText(sender, ip, &port);
  const int sid = static_cast<int>(GetSessionID());
  report::ReportResp resp;
  const int rc = report::ReadReportResp(data, length, &resp);
  if (rc < 0) {
    REPORT_LOG_ERROR("[Kelvarn]ReportCallInfoReqSession::OnReportLogRespArrived sid[%d]  recv[ip:%s port:%d] resp, but failed unserial ret:%d, result:%s",
                     sid, ip, port, rc, resp.succ ? "succ" : "failed");
    return 0;
  }
  auto it = m_sentMap.find(resp.guid);
  if (it == m_sentMap.end()) {
    if (QosLogIsOpen(FacadeLogCategory, 1))
      QosLogInfo(FacadeLogCategory, FacadeLogSubType,
                 "ReportCallInfoReqSession::OnReportLogRespArrived sid[%d]  recv [ip:%s port:%d] resp, 但从队列中查找失败",
                 sid, ip, port);
    return 0;
  }
  SptrReportCallInfoContext ctx = it->second;
  if (QosLogIsOpen(FacadeLogCategory, 1))
    QosLogInfo(FacadeLogCategory, FacadeLogSubType,
               "ReportCallInfoReqSession::OnReportLogRespArrived sid[%d]  recv [ip:%s port:%d] resp, succ:%s, is_finish:%s",
               sid, ip, port, resp.succ ? "true" : "false", ctx->finished ? "true" : "false");
  // A "not taken" answer changes nothing: the report goes on to its time-outs.
  if (!ctx->finished && resp.succ != 0) {
    deal_report_finish(ctx, 0);
    ctx->text_len = 0;
  }
  return 0;
}

int32_t ReportCallInfoReqSession::OnReceiversRespArrived(const uint8_t* data, uint32_t length,
                                                         const AsynModel::SptrISender& sender) {
  const int sid = static_cast<int>(GetSessionID());
  if (report::ReadReceiversResp(data, length, &m_receiversResp) < 0) {
    if (QosLogIsOpen(FacadeLogCategory, 1))
      QosLogInfo(FacadeLogCategory, FacadeLogSubType,
                 "ReportCallInfoReqSession::OnReceiversRespArrived sid[%d] 收到回应，但是反序列化命令失败", sid);
    return 0;
  }
  char ip[16];
  uint16_t port;
  PeerText(sender, ip, &port);
  if (m_receiversResp.count < 1) {
    if (QosLogIsOpen(FacadeLogCategory, 1))
      QosLogInfo(FacadeLogCategory, FacadeLogSubType,
                 "ReportCallInfoReqSession::OnReceiversRespArrived sid[%d] get receivers failed try next one"
                 "src:(ip:%s, port:%d)",
                 sid, ip, port);
    return 0;
  }
  if (QosLogIsOpen(FacadeLogCategory, 1))
    QosLogInfo(FacadeLogCategory, FacadeLogSubType,
               "ReportCallInfoReqSession::OnReceiversRespArrived sid[%d] get receivers succ num:%d src:(ip:%s, port:%d)",
               sid, static_cast<int>(m_receiversResp.count), ip, port);
  // The receivers become the server list and the current server.
  SetServerAddrList(m_receiversResp.entries, m_receiversResp.kept);

  std::list<SptrReportCallInfoContext> waiting;
  waiting.swap(m_waitingList);
  for (const SptrReportCallInfoContext& ctx : waiting) {
    if (ctx->finished) continue;
    for (uint32_t i = 0; i < m_receiversResp.kept; ++i) ctx->receivers[i] = m_receiversResp.entries[i];
    ctx->receiver_count = m_receiversResp.kept;
    report(ctx);
  }
  return 0;
}

int32_t ReportCallInfoReqSession::OnReportLocalRepCmdArrived(const uint8_t* data, uint32_t length) {
  if (data == nullptr || length == 0 || length > ReportCallInfoContext::kMaxText) {
    REPORT_LOG_ERROR("[Kelvarn]ReportCallInfoReqSession::OnReportLocalRepCmdArrived report text of %u bytes refused (1 to 1024)",
                     length);
    return -1;
  }
  SptrReportCallInfoContext ctx = ReportCallInfoContext::Make(reinterpret_cast<const char*>(data), length);
  if (!ctx) {
    REPORT_LOG_ERROR("[Kelvarn]ReportCallInfoReqSession::OnReportLocalRepCmdArrived sid 收到 report请求, 但分配内存失败");
    return 4;
  }
  const char* key;
  uint32_t keyLength;
  if (ctx->BracketKey(&key, &keyLength)) {
    try {
      StatEntry& entry = m_statistics[std::string(key, keyLength)];
      ++entry.count;
      if (!entry.flagged) {
        entry.flagged = true;
        entry.time = plat::NowMs();
      }
      ctx->log_index = entry.count;
    } catch (...) {
      // Without memory the key goes uncounted; the report itself goes on.
    }
  }
  ctx->msg_type = report::Report_QOSINFO_CMD;
  ctx->guid = ReportCallInfoContext::NewGuid();
  ctx->start_time = static_cast<uint64_t>(plat::NowMs());
  m_bytesIn += length;
  ++m_recordsIn;

  uint8_t buffer[kReportCmdBuffer] = {};
  const int written = ctx->WriteCommand(buffer, sizeof(buffer));
  if (written < 0) return 0;
  // Sent once, to the receiver at next_receiver, with no timer and no entry
  // anywhere: a fresh context has no receivers, so this fails with the bad
  // destination code and the context goes with the last reference.
  const uint32_t index = ctx->next_receiver;
  const PeerAddress& dest = ctx->receivers[index];
  const uint32_t rc = SendUnreliable(dest, report::Report_QOSINFO_CMD, buffer, static_cast<uint32_t>(written),
                                     AsynModel::kNoTimeLimit, AsynModel::Receipt_None);
  if (rc != 0) {
    REPORT_LOG_ERROR("[Kelvarn]ReportCallInfoReqSession::send_report_cmd sid[%llu] PostMsg failed ec:%d , destip:%s,destport:%d,index:%d",
                     Ull(ctx->guid), static_cast<int>(rc), dest.udp_ip, dest.udp_port, static_cast<int>(index));
  } else {
    ++m_recordsOut;
    m_bytesOut += static_cast<uint32_t>(written);
    REPORT_LOG_WARN("[Kelvarn]ReportCallInfoReqSession::send_report_cmd sid[%llu] PostMsg succ , destip:%s,destport:%d， index:%d",
                    Ull(ctx->guid), dest.udp_ip, dest.udp_port, static_cast<int>(index));
  }
  return 0;
}
