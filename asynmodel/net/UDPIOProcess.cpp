// The UDP processor: sockets and their table, find-or-create, the default
// address, the receive path, unreliable sending and removal of entries. The
// reliable half (acknowledgement, resending, receipts for reliable sends)
// lives in UDPReliable.cpp.
#include "asynmodel/net/UDPIOProcess.h"

#include <cstdio>

#include "asynmodel/AsynLog.h"
#include "asynmodel/AsynManager.h"
#include "asynmodel/CompletationPortControler.h"
#include "asynmodel/Session.h"
#include "asynmodel/SubScribeEventCallBack.h"
#include "asynmodel/net/Msg.h"
#include "asynmodel/net/RWGuard.h"
#include "asynmodel/net/UDPResendContext.h"
#include "asynmodel/net/UDPSender.h"
#include "asynmodel/net/UdpDatagram.h"
#include "platform/clock.h"
#include "tzhelper/TzQuickTimer.h"
#include "tzhelper/TzWarnLimiter.h"

namespace AsynModel {

namespace {

// Dotted text of a host-order IP, for log lines.
struct IpText {
  explicit IpText(uint32_t ipHost) { plat::InetNtoa(plat::HostToNet32(ipHost), text); }
  char text[16] = {};
};

constexpr uint32_t kDefaultLostCode = 32;

}  // namespace

UDPIOProcess::UDPIOProcess(CompletationPortControler* cpc)
    : m_cpc(cpc), m_sn(plat::CalendarSeconds()) {}

// The manager keeps its processor for the life of the process; a processor
// destroyed anyway (tests) drops its entries, whose last release closes
// their sockets.
UDPIOProcess::~UDPIOProcess() = default;

bool UDPIOProcess::Init() {
  m_closing.store(0);
  m_stopEvent.store(0);
  m_running.store(1);
  Log::writeMessage(AsynLogCategory, kLogUdpProcessor, "UDPIOProcess::Init");
  return true;
}

void UDPIOProcess::Start() { m_closing.store(0); }

void UDPIOProcess::Stop() {
  {
    ExclusiveRWGuard table(m_tableLock);
    m_closing.store(1);
  }
  PopAndCloseAllSocketFromTheTable();
  {
    ExclusiveRWGuard guard(m_defaultLock);
    m_defaultIp = 0;
    m_defaultPort = 0;
    m_defaultSn = 0;
  }
  m_dupFilter.Clear();
  Log::writeMessage(AsynLogCategory, kLogUdpProcessor, "UDPIOProcess::Stop");
}

// Sockets are gone already (Stop runs first at shutdown). The resend channel
// stays: the quick timer outlives the processor's Destroy/Init cycles.
void UDPIOProcess::Destroy() {
  m_running.store(0);
  m_stopEvent.store(1);
  Log::writeMessage(AsynLogCategory, kLogUdpProcessor, "UDPIOProcess::Destroy");
}

void UDPIOProcess::SetQuickTimer(TzQuickTimer* timer) {
  m_resendTimer = SessionTimer(timer, timer ? timer->NextChannelIndex() : 0);
}

uint32_t UDPIOProcess::NextSn() {
  uint32_t sn = m_sn.fetch_add(1) + 1;
  while (sn == 0) sn = m_sn.fetch_add(1) + 1;  // 0 marks "no sn" in the tables
  return sn;
}

void UDPIOProcess::GetDefault(uint32_t* ip, uint16_t* port, uint32_t* itemSn) {
  SharedRWGuard guard(m_defaultLock);
  if (ip) *ip = m_defaultIp;
  if (port) *port = m_defaultPort;
  if (itemSn) *itemSn = m_defaultSn;
}

size_t UDPIOProcess::SocketCount() {
  SharedRWGuard guard(m_tableLock);
  return m_items.size();
}

TzToken& UDPIOProcess::CreationToken(uint32_t ip, uint16_t port) {
  const uint64_t key = (static_cast<uint64_t>(port) << 32) | ip;
  return m_creationTokens[key % kCreationTokens];
}

// ---- sockets ---------------------------------------------------------------

plat::Socket UDPIOProcess::CreateANewUdpSocket(uint32_t ip, uint16_t port) {
  // (0, 0): the interface that carries the default route, any port.
  const uint32_t bindIp = (ip == 0 && port == 0) ? plat::PrimaryLocalIp() : ip;
  const IpText text(bindIp);

  plat::Socket s = plat::UdpSocket();
  if (s == plat::kInvalidSocket) {
    Log::writeWarning(AsynLogCategory, kLogUdpProcessor,
                      "UDPIOProcess::CreateANewUdpSocket() 创建UDP Socket失败，IP=%s Port=%u.",
                      text.text, static_cast<unsigned>(port));
    return plat::kInvalidSocket;
  }
  if (!plat::BindSocket(s, plat::MakeAddr(bindIp, port))) {
    Log::writeWarning(AsynLogCategory, kLogUdpProcessor,
                      "UDPIOProcess::CreateANewUdpSocket() 绑定UDP Socket端口失败，IP=%s Port=%u.",
                      text.text, static_cast<unsigned>(port));
    plat::CloseSocket(s);
    return plat::kInvalidSocket;
  }
  // Connection-reset reporting needs no switching off here: see platform/socket.h.
  Log::writeDebug(AsynLogCategory, kLogUdpProcessor,
                  "UDPIOProcess::CreateANewUdpSocket() 创建绑定UDP Socket成功，IP=%s Port=%u.",
                  text.text, static_cast<unsigned>(port));
  return s;
}

int UDPIOProcess::FindSocketIfNotThenCreateNewOne(uint32_t ip, uint16_t port,
                                                  SptrUdpSocketItem* out,
                                                  bool allowUnboundDefault) {
  {
    SharedRWGuard guard(m_defaultLock);
    if (ip == 0) ip = m_defaultIp;
    if (port == 0) port = m_defaultPort;
  }
  if (ip == 0 && port == 0 && !allowUnboundDefault) {
    Log::writeWarning(AsynLogCategory, kLogUdpProcessor,
                      "UDPIOProcess::FindSocketIfNotThenCreateNewOne() "
                      "系统还没有指定的默认端口或者默认端口失效，创建Socket失败。");
    return -1;
  }

  SptrUdpSocketItem item;
  {
    // One creator per address: a second caller waits and then finds the entry.
    TzTokenGuard creation(CreationToken(ip, port));
    item = FindItem(ip, port);
    if (item) {
      if (out) *out = item;
      return 1;
    }
    item = OpenItem(ip, port);
    if (!item || !InsertItem(item, ip, port)) return -1;
  }
  const IpText keyText(item->m_localIp);
  Log::writeMessage(AsynLogCategory, kLogUdpProcessor,
                    "UDPIOProcess::FindSocketIfNotThenCreateNewOne() 创建了一个新的UDP_SOCKET_ITEM，IP=%s Port=%u.",
                    keyText.text, static_cast<unsigned>(item->m_localPort));

  if (PostRecvPerIO(item) != 0) {
    Log::writeWarning(AsynLogCategory, kLogUdpProcessor,
                      "UDPIOProcess::FindSocketIfNotThenCreateNewOne() "
                      "新创建的SocketItem(ip=%s,port=%u),由于第一次投递接收失败被删除",
                      keyText.text, static_cast<unsigned>(item->m_localPort));
    PopAndCloseSocketFromTheTable(item);
    if (out) out->reset();
    return -1;
  }
  if (out) *out = item;
  return 2;
}

SptrUdpSocketItem UDPIOProcess::FindItem(uint32_t ip, uint16_t port) {
  SharedRWGuard table(m_tableLock);
  auto it = m_items.find(Key{ip, port});
  return it != m_items.end() ? it->second : SptrUdpSocketItem();
}

SptrUdpSocketItem UDPIOProcess::OpenItem(uint32_t ip, uint16_t port) {
  plat::Socket s = CreateANewUdpSocket(ip, port);
  if (s == plat::kInvalidSocket) return SptrUdpSocketItem();

  const IpText text(ip);
  SptrUdpSocketItem item(new UDP_SOCKET_ITEM(s, ip, port, &m_cpc->Port()));
  if (!item) {
    plat::CloseSocket(s);
    Log::writeWarning(AsynLogCategory, kLogUdpProcessor,
                      "UDPIOProcess::FindSocketIfNotThenCreateNewOne() 创建UDP_SOCKET_ITEM失败，IP=%s Port=%u.",
                      text.text, static_cast<unsigned>(port));
    return item;
  }
  // When the system chose the port (and for (0, 0) the IP), the entry is
  // known by what the socket is really bound to.
  item->m_localIp = ip;
  item->m_localPort = port;
  plat::SockAddrIn bound{};
  if (port == 0 && plat::GetSockName(s, &bound)) {
    item->m_localIp = plat::NetToHost32(bound.addrBe);
    item->m_localPort = plat::NetToHost16(bound.portBe);
  }

  // The system may grant less than asked; only the association decides.
  plat::SetSocketBuffers(s, kSocketBufferBytes, kSocketBufferBytes);
  if (!m_cpc->Associate(item.get())) {
    item->CloseSocket();
    Log::writeWarning(AsynLogCategory, kLogUdpProcessor,
                      "UDPIOProcess::FindSocketIfNotThenCreateNewOne() "
                      "创建的UDP_SOCKET_ITEM和完成端口绑定失败，IP=%s Port=%u.",
                      text.text, static_cast<unsigned>(port));
    return SptrUdpSocketItem();
  }
  return item;
}

bool UDPIOProcess::InsertItem(const SptrUdpSocketItem& item, uint32_t ip, uint16_t port) {
  const char* refusal = nullptr;
  try {
    ExclusiveRWGuard table(m_tableLock);
    if (m_closing.load() != 0) {
      refusal = "UDPIOProcess::FindSocketIfNotThenCreateNewOne() 框架正在停止，不再创建Socket，IP=%s Port=%u.";
    } else {
      m_items[Key{item->m_localIp, item->m_localPort}] = item;
    }
  } catch (const std::bad_alloc&) {
    refusal = "UDPIOProcess::FindSocketIfNotThenCreateNewOne() 创建UDP_SOCKET_ITEM失败，IP=%s Port=%u.";
  }
  if (refusal == nullptr) return true;
  item->CloseSocket();
  const IpText text(ip);
  Log::writeWarning(AsynLogCategory, kLogUdpProcessor, refusal, text.text, static_cast<unsigned>(port));
  return false;
}

uint32_t UDPIOProcess::SetDefaultIPPort(uint32_t ip, uint16_t port) {
  SptrUdpSocketItem item;
  if (FindSocketIfNotThenCreateNewOne(ip, port, &item, true) < 0 || !item) {
    Log::writeWarning(AsynLogCategory, kLogUdpProcessor, "UDPIOProcess::SetDefaultIPPort() 设置默认地址失败");
    return Udp_DefaultFailed;
  }
  Key old{0, 0};
  uint32_t oldSn = 0;
  {
    ExclusiveRWGuard guard(m_defaultLock);
    old = Key{m_defaultIp, m_defaultPort};
    oldSn = m_defaultSn;
    m_defaultIp = item->m_localIp;
    m_defaultPort = item->m_localPort;
    m_defaultSn = item->m_sn;
  }
  Log::writeMessage(AsynLogCategory, kLogUdpProcessor, "UDPIOProcess::SetDefaultIPPort() 设置默认地址成功");
  // The address moved: the old socket would otherwise stay open and keep
  // receiving for nobody. It is no longer the default, so no observer runs.
  if (oldSn != 0 && oldSn != item->m_sn) {
    SptrUdpSocketItem previous;
    {
      SharedRWGuard table(m_tableLock);
      auto it = m_items.find(old);
      if (it != m_items.end() && it->second->m_sn == oldSn) previous = it->second;
    }
    if (previous) PopAndCloseSocketFromTheTable(previous);
  }
  return Udp_OK;
}

// ---- receiving -------------------------------------------------------------

uint32_t UDPIOProcess::PostRecvPerIO(const SptrUdpSocketItem& item) {
  UDPIOData* data = UDPIOData::Create(UdpOp_Recv);
  if (!data) {
    Log::writeWarning(AsynLogCategory, kLogUdpProcessor, "UDPIOProcess::PostRecvPerIO() 创建UDPIOData失败");
    return Udp_NoRecvRecord;
  }
  data->stream = SptrMemStream(MemStream::Create(kMaxDatagram));
  if (!data->stream || !data->stream->Buffer()) {
    Log::writeWarning(AsynLogCategory, kLogUdpProcessor, "UDPIOProcess::PostRecvPerIO() 创建MemStream失败");
    delete data;
    return Udp_NoRecvRecord;
  }
  data->remoteLen = sizeof(plat::SockAddrIn);
  const uint32_t rc = m_cpc->Recv(item.get(), data, data->stream->Buffer(), kMaxDatagram);
  if (rc != 0) {
    Log::writeWarning(AsynLogCategory, kLogUdpProcessor,
                      "UDPIOProcess::PostRecvPerIO() 投递完成端口失败,错误码%d", static_cast<int>(rc));
    delete data;
  }
  return rc;
}

SptrISender UDPIOProcess::MakeReplySender(UDP_SOCKET_ITEM* item, const plat::SockAddrIn& source) {
  UDPSender* s = new UDPSender(SptrUdpSocketItem(item), source);  // pooled: null on exhaustion
  return SptrISender(s);
}

int UDPIOProcess::UDPProc(SOCKET_ITEM* key, bool success, UDPIOData* data, Event* event,
                          SptrISender* sender) {
  if (!data) return UdpProc_Nothing;
  UDP_SOCKET_ITEM* item = static_cast<UDP_SOCKET_ITEM*>(key);

  if (data->operation == UdpOp_Send) {
    if (!success) {
      Log::writeWarning(AsynLogCategory, kLogUdpProcessor,
                        "UDPIOProcess::UDPProc() 收到发送数据失败,错误类型:%d.", plat::LastSocketError());
    }
    const uint8_t* buf = data->stream ? data->stream->Buffer() : nullptr;
    if (buf && buf[kUdpOffReliable] == 1) return AliableSendFinish(item, success, data, event);
    return UnAliableSendFinish(item, success, data, event);
  }

  if (data->operation == UdpOp_Recv && item) {
    if (!success) {
      Log::writeWarning(AsynLogCategory, kLogUdpProcessor,
                        "UDPIOProcess::UDPProc() 收到RecvPerIO,相应的SocketItem[sn=%u]失效,被删除,错误类型:%d.",
                        item->m_sn, plat::LastSocketError());
      // No new receive: the socket is gone with its entry.
      PopAndCloseSocketFromTheTable(SptrUdpSocketItem(item));
      delete data;
      return UdpProc_Nothing;
    }
    item->m_lastUse.store(plat::CalendarSeconds());
    // Keep the socket listening before spending time on this datagram.
    SptrUdpSocketItem self(item);
    if (PostRecvPerIO(self) != 0) {
      Log::writeWarning(AsynLogCategory, kLogUdpProcessor,
                        "UDPIOProcess::UDPProc() 收到RecvPerIO投递下一个RecvPerIO,相应的SocketItem[sn=%u]失效,被删除.",
                        item->m_sn);
      PopAndCloseSocketFromTheTable(self);
    }
    return RecvPerIOProc(item, data, event, sender);
  }

  Log::writeWarning(AsynLogCategory, kLogUdpProcessor,
                    "UDPIOProcess::UDPProc() 收到RecvPerIO但具体类型不能识别，相应的SocketItem[sn=%u].",
                    item ? item->m_sn : 0u);
  delete data;
  return UdpProc_Nothing;
}

int UDPIOProcess::RecvPerIOProc(UDP_SOCKET_ITEM* item, UDPIOData* data, Event* event,
                                SptrISender* sender) {
  MemStream* stream = data->stream.get();
  const uint32_t received = data->transferred;
  const uint8_t* buf = stream ? stream->Buffer() : nullptr;

  bool ok = buf && CheckDataPacketValid(buf, received, stream->Capacity()) == UdpCheck_OK &&
            received <= kMaxDatagram;
  // A reliable datagram or ACK shorter than its 12-byte header has no sn.
  if (ok && buf[kUdpOffReliable] == 1 && received < kUdpHeaderReliable) ok = false;
  if (!ok) {
    static TzWarnLimiter limiter(AsynLogCategory, kLogUdpProcessor, "UDPIOProcess::RecvPerIOProc()");
    if (limiter.Admit()) Log::writeWarning(AsynLogCategory, kLogUdpProcessor,
                      "UDPIOProcess::RecvPerIOProc() 收到RecvPerIO，收到的包大小[%u Byte]或者内容错误，相应的SocketItem[sn=%u].",
                      received, item->m_sn);
    delete data;
    return UdpProc_Nothing;
  }

  if (buf[kUdpOffReliable] == 1) return AliableRecvPerIOProc(item, data, event, sender);

  if (!ConstructRecvEvent(stream, received, kUdpHeaderUnreliable, event)) {
    delete data;
    return UdpProc_Nothing;
  }
  if (sender) *sender = MakeReplySender(item, data->remote);
  return UdpProc_DeliverMessage;  // the worker deletes the record
}

// ---- unreliable sending ----------------------------------------------------

uint32_t UDPIOProcess::SendMsg(const plat::SockAddrIn& remote, const SptrUdpSocketItem& item,
                               const SptrPostMsgContext& context, const SptrSession& session) {
  if (!item) {
    Log::writeWarning(AsynLogCategory, kLogUdpProcessor, "UDPIOProcess::SendMsg() 输入参数SocketItem为NULL.");
    return Udp_NoSocketItem;
  }
  if (!context) {
    Log::writeWarning(AsynLogCategory, kLogUdpProcessor,
                      "UDPIOProcess::SendMsg() 输入参数SptrPostMsgContext为NULL.");
    return Udp_NoContext;
  }
  item->m_lastUse.store(plat::CalendarSeconds());
  if (context->m_reliable) return ReliableSendMsg(remote, item, context, session);
  return UnReliableSendMsg(remote, item, context, session);
}

uint32_t UDPIOProcess::BuildOrRefuse(const SendTexts& texts, const SptrPostMsgContext& context, bool reliable,
                                     uint32_t sn, SptrMemStream* stream) {
  uint32_t total = 0;
  const uint32_t built = BuildDataDatagram(context->m_msg, reliable, sn, stream, &total);
  if (built == UdpBuild_TooLarge) {
    Log::writeWarning(AsynLogCategory, kLogUdpProcessor, texts.tooLarge, total, kMaxDatagram);
    return Udp_TooLarge;
  }
  if (built == UdpBuild_NoStream) {
    Log::writeWarning(AsynLogCategory, kLogUdpProcessor, "%s", texts.noStream);
    return Udp_NoMemory;
  }
  if (built != UdpBuild_OK) {
    Log::writeWarning(AsynLogCategory, kLogUdpProcessor, "%s", texts.serializeFailed);
    return Udp_SerializeFailed;
  }
  return Udp_OK;
}

void UDPIOProcess::OnSendRefused(const SendTexts& texts, uint32_t rc, const SptrUdpSocketItem& item,
                                 const plat::SockAddrIn& remote) {
  if (rc == Udp_SocketFailed) {
    Log::writeWarning(AsynLogCategory, kLogUdpProcessor, texts.socketFailed, item->m_sn);
    PopAndCloseSocketFromTheTable(item);
  } else if (rc == Udp_BadDestination) {
    OnSendFailed(texts.where, item.get(), remote, plat::LastSocketError());
  }
}

uint32_t UDPIOProcess::UnReliableSendMsg(const plat::SockAddrIn& remote, const SptrUdpSocketItem& item,
                                         const SptrPostMsgContext& context, const SptrSession& session) {
  static const SendTexts kTexts = {
      "UnReliableSendMsg",
      "UDPIOProcess::UnReliableSendMsg() 输入的用户数据过大[%u Byte],超过了系统规定的长度%u Byte.",
      "UDPIOProcess::UnReliableSendMsg() 创建MemStream失败",
      "UDPIOProcess::UnReliableSendMsg() 序列化Msg失败",
      "UDPIOProcess::UnReliableSendMsg() 由于相应的SocketItem[sn=%u]失效发送PerIO失败,SocketItem被删除.",
  };
  SptrMemStream stream;
  const uint32_t built = BuildOrRefuse(kTexts, context, false, 0, &stream);
  if (built != Udp_OK) return built;

  UDPIOData* data = UDPIOData::Create(UdpOp_Send);
  if (!data) {
    Log::writeWarning(AsynLogCategory, kLogUdpProcessor, "UDPIOProcess::UnReliableSendMsg() 创建UDPIOData失败");
    return Udp_NoMemory;
  }

  // From here the Msg refers to the datagram, not to the caller's bytes.
  context->m_msg.UseDatagram(stream);

  data->stream = stream;
  data->context = context;
  data->targetSession = session;
  data->remote = remote;
  const uint32_t rc = m_cpc->Send(item.get(), data, stream->Buffer(), stream->DataLength());
  if (rc == 0) return Udp_OK;  // the record belongs to the port now
  OnSendRefused(kTexts, rc, item, remote);
  delete data;
  return rc;
}

int UDPIOProcess::UnAliableSendFinish(UDP_SOCKET_ITEM* item, bool success, UDPIOData* data,
                                      Event* event) {
  PostMsgContext* context = data->context.get();
  if (!success) {
    if (plat::IsDestinationError(data->overlapped.error)) {
      OnSendFailed("UnAliableSendFinish", item, data->remote, data->overlapped.error);
    } else {
      Log::writeWarning(AsynLogCategory, kLogUdpProcessor,
                        "UDPIOProcess::UnAliableSendFinish()收到一个不可靠发送完成包,相应的SocketItem[sn=%u]实效,SocketItem被删除.",
                        item ? item->m_sn : 0u);
      if (item) PopAndCloseSocketFromTheTable(SptrUdpSocketItem(item));
    }
  }
  if (context && context->WantsReceipt(success)) {
    FillReceipt(context, success ? UdpReceipt_OK : UdpReceipt_SendFailed, event);
    return UdpProc_DeliverReceipt;  // the worker deletes the record
  }
  delete data;
  return UdpProc_Nothing;
}

void UDPIOProcess::OnSendFailed(const char* where, UDP_SOCKET_ITEM* item, const plat::SockAddrIn& remote,
                                int err) {
  if (!plat::IsDestinationError(err)) {
    if (item) PopAndCloseSocketFromTheTable(SptrUdpSocketItem(item));
    return;
  }
  // The host or a peer chose the destination; many such sends must not
  // flood the log.
  static TzWarnLimiter limiter(AsynLogCategory, kLogUdpProcessor, "UDPIOProcess send refused for its destination");
  if (!limiter.Admit()) return;
  char text[16] = {};
  plat::InetNtoa(remote.addrBe, text);
  Log::writeWarning(AsynLogCategory, kLogUdpProcessor,
                    "UDPIOProcess::%s() 发往%s:%u的数据被拒绝(目的地址错误),错误类型:%d,SocketItem[sn=%u]保留.",
                    where, text, static_cast<unsigned>(plat::NetToHost16(remote.portBe)), err,
                    item ? item->m_sn : 0u);
}

void UDPIOProcess::FillReceipt(PostMsgContext* context, int16_t code, Event* event) {
  // The srcSid names the sending session: the worker finds it by that id
  // when the record carries no session.
  *event = Event::Make(context->m_msg.srcSid, SendResultEvent, plat::NowMs());
  context->AddRef();  // the event's own reference, released with the event
  event->word2 = reinterpret_cast<uintptr_t>(context);
  event->word3 = (uintptr_t{1} << 16) | static_cast<uint16_t>(code);
}

// ---- removal ---------------------------------------------------------------

bool UDPIOProcess::PopAndCloseSocketFromTheTable(const SptrUdpSocketItem& item) {
  if (!item) {
    std::fputs("删除SocketItem时出现Item为空的情况!!!!!!!!!\n", stderr);
    Log::writeWarning(AsynLogCategory, kLogUdpProcessor,
                      "UDPIOProcess::PopAndCloseSocketFromTheTable() 输入参数SocketItem错误，为NULL");
    return false;
  }
  SptrUdpSocketItem removed;  // released after the table lock
  {
    ExclusiveRWGuard table(m_tableLock);
    auto it = m_items.find(Key{item->m_localIp, item->m_localPort});
    // A newer socket on the same address stays where it is.
    if (it == m_items.end() || it->second->m_sn != item->m_sn) return false;
    it->second->CloseSocket();
    removed = std::move(it->second);
    m_items.erase(it);
  }
  const IpText text(item->m_localIp);
  Log::writeWarning(AsynLogCategory, kLogUdpProcessor,
                    "UDPIOProcess::PopAndCloseSocketFromTheTable(SpteSocketItem) 从SocketItemMap中删除IP=%s,Port=%u的SocketItem",
                    text.text, static_cast<unsigned>(item->m_localPort));
  DefaultPortInvaildCallBack(item.get());
  return true;
}

void UDPIOProcess::PopAndCloseAllSocketFromTheTable() {
  ItemMap taken;
  {
    ExclusiveRWGuard table(m_tableLock);
    for (auto& entry : m_items) entry.second->CloseSocket();
    taken.swap(m_items);
  }
  // The default-address check may call the framework observer, which may
  // re-bind through this processor: it runs after the table lock is gone.
  for (auto& entry : taken) DefaultPortInvaildCallBack(entry.second.get());
  Log::writeWarning(AsynLogCategory, kLogUdpProcessor,
                    "UDPIOProcess::PopAndCloseAllSocketFromTheTable() 从SocketItemMap中删除了所有%u个SocketItem",
                    static_cast<unsigned>(taken.size()));
}

void UDPIOProcess::DefaultPortInvaildCallBack(UDP_SOCKET_ITEM* item) {
  if (!item) return;
  AsynManager* manager = AsynManager::GetInstanceIfExists();
  IPv4AddressRecord lost{0, 0};
  bool cleared = false;
  {
    ExclusiveRWGuard guard(m_defaultLock);
    if (manager && m_defaultSn != 0 && item->m_sn == m_defaultSn) {
      lost.ip = m_defaultIp;
      lost.port = m_defaultPort;
      m_defaultIp = 0;
      m_defaultPort = 0;
      m_defaultSn = 0;
      cleared = true;
    }
  }
  if (!cleared) return;
  Log::writeWarning(AsynLogCategory, kLogUdpProcessor,
                    "UDPIOProcess::DefaultPortInvaildCallBack() 发现UDP默认地址失效回调用户");
  FrameworkEventRecord record{1, kDefaultLostCode, &lost};
  manager->InternalEventCallBack(record);
}

}  // namespace AsynModel
