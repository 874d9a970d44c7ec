// The TCP processor: framed messages over TCP connections. This build carries
// its lifecycle so the manager can drive it; connections, framing and the
// idle check arrive with the TCP transport.
#pragma once
#include <atomic>
#include <cstdint>

#include "asynmodel/net/IOProcessor.h"

class TzQuickTimer;

namespace AsynModel {

class CompletationPortControler;
class PostMsgContext;
class Session;

// Threads: the lifecycle runs on the manager's controlling thread; IsUsable
// and TCPProc may be called from any thread (TCPProc from compute workers).
class TCPIOProcessor : public IOProcessor {
 public:
  explicit TCPIOProcessor(CompletationPortControler* cpc);
  ~TCPIOProcessor() override;

  bool Init();
  bool Start();
  void Stop();
  void Destroy();
  // The manager's quick timer; it outlives the processor (not counted here).
  void SetQuickTimer(TzQuickTimer* timer);
  // Whether the processor can carry traffic (false until the transport lands).
  bool IsUsable() const;
  // Completion handler, same contract as UDPIOProcess::UDPProc: 2 means the
  // record has been taken over; after 0 or 1 the worker frees it. Here every
  // completion is dropped (2).
  int TCPProc(SOCKET_ITEM* item, bool success, PerIO* data, Event* event, SptrISender* sender);

 private:
  CompletationPortControler* m_cpc;
  TzQuickTimer* m_quickTimer = nullptr;
  std::atomic<uint8_t> m_inited{0};
  std::atomic<uint8_t> m_started{0};
};

}  // namespace AsynModel
