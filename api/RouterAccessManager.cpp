// Start-up and the hand-over of host records. Configuration calls are in
// RouterAccessConfig.cpp, the supervision thread in IpSupervision.cpp.
#include "api/RouterAccessManager.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "asynmodel/AsynManager.h"
#include "platform/socket.h"
#include "platform/sync.h"
#include "report/LocalCommands.h"
#include "report/RecordBacklog.h"
#include "report/ReportCallInfoReqSession.h"
#include "report/ReportCommands.h"
#include "report/ReportLog.h"
#include "report/StprcGroupTable.h"
#include "tzhelper/QosLog.h"
#include "tzhelper/TzIpText.h"
#include "tzhelper/TzThread.h"

namespace {

const char* AdaptiveText(uint8_t adaptive) { return adaptive ? "自适应" : "非自适应"; }

// A host text field of 16 bytes that may lack its NUL, as a C string.
void CopyField(const char* field, char (&out)[17]) {
  memset(out, 0, sizeof(out));
  if (field) memcpy(out, field, strnlen(field, 16));
}

uint32_t HostOrderIp(const char* text) { return plat::NetToHost32(plat::InetAddr(text)); }

}  // namespace

RouterAccessManager::RouterAccessManager()
    : m_failureCallBack(this),
      m_tcpFailureEvent(new plat::Event(true, false)),
      m_udpFailureEvent(new plat::Event(true, false)),
      m_secure(*this) {}

void RouterAccessManager::SetDefaultAddrFields(const char* ip, uint16_t port) {
  TzAutoLock guard(&m_lock, true);
  m_defaultIp = HostOrderIp(ip);
  m_defaultPort = port;
}

void RouterAccessManager::GetDefaultAddr(uint32_t* ip, uint16_t* port) {
  TzAutoLock guard(&m_lock, false);
  *ip = m_defaultIp;
  *port = m_defaultPort;
}

int32_t RouterAccessManager::StartAsynModel() {
  // Sockets need no process-wide start on this platform; the flag is kept so
  // a repeated start-up takes the same steps.
  m_wsaStarted = 1;
  if (AsynModel::Init(1) != 0) {
    QosLogError(FacadeLogCategory, FacadeLogSubType, "RouterAccessManager::Init 异步模型初始化错误");
    return Init_AsynInitFailed;
  }
  if (AsynModel::Start() != 0) {
    AsynModel::Destroy();
    QosLogError(FacadeLogCategory, FacadeLogSubType, "RouterAccessManager::Init 异步模型启动错误");
    return Init_AsynStartFailed;
  }
  m_b_asynmodel_started = 1;
  return Init_OK;
}

void RouterAccessManager::StopAsynModel(bool full) {
  if (full) {
    AsynModel::Stop();
    AsynModel::Destroy();
  }
  ClearRelayLists();
}

int32_t RouterAccessManager::Init(VeltAdjustCallback callback, uint32_t, int32_t nType,
                                  const char* localIp, uint16_t firstPort, uint32_t,
                                  uint16_t lastPort, const StprcAddrEntry* entries,
                                  uint32_t entryCount, uint8_t adaptive, void* relaySubscriber,
                                  uint32_t) {
  if (!m_logOpened.exchange(1)) Log::open(true, "-dTzfyds", false);

  // These run on every call, also after a successful start-up: the last
  // call's addresses and range are what the supervision thread sees.
  m_adaptive.store(adaptive);
  m_portRangeStart.store(firstPort);
  m_portRangeEnd.store(lastPort);

  if (entryCount == 0 || entries == nullptr) {
    REPORT_LOG_WARN("[Kelvarn] 输入的stprcIp地址 数目错误");
    return Init_NoStprc;
  }
  StoreFirstStprc(entries[0]);
  report::StprcGroupTable table;
  table.Build(entries, entryCount, report::StprcGroupTable::Variant::kStartup);

  char storedIp[16];
  int32_t rc = StoreLocalAddr(localIp, firstPort, storedIp);
  if (rc != Init_OK) return rc;

  printf("[Kelvarn] 版本:%s\n", kVersionBanner);
  fflush(stdout);
  REPORT_LOG_WARN("[Kelvarn] 版本:%s", kVersionBanner);

  TzAutoLock guard(&m_lock, true);
  if (m_state.load() == 1) {
    QosLogWarning(FacadeLogCategory, FacadeLogSubType, "RouterAccessManager::Init has been inited...");
    return Init_AlreadyStarted;
  }
  rc = StartServicesLocked(callback, nType);
  if (rc != Init_OK) return rc;
  m_relaySubscriber = relaySubscriber;
  rc = BindDefaultAddrLocked(storedIp, firstPort, lastPort, adaptive);
  if (rc != Init_OK) return rc;

  StartIpSupervision();
  REPORT_LOG_WARN("[Kelvarn] after AddUDPPort");
  if (m_relayTimer != nullptr) StartRelayTimer();
  m_lastRelayStatus.store(0xFFFFFFFFu);
  m_state.store(1);
  REPORT_LOG_WARN("[Kelvarn] 启动成功,IP自适应状态:%s", AdaptiveText(adaptive));
  printf("[Kelvarn] 启动成功！！\n");
  fflush(stdout);
  REPORT_LOG_WARN("[Kelvarn]传入参数：nType:%d,ip:%s,端口起始:%d-%d", nType, localIp, firstPort, lastPort);
  PostStprcTable(table);
  return Init_OK;
}

void RouterAccessManager::StoreFirstStprc(const StprcAddrEntry& first) {
  char stprcArg[17];
  CopyField(first.stprcIp, stprcArg);
  if (stprcArg[0] == 0) return;
  AsynModel::PeerAddress stored;
  {
    TzAutoLock guard(&m_addrLock);
    m_stprcServers[0].SetUdp(stprcArg, first.stprcPort);
    stored = m_stprcServers[0];
    m_serverCount = 1;
  }
  REPORT_LOG_WARN("[Kelvarn] 输入的stprcIp地址为:%s:%d,%s:%d！！", stored.udp_ip, stored.udp_port,
                  stprcArg, first.stprcPort);
}

int32_t RouterAccessManager::StoreLocalAddr(const char* localIp, uint16_t firstPort, char (&storedIp)[16]) {
  if (localIp == nullptr || localIp[0] == 0) {
    REPORT_LOG_WARN("[Kelvarn] 输入的ip地址为空！！");
    return Init_NoLocalIp;
  }
  uint32_t parsedLocal = 0;
  if (!tzip::ParseDottedIpv4(localIp, 16, &parsedLocal) || parsedLocal == 0xFFFFFFFFu) {
    // Nothing could be bound to it: refused like an address that cannot be bound.
    REPORT_LOG_ERROR("[Kelvarn] 输入的本地Ip地址无效:%.64s", localIp);
    return Init_BindFailed;
  }
  {
    TzAutoLock guard(&m_addrLock);
    memset(m_localIp, 0, sizeof(m_localIp));
    memcpy(m_localIp, localIp, strnlen(localIp, sizeof(m_localIp) - 1));
    memcpy(storedIp, m_localIp, sizeof(storedIp));
  }
  m_localPort.store(firstPort);
  REPORT_LOG_WARN("[Kelvarn] 输入的本地Ip地址为:%s:%d,%s:%d！！", storedIp, m_localPort.load(), localIp,
                  firstPort);
  return Init_OK;
}

int32_t RouterAccessManager::StartServicesLocked(VeltAdjustCallback callback, int32_t nType) {
  REPORT_LOG_WARN("[Kelvarn] before m_b_asynmodel_started");
  if (!m_b_asynmodel_started) {
    int32_t rc = StartAsynModel();
    if (rc != 0) return rc;
  }

  m_initialized.store(1);
  m_type.store(nType);
  REPORT_LOG_WARN("[Kelvarn] before m_type");
  if (nType == 1 && m_relayTimer == nullptr && !CreateRelayTimer()) {
    StopAsynModel(false);
    return Init_NoMemory;
  }

  REPORT_LOG_WARN("[Kelvarn] 1before m_report_sid");
  if (m_report_sid.load() == 0) {
    ReportCallInfoReqSession* session = new ReportCallInfoReqSession(0, 0, callback, *this);
    if (session == nullptr) {
      REPORT_LOG_WARN("[Kelvarn] new 失败！");
      return Init_NoMemory;
    }
    // The session holds its own reference from construction until it ends;
    // the id is enough for us. Read the id before Start: a failed Start
    // terminates the session and may free it.
    uint32_t sid = session->GetSessionID();
    session->Start(-1, false);
    m_report_sid.store(sid);
  }
  REPORT_LOG_WARN("[Kelvarn] after m_report_sid:%u", m_report_sid.load());
  return Init_OK;
}

int32_t RouterAccessManager::BindDefaultAddrLocked(const char* storedIp, uint16_t firstPort, uint16_t lastPort,
                                                   uint8_t adaptive) {
  uint16_t localPort = m_localPort.load();
  m_defaultIp = HostOrderIp(storedIp);
  m_defaultPort = localPort;
  REPORT_LOG_WARN("[Kelvarn] before AddUDPPort");

  if (firstPort != 0 && firstPort < lastPort) {
    // A range: the supervision thread picks and binds the port.
    REPORT_LOG_WARN("[Kelvarn]设定端口有误:%s:%d,IP自适应状态:%s", storedIp, firstPort,
                    AdaptiveText(adaptive));
    AsynModel::AsynManager::GetInstance()->RegisterEventCallBack(&m_failureCallBack);
    return Init_OK;
  }
  if (AsynModel::AsynManager::GetInstance()->SetDefaultUDPAddr(storedIp, localPort) != 0) {
    REPORT_LOG_ERROR("[Kelvarn] 绑定端口失败:%s:%d", storedIp, localPort);
    return Init_BindFailed;
  }
  m_defaultIp = HostOrderIp(storedIp);
  m_defaultPort = localPort;
  {
    TzAutoLock addrGuard(&m_addrLock);
    m_boundIp = storedIp;
  }
  REPORT_LOG_WARN("[Kelvarn] 绑定端口成功:%s:%d", storedIp, localPort);
  return Init_OK;
}

void RouterAccessManager::PostStprcTable(const report::StprcGroupTable& table) {
  if (table.StoredCount() == 0) {
    REPORT_LOG_WARN("[Kelvarn][stprc] init Report_RC_ADDR_CMD init 没有传stprc!");
    return;
  }
  uint32_t rc = AsynModel::PostMsg(m_report_sid.load(), report::Report_RC_ADDR_CMD, table.Data(),
                                   table.MessageLength(), false);
  REPORT_LOG_WARN("[Kelvarn][stprc] init Report_RC_ADDR_CMD 发送到session 地址 ret:%d", static_cast<int>(rc));
}

bool RouterAccessManager::StartIpSupervision() {
  if (m_ipSupervisionThread) return true;
  m_ipSupervisionThread = new TzThread(this, nullptr, &RouterAccessManager::IpResetThread);
  return m_ipSupervisionThread->Start();
}

namespace {

// The started/type checks shared by both record roads. 0 lets the post go on.
int32_t CheckCanReport(int32_t state, int32_t type) {
  if (state != 1) {
    if (QosLogIsOpen(FacadeLogCategory, 3))
      QosLogWarning(FacadeLogCategory, FacadeLogSubType, "RouterAccessManager::ReportCallInfo client not init ");
    return Report_NotStarted;
  }
  if (type != 0) {
    if (QosLogIsOpen(FacadeLogCategory, 3))
      QosLogWarning(FacadeLogCategory, FacadeLogSubType, "RouterAccessManager::ReportCallInfo client type error ");
    return Report_WrongType;
  }
  return Report_OK;
}

}  // namespace

int32_t RouterAccessManager::ReportCallInfo(const void* record, uint32_t length, const char* ipField,
                                            uint16_t port) {
  uint32_t sid = 0;
  const int32_t rc = OpenReportPost(&sid);
  if (rc != Report_OK) return rc;
  report::RecordBacklog& backlog = report::RecordBacklog::Global();
  if (!backlog.TryTake(sid)) return Report_OK;  // counted and logged there

  const uint32_t posted = PostRecord(sid, record, length, ipField, port);
  if (posted != 0) backlog.Give();
  ClosePost(posted, sid);
  return Report_OK;
}

int32_t RouterAccessManager::ReportSecurePacket(const void* data, uint32_t length) {
  uint32_t sid = 0;
  const int32_t rc = OpenReportPost(&sid);
  if (rc != Report_OK) return rc;
  ClosePost(AsynModel::PostMsg(sid, report::Report_LOCAL_QOSINFO_CMD_NEW, data, length, false), sid);
  return Report_OK;
}

int32_t RouterAccessManager::OpenReportPost(uint32_t* sid) {
  int32_t state, type;
  {
    TzAutoLock guard(&m_lock, false);
    state = m_state.load();
    type = m_type.load();
  }
  int32_t rc = CheckCanReport(state, type);
  if (rc != Report_OK) return rc;
  *sid = m_report_sid.load();
  if (QosLogIsOpen(FacadeLogCategory, 1))
    QosLogInfo(FacadeLogCategory, FacadeLogSubType, "RouterAccessAgent::ReportCallInfo  PostMsg to sid:%u", *sid);
  return Report_OK;
}

uint32_t RouterAccessManager::PostRecord(uint32_t sid, const void* record, uint32_t length, const char* ipField,
                                         uint16_t port) {
  // Records that fit a post are assembled on the stack; a longer one cannot
  // be posted anyway, but is still offered so the refusal is logged once.
  constexpr uint32_t kStackBytes = AsynModel::AsynManager::kMaxPostData;
  constexpr uint32_t kTrailer = static_cast<uint32_t>(report::kDestTrailerBytes);
  if ((record == nullptr && length != 0) || length > 0xFFFFFFFFu - kTrailer) return 1;
  const uint32_t total = length + kTrailer;
  uint8_t stack[kStackBytes];
  std::unique_ptr<uint8_t[]> big;
  uint8_t* buffer = stack;
  if (total > kStackBytes) {
    big.reset(new (std::nothrow) uint8_t[total]);
    if (!big) return 1;
    buffer = big.get();
  }
  if (length) memcpy(buffer, record, length);
  report::WriteDestTrailer(ipField, port, buffer + length);
  return AsynModel::PostMsg(sid, report::Report_LOCAL_QOSINFO_CMD, buffer, total, false);
}

void RouterAccessManager::ClosePost(uint32_t posted, uint32_t sid) {
  if (posted != 0)
    QosLogError(FacadeLogCategory, FacadeLogSubType,
                "[Kelvarn]RouterAccessAgent::ReportCallInfo  PostMsg to sid:%u fail", sid);
  if (QosLogIsOpen(FacadeLogCategory, 1))
    QosLogInfo(FacadeLogCategory, FacadeLogSubType, "RouterAccessAgent::ReportCallInfo  PostMsg finish");
}
