// Helpers for the framework-core tests: a gate that holds a worker, a
// counting user-data object and a fixture with a running framework.
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
#include "recording_session.h"
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

using support::Received;
using support::RecordingSession;

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
    plat::ThawClockForTest();  // stopping waits in clock steps
    if (mgr->GetState() == Running) mgr->Stop();
    mgr->Destroy();
  }
  AsynManager* mgr = nullptr;
};

}  // namespace asyn_test
