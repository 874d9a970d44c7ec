// A session that records every handler call (start, messages, send
// results, timers, time-out, terminate) for the framework and transport
// tests. Safe for parallel sessions: every record is taken under mu; the
// counters are atomics that the waits poll.
#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "asynmodel/Session.h"
#include "platform/clock.h"
#include "platform/system.h"

namespace support {

using namespace AsynModel;

struct Received {
  uint32_t msgId;
  std::string body;
  const uint8_t* pointer;  // as OnMessage saw it
  uint32_t length;
  uint32_t srcSid;
  uint32_t senderTransport;  // 0xFFFFFFFF: no sender
  SptrISender sender;        // kept only by a session with keepSenders
};

struct Receipt {
  int16_t result;
  uint16_t transport;
  uint32_t msgId;
  std::string body;
  uint8_t reliable;
  int64_t atMs;  // framework clock when it arrived
};

class RecordingSession : public Session {
 public:
  explicit RecordingSession(SessionProperty p = SessionProperty(), std::atomic<int>* destroyed = nullptr)
      : Session(p), destroyed_(destroyed) {}

  int32_t OnStart() override {
    std::lock_guard<std::mutex> g(mu);
    trace.push_back("start");
    startThread = plat::CurrentThreadId();
    starts.fetch_add(1);
    return 0;
  }
  int32_t OnMessage(uint32_t msgId, const uint8_t* data, uint32_t length, uint32_t srcSid,
                    const SptrISender& sender) override {
    std::lock_guard<std::mutex> g(mu);
    messages.push_back(Received{msgId, std::string(reinterpret_cast<const char*>(data), data ? length : 0),
                                data, length, srcSid, sender ? sender->TransportType() : 0xFFFFFFFFu,
                                keepSenders ? sender : SptrISender()});
    trace.push_back("msg" + std::to_string(msgId));
    messageCount.fetch_add(1);
    cv_.notify_all();
    return 0;
  }
  int32_t OnSendResult(int16_t result, uint16_t transport, uint32_t msgId, const uint8_t* body,
                       uint32_t bodyLength, uint32_t, uint32_t, const PeerAddress*, ISender*,
                       UserDataInfo*, uint32_t, uint16_t, uint8_t reliable) override {
    std::lock_guard<std::mutex> g(mu);
    receipts.push_back(Receipt{result, transport, msgId,
                               std::string(reinterpret_cast<const char*>(body), body ? bodyLength : 0),
                               reliable, plat::NowMs()});
    cv_.notify_all();
    return 0;
  }
  int32_t OnTimer(bool cancelled, uint16_t timerId, UserDataInfo* userData) override {
    std::lock_guard<std::mutex> g(mu);
    timers.push_back({cancelled, timerId, userData});
    timerCount.fetch_add(1);
    return 0;
  }
  int32_t OnTimeout(bool cancelled, uint32_t reserved) override {
    timeoutCancelled.store(cancelled ? 1 : 0);
    timeouts.fetch_add(1);
    return Session::OnTimeout(cancelled, reserved);
  }
  void OnTerminate(uint32_t reason) override {
    lastTerminateReason.store(reason);
    terminates.fetch_add(1);
  }

  // Bounded in real time: true once n messages (receipts) are in.
  bool WaitMessages(size_t n, int timeoutMs = 5000) {
    std::unique_lock<std::mutex> lk(mu);
    return cv_.wait_for(lk, std::chrono::milliseconds(timeoutMs), [&] { return messages.size() >= n; });
  }
  bool WaitReceipts(size_t n, int timeoutMs = 5000) {
    std::unique_lock<std::mutex> lk(mu);
    return cv_.wait_for(lk, std::chrono::milliseconds(timeoutMs), [&] { return receipts.size() >= n; });
  }
  std::vector<Received> Messages() {
    std::lock_guard<std::mutex> g(mu);
    return messages;
  }
  std::vector<Receipt> Receipts() {
    std::lock_guard<std::mutex> g(mu);
    return receipts;
  }

  struct TimerCall {
    bool cancelled;
    uint16_t timerId;
    UserDataInfo* userData;
  };

  // A kept sender holds its socket or session: tests that answer through
  // it set this; tests that count references leave it off.
  bool keepSenders = false;
  std::mutex mu;
  std::vector<std::string> trace;  // guarded by mu
  std::vector<Received> messages;  // guarded by mu
  std::vector<Receipt> receipts;   // guarded by mu
  std::vector<TimerCall> timers;   // guarded by mu
  uint32_t startThread = 0;        // guarded by mu
  std::atomic<int> starts{0};
  std::atomic<int> messageCount{0};
  std::atomic<int> timerCount{0};
  std::atomic<int> timeouts{0};
  std::atomic<int> timeoutCancelled{-1};
  std::atomic<int> terminates{0};
  std::atomic<uint32_t> lastTerminateReason{0};

 protected:
  ~RecordingSession() override {
    if (destroyed_ != nullptr) destroyed_->fetch_add(1);
  }

 private:
  std::condition_variable cv_;
  std::atomic<int>* destroyed_;
};

}  // namespace support
