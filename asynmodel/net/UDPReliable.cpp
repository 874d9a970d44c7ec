// Reliable UDP delivery: the half of UDPIOProcess that sends a datagram with
// an sn, keeps it in the acknowledgement table, resends it on a timer until
// its ACK arrives or the attempt is given up, acknowledges what arrives, and
// tells the sending session the outcome through a receipt.
//
// Read top to bottom, this file is the whole life of one reliable datagram:
//   ReliableSendMsg      build, push into m_ackTable, first transmission
//                        (TakeResendSlot, PushAckEntry: its two steps)
//   AliableSendFinish    a transmission completed: wait for the ACK or finish
//   SetTheReSendTimer    how long to wait, and when to give up
//   OnReSendTimeOut      no ACK in time: transmit again, or finish with 4
//   AliableRecvPerIOProc the receiving side: ACK data, drop duplicates,
//                        deliver; and an arriving ACK, which finishes with 0
//   PostAckPerIO         the ACK datagram itself
//
// Exactly one of the send completion, the ACK arrival and the time-out erases
// or pops an sn from m_ackTable, and only that one produces a receipt; the
// others find the sn gone and only free their record. The I/O record (with
// its stream and resend context) lives from the first transmission until the
// last completion or time-out that touches it has run.
#include <cstdint>

#include "asynmodel/AsynLog.h"
#include "asynmodel/CompletationPortControler.h"
#include "asynmodel/Session.h"
#include "asynmodel/net/Msg.h"
#include "asynmodel/net/UDPIOProcess.h"
#include "asynmodel/net/UDPResendContext.h"
#include "asynmodel/net/UdpDatagram.h"
#include "platform/clock.h"
#include "tzhelper/TzQuickTimer.h"
#include "tzhelper/TzWarnLimiter.h"

namespace AsynModel {

namespace {

// The sn a reliable record was sent with: its resend context's, or the one
// in the datagram when (for an ACK) there is no context.
uint32_t RecordSn(const UDPIOData* data) {
  if (data->resend) return data->resend->m_sn;
  const uint8_t* buf = data->stream ? data->stream->Buffer() : nullptr;
  return buf ? wire::GetU32(buf + kUdpOffSn) : 0;
}

}  // namespace

uint32_t UDPIOProcess::ReliableSendMsg(const plat::SockAddrIn& remote, const SptrUdpSocketItem& item,
                                       const SptrPostMsgContext& context, const SptrSession& session) {
  static const SendTexts kTexts = {
      "ReliableSendMsg",
      "UDPIOProcess::ReliableSendMsg() 输入的用户数据过大[%u Byte],超过了系统规定的长度%u Byte.",
      "UDPIOProcess::ReliableSendMsg() 分配MemStream空间失败.",
      "UDPIOProcess::ReliableSendMsg() 序列化Msg失败.",
      "UDPIOProcess::ReliableSendMsg() 由于相应的SocketItem[sn=%u]失效发送PerIO失败,SocketItem被删除.",
  };
  // Taken before any check, so a refused send uses up its sn.
  const uint32_t sn = NextSn();
  SptrMemStream stream;
  const uint32_t built = BuildOrRefuse(kTexts, context, true, sn, &stream);
  if (built != Udp_OK) return built;

  uint32_t refusal = Udp_OK;
  SptrUDPResendContext resend = TakeResendSlot(remote, sn, context, item, &refusal);
  if (!resend) return refusal;
  UDPIOData* data = UDPIOData::Create(UdpOp_Send);
  if (!data) {
    Log::writeWarning(AsynLogCategory, kLogUdpProcessor, "UDPIOProcess::ReliableSendMsg() 创建UDPIOData失败.");
    return Udp_NoMemory;
  }

  // From here the Msg refers to the datagram, not to the caller's bytes; a
  // receipt shows the body as it went out.
  context->m_msg.UseDatagram(stream);

  data->stream = stream;
  data->context = context;
  data->resend = resend;
  data->targetSession = session;
  data->remote = remote;

  // In the table before the first transmission: an ACK may beat the send
  // completion back.
  if (!PushAckEntry(sn, context, session, resend)) {
    delete data;
    return Udp_AckPushFailed;
  }

  const uint32_t rc = m_cpc->Send(item.get(), data, stream->Buffer(), stream->DataLength());
  if (rc == 0) return Udp_OK;  // the record belongs to the port now
  OnSendRefused(kTexts, rc, item, remote);
  // The caller has the code; a send that never started gets no receipt.
  m_ackTable.Erase(sn);
  delete data;
  return rc;
}

SptrUDPResendContext UDPIOProcess::TakeResendSlot(const plat::SockAddrIn& remote, uint32_t sn,
                                                  const SptrPostMsgContext& context,
                                                  const SptrUdpSocketItem& item, uint32_t* refusal) {
  uint32_t window = PeerFlightQuota::kStartWindow;
  if (!m_flightQuota.Acquire(remote, &window)) {
    static TzWarnLimiter limiter(AsynLogCategory, kLogUdpProcessor, "UDPIOProcess reliable send over the peer cap");
    if (limiter.Admit()) {
      char text[16] = {};
      plat::InetNtoa(remote.addrBe, text);
      Log::writeWarning(AsynLogCategory, kLogUdpProcessor,
                        "UDPIOProcess::ReliableSendMsg() 发往%s:%u的可靠数据已有%u个未确认,拒绝发送.", text,
                        static_cast<unsigned>(plat::NetToHost16(remote.portBe)), window);
    }
    *refusal = Udp_PeerBusy;
    return SptrUDPResendContext();
  }
  SptrUDPResendContext resend(
      UDPResendContext::Create(sn, plat::NowMs(), context->m_timeLimitMs, item));
  if (!resend) {
    m_flightQuota.Release(remote, PeerFlightQuota::Withdrawn);
    Log::writeWarning(AsynLogCategory, kLogUdpProcessor,
                      "UDPIOProcess::ReliableSendMsg() 创建SptrUDPResendContext失败.");
    *refusal = Udp_NoMemory;
    return resend;
  }
  // From here the context gives the slot back when it ends.
  resend->HoldQuota(&m_flightQuota, remote);
  return resend;
}

bool UDPIOProcess::PushAckEntry(uint32_t sn, const SptrPostMsgContext& context, const SptrSession& session,
                                const SptrUDPResendContext& resend) {
  const int pushed = m_ackTable.Push(sn, context, session, resend);
  if (pushed == 0) return true;
  if (pushed == -1) {
    Log::writeWarning(AsynLogCategory, kLogUdpProcessor,
                      "UDPIOProcess::ReliableSendMsg() m_ackTable.push 失败：已经存在");
  } else {
    Log::writeWarning(AsynLogCategory, kLogUdpProcessor,
                      "UDPIOProcess::ReliableSendMsg() m_ackTable.push 失败：队列太大，拒绝服务");
  }
  return false;
}

int UDPIOProcess::AliableSendFinish(UDP_SOCKET_ITEM* item, bool success, UDPIOData* data,
                                    Event* event) {
  const uint8_t* buf = data->stream->Buffer();
  if (buf[kUdpOffAck] == 1) {
    // An ACK we sent: nothing waits for it.
    if (!success && plat::IsDestinationError(data->overlapped.error)) {
      OnSendFailed("AliableSendFinish", item, data->remote, data->overlapped.error);
    } else if (!success) {
      if (item) PopAndCloseSocketFromTheTable(SptrUdpSocketItem(item));
      Log::writeWarning(AsynLogCategory, kLogUdpProcessor,
                        "UDPIOProcess::AliableSendFinish() 收到一个ACK发送完成包,相应的SocketItem[sn=%u]失效,SocketItem被删除.",
                        item ? item->m_sn : 0u);
    }
    delete data;
    return UdpProc_Nothing;
  }

  const uint32_t sn = RecordSn(data);
  int16_t code;
  if (!success) {
    if (plat::IsDestinationError(data->overlapped.error)) {
      OnSendFailed("AliableSendFinish", item, data->remote, data->overlapped.error);
    } else {
      if (item) PopAndCloseSocketFromTheTable(SptrUdpSocketItem(item));
      Log::writeWarning(AsynLogCategory, kLogUdpProcessor,
                        "UDPIOProcess::AliableSendFinish() 收到一个可靠数据发送完成包,相应的SocketItem[sn=%u],SocketItem被删除.",
                        item ? item->m_sn : 0u);
    }
    code = UdpReceipt_SendFailed;
  } else {
    if (!m_ackTable.Find(sn)) {
      // The ACK came back before this completion and gave the receipt.
      delete data;
      return UdpProc_Nothing;
    }
    const int armed = SetTheReSendTimer(data);
    if (armed == 0) return UdpProc_Nothing;  // the timer owns the record now
    code = armed == -1 ? UdpReceipt_TimerFailed : UdpReceipt_Timeout;
  }

  PostMsgContext* context = data->context.get();
  if (m_ackTable.Erase(sn) && context && context->WantsReceipt(false)) {
    FillReceipt(context, code, event);
    return UdpProc_DeliverReceipt;  // the worker deletes the record
  }
  delete data;
  return UdpProc_Nothing;
}

int UDPIOProcess::SetTheReSendTimer(UDPIOData* data) {
  UDPResendContext* resend = data->resend.get();
  if (!resend) return -2;
  const int64_t now = plat::NowMs();
  const int64_t elapsed = now - resend->m_start;
  if (resend->HasLimit() && elapsed >= static_cast<int64_t>(resend->m_limitMs)) return -2;
  if (!resend->HasLimit() && resend->m_sendCount > kMaxSendsWithoutLimit) return -2;

  // With a limit, one wait up to it; without, 200 ms more after each send.
  const int64_t delay = resend->HasLimit()
                            ? resend->m_start + static_cast<int64_t>(resend->m_limitMs) - now
                            : static_cast<int64_t>(resend->m_sendCount) * kResendStepMs;
  typedef TzQuickTimerQueue<UDPIOProcess, &UDPIOProcess::OnReSendTimeOut> ResendQueue;
  if (!m_resendTimer.SetTimer(static_cast<uint32_t>(delay), this, &ResendQueue::Thunk, data)) {
    Log::writeWarning(AsynLogCategory, kLogUdpProcessor, "UDPIOProcess::SetTheReSendTimer() 设置Timer失败.");
    return -1;
  }
  return 0;
}

int UDPIOProcess::OnReSendTimeOut(uint16_t reason, void* record) {
  UDPIOData* data = static_cast<UDPIOData*>(record);
  if (!data) return 0;
  const uint32_t sn = RecordSn(data);
  if (!data->resend || !m_ackTable.Find(sn)) {
    delete data;  // acknowledged meanwhile
    return 0;
  }

  int16_t code = UdpReceipt_Timeout;
  UDPResendContext* resend = data->resend.get();
  const int64_t elapsed = plat::NowMs() - resend->m_start;
  const bool withinLimit = !resend->HasLimit() || elapsed < static_cast<int64_t>(resend->m_limitMs);
  // Reason 1: the timer service is clearing its timers (shutdown); finish
  // without sending again.
  if (withinLimit && reason != 1) {
    ++resend->m_sendCount;
    resend->NoteResend();
    data->transferred = 0;
    data->ZeroOverlapped();
    // The same stream again: the datagram is built once.
    const uint32_t rc = m_cpc->Send(resend->m_item.get(), data, data->stream->Buffer(),
                                    data->stream->DataLength());
    if (rc == 0) return 0;  // the next completion comes to AliableSendFinish
    if (rc == Udp_BadDestination) {
      OnSendFailed("OnReSendTimeOut", resend->m_item.get(), data->remote, plat::LastSocketError());
    } else {
      Log::writeWarning(AsynLogCategory, kLogUdpProcessor,
                        "UDPIOProcess::OnReSendTimeOut() SocketItem[sn = %u]完成端口发送包失败,超时重发次数[num = %u].",
                        resend->m_item ? resend->m_item->m_sn : 0u, resend->m_sendCount);
      PopAndCloseSocketFromTheTable(resend->m_item);
    }
    code = UdpReceipt_SendFailed;
  }

  PostMsgContext* context = data->context.get();
  if (m_ackTable.Erase(sn) && context && context->WantsReceipt(false)) {
    Event event;
    FillReceipt(context, code, &event);
    const uint32_t posted = m_cpc->PostLocalEvent(event, nullptr, data->targetSession.get());
    if (posted != 0) {
      Log::writeWarning(AsynLogCategory, kLogUdpProcessor,
                        "UDPIOProcess::OnReSendTimeOut() SocketItem[sn = %u]完成端口发送高级消息失败.",
                        resend->m_item ? resend->m_item->m_sn : 0u);
      context->Release();  // the event's reference: the event never left
    }
  }
  delete data;
  return 0;
}

int UDPIOProcess::AliableRecvPerIOProc(UDP_SOCKET_ITEM* item, UDPIOData* data, Event* event,
                                       SptrISender* sender) {
  MemStream* stream = data->stream.get();
  const uint8_t* buf = stream->Buffer();
  const uint32_t received = data->transferred;
  const uint32_t sn = wire::GetU32(buf + kUdpOffSn);

  if (buf[kUdpOffAck] != 1) {
    // Acknowledge first, duplicates included: the peer resends until one of
    // our ACKs reaches it.
    SptrUdpSocketItem self(item);
    if (PostAckPerIO(self, data->remote, sn) == Udp_SocketFailed) {
      Log::writeWarning(AsynLogCategory, kLogUdpProcessor,
                        "UDPIOProcess::AliableRecvPerIOProc() 收到一个可靠数据包后投递一个ACK回应包失败,相应的SocketItem[sn=%u]失效,被删除.",
                        item->m_sn);
      PopAndCloseSocketFromTheTable(self);
    }
    if (!m_dupFilter.Insert(plat::NetToHost32(data->remote.addrBe),
                            plat::NetToHost16(data->remote.portBe), sn)) {
      delete data;  // a resent copy of something already delivered
      return UdpProc_Nothing;
    }
    if (!ConstructRecvEvent(stream, received, kUdpHeaderReliable, event)) {
      delete data;
      return UdpProc_Nothing;
    }
    if (sender) *sender = MakeReplySender(item, data->remote);
    return UdpProc_DeliverMessage;  // the worker deletes the record
  }

  if (sn == 0) {
    static TzWarnLimiter limiter(AsynLogCategory, kLogUdpProcessor, "UDPIOProcess::AliableRecvPerIOProc() sn 0");
    if (limiter.Admit()) Log::writeWarning(AsynLogCategory, kLogUdpProcessor,
                      "UDPIOProcess::AliableRecvPerIOProc() 收到的PerIO数据错误SN为0，相应的SocketItem[sn=%u].",
                      item->m_sn);
    delete data;
    return UdpProc_Nothing;
  }
  // An ACK: whoever pops the sn finishes the datagram. The resend timer, if
  // armed, later finds it gone and only frees its record.
  SptrPostMsgContext context;
  SptrSession session;
  if (m_ackTable.Pop(sn, &context, &session) && context && context->WantsReceipt(true)) {
    // The receipt goes to the session that sent, as from the other two
    // paths; without one, the worker finds the sender by srcSid.
    FillReceipt(context.get(), UdpReceipt_OK, event);
    data->targetSession = std::move(session);
    return UdpProc_DeliverReceipt;
  }
  delete data;
  return UdpProc_Nothing;
}

uint32_t UDPIOProcess::PostAckPerIO(const SptrUdpSocketItem& item, const plat::SockAddrIn& dest,
                                    uint32_t sn) {
  UDPIOData* data = UDPIOData::Create(UdpOp_Send);
  if (!data) {
    Log::writeWarning(AsynLogCategory, kLogUdpProcessor, "UDPIOProcess::PostAckPerIO() 创建UDPIOData失败");
    return Udp_NoRecvRecord;
  }
  data->stream = SptrMemStream(MemStream::Create(kUdpAckLength));
  if (!data->stream || !data->stream->Buffer()) {
    Log::writeWarning(AsynLogCategory, kLogUdpProcessor, "UDPIOProcess::PostAckPerIO() 创建MemStream失败");
    delete data;
    return Udp_NoMemory;
  }
  WriteAck(data->stream->Buffer(), sn);
  data->stream->SetDataLength(kUdpAckLength);
  data->remote = dest;

  const uint32_t rc = m_cpc->Send(item.get(), data, data->stream->Buffer(), kUdpAckLength);
  if (rc != 0) {
    Log::writeWarning(AsynLogCategory, kLogUdpProcessor,
                      "UDPIOProcess::PostAckPerIO() SocketItem[sn = %u]完成端口发送包失败,错误码%d.",
                      item ? item->m_sn : 0u, static_cast<int>(rc));
    delete data;
  }
  return rc;
}

}  // namespace AsynModel
