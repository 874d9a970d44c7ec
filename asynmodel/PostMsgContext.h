// One outgoing message on its way through a sender and a processor, and back
// to the session as a send result. Pooled and shared by counted references;
// the last Release destroys the Msg, drops the sender and user data and gives
// the block back to the pool.
#pragma once
#include <atomic>
#include <cstdint>

#include "asynmodel/PeerAddress.h"
#include "asynmodel/UserDataInfo.h"
#include "asynmodel/net/ISender.h"
#include "asynmodel/net/Msg.h"
#include "tzhelper/TzMemAlloc.h"

namespace AsynModel {

enum ReceiptMode : uint32_t {
  Receipt_None = 0,
  Receipt_OnSuccess = 1,
  Receipt_OnFailure = 2,
  Receipt_Both = 3,
};

constexpr uint32_t kNoTimeLimit = 0xFFFFFFFFu;

class PostMsgContext : public TzPooled<PostMsgContext, TzListMemAllocMethod> {
 public:
  // Null when the pool is exhausted. The context starts with count 0; the
  // creator takes the first reference (SptrPostMsgContext or AddRef).
  static PostMsgContext* Create();
  void AddRef() { m_refCount.fetch_add(1, std::memory_order_relaxed); }
  void Release();

  Msg m_msg;                          // form 0 on the caller's bytes until serialized
  uint32_t m_replyFlag = 0;           // 1: sent through a sender
  PeerAddress m_dest;                 // zero for a reply
  SptrISender m_sender;
  uint32_t m_timeLimitMs = kNoTimeLimit;
  uint32_t m_receiptMode = Receipt_None;
  int64_t m_createTime = 0;           // framework clock, ms
  uint8_t m_reliable = 0;
  int32_t m_transport = 3;
  SptrUserDataInfo m_userData;
  uint32_t m_localIp = 0;             // host order; (0, 0) = the default UDP address
  uint16_t m_localPort = 0;

  bool WantsReceipt(bool success) const {
    return success ? (m_receiptMode == Receipt_OnSuccess || m_receiptMode == Receipt_Both)
                   : (m_receiptMode == Receipt_OnFailure || m_receiptMode == Receipt_Both);
  }

 private:
  PostMsgContext() = default;
  ~PostMsgContext() = default;
  std::atomic<uint32_t> m_refCount{0};
};
typedef TzSptr<PostMsgContext> SptrPostMsgContext;

}  // namespace AsynModel
