// The receive half of the TCP processor: the completion dispatch, connect
// completion, frame reception (a 6-byte header receive, then a body receive
// of exactly the announced length, then the next header once the message
// has been handed on) and accepted connections.
#include <cstdint>

#include "asynmodel/AsynLog.h"
#include "asynmodel/CompletationPortControler.h"
#include "asynmodel/Session.h"
#include "asynmodel/net/Msg.h"
#include "asynmodel/net/RWGuard.h"
#include "asynmodel/net/TCPIOProcessor.h"
#include "asynmodel/net/TCPSender.h"
#include "asynmodel/net/TcpFrame.h"
#include "platform/clock.h"
#include "tzhelper/TzWireBytes.h"

namespace AsynModel {

namespace {

// Reads both ends of a connected socket under its token (the handle cannot
// be closed and reused meanwhile). False when either is unknown.
bool ConnectedAddrs(TCP_SOCKET_ITEM* item, plat::SockAddrIn* local, plat::SockAddrIn* remote) {
  TzTokenGuard token(item->m_token);
  const plat::Socket s = item->m_socket.load();
  return s != plat::kInvalidSocket && plat::GetSockName(s, local) && plat::GetPeerName(s, remote);
}

}  // namespace

int TCPIOProcessor::TCPProc(SOCKET_ITEM* item, bool success, PerIO* perio, Event* event, SptrISender* sender) {
  TCPIOData* data = static_cast<TCPIOData*>(perio);
  TCP_SOCKET_ITEM* tcp = static_cast<TCP_SOCKET_ITEM*>(item);
  if (tcp == nullptr || tcp->m_isUdp != 0) {
    delete data;  // no entry to carry on with
    return TcpProc_Nothing;
  }
  switch (data->operation) {
    case TCP_IO_SEND:
      return TCPIOSendProc(tcp, success, data, event);
    case TCP_IO_RECV_H:
      return TCPIORecvHProc(tcp, success, data);
    case TCP_IO_RECV_B:
      return TCPIORecvBProc(tcp, success, data, event, sender);
    case TCP_IO_ACCEPT:
      return TCPIOAcceptProc(tcp, success, data);
    case TCP_IO_CONNECT:
      return TCPIOConnectProc(tcp, success, data);
    default:
      delete data;
      return TcpProc_Nothing;
  }
}

// 0, or the controller's code (the record is freed then).
uint32_t TCPIOProcessor::PostRecvHeader(TCP_SOCKET_ITEM* item) {
  TCPIOData* data = new TCPIOData();  // private heap: null instead of throwing
  SptrMemStream header(MemStream::Create(kTcpFrameHeader));
  if (data == nullptr || !header || header->Buffer() == nullptr) {
    delete data;
    return CPC_NoMemory;
  }
  data->kind = PerIO_TCP;
  data->operation = TCP_IO_RECV_H;
  data->createTime = plat::NowMs();
  data->stream = header;
  const uint32_t rc = m_cpc->Recv(item, data, header->Buffer(), kTcpFrameHeader);
  if (rc != 0) delete data;
  return rc;
}

int TCPIOProcessor::TCPIOConnectProc(TCP_SOCKET_ITEM* item, bool success, TCPIOData* data) {
  delete data;
  SptrTcpSocketItem hold(item);
  if (!success) {
    Log::writeError(AsynLogCategory, kLogTcpProcessor,
                    "TCPIOProcessor::TCPIOConnectProc 对于[SN %u]的SocketItem，完成端口发生错误，错误ID为%d，删除该SocketItem。",
                    item->m_sn, plat::LastSocketError());
    DeleteItem(hold, TcpDelete_Connect);
    return TcpProc_Nothing;
  }
  plat::SockAddrIn local{};
  plat::SockAddrIn remote{};
  if (ConnectedAddrs(item, &local, &remote)) {
    if (local.addrBe == remote.addrBe && local.portBe == remote.portBe) {
      char ip[16] = {};
      Log::writeError(AsynLogCategory, kLogTcpProcessor,
                      "TCPIOProcessor::TCPIOConnectProc 连接失败 SocketItem[SN %u]，LocalAddr == RemoteAddr IP:%s Port:%d。",
                      item->m_sn, plat::InetNtoa(local.addrBe, ip), static_cast<int>(plat::NetToHost16(local.portBe)));
      DeleteItem(hold, TcpDelete_Socket);
      return TcpProc_Nothing;
    }
    item->m_uLocalIP = local.addrBe;
    item->m_uLocalPort = plat::NetToHost16(local.portBe);
  }
  if (PostRecvHeader(item) != 0) {
    Log::writeError(AsynLogCategory, kLogTcpProcessor,
                    "TCPIOProcessor::TCPIOConnectProc 对于[SN %u]的SocketItem，投递Recv包失败，删除该SocketItem。", item->m_sn);
    DeleteItem(hold, TcpDelete_Socket);
    return TcpProc_Nothing;
  }
  SendNext(item);
  return TcpProc_Nothing;
}

int TCPIOProcessor::TCPIORecvHProc(TCP_SOCKET_ITEM* item, bool success, TCPIOData* data) {
  SptrTcpSocketItem hold(item);
  if (!success) {
    Log::writeError(AsynLogCategory, kLogTcpProcessor,
                    "TCPIOProcessor::TCPIORecvHProc 对于[SN %u]的SocketItem，发生完成端口错误,错误ID为%d，删除该socketItem。",
                    item->m_sn, plat::LastSocketError());
    delete data;
    DeleteItem(hold, TcpDelete_Completion);
    return TcpProc_Nothing;
  }
  // Peer closed (0 bytes), more than asked, or a header that cannot start a
  // frame: all end the connection.
  const uint64_t total = uint64_t{data->done} + data->transferred;
  bool bad = data->transferred == 0 || total > kTcpFrameHeader || !item->IsValid();
  if (!bad && total < kTcpFrameHeader) {
    data->done = static_cast<uint32_t>(total);
    if (m_cpc->Recv(item, data, data->stream->Buffer() + data->done, kTcpFrameHeader - data->done) == 0) {
      return TcpProc_Nothing;
    }
    bad = true;
  }
  uint32_t bodyLength = 0;
  if (!bad) bad = ReadTcpFrameHeader(data->stream->Buffer(), kTcpFrameHeader, &bodyLength) != TcpFrame_OK;
  SptrMemStream body;
  if (!bad) {
    body = SptrMemStream(MemStream::Create(bodyLength));
    bad = !body || body->Buffer() == nullptr;
  }
  if (bad) {
    Log::writeError(AsynLogCategory, kLogTcpProcessor,
                    "TCPIOProcessor::TCPIORecvHProc 对于[SN %u]的SocketItem，CheckRecvData中发现TCPSocketError，删除SocketItem。",
                    item->m_sn);
    delete data;
    DeleteItem(hold, TcpDelete_Socket);
    return TcpProc_Nothing;
  }
  data->operation = TCP_IO_RECV_B;
  data->stream = body;
  data->done = 0;
  if (m_cpc->Recv(item, data, body->Buffer(), bodyLength) == 0) return TcpProc_Nothing;
  Log::writeError(AsynLogCategory, kLogTcpProcessor,
                  "TCPIOProcessor::TCPIORecvBProc 对于[SN %u]的SocketItem，投递接收包失败，删除该socketItem。", item->m_sn);
  delete data;
  DeleteItem(hold, TcpDelete_Socket);
  return TcpProc_Nothing;
}

int TCPIOProcessor::TCPIORecvBProc(TCP_SOCKET_ITEM* item, bool success, TCPIOData* data, Event* event,
                                   SptrISender* sender) {
  SptrTcpSocketItem hold(item);
  if (!success) {
    Log::writeError(AsynLogCategory, kLogTcpProcessor,
                    "TCPIOProcessor::TCPIORecvBProc 对于[SN %u]的SocketItem，完成端口发生错误，错误ID为%d，删除该socketItem。",
                    item->m_sn, plat::LastSocketError());
    delete data;
    DeleteItem(hold, TcpDelete_Completion);
    return TcpProc_Nothing;
  }
  MemStream* body = data->stream.get();
  const uint64_t total = uint64_t{data->done} + data->transferred;
  // The receive just completed asked for the rest of the body.
  const uint64_t wanted = uint64_t{data->done} + data->bufLength;
  bool bad = data->transferred == 0 || total > wanted || !item->IsValid();
  if (!bad && total < wanted) {
    data->done = static_cast<uint32_t>(total);
    const uint32_t rest = static_cast<uint32_t>(wanted - total);
    if (m_cpc->Recv(item, data, body->Buffer() + data->done, rest) == 0) return TcpProc_Nothing;
    Log::writeError(AsynLogCategory, kLogTcpProcessor,
                    "TCPIOProcessor::TCPIORecvBProc 对于[SN %u]的SocketItem，投递接收包失败，删除该socketItem。", item->m_sn);
    delete data;
    DeleteItem(hold, TcpDelete_Socket);
    return TcpProc_Nothing;
  }
  // A body shorter than a Msg image holds no message.
  Msg* msg = bad || total < Msg::kWireHeader ? nullptr : new Msg();  // pooled: null instead of throwing
  if (msg == nullptr) {
    Log::writeError(AsynLogCategory, kLogTcpProcessor,
                    "TCPIOProcessor::TCPIORecvBProc 对于[SN %u]的SocketItem，接收数据时发生错误，删除该socketItem。", item->m_sn);
    delete data;
    DeleteItem(hold, TcpDelete_Socket);
    return TcpProc_Nothing;
  }
  const uint8_t* image = body->Buffer();
  msg->msgTag = wire::GetU32(image);
  msg->msgId = wire::GetU32(image + 4);
  msg->srcSid = wire::GetU32(image + 8);
  msg->destSid = wire::GetU32(image + 12);
  msg->form = MSG_DATA_MEMSTREAM;
  msg->stream = data->stream;
  body->SetDataLength(static_cast<uint32_t>(total));
  body->SetPayloadOffset(Msg::kWireHeader);
  *event = Event::Make(msg->destSid, MsgEvent, plat::NowMs());
  event->word2 = reinterpret_cast<uintptr_t>(msg);  // the event owns the Msg now
  item->m_lastUse.store(plat::CalendarSeconds());
  if (item->m_uRemoteIP != 0 && item->m_uRemotePort != 0) {
    *sender = SptrISender(new TCPSender(hold));  // pooled: null on exhaustion
  }
  return TcpProc_DeliverMessage;  // DeliverEvent posts the next header receive
}

void TCPIOProcessor::DeliverEvent(SptrISender& sender, Event& event, SOCKET_ITEM* item) {
  IOProcessor::DeliverEvent(sender, event, item);
  TCP_SOCKET_ITEM* tcp = static_cast<TCP_SOCKET_ITEM*>(item);
  // A connection deleted meanwhile (closed by the check, or at Stop) has
  // nothing more to receive.
  if (tcp == nullptr || !tcp->IsValid() || PostRecvHeader(tcp) == 0) return;
  Log::writeError(AsynLogCategory, kLogTcpProcessor,
                  "TCPIOProcessor::TCPIORecvBProc 对于[SN %u]的SocketItem，投递接收包失败，删除该socketItem。", tcp->m_sn);
  DeleteItem(SptrTcpSocketItem(tcp), TcpDelete_Socket);
}

// ---- listening and accepting ------------------------------------------------------

int TCPIOProcessor::AddListenAddr(uint32_t ip, uint16_t port, uint16_t* boundPort) {
  plat::Socket s = plat::kInvalidSocket;
  if (CreateBoundSocket(plat::HostToNet32(ip), port, &s) != 0) return -1;
  plat::SockAddrIn bound{};
  SptrTcpSocketItem item(new TCP_SOCKET_ITEM(s, &m_cpc->Port()));
  if (!item) {
    plat::CloseSocket(s);
    return -1;
  }
  if (!plat::ListenSocket(s, 128) || !plat::GetSockName(s, &bound) || !m_cpc->Associate(item.get())) {
    item->CloseSocket();
    return -1;
  }
  item->m_uLocalIP = bound.addrBe;
  item->m_uLocalPort = plat::NetToHost16(bound.portBe);
  item->m_autoConnect = 0;
  if (!m_cpc->Accept(item.get())) {
    item->CloseSocket();
    return -1;
  }
  {
    ExclusiveRWGuard guard(m_listenLock);
    m_listens[Key{item->m_uLocalIP, item->m_uLocalPort}] = item;
  }
  if (boundPort != nullptr) *boundPort = item->m_uLocalPort;
  return 0;
}

int TCPIOProcessor::TCPIOAcceptProc(TCP_SOCKET_ITEM* listenItem, bool success, TCPIOData* data) {
  const plat::Socket accepted = data->overlapped.acceptSocket;
  delete data;
  if (success && accepted != plat::kInvalidSocket && !AdoptAccepted(listenItem, accepted)) {
    plat::CloseSocket(accepted);
  }
  // A listening socket that failed is closed; its accept is not renewed.
  if (listenItem->IsValid() && m_started.load() != 0) m_cpc->Accept(listenItem);
  return TcpProc_Nothing;
}

// False when the connection is refused; the caller closes the socket then.
bool TCPIOProcessor::AdoptAccepted(TCP_SOCKET_ITEM* listenItem, plat::Socket s) {
  plat::SockAddrIn local{};
  plat::SockAddrIn remote{};
  if (!plat::GetSockName(s, &local) || !plat::GetPeerName(s, &remote)) return false;
  if (plat::NetToHost16(local.portBe) != listenItem->m_uLocalPort ||
      (listenItem->m_uLocalIP != 0 && local.addrBe != listenItem->m_uLocalIP)) {
    return false;
  }
  const Key key{remote.addrBe, plat::NetToHost16(remote.portBe)};
  TzTokenGuard creation(CreationToken(key.ip, key.port));
  {
    SharedRWGuard table(m_tableLock);
    if (m_items.count(key) != 0) {
      Log::writeWarning(AsynLogCategory, kLogTcpProcessor,
                        "TCPIOProcessor::TCPIOAcceptProc 对于[SN %u]的SocketItem，\t\t\t\t\t\t\t\taccept出来的对方IP，Port SocketItem表中已有,代表对方重复绑定Socket，\t\t\t\t\t\t\t\t暂不支持该操作，废弃掉此次ACCEPT，关闭Socket。",
                        listenItem->m_sn);
      return false;
    }
  }
  SptrTcpSocketItem item(new TCP_SOCKET_ITEM(s, &m_cpc->Port()));
  if (!item) return false;
  item->m_uRemoteIP = key.ip;
  item->m_uRemotePort = key.port;
  item->m_uLocalIP = local.addrBe;
  item->m_uLocalPort = plat::NetToHost16(local.portBe);
  item->m_autoConnect = listenItem->m_autoConnect;
  {
    TzAutoLock guard(&item->m_lock);
    item->m_state = TCP_SOCKET_IDLE;
  }
  if (!PrepareEntry(item.get())) return true;  // closed already
  {
    ExclusiveRWGuard table(m_tableLock);
    m_items[key] = item;
  }
  if (PostRecvHeader(item.get()) != 0) DeleteItem(item, TcpDelete_Socket);
  return true;
}

}  // namespace AsynModel
