// The process-wide coordinator behind the exported functions: start-up, the
// server address configuration, supervision of the local address, and the
// hand-over of every host record to the report session as a local message.
// It never sends anything on the network itself.
//
// Threads: the exports may be called from any host thread. Start-up holds the
// coordinator lock exclusively from its check of the state on; the record
// checks and the default-address accessor hold it shared. Lock order:
// SecureTransfer's lock before the coordinator lock; the conversion lock and
// the direct-address lock are innermost.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "api/DefaultAddrFailureCallBack.h"
#include "api/DirectRecverAddr.h"
#include "api/RecverAddrConverter.h"
#include "api/RouterClient.h"
#include "asynmodel/PeerAddress.h"
#include "report/ReportCoordinator.h"
#include "report/SecureTransfer.h"
#include "tzhelper/TzSingleTon.h"
#include "tzhelper/Tzautolock.h"
#include "veltrane.h"

namespace plat { class Event; }
namespace report { class StprcGroupTable; }
class TzThread;
class TzCustomTimerEx;

// Start-up results.
enum RouterInitResult : int32_t {
  Init_OK = 0,
  Init_NoStprc = -10,
  Init_NoLocalIp = -11,
  Init_NoMemory = 4,
  Init_WsaFailed = 11,
  Init_AsynInitFailed = 12,
  Init_AsynStartFailed = 13,
  Init_AlreadyStarted = 15,
  Init_BindFailed = 23,
};
// Record posting results.
enum RouterReportResult : int32_t {
  Report_OK = 0,
  Report_NotStarted = 14,
  Report_WrongType = 21,
};

class RouterAccessManager : public TzSingleTon<RouterAccessManager>,
                            public RouterClient::IRAAHeartbeatCB,
                            public IReportCoordinator {
 public:
  static constexpr const char* kVersionBanner = "brisa_version Veltrane：2.3.14.25dll";
  static constexpr uint32_t kMaxServers = 10;

  // Start-up. The exports pass entry count 1 and a null relay subscriber.
  int32_t Init(VeltAdjustCallback callback, uint32_t ignored1, int32_t nType, const char* localIp,
               uint16_t firstPort, uint32_t ignored2, uint16_t lastPort,
               const StprcAddrEntry* entries, uint32_t entryCount, uint8_t adaptive,
               void* relaySubscriber, uint32_t ignored3);

  // Host records: 0, 14 before start-up, 21 for a relay coordinator. A failed
  // post is only logged. ipField is a 16-byte field copied as it is.
  int32_t ReportCallInfo(const void* record, uint32_t length, const char* ipField, uint16_t port);
  int32_t ReportSecurePacket(const void* data, uint32_t length) override;

  // Server address configuration.
  int32_t SetStpRc(const StprcAddrEntry* entries, uint32_t count);
  void SetConfigDir(const char* directory);
  // 0, or kCovertTableFull when RecverAddrConverter::kMaxPairs are staged.
  static constexpr uint32_t kCovertTableFull = 1;
  uint32_t AddCovertRecverAddr(const char* srcIp, int32_t srcPort, const char* dstIp, uint32_t dstPort);
  void EndCovertRecverAddr();
  bool GetCovertRecverAddr(const char* ip, int32_t port, AsynModel::PeerAddress* out) override;

  // The default UDP address (host order), read by the report session for the
  // local address of its sends. Takes the coordinator lock shared.
  void GetDefaultAddr(uint32_t* ip, uint16_t* port) override;
  report::FixedRecverAddr GetFixedRecverAddr() override { return DirectRecverAddr::Global().Get(); }
  SecureTransfer& Secure() override { return m_secure; }
  uint32_t ReportSid() const { return m_report_sid.load(); }
  bool Started() const { return m_state.load() == 1; }

  // Observer of default-address failures, and its events (signalled on each).
  plat::Event* TcpFailureEvent() { return m_tcpFailureEvent; }
  plat::Event* UdpFailureEvent() { return m_udpFailureEvent; }

  // Relay mode (RelayHeartbeat.cpp). The heartbeat answer of a router client;
  // any thread.
  void on_heartbeat(uint32_t sequence, int32_t status, const char* text, uint32_t intervalMs) override;
  // A successful registration: the two values every heartbeat carries.
  void SetRelayInfo(uint32_t relayValue1, uint32_t relayValue2);
  bool HasRelayTimer() const { return m_relayTimer != nullptr; }

 private:
  friend class TzSingleTon<RouterAccessManager>;
  RouterAccessManager();
  ~RouterAccessManager() = delete;  // lives until the process ends

  // Start-up steps, in the order Init takes them; the ...Locked ones run with
  // the coordinator lock held exclusively.
  void StoreFirstStprc(const StprcAddrEntry& first);
  int32_t StoreLocalAddr(const char* localIp, uint16_t firstPort, char (&storedIp)[16]);
  int32_t StartServicesLocked(VeltAdjustCallback callback, int32_t nType) TZ_REQUIRES(m_lock);
  int32_t BindDefaultAddrLocked(const char* storedIp, uint16_t firstPort, uint16_t lastPort, uint8_t adaptive)
      TZ_REQUIRES(m_lock);
  void PostStprcTable(const report::StprcGroupTable& table);
  int32_t StartAsynModel();
  // The two record roads: the start-up and type checks with the report
  // session's id (each refusal and the id logged); the host record with its
  // DestTrailer posted as message 4002 (0, or the refusal); the outcome lines.
  int32_t OpenReportPost(uint32_t* sid);
  uint32_t PostRecord(uint32_t sid, const void* record, uint32_t length, const char* ipField, uint16_t port);
  void ClosePost(uint32_t posted, uint32_t sid);
  void StopAsynModel(bool full);
  bool StartIpSupervision();
  static void IpResetThread(void* owner, void* arg);
  void IpResetProc();
  bool IpResetPass();  // one pass; true when it bound or watched, false after a failed walk
  void SetDefaultAddrFields(const char* ip, uint16_t port);
  // Relay heartbeat: the timer service for nType 1, and the pass that runs
  // on its thread every 100 ms while no interval is known.
  bool CreateRelayTimer();
  void StartRelayTimer();
  static void HeartBeatTimer(void* owner, uint32_t reserved, void* arg);
  void HeartBeatTimerProc();
  void HeartbeatCycle(uint32_t* nextMs);
  void ClearRelayLists();

  TzRWLock m_lock;                   // the coordinator lock
  std::atomic<int32_t> m_state{0};   // 1 once started; never reset
  std::atomic<int32_t> m_type{0};
  // The host's address values. A repeated start-up rewrites them without the
  // lock while the supervision thread reads them; the text fields are guarded
  // by m_addrLock so neither side reads half a string.
  TzLock m_addrLock;
  char m_localIp[16] TZ_GUARDED_BY(m_addrLock) = {};
  std::atomic<uint16_t> m_localPort{0};
  void* m_relaySubscriber = nullptr;
  uint32_t m_defaultIp TZ_GUARDED_BY(m_lock) = 0;
  uint16_t m_defaultPort TZ_GUARDED_BY(m_lock) = 0;
  int32_t m_serverCount = 0;
  AsynModel::PeerAddress m_stprcServers[kMaxServers];  // [0] under m_addrLock
  // Relay mode: the router-center servers registrations would go to, and
  // what the heartbeat needs. Only a router client would fill them; here the
  // interval stays unset, so the heartbeat pass only re-arms itself.
  AsynModel::PeerAddress m_routerCenters[kMaxServers];
  std::atomic<uint32_t> m_heartbeatInterval{0xFFFFFFFFu};  // all bits: not set
  TzRWLock m_relayListLock;
  std::vector<RouterClient::IRelayConnection*> m_relayConnections TZ_GUARDED_BY(m_relayListLock);
  uint32_t m_relayDescPresent = 0;
  RouterClient::RelayDescriptor m_relayDesc{};
  std::atomic<uint8_t> m_relayInfoSet{0};
  std::atomic<uint32_t> m_relayValue1{0};
  std::atomic<uint32_t> m_relayValue2{0};
  std::atomic<uint32_t> m_heartbeatSeqBase{0};
  std::atomic<uint32_t> m_heartbeatPending{0};
  uint32_t m_intervalMultiplier = 1;
  std::atomic<uint32_t> m_registerRequests{0};
  uint8_t m_wsaStarted = 0;
  std::atomic<uint8_t> m_logOpened{0};
  TzCustomTimerEx* m_relayTimer = nullptr;
  uint8_t m_b_asynmodel_started = 0;
  std::atomic<uint32_t> m_report_sid{0};
  TzThread* m_ipSupervisionThread = nullptr;
  DefaultAddrFailureCallBack m_failureCallBack;
  plat::Event* m_tcpFailureEvent;
  plat::Event* m_udpFailureEvent;
  std::atomic<uint32_t> m_portRangeStart{0};
  std::atomic<uint32_t> m_portRangeEnd{0};
  std::atomic<int32_t> m_initialized{-1};
  SecureTransfer m_secure;
  std::string m_boundIp TZ_GUARDED_BY(m_addrLock);
  std::atomic<uint8_t> m_adaptive{0};
  RecverAddrConverter m_converter;
  std::atomic<uint32_t> m_lastRelayStatus{0};
};
