// The send half of the TCP processor. The life of one message:
//
//   PostUserData      frames the Msg into a send record, numbers it, arms
//                     its time-out, and queues it or, on an idle
//                     connection, starts sending it
//   TCPIOSendProc     the send completion: re-post a partial transfer, or
//                     finish the frame, start the next one and give the
//                     success (or failure) receipt
//   SendNext          takes the next queued record, or leaves the entry idle
//   SetTCPSendTimeOutTimer / OnTCPSendTimeOut
//                     the time limit: a queued message is dropped with
//                     code 4; one being sent is reported with code 5 and
//                     still goes out
//
// A record is owned by its entry's queue while queued and by the port while
// its send is in flight. Its receipt flag is read and set under the entry's
// lock, so a message gets at most one receipt.
#include <cstdint>

#include "asynmodel/AsynLog.h"
#include "asynmodel/CompletationPortControler.h"
#include "asynmodel/Session.h"
#include "asynmodel/net/TCPIOProcessor.h"
#include "asynmodel/net/TcpFrame.h"
#include "platform/clock.h"
#include "tzhelper/TzQuickTimer.h"

namespace AsynModel {

namespace {

// What a send time-out carries to the timer thread.
struct TcpTimeoutContext : public TzPooled<TcpTimeoutContext, TzListMemAllocMethod> {
  SptrTcpSocketItem item;
  SptrPostMsgContext context;
  uint32_t seq = 0;
  uint32_t queue = 0;
};

uint64_t WireBytes(const Msg& msg) {
  uint64_t n = Msg::kWireHeader;
  if (msg.form == MSG_DATA_LINKBUFF && msg.linkBuff) n += msg.linkBuff->TotalLength();
  if (msg.form == MSG_DATA_SHARED && msg.sharedData) n += msg.sharedLength;
  return n;
}

// Queue of a time-out: 200 ms steps below 1 s, 1 s steps below 10 s, then
// one queue for everything longer.
uint32_t TimeoutQueue(uint32_t ms) {
  if (ms < 1000) return ms / 200;
  if (ms < 10000) return ms / 1000 + 4;
  return 14;
}

uint32_t NowSeconds() { return plat::CalendarSeconds(); }

}  // namespace

// Ownership: on success the record holds its own references to the context
// and the session; the context's Msg refers to the frame from then on.
TCPIOData* TCPIOProcessor::BuildSendRecord(const SptrPostMsgContext& context, const SptrSession& session,
                                           int* rc) {
  const uint64_t body = WireBytes(context->m_msg);
  if (body > kTcpMaxSendBody) {
    *rc = -2;
    return nullptr;
  }
  SptrMemStream frame(MemStream::Create(static_cast<uint32_t>(kTcpFrameHeader + body)));
  TCPIOData* data = new TCPIOData();  // private heap: null instead of throwing
  if (!frame || frame->Buffer() == nullptr || data == nullptr) {
    delete data;
    *rc = -1;
    return nullptr;
  }
  uint8_t* buf = frame->Buffer();
  uint32_t header = 0;
  const int32_t written = context->m_msg.Serialize(buf + kTcpFrameHeader, frame->Capacity() - kTcpFrameHeader, &header);
  if (written < 0) {
    delete data;
    *rc = -1;
    return nullptr;
  }
  WriteTcpFrameHeader(buf, static_cast<uint32_t>(written));
  frame->SetDataLength(kTcpFrameHeader + static_cast<uint32_t>(written));
  frame->SetPayloadOffset(kTcpFrameHeader + Msg::kWireHeader);
  context->m_msg.UseDatagram(frame);

  data->kind = PerIO_TCP;
  data->operation = TCP_IO_SEND;
  data->createTime = plat::NowMs();
  data->targetSession = session;
  data->context = context;
  data->stream = frame;
  *rc = 0;
  return data;
}

// 0, or the controller's code; the record stays the caller's on failure.
uint32_t TCPIOProcessor::StartSend(TCP_SOCKET_ITEM* item, TCPIOData* data) {
  MemStream* frame = data->stream.get();
  return m_cpc->Send(item, data, frame->Buffer() + data->done, frame->DataLength() - data->done);
}

int TCPIOProcessor::PostUserData(const SptrTcpSocketItem& item, const SptrPostMsgContext& context,
                                 const SptrSession& session) {
  int rc = 0;
  TCPIOData* data = BuildSendRecord(context, session, &rc);
  if (data == nullptr) return rc;
  data->seq = item->m_seq.fetch_add(1) + 1;

  // Armed before the entry's lock is taken: clearing the timer runs the
  // callback, which takes that lock, under the timer's own lock.
  const bool limited = context->m_timeLimitMs != kNoTimeLimit;
  if (limited && !SetTCPSendTimeOutTimer(item, context, data->seq)) {
    delete data;
    TzAutoLock guard(&item->m_lock);
    return item->m_state == TCP_SOCKET_IDLE ? -4 : -3;
  }

  uint32_t started = 0;
  {
    TzAutoLock guard(&item->m_lock);
    switch (item->m_state) {
      case TCP_SOCKET_CREATED:
      case TCP_SOCKET_CONNECTING:
      case TCP_SOCKET_SENDING:
        item->PushBack(data);
        item->m_lastUse.store(NowSeconds());
        return 0;
      case TCP_SOCKET_IDLE:
        item->m_sending = data;
        item->m_sendingSeq = data->seq;
        started = StartSend(item.get(), data);
        if (started == 0) {
          item->m_state = TCP_SOCKET_SENDING;
          item->m_lastUse.store(NowSeconds());
          item->m_sendStart = NowSeconds();
          return 0;
        }
        item->m_sending = nullptr;
        delete data;
        break;
      case TCP_SOCKET_ERROR:
        delete data;
        Log::writeError(AsynLogCategory, kLogTcpProcessor,
                        "TCPIOProcessor::PostUserData 失败，原因为SocketItem状态为TCP_SOCKET_ERROR。 SN:%u", item->m_sn);
        return -7;
      default:
        delete data;
        Log::writeError(AsynLogCategory, kLogTcpProcessor,
                        "TCPIOProcessor::PostUserData 失败，原因为SocketItem状态未知。SN:%u", item->m_sn);
        return -7;
    }
  }
  if (started == CPC_SocketFailed) {
    Log::writeError(AsynLogCategory, kLogTcpProcessor,
                    "TCPIOProcessor::PostUserData 对于[SN %u]的SocketItem，SerialSend失败，\t\t\t\t\t\t\t\t\t原因为TCP_SOCKET_ERROR。",
                    item->m_sn);
    DeleteItem(item, TcpDelete_Socket);
    return -5;
  }
  Log::writeError(AsynLogCategory, kLogTcpProcessor, "TCPIOProcessor::PostUserData 对于[SN %u]的SocketItem，SerialSend失败。",
                  item->m_sn);
  return -6;
}

void TCPIOProcessor::SendNext(TCP_SOCKET_ITEM* item) {
  TCPIOData* dropped = nullptr;
  {
    TzAutoLock guard(&item->m_lock);
    if (item->m_state == TCP_SOCKET_ERROR) return;
    TCPIOData* data = item->PopFront();
    if (data == nullptr) {
      item->m_state = TCP_SOCKET_IDLE;
      return;
    }
    item->m_sending = data;
    item->m_sendingSeq = data->seq;
    item->m_state = TCP_SOCKET_SENDING;
    item->m_sendStart = NowSeconds();
    item->m_lastUse.store(item->m_sendStart);
    if (StartSend(item, data) == 0) return;
    item->m_sending = nullptr;
    item->m_state = TCP_SOCKET_IDLE;
    if (data->receiptGiven == 0 && data->context->WantsReceipt(false)) {
      data->receiptGiven = 1;
      dropped = data;
    } else {
      delete data;
    }
  }
  if (dropped != nullptr) {
    PostReceipt(dropped, TcpDelete_Socket);
    delete dropped;
  }
}

// Worker thread. Results as TCPProc.
int TCPIOProcessor::TCPIOSendProc(TCP_SOCKET_ITEM* item, bool success, TCPIOData* data, Event* event) {
  SptrTcpSocketItem hold(item);
  if (!success) {
    Log::writeError(AsynLogCategory, kLogTcpProcessor,
                    "TCPIOProcessor::TCPIOSendProc 对于[SN %u]的SocketItem，发生完成端口错误,错误ID为%d，删除该socketItem。",
                    item->m_sn, plat::LastSocketError());
    {
      TzAutoLock guard(&item->m_lock);
      if (item->m_sending == data) item->m_sending = nullptr;
    }
    DeleteItem(hold, TcpDelete_Completion);
    return FinishSend(item, data, TcpDelete_Socket, event);
  }
  const uint32_t length = data->stream->DataLength();
  const uint64_t total = uint64_t{data->done} + data->transferred;
  bool socketError = false;
  {
    TzAutoLock guard(&item->m_lock);
    socketError = item->m_state == TCP_SOCKET_ERROR;
    if (!socketError && total < length) {
      data->done = static_cast<uint32_t>(total);
      if (StartSend(item, data) == 0) return TcpProc_Nothing;  // the rest is on its way
      socketError = true;
    }
    if (item->m_sending == data) item->m_sending = nullptr;
  }
  if (socketError) {
    Log::writeError(AsynLogCategory, kLogTcpProcessor,
                    "TCPIOProcessor::TCPIOSendProc CheckSendData 针对[SN %u]的SocketItem，发现TCPSocketError，删除SocketItem。",
                    item->m_sn);
    DeleteItem(hold, TcpDelete_Socket);
    return FinishSend(item, data, TcpDelete_Socket, event);
  }
  SendNext(item);
  return FinishSend(item, data, total == length ? TcpReceipt_OK : TcpReceipt_Overrun, event);
}

// The receipt of a finished send record, if its mode asks for one and none
// was given yet; otherwise the record is freed here.
int TCPIOProcessor::FinishSend(TCP_SOCKET_ITEM* item, TCPIOData* data, int16_t code, Event* event) {
  const bool success = code == TcpReceipt_OK;
  bool give = false;
  {
    TzAutoLock guard(&item->m_lock);
    give = data->receiptGiven == 0 && data->context->WantsReceipt(success);
    data->receiptGiven = 1;
  }
  if (!give) {
    delete data;
    return TcpProc_Nothing;
  }
  if (!success) {
    Log::writeDebug(AsynLogCategory, kLogTcpProcessor,
                    "TCPIOProcessor::TCPIOSendProc 针对[SN %u]的SocketItem，因为出现错误，回调感兴趣的用户。", item->m_sn);
  }
  FillReceipt(data->context.get(), code, event);
  return TcpProc_DeliverReceipt;  // the worker frees the record
}

// ---- receipts -----------------------------------------------------------------

void TCPIOProcessor::FillReceipt(PostMsgContext* context, int16_t code, Event* event) {
  *event = Event::Make(context->m_msg.srcSid, SendResultEvent, plat::NowMs());
  context->AddRef();  // the event's own reference, released with the event
  event->word2 = reinterpret_cast<uintptr_t>(context);
  event->word3 = static_cast<uint16_t>(code);  // transport marker 0: TCP
}

// A receipt outside a completion goes through the port as a local event.
void TCPIOProcessor::PostReceipt(TCPIOData* data, int16_t code) {
  Event event;
  FillReceipt(data->context.get(), code, &event);
  if (m_cpc->PostLocalEvent(event, nullptr, data->targetSession.get()) != 0) {
    data->context->Release();  // the event's reference: the event never left
  }
}

// ---- send time-outs ------------------------------------------------------------

bool TCPIOProcessor::SetTCPSendTimeOutTimer(const SptrTcpSocketItem& item, const SptrPostMsgContext& context,
                                            uint32_t seq) {
  const uint32_t timeout = context->m_timeLimitMs < kMaxSendTimeoutMs ? context->m_timeLimitMs : kMaxSendTimeoutMs;
  TcpTimeoutContext* record = new TcpTimeoutContext();  // pooled: null instead of throwing
  if (record == nullptr) {
    Log::writeError(AsynLogCategory, kLogTcpProcessor, "TCPIOProcessor::SetTCPSendTimeOutTimer 无法New出 Timeout 上下文对象。");
    return false;
  }
  record->item = item;
  record->context = context;
  record->seq = seq;
  record->queue = TimeoutQueue(timeout);
  typedef TzQuickTimerQueue<TCPIOProcessor, &TCPIOProcessor::OnTCPSendTimeOut> TimeoutQueueThunk;
  if (!m_timeoutQueues[record->queue].SetTimer(timeout, this, &TimeoutQueueThunk::Thunk, record)) {
    Log::writeError(AsynLogCategory, kLogTcpProcessor,
                    "TCPIOProcessor::SetTCPSendTimeOutTimer SetTimer 失败 传入参数为：timeout = %u,TCPProcessor指针 = %u,OnTCPSendTimeOut函数 TimeoutContext指针 = %u",
                    timeout, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(this)),
                    static_cast<uint32_t>(reinterpret_cast<uintptr_t>(record)));
    delete record;
    return false;
  }
  return true;
}

// Quick-timer thread (or the thread clearing the timer). Frees the record.
int TCPIOProcessor::OnTCPSendTimeOut(uint16_t cancelled, void* param) {
  TcpTimeoutContext* record = static_cast<TcpTimeoutContext*>(param);
  Log::writeDebug(AsynLogCategory, kLogTcpProcessor,
                  "TCPIOProcessor::OnTCPSendTimeOut 触发Timer 调用OnTCPSendTimeOut 开始，time触发类型为：type = %s。传入的Timeout上下文指针：param = %d",
                  cancelled ? "Cancel触发" : "到时触发", static_cast<int>(reinterpret_cast<uintptr_t>(param)));
  TCP_SOCKET_ITEM* item = record->item.get();
  const bool wants = record->context->WantsReceipt(false);
  TCPIOData* dropped = nullptr;
  bool sendingReceipt = false;
  SptrSession sender;
  {
    TzAutoLock guard(&item->m_lock);
    if (item->m_sending != nullptr && item->m_sendingSeq == record->seq) {
      Log::writeDebug(AsynLogCategory, kLogTcpProcessor, "TCPIOProcessor::OnTCPSendTimeOut timeout 但当前正在发送中。");
      if (item->m_sending->receiptGiven == 0 && wants) {
        item->m_sending->receiptGiven = 1;
        sendingReceipt = true;
        sender = item->m_sending->targetSession;
      }
    } else if (item->m_state != TCP_SOCKET_ERROR) {
      // Found in the queue means not sent yet; a queued record has had no
      // receipt (only deletion and failed starts give one, after unqueuing).
      dropped = item->Remove(record->seq);
    }
  }
  if (sendingReceipt) {
    Event event;
    FillReceipt(record->context.get(), TcpReceipt_TimeoutSending, &event);
    if (m_cpc->PostLocalEvent(event, nullptr, sender.get()) != 0) record->context->Release();
    Log::writeDebug(AsynLogCategory, kLogTcpProcessor,
                    "TCPIOProcessor::OnTCPSendTimeOut 用户感兴趣该消息 发送RecptEvent给用户 ReceptEvent类型为RECEPT_TIMEOUT_SENDING。");
  }
  if (dropped != nullptr) {
    if (wants) {
      Log::writeDebug(AsynLogCategory, kLogTcpProcessor, "TCPIOProcessor::OnTCPSendTimeOut timeout 并且当前还没被发送中。");
      PostReceipt(dropped, TcpReceipt_Timeout);
      Log::writeDebug(AsynLogCategory, kLogTcpProcessor,
                      "TCPIOProcessor::OnTCPSendTimeOut 用户感兴趣该消息 发送RecptEvent给用户 ReceptEvent类型为RECEPT_TIMEOUT。");
    }
    Log::writeDebug(AsynLogCategory, kLogTcpProcessor, "TCPIOProcessor::OnTCPSendTimeOut 删除perIO。");
    delete dropped;
    Log::writeDebug(AsynLogCategory, kLogTcpProcessor, "TCPIOProcessor::OnTCPSendTimeOut 从userDataList中弹出。");
  }
  delete record;
  return 0;
}

}  // namespace AsynModel
