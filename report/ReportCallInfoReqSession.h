// The one long-lived application session: forwards host records to the
// current QoS server, learns that server from the STPRC servers, answers the
// log receiver's media-adjustment notifications, carries the secured road and
// logs the flow every 5 s, and reports call-log lines to log receivers
// (ReportCallLog.cpp).
//
// Threads: a serial session, so its handlers never run concurrently and its
// fields need no lock. The coordinator's address fields, the conversion map
// and SecureTransfer are read through their own locks.
#pragma once
#include <cstdint>
#include <list>
#include <map>
#include <string>
#include <vector>

#include "asynmodel/PeerAddress.h"
#include "asynmodel/Session.h"
#include "report/AnswerSources.h"
#include "report/CallLogCacheList.h"
#include "report/FlowCounter.h"
#include "report/LocalCommands.h"
#include "report/ReportCallInfoContext.h"
#include "report/ReportCoordinator.h"
#include "report/ReportLogCommands.h"
#include "tzhelper/TzMemAlloc.h"
#include "veltrane.h"

namespace report { struct AdjustNotify; }

class ReportCallInfoReqSession : public AsynModel::Session,
                                 public TzPooled<ReportCallInfoReqSession, TzPrivateHeapMemAllocMethod> {
 public:
  // Timer ids.
  enum : uint16_t {
    Timer_ReportSingleCmdTimeOut = 1,
    Timer_GetReceiverCmdTimeOut = 2,
    Timer_ReportCmdTotalTimeOut = 3,
    Timer_CheckLogCache = 4,
    Timer_FlowStat = 6,
    Timer_StprcRequest = 7,
    Timer_SendPacing = 8,
    Timer_SecureStat = 9,
  };
  static constexpr uint32_t kFlowPeriodMs = 5000;
  static constexpr uint32_t kCheckLogCacheMs = 1000;
  static constexpr uint32_t kSendPacingMs = 50;
  static constexpr uint32_t kSecureStatMs = 5000;
  static constexpr uint32_t kStprcAskMs = 500;
  static constexpr uint32_t kStprcCheckMs = 60000;
  static constexpr uint32_t kStprcRefreshMs = 86400000;
  static constexpr uint32_t kGroupStayMs = 2000;
  static constexpr uint32_t kEmptyLogGapMs = 5000;
  static constexpr uint32_t kMaxServers = 10;
  static constexpr uint32_t kReportTotalMs = 60000;
  static constexpr uint32_t kReportSingleMinMs = 7000;
  static constexpr uint32_t kReportSingleMaxMs = 9000;
  static constexpr int64_t kStatisticsAgeMs = 20000;
  static constexpr uint32_t kStatisticsLogIndex = 100;

  // The first argument is not used; groupNum is the initial m_groupNum; the
  // callback may be null; the coordinator outlives the session. Arms timers
  // 6, 4, 8 and 9.
  ReportCallInfoReqSession(uint32_t unused, uint32_t groupNum, VeltAdjustCallback callback,
                           IReportCoordinator& coordinator);

  int32_t OnMessage(uint32_t msgId, const uint8_t* data, uint32_t length, uint32_t srcSid,
                    const AsynModel::SptrISender& sender) override;
  int32_t OnTimer(bool cancelled, uint16_t timerId, AsynModel::UserDataInfo* userData) override;
  int32_t OnSendResult(int16_t, uint16_t, uint32_t, const uint8_t*, uint32_t, uint32_t, uint32_t,
                       const AsynModel::PeerAddress*, AsynModel::ISender*, AsynModel::UserDataInfo*,
                       uint32_t, uint16_t, uint8_t) override {
    return 0;  // the outcome of the session's sends is not acted on
  }

  using TzPooled<ReportCallInfoReqSession, TzPrivateHeapMemAllocMethod>::operator new;
  using TzPooled<ReportCallInfoReqSession, TzPrivateHeapMemAllocMethod>::operator delete;

  // Installs the first address as the current server (after the direct
  // address and the conversion map have had their say) and keeps every
  // address with a port as the server list.
  void SetServerAddrList(const AsynModel::PeerAddress* addrs, uint32_t count);

  // Read accessors for tests.
  const AsynModel::PeerAddress& CurrentServer() const { return m_currentServer; }
  uint32_t CurGroup() const { return m_curGroup; }
  uint32_t GroupNum() const { return m_groupNum; }
  bool HaveStprcServer() const { return m_haveStprcServer; }
  int32_t ActiveReports() const { return m_activeReports; }

 protected:
  ~ReportCallInfoReqSession() override = default;

 private:
  // Plain and secured roads, acknowledgements, the conversion map update.
  int32_t OnReportLocalQosinfoCmdArrived(const uint8_t* data, uint32_t length);
  int32_t OnReportLocalQosinfoCmdArrivedNew(const uint8_t* data, uint32_t length);
  int32_t OnSecureAckArrived(const uint8_t* data, uint32_t length, const AsynModel::SptrISender& sender);
  int32_t OnRecverAddrMapUpdated();
  // Call-log reporting (ReportCallLog.cpp).
  int32_t OnReportLocalRepCmdArrived(const uint8_t* data, uint32_t length);
  int32_t OnReceiversRespArrived(const uint8_t* data, uint32_t length, const AsynModel::SptrISender& sender);
  int32_t OnReportLogRespArrived(const uint8_t* data, uint32_t length, const AsynModel::SptrISender& sender);
  int32_t OnReportSingleCmdTimeOutTimer(AsynModel::UserDataInfo* userData);
  int32_t OnReportCmdTotalTimeOutTimer(AsynModel::UserDataInfo* userData);
  void report_log(const char* text, uint32_t length, uint64_t guid, uint32_t logIndex, uint64_t startTime);
  void start_report(const SptrReportCallInfoContext& ctx);
  int32_t send_report_cmd(const SptrReportCallInfoContext& ctx);
  void report(const SptrReportCallInfoContext& ctx);
  void deal_report_finish(SptrReportCallInfoContext ctx, int32_t code);
  void SweepStatistics();

  // STPRC discovery (ReportStprc.cpp).
  int32_t OnReportRCAddrArrived(const uint8_t* data, uint32_t length);
  int32_t OnStpAddrRespArrived(const uint8_t* data, uint32_t length, const AsynModel::SptrISender& sender);
  bool FromStprcServer(const AsynModel::SptrISender& sender) const;
  int32_t OnConfigDirArrived(const uint8_t* data, uint32_t length);
  int32_t OnStprcRequestTimer();
  // Timer 7 is one chain: a new list moves its next tick instead of arming
  // another timer beside the pending one.
  void ArmStprcTimer(uint32_t ms);
  void RequestQosServerFromStprc();
  void NextStprcGroup();

  // Media adjustment (ReportAdjust.cpp).
  int32_t OnAdjustMediaArrived(const uint8_t* data, uint32_t length, uint32_t srcSid,
                               const AsynModel::SptrISender& sender);
  void NotifyAdjustToAgent(const report::AdjustNotify& notify);

  // Periodic timers.
  int32_t OnFlowStatTimer();
  int32_t OnSendPacingTimer();
  int32_t OnSecureStatTimer();
  int32_t OnCheckLogCacheTimer();

  // Picks where a host record goes: the direct address, else the record's
  // own trailer (converted when the map says so), else the current server.
  // Null when the chosen address has no port (logged at most every 5 s).
  const AsynModel::PeerAddress* ChooseDestination(const report::DestTrailer& trailer,
                                                  AsynModel::PeerAddress* scratch);
  uint32_t SendUnreliable(const AsynModel::PeerAddress& dest, uint32_t msgId, const uint8_t* data,
                          uint32_t length, uint32_t timeLimitMs, uint32_t receiptMode);
  void ArmTimer(uint16_t id, uint32_t ms);

  IReportCoordinator& m_coordinator;  // outlives the session

  // Media adjustment memory.
  uint32_t m_adjustLastPacketId = 0;
  uint32_t m_adjustLastDialog = 0;
  VeltAdjustCallback m_agentCallback;

  // Servers.
  std::vector<AsynModel::PeerAddress> m_serverAddrList;
  uint64_t m_serverListTime = 0;
  AsynModel::PeerAddress m_currentServer;

  // STPRC.
  AsynModel::PeerAddress m_stprc[report::MAX_STPRC_GROUP_NUM][report::MAX_STPRC_NUM];
  uint32_t m_curGroup = 0;
  uint32_t m_groupCount = 0;
  uint32_t m_groupNum = 0;
  uint32_t m_lastRequestTick = 0;
  uint32_t m_stprcAnswerTick = 0;
  bool m_haveStprcServer = false;
  bool m_stprcTimerArmed = false;
  uint32_t m_stprcDueTick = 0;  // when the pending timer 7 should act
  char m_path[512] = {};

  // Flow line counters, reset every 5 s.
  uint32_t m_recordsIn = 0;
  uint32_t m_recordsOut = 0;
  uint32_t m_secureOut = 0;
  FlowCounter m_flow;
  uint64_t m_bytesIn = 0;
  uint64_t m_bytesOut = 0;

  report::SecureAckSources m_ackSources;  // where 1120 may come from
  uint32_t m_lastAckTick;
  // Keys that SecureTransfer held at the last pacing decision. All bits set
  // at first, so the first tick does not count as "no key before".
  uint32_t m_keysAtLastPacing = 0xFFFFFFFFu;
  uint32_t m_lastEmptyLogTick;
  uint32_t m_meetId = 0;  // printed in the flow line; nothing assigns it

  // Call-log reporting.
  struct StatEntry {
    uint32_t count = 0;
    bool flagged = false;  // set at the key's first count; the sweep takes it 20 s later
    int64_t time = 0;
  };
  int32_t m_activeReports = 0;  // started by start_report and not finished
  // Reports sent to a receiver, by guid. A finished one stays until its
  // total time-out, so a repeated answer finds it already dealt with.
  std::map<uint64_t, SptrReportCallInfoContext> m_sentMap;
  std::list<SptrReportCallInfoContext> m_waitingList;  // waiting for receivers; nothing fills it
  std::map<std::string, StatEntry> m_statistics;
  report::ReceiversResp m_receiversResp;  // the last receiver list
  std::vector<SptrCallLogRecord> m_cacheBatch;  // reused by the cache timer
};
