// Owns every UDP socket: keeps them by local (IP, port), creates one the first
// time a sender needs an address, holds the default local address, keeps one
// receive posted per socket, validates received datagrams and turns them into
// message events with a reply sender, and sends (unreliable here, reliable
// with acknowledgement and resending in the reliable half of this class).
//
// Threads: every public method is safe from any thread; UDPProc runs on the
// compute workers, several at once. Lock order: creation token, then table
// lock; the default-address lock is never held while taking either.
#pragma once
#include <atomic>
#include <cstdint>
#include <map>

#include "asynmodel/Event.h"
#include "asynmodel/net/AliableUdpACKTable.h"
#include "asynmodel/net/IOProcessor.h"
#include "asynmodel/net/UDPDuplicateFilter.h"
#include "asynmodel/net/UDPIOData.h"
#include "asynmodel/net/UDPSocketItem.h"
#include "platform/socket.h"
#include "tzhelper/SessionTimer.h"
#include "tzhelper/TzToken.h"
#include "tzhelper/Tzautolock.h"

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
  Udp_NoRecvRecord = 64,
  Udp_AckPushFailed = 70,
};

class UDPIOProcess : public IOProcessor {
 public:
  static constexpr uint32_t kMaxDatagram = 2048;
  static constexpr uint32_t kCreationTokens = 40;

  explicit UDPIOProcess(CompletationPortControler* cpc);
  ~UDPIOProcess() override;

  bool Init();
  void Stop();
  void Destroy();
  void SetQuickTimer(TzQuickTimer* timer);

  uint32_t SetDefaultIPPort(uint32_t ip, uint16_t port);
  // 1 found, 2 created, -1 failed.
  int FindSocketIfNotThenCreateNewOne(uint32_t ip, uint16_t port, SptrUdpSocketItem* out,
                                      bool allowUnboundDefault);
  plat::Socket CreateANewUdpSocket(uint32_t ip, uint16_t port);

  uint32_t SendMsg(const plat::SockAddrIn& remote, const SptrUdpSocketItem& item,
                   const SptrPostMsgContext& context, const SptrSession& session);
  uint32_t UnReliableSendMsg(const plat::SockAddrIn& remote, const SptrUdpSocketItem& item,
                             const SptrPostMsgContext& context, const SptrSession& session);
  uint32_t ReliableSendMsg(const plat::SockAddrIn& remote, const SptrUdpSocketItem& item,
                           const SptrPostMsgContext& context, const SptrSession& session);
  uint32_t PostRecvPerIO(const SptrUdpSocketItem& item);

  // Completion handler: 0 deliver the receipt in *event to the record's
  // session (or the Msg's srcSid), 1 deliver the message event with *sender,
  // 2 nothing. Takes over the record on every path.
  int UDPProc(SOCKET_ITEM* item, bool success, UDPIOData* data, Event* event, SptrISender* sender);

  bool PopAndCloseSocketFromTheTable(const SptrUdpSocketItem& item);
  void PopAndCloseAllSocketFromTheTable();
  void DefaultPortInvaildCallBack(UDP_SOCKET_ITEM* item);

  // Reliable delivery.
  int AliableSendFinish(UDP_SOCKET_ITEM* item, bool success, UDPIOData* data, Event* event);
  int SetTheReSendTimer(UDPIOData* data);
  int OnReSendTimeOut(uint16_t reason, void* data);
  int AliableRecvPerIOProc(UDP_SOCKET_ITEM* item, UDPIOData* data, Event* event, SptrISender* sender);
  uint32_t PostAckPerIO(const SptrUdpSocketItem& item, const plat::SockAddrIn& dest, uint32_t sn);

  // Default address (host order); 0/0 when none.
  void GetDefault(uint32_t* ip, uint16_t* port, uint32_t* itemSn);
  size_t SocketCount();
  uint32_t NextSn();  // never 0

 private:
  struct Key {
    uint32_t ip;
    uint16_t port;
    bool operator<(const Key& o) const { return ip != o.ip ? ip < o.ip : port < o.port; }
  };
  TzToken& CreationToken(uint32_t ip, uint16_t port);
  int RecvPerIOProc(UDP_SOCKET_ITEM* item, UDPIOData* data, Event* event, SptrISender* sender);
  int UnAliableSendFinish(UDP_SOCKET_ITEM* item, bool success, UDPIOData* data, Event* event);
  void FillReceipt(UDPIOData* data, int16_t code, Event* event);

  CompletationPortControler* m_cpc;
  std::map<Key, SptrUdpSocketItem> m_items;  // guarded by m_tableLock
  std::atomic<uint8_t> m_running{0};
  SessionTimer m_resendTimer;
  AliableUdpACKTable m_ackTable;
  UDPDuplicateFilter m_dupFilter;
  std::atomic<uint32_t> m_sn;
  uint32_t m_defaultIp = 0;  // guarded by m_defaultLock
  uint16_t m_defaultPort = 0;
  uint32_t m_defaultSn = 0;
  TzRWLock m_defaultLock;
  TzRWLock m_tableLock;
  TzToken m_creationTokens[kCreationTokens];
};

}  // namespace AsynModel
