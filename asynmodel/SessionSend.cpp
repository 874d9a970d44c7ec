// Session::PostMsg and Session::ReplyMsg: a session's two ways of sending to
// a remote peer, to an address or back through the sender that a received
// message came with. Both build the message's PostMsgContext and hand it to a
// sender; neither logs (the caller logs the code).
//
// Ownership on every path: the context is private to the call until the
// sender hands it to a processor, which takes its own references; the call's
// own references (context, session, the sender it made) are dropped before it
// returns. A refused send keeps nothing of the caller's: the caller's bytes
// are referenced only until the datagram has been serialized, and the user
// data reference goes with the context.
#include <cstring>

#include "asynmodel/AsynManager.h"
#include "asynmodel/PostMsgContext.h"
#include "asynmodel/Session.h"
#include "asynmodel/net/TCPSender.h"
#include "asynmodel/net/UDPSender.h"
#include "platform/clock.h"
#include "platform/socket.h"
#include "tzhelper/TzIpText.h"

namespace AsynModel {

namespace {

enum SendCheck : uint32_t {
  Send_NoManager = 9,
  Send_NoSender = 10,
  Send_WrongTransport = 11,
  Send_NotRunning = 12,
  Send_TooLarge = 14,
  Send_NoMemory = 25,
  Send_BadDestination = 27,
};

constexpr uint32_t kMaxUdpBody = 2020;
constexpr uint32_t kMaxTcpBody = 2064;

// 0 when the framework can carry a send, else the refusal: 9 no manager,
// 12 not running.
uint32_t RefusalIfFrameworkNotRunning() {
  AsynManager* manager = AsynManager::GetInstanceIfExists();
  if (!manager) return Send_NoManager;
  if (manager->GetState() != Running) return Send_NotRunning;
  return 0;
}

// The Msg and the fields common to both operations.
void FillContext(PostMsgContext* c, uint32_t srcSid, uint32_t destSid, uint32_t msgId,
                 const void* data, uint32_t length, uint8_t reliable, uint32_t timeLimitMs,
                 uint32_t receiptMode, UserDataInfo* userData) {
  c->m_msg.msgTag = 1;
  c->m_msg.msgId = msgId;
  c->m_msg.srcSid = srcSid;
  c->m_msg.destSid = destSid;
  c->m_msg.form = MSG_DATA_SHARED;  // the caller's bytes, until serialized
  c->m_msg.sharedData = static_cast<const uint8_t*>(data);
  c->m_msg.sharedLength = length;
  c->m_timeLimitMs = timeLimitMs;
  c->m_receiptMode = receiptMode;
  c->m_reliable = reliable;
  c->m_createTime = plat::NowMs();
  c->m_userData = SptrUserDataInfo(userData);
}

bool UdpUsable(const PeerAddress& dest) {
  PeerAddress udpOnly = dest;
  udpOnly.tcp_ip[0] = 0;
  udpOnly.tcp_port = 0;
  return udpOnly.Usable();
}

// Host-order IPv4 of a destination's text. Every address the library sends
// to passes here, wherever it came from (a server's answer, the receiver
// file, the conversion map, a host record's own destination): text that is
// not a dotted unicast address is refused before anything is sent, instead of
// becoming the all-ones address that the system parser makes of it.
//
// A thread sends to the same few servers over and over, so the last text it
// accepted is kept with its value: a byte compare instead of a parse.
bool ParseIp(const char (&text)[16], uint32_t* hostIp) {
  struct LastAccepted {
    char text[16];
    uint32_t hostIp;
  };
  thread_local LastAccepted last = {{}, 0};
  if (last.hostIp != 0 && std::memcmp(last.text, text, sizeof(text)) == 0) {
    *hostIp = last.hostIp;
    return true;
  }
  if (!tzip::ParseUnicastIpv4(text, sizeof(text), hostIp)) return false;
  std::memcpy(last.text, text, sizeof(text));
  last.hostIp = *hostIp;
  return true;
}

}  // namespace

// Thread contract: any thread, normally a compute worker running this
// session; concurrent calls are fine (each builds its own context and sender).
uint32_t Session::PostMsg(const PeerAddress& dest, uint32_t destSid, uint32_t msgId, const void* data,
                          uint32_t length, uint8_t reliable, uint32_t timeLimitMs,
                          uint32_t receiptMode, int32_t transport, UserDataInfo* userData,
                          uint32_t localIp, uint16_t localPort) {
  if (uint32_t rc = RefusalIfFrameworkNotRunning()) return rc;
  // Nothing is allocated before the destination has been judged.
  if (dest.kind != 0 || !dest.Usable()) return Send_BadDestination;
  // Usable only through its TCP fields but sent over UDP: there is no UDP
  // address to send to, so it is refused like any unusable destination.
  if (transport != Transport_TCP && !UdpUsable(dest)) return Send_BadDestination;
  uint32_t remoteIp = 0;
  if (!ParseIp(transport != Transport_TCP ? dest.udp_ip : dest.tcp_ip, &remoteIp)) return Send_BadDestination;

  PostMsgContext* raw = PostMsgContext::Create();
  if (!raw) return Send_NoMemory;
  // The call's reference; released on every return below.
  SptrPostMsgContext context(raw);
  FillContext(raw, GetSessionID(), destSid, msgId, data, length, reliable, timeLimitMs,
              receiptMode, userData);
  raw->m_replyFlag = 0;
  raw->m_dest = dest;
  raw->m_transport = transport;
  raw->m_localIp = localIp;
  raw->m_localPort = localPort;

  SptrSession self(this);  // held across the send, dropped after it
  if (transport != Transport_TCP) {
    if (length > kMaxUdpBody) return Send_TooLarge;
    const plat::SockAddrIn remote = plat::MakeAddr(remoteIp, dest.udp_port);
    TzSptr<UDPSender> sender(new UDPSender(localIp, localPort, remote));  // pooled: may be null
    if (!sender) return Send_NoMemory;
    raw->m_sender = SptrISender(sender.get());
    return sender->AsynSendEx(context, self);
  }

  if (length > kMaxTcpBody) return Send_TooLarge;
  TzSptr<TCPSender> sender(new TCPSender(remoteIp, dest.tcp_port, localIp, localPort));
  if (!sender) return Send_NoMemory;
  raw->m_sender = SptrISender(sender.get());
  return sender->AsynSendEx(context, self);
}

// Thread contract: as PostMsg. The sender is shared with the event that
// carried it and guards itself.
uint32_t Session::ReplyMsg(const SptrISender& sender, uint32_t destSid, uint32_t msgId, const void* data,
                           uint32_t length, uint8_t reliable, uint32_t timeLimitMs,
                           uint32_t receiptMode, UserDataInfo* userData) {
  if (uint32_t rc = RefusalIfFrameworkNotRunning()) return rc;
  if (!sender) return Send_NoSender;
  const uint32_t type = sender->TransportType();
  if (type == Transport_UDP) {
    if (length > kMaxUdpBody) return Send_TooLarge;
  } else if (type == Transport_TCP) {
    if (length > kMaxTcpBody) return Send_TooLarge;
  } else {
    return Send_WrongTransport;
  }

  PostMsgContext* raw = PostMsgContext::Create();
  if (!raw) return Send_NoMemory;
  SptrPostMsgContext context(raw);  // the call's reference
  FillContext(raw, GetSessionID(), destSid, msgId, data, length, reliable, timeLimitMs,
              receiptMode, userData);
  raw->m_replyFlag = 1;
  raw->m_sender = sender;

  SptrSession self(this);
  const uint32_t transport = sender->TransportType();
  raw->m_transport = static_cast<int32_t>(transport);
  if (transport == Transport_UDP) return static_cast<UDPSender*>(sender.get())->AsynSendEx(context, self);
  if (transport == Transport_TCP) return static_cast<TCPSender*>(sender.get())->AsynSendEx(context, self);
  return Send_WrongTransport;
}

}  // namespace AsynModel
