// Helpers for the framework-core tests: a session that records what reaches
// it, a gate that holds a worker, a counting user-data object and a fixture
// with a running framework.
#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "asynmodel/AsynManager.h"
#include "asynmodel/Session.h"
#include "asynmodel/UserDataInfo.h"
#include "platform/system.h"
#include "wait_util.h"

namespace asyn_test {

using namespace AsynModel;

inline std::string Sid(const Session* s) { return "[SID:" + std::to_string(s->GetSessionID()) + "] "; }

// Counts its own destruction.
class CountedUserData : public UserDataInfo {
 public:
  explicit CountedUserData(std::atomic<int>* destroyed) : destroyed_(destroyed) {}

 protected:
  ~CountedUserData() override { destroyed_->fetch_add(1); }

 private:
  std::atomic<int>* destroyed_;
};

struct Received {
  uint32_t msgId;
  std::vector<uint8_t> bytes;
  const uint8_t* pointer;
  uint32_t length;
  uint32_t srcSid;
  uint32_t senderTransport;  // 0xFFFFFFFF: no sender
};

// Records every handler call; safe for parallel sessions.
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
    Received r{msgId, std::vector<uint8_t>(), data, length, srcSid,
               sender ? sender->TransportType() : 0xFFFFFFFFu};
    if (data != nullptr) r.bytes.assign(data, data + length);
    messages.push_back(r);
    trace.push_back("msg" + std::to_string(msgId));
    messageCount.fetch_add(1);
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

  struct TimerCall {
    bool cancelled;
    uint16_t timerId;
    UserDataInfo* userData;
  };

  std::mutex mu;
  std::vector<std::string> trace;  // guarded by mu
  std::vector<Received> messages;  // guarded by mu
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
  std::atomic<int>* destroyed_;
};

// Holds a worker inside OnMessage until opened, so that events posted
// meanwhile wait in the port.
class Gate : public Session {
 public:
  int32_t OnMessage(uint32_t, const uint8_t*, uint32_t, uint32_t, const SptrISender&) override {
    entered.store(1);
    WaitUntil([&] { return open.load() != 0; }, holdMs);
    return 0;
  }
  std::atomic<int> entered{0};
  std::atomic<int> open{0};
  int holdMs = 10000;  // real time the gate stays shut at most
};

inline SessionProperty Serial(bool ordered = true) {
  SessionProperty p;
  p.threadMode = ThreadMode_Serial;
  p.msgArrivedModel = ordered ? 1 : 0;
  return p;
}

inline SessionProperty Parallel() {
  SessionProperty p;
  p.threadMode = ThreadMode_Parallel;
  return p;
}

inline RecordingSession* Rec(const SptrSession& s) { return static_cast<RecordingSession*>(s.get()); }

// Init + Start with n workers; the manager of a test process.
inline AsynManager* StartFramework(uint32_t workers) {
  AsynManager* mgr = AsynManager::GetInstance();
  if (mgr == nullptr || mgr->Init(workers) != 0 || mgr->Start() != 0) return nullptr;
  return mgr;
}

// A fixture whose framework runs with N workers and is stopped and destroyed
// when the test ends.
template <uint32_t N>
class FrameworkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mgr = StartFramework(N);
    ASSERT_NE(mgr, nullptr);
  }
  void TearDown() override {
    if (mgr == nullptr) return;
    if (mgr->GetState() == Running) mgr->Stop();
    mgr->Destroy();
  }
  AsynManager* mgr = nullptr;
};

}  // namespace asyn_test
