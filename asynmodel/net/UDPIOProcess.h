// Owns every UDP socket: keeps them by local (IP, port), creates one the first
// time a sender needs an address, holds the default local address, keeps one
// receive posted per socket, validates received datagrams and turns them into
// message events with a reply sender, and sends (unreliable in
// UDPIOProcess.cpp; reliable, with acknowledgement and resending, in
// UDPReliable.cpp).
//
// Addresses in this interface are host order; only socket addresses
// (plat::SockAddrIn) are network order.
//
// Threads: every public method is safe from any thread; UDPProc runs on the
// compute workers, several at once, also for the same socket. OnReSendTimeOut
// runs on the quick-timer thread. Lock order: creation token, then table
// lock; the default-address lock is never held while taking either, and no
// lock of this class is held while the framework observer runs.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>

#include "asynmodel/Event.h"
#include "asynmodel/SessionTimer.h"
#include "asynmodel/net/AliableUdpACKTable.h"
#include "asynmodel/net/IOProcessor.h"
#include "asynmodel/net/PeerFlightQuota.h"
#include "asynmodel/net/PooledStlAllocator.h"
#include "asynmodel/net/UDPDuplicateFilter.h"
#include "asynmodel/net/UDPIOData.h"
#include "asynmodel/net/UDPResendContext.h"
#include "asynmodel/net/UDPSocketItem.h"
#include "platform/socket.h"
#include "tzhelper/TzToken.h"
#include "tzhelper/Tzautolock.h"

class TzQuickTimer;

namespace AsynModel {

class CompletationPortControler;
class Session;

enum UdpResult : uint32_t {
  Udp_OK = 0,
  Udp_TooLarge = 14,
  Udp_SerializeFailed = 16,
  Udp_NoContext = 18,
  Udp_NoMemory = 25,
  Udp_NoSocketItem = 31,
  Udp_DefaultFailed = 33,
  Udp_SocketFailed = 38,  // passed through from the controller
  Udp_BadDestination = 39,  // refused for its destination; the socket stays
  Udp_NoRecvRecord = 64,
  Udp_AckPushFailed = 70,
  Udp_PeerBusy = 71,  // the peer's window of reliable datagrams already waits for its ACK
};

// Results of UDPProc and the handlers behind it (what the worker does).
enum UdpProcResult : int {
  UdpProc_DeliverReceipt = 0,  // *event to the record's session, else by srcSid
  UdpProc_DeliverMessage = 1,  // *event with *sender to the destination session
  UdpProc_Nothing = 2,         // the processor kept (or freed) the record
};

// Result codes carried by receipts (SendResultEvent, transport marker 1).
enum UdpReceiptCode : int16_t {
  UdpReceipt_OK = 0,
  UdpReceipt_SendFailed = 1,
  UdpReceipt_Timeout = 4,  // RECEPT_TIMEOUT
  UdpReceipt_TimerFailed = 6,
};

class UDPIOProcess : public IOProcessor {
 public:
  static constexpr uint32_t kMaxDatagram = 2048;
  static constexpr uint32_t kCreationTokens = 40;
  static constexpr int kSocketBufferBytes = 2097152;
  static constexpr uint32_t kResendStepMs = 200;
  static constexpr uint32_t kMaxSendsWithoutLimit = 5;  // give up once more were sent

  // Seeds the sn counter with the calendar time in seconds.
  explicit UDPIOProcess(CompletationPortControler* cpc);
  ~UDPIOProcess() override;
  UDPIOProcess(const UDPIOProcess&) = delete;
  UDPIOProcess& operator=(const UDPIOProcess&) = delete;

  // Lifecycle, from the manager's controlling thread.
  bool Init();
  // Start lets sockets be made again; from the first step of Stop on none is
  // made, so a sender racing Stop cannot leave a socket (and its pending
  // receive) behind the close-all.
  void Start();
  void Stop();
  void Destroy();
  // Gives the processor its own channel of the quick timer for resends.
  void SetQuickTimer(TzQuickTimer* timer);

  // 0, or 33 when no socket can be had for the address ((0, 0): the primary
  // local IP with a system-chosen port).
  uint32_t SetDefaultIPPort(uint32_t ip, uint16_t port);
  // 1 found, 2 created, -1 failed. Zero IP/port take the default's; *out gets
  // a counted reference on success.
  int FindSocketIfNotThenCreateNewOne(uint32_t ip, uint16_t port, SptrUdpSocketItem* out,
                                      bool allowUnboundDefault);
  // A bound, non-blocking socket, not yet associated; kInvalidSocket on failure.
  plat::Socket CreateANewUdpSocket(uint32_t ip, uint16_t port);
  // The steps of a creation, under the address's creation token: the table
  // entry if one exists; a new entry with its socket bound and associated
  // (null, logged, on failure); its insertion (false, logged and closed,
  // when the framework is stopping or memory is short).
  SptrUdpSocketItem FindItem(uint32_t ip, uint16_t port);
  SptrUdpSocketItem OpenItem(uint32_t ip, uint16_t port);
  bool InsertItem(const SptrUdpSocketItem& item, uint32_t ip, uint16_t port);

  // Sending (from UDPSender). Ownership: context, session and item stay the
  // caller's; on 0 the I/O record holds its own references until the
  // completion, on any other result nothing is kept (the context's Msg may
  // already have been switched to the datagram stream).
  uint32_t SendMsg(const plat::SockAddrIn& remote, const SptrUdpSocketItem& item,
                   const SptrPostMsgContext& context, const SptrSession& session);
  uint32_t UnReliableSendMsg(const plat::SockAddrIn& remote, const SptrUdpSocketItem& item,
                             const SptrPostMsgContext& context, const SptrSession& session);
  uint32_t ReliableSendMsg(const plat::SockAddrIn& remote, const SptrUdpSocketItem& item,
                           const SptrPostMsgContext& context, const SptrSession& session);
  // 0, the controller's code, or 64.
  uint32_t PostRecvPerIO(const SptrUdpSocketItem& item);

  // Completion handler (compute workers). item is the completion key (the
  // worker holds a reference for the call). Results as UdpProcResult; on 0
  // and 1 the worker delivers *event (and *sender) and deletes the record, on
  // 2 the record is the processor's business.
  int UDPProc(SOCKET_ITEM* item, bool success, UDPIOData* data, Event* event, SptrISender* sender);

  // Removes the entry only if the table still maps its key to this very
  // entry (same sn); closes its socket; runs the default-address check.
  bool PopAndCloseSocketFromTheTable(const SptrUdpSocketItem& item);
  void PopAndCloseAllSocketFromTheTable();
  // Clears the default address if item was the default socket and tells the
  // framework observer (kind 1, code 32, the lost address in host order).
  void DefaultPortInvaildCallBack(UDP_SOCKET_ITEM* item);

  // Reliable delivery (UDPReliable.cpp).
  int AliableSendFinish(UDP_SOCKET_ITEM* item, bool success, UDPIOData* data, Event* event);
  // 0 armed (the timer owns the record), -1 the timer cannot be set, -2 give up.
  int SetTheReSendTimer(UDPIOData* data);
  // Timer callback: reason 1 means the timer service is clearing its timers.
  int OnReSendTimeOut(uint16_t reason, void* data);
  int AliableRecvPerIOProc(UDP_SOCKET_ITEM* item, UDPIOData* data, Event* event, SptrISender* sender);
  uint32_t PostAckPerIO(const SptrUdpSocketItem& item, const plat::SockAddrIn& dest, uint32_t sn);

  // Default address (host order) and its entry's sn; zeros when none.
  void GetDefault(uint32_t* ip, uint16_t* port, uint32_t* itemSn);
  size_t SocketCount();
  // The next datagram sn: atomic, never 0 (0 is skipped when the counter wraps).
  uint32_t NextSn();
  bool IsRunning() const { return m_running.load() != 0; }

  // Test hooks.
  AliableUdpACKTable& AckTable() { return m_ackTable; }
  PeerFlightQuota& FlightQuota() { return m_flightQuota; }
  void SetSnForTest(uint32_t value) { m_sn.store(value); }

 private:
  struct Key {
    uint32_t ip;
    uint16_t port;
    bool operator<(const Key& o) const { return ip != o.ip ? ip < o.ip : port < o.port; }
  };
  typedef std::map<Key, SptrUdpSocketItem, std::less<Key>,
                   PooledStlAllocator<std::pair<const Key, SptrUdpSocketItem>>>
      ItemMap;

  TzToken& CreationToken(uint32_t ip, uint16_t port);
  int RecvPerIOProc(UDP_SOCKET_ITEM* item, UDPIOData* data, Event* event, SptrISender* sender);
  int UnAliableSendFinish(UDP_SOCKET_ITEM* item, bool success, UDPIOData* data, Event* event);
  // A SendResultEvent for context (word2: a new counted reference that the
  // event owns) with the code and transport marker 1.
  static void FillReceipt(PostMsgContext* context, int16_t code, Event* event);
  // A send that failed: a destination error fails alone (one rate-limited
  // line), any other error closes the socket. err is a SocketError.
  void OnSendFailed(const char* where, UDP_SOCKET_ITEM* item, const plat::SockAddrIn& remote, int err);
  // The texts of one send path's refusals (they differ by path).
  struct SendTexts {
    const char* where;         // the path's name, for OnSendFailed
    const char* tooLarge;      // %u total, %u limit
    const char* noStream;
    const char* serializeFailed;
    const char* socketFailed;  // %u the entry's sn
  };
  // The datagram of context's Msg (with sn when reliable) into *stream; 0 or
  // the refusal, logged.
  static uint32_t BuildOrRefuse(const SendTexts& texts, const SptrPostMsgContext& context, bool reliable,
                                uint32_t sn, SptrMemStream* stream);
  // After the controller refused a send with rc: closes the entry whose
  // socket failed, or notes a refused destination.
  void OnSendRefused(const SendTexts& texts, uint32_t rc, const SptrUdpSocketItem& item,
                     const plat::SockAddrIn& remote);
  // Reliable steps: a flight slot and resend context for sn (null, logged,
  // when the peer has too many in flight or memory is short), and the sn's
  // entry in m_ackTable (false, logged, when refused).
  SptrUDPResendContext TakeResendSlot(const plat::SockAddrIn& remote, uint32_t sn,
                                      const SptrPostMsgContext& context, const SptrUdpSocketItem& item,
                                      uint32_t* refusal);
  bool PushAckEntry(uint32_t sn, const SptrPostMsgContext& context, const SptrSession& session,
                    const SptrUDPResendContext& resend);
  // A reply sender for a received datagram; null when none can be made.
  static SptrISender MakeReplySender(UDP_SOCKET_ITEM* item, const plat::SockAddrIn& source);

  CompletationPortControler* m_cpc;
  ItemMap m_items TZ_GUARDED_BY(m_tableLock);
  std::atomic<uint8_t> m_running{0};
  std::atomic<uint8_t> m_closing{0};  // set under m_tableLock
  SessionTimer m_resendTimer;  // set once, before traffic, by SetQuickTimer
  PeerFlightQuota m_flightQuota;  // outlives every resend context, the table's included
  AliableUdpACKTable m_ackTable;
  UDPDuplicateFilter m_dupFilter;
  std::atomic<uint8_t> m_stopEvent{0};  // signalled by Destroy
  std::atomic<uint32_t> m_sn;
  uint32_t m_defaultIp TZ_GUARDED_BY(m_defaultLock) = 0;
  uint16_t m_defaultPort TZ_GUARDED_BY(m_defaultLock) = 0;
  uint32_t m_defaultSn TZ_GUARDED_BY(m_defaultLock) = 0;
  TzRWLock m_defaultLock;
  TzRWLock m_tableLock;
  TzToken m_creationTokens[kCreationTokens];
};

}  // namespace AsynModel
