// AsynManager lifecycle: the state table, Init's step lines and worker
// count, the observer road and the calls that need a running manager.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "asyn_test_util.h"
#include "asynmodel/ComputeWorker.h"
#include "tzhelper/QosLog.h"

using namespace AsynModel;
using namespace asyn_test;

namespace {

size_t CountAt(const LogCapture& cap, const std::string& text, int level, uint32_t subType) {
  size_t n = 0;
  for (const LogLine& l : cap.Lines()) {
    if (l.text == text && l.level == level && l.subType == subType && l.category == AsynLogCategory) ++n;
  }
  return n;
}

}  // namespace

TEST(AsynLifecycle, InitLogsItsStepsAndRefusesASecondInit) {
  LogCapture cap;
  AsynManager* mgr = AsynManager::GetInstance();
  ASSERT_NE(mgr, nullptr);
  EXPECT_EQ(mgr->GetState(), Distroy);
  ASSERT_EQ(mgr->Init(1), 0u);
  EXPECT_EQ(mgr->GetState(), Inited);
  for (const char* step : {"AsynManager 1。", "AsynManager 2。", "AsynManager 3。", "AsynManager 4。",
                           "AsynManager 5。", "AsynManager 6。"}) {
    EXPECT_EQ(CountAt(cap, step, Log::kError, kLogAsynManager), 1u) << step;
  }
  EXPECT_EQ(CountAt(cap, "AsynManager 初始化成功!", Log::kMessage, kLogAsynManager), 1u);

  EXPECT_EQ(mgr->Init(1), 1u);
  EXPECT_EQ(CountAt(cap, "AsynManager 初始化失败，系统状态不是Distroy，当前状态是1。", Log::kError, kLogAsynManager), 1u);
  EXPECT_EQ(mgr->GetState(), Inited);
  EXPECT_EQ(mgr->WorkerCount(), 1u);
  mgr->Destroy();
}

TEST(AsynLifecycle, StartStopDestroyFollowTheStateTable) {
  LogCapture cap;
  AsynManager* mgr = AsynManager::GetInstance();
  EXPECT_EQ(mgr->Start(), 6u);  // Distroy
  ASSERT_EQ(mgr->Init(2), 0u);
  ASSERT_EQ(mgr->Start(), 0u);
  EXPECT_EQ(mgr->Start(), 0u);  // already Running
  EXPECT_TRUE(cap.Contains("AsynManager::Start() 成功"));

  mgr->Destroy();  // Running: nothing happens
  EXPECT_EQ(mgr->GetState(), Running);
  EXPECT_EQ(mgr->WorkerCount(), 2u);
  EXPECT_FALSE(cap.Contains("AsynManager::Destroy() 成功。"));

  EXPECT_EQ(mgr->Stop(), 0u);
  EXPECT_EQ(mgr->GetState(), Inited);
  EXPECT_EQ(CountAt(cap, "AsynManager::Stop() 成功。", Log::kMessage, kLogAsynManager), 1u);
  EXPECT_EQ(mgr->Stop(), 6u);
  EXPECT_EQ(CountAt(cap, "AsynManager::Stop() 已经停止。", Log::kWarning, kLogAsynManager), 1u);

  // A stopped manager starts again; a destroyed one initialises again.
  ASSERT_EQ(mgr->Start(), 0u);
  ASSERT_EQ(mgr->Stop(), 0u);
  mgr->Destroy();
  EXPECT_EQ(mgr->GetState(), Distroy);
  EXPECT_EQ(mgr->WorkerCount(), 0u);
  EXPECT_EQ(mgr->LiveWorkerCount(), 0u);
  EXPECT_EQ(CountAt(cap, "AsynManager::Destroy() 成功。", Log::kMessage, kLogAsynManager), 1u);
  mgr->Destroy();  // Distroy: nothing happens
  EXPECT_EQ(CountAt(cap, "AsynManager::Destroy() 成功。", Log::kMessage, kLogAsynManager), 1u);

  ASSERT_EQ(mgr->Init(1), 0u);
  ASSERT_EQ(mgr->Start(), 0u);
  auto s = SptrSession(new RecordingSession());
  ASSERT_EQ(s->Start(), 0);
  auto* rec = static_cast<RecordingSession*>(s.get());
  EXPECT_TRUE(WaitUntil([&] { return rec->starts.load() == 1; }));
  EXPECT_EQ(mgr->PostMsg(s->GetSessionID(), 5, nullptr, 0, false), 0u);
  EXPECT_TRUE(WaitUntil([&] { return rec->messageCount.load() == 1; }));
  s->Terminate(0);
  ASSERT_EQ(mgr->Stop(), 0u);
  mgr->Destroy();
}

TEST(AsynLifecycle, FreeFunctionsDriveTheSingleton) {
  ASSERT_EQ(AsynModel::Init(1), 0u);
  ASSERT_EQ(AsynModel::Start(), 0u);
  EXPECT_EQ(AsynManager::GetInstance()->GetState(), Running);
  EXPECT_EQ(AsynModel::PostMsg(12345, 1, nullptr, 0, false), 24u);
  AsynModel::Stop();
  AsynModel::Destroy();
  EXPECT_EQ(AsynManager::GetInstance()->GetState(), Distroy);
}

TEST(AsynLifecycle, InitWithZeroMakesOneWorkerPerProcessor) {
  AsynManager* mgr = AsynManager::GetInstance();
  ASSERT_EQ(mgr->Init(0), 0u);
  uint32_t expected = plat::ProcessorCount();
  if (expected > AsynManager::kMaxWorkers) expected = AsynManager::kMaxWorkers;
  EXPECT_EQ(mgr->WorkerCount(), expected);
  EXPECT_TRUE(WaitUntil([&] { return mgr->LiveWorkerCount() == expected; }));
  mgr->Destroy();
}

TEST(AsynLifecycle, CallsThatNeedARunningManagerAnswer12) {
  AsynManager* mgr = AsynManager::GetInstance();
  EXPECT_EQ(mgr->PostMsg(1, 1, nullptr, 0, false), 12u);
  EXPECT_EQ(mgr->PostTerminateEvent(1), 12u);
  EXPECT_EQ(mgr->SetDefaultUDPAddr("127.0.0.1", 0), 12u);
  ASSERT_EQ(mgr->Init(1), 0u);
  EXPECT_EQ(mgr->PostMsg(1, 1, nullptr, 0, false), 12u);  // Inited
  ASSERT_EQ(mgr->Start(), 0u);
  EXPECT_EQ(mgr->PostTerminateEvent(987654), 24u);
  ASSERT_EQ(mgr->Stop(), 0u);
  EXPECT_EQ(mgr->SetDefaultUDPAddr(nullptr, 0), 12u);
  mgr->Destroy();
}

TEST(AsynLifecycle, PostTerminateEventTerminatesTheSession) {
  AsynManager* mgr = StartFramework(1);
  ASSERT_NE(mgr, nullptr);
  auto s = SptrSession(new RecordingSession());
  auto* rec = static_cast<RecordingSession*>(s.get());
  ASSERT_EQ(s->Start(), 0);
  EXPECT_EQ(mgr->PostTerminateEvent(s->GetSessionID()), 0u);
  EXPECT_TRUE(WaitUntil([&] { return rec->terminates.load() == 1; }));
  EXPECT_EQ(rec->lastTerminateReason.load(), 6001u);
  EXPECT_FALSE(mgr->FindSession(s->GetSessionID()));
  mgr->Stop();
  mgr->Destroy();
}

TEST(AsynLifecycle, StopEmptiesTheSessionMap) {
  AsynManager* mgr = StartFramework(1);
  ASSERT_NE(mgr, nullptr);
  auto a = SptrSession(new RecordingSession());
  auto b = SptrSession(new RecordingSession());
  ASSERT_EQ(a->Start(), 0);
  ASSERT_EQ(b->Start(), 0);
  EXPECT_EQ(mgr->GetSessionMap()->Size(), 2u);
  ASSERT_EQ(mgr->Stop(), 0u);
  EXPECT_EQ(mgr->GetSessionMap()->Size(), 0u);
  // Outside Running no terminate event is posted: the sessions live on.
  EXPECT_EQ(static_cast<RecordingSession*>(a.get())->terminates.load(), 0);
  a->Terminate(0);
  b->Terminate(0);
  mgr->Destroy();
}

namespace {

struct Observer : public SubScribeEventCallBack {
  void TCPDefaultListenPortFailureCallBack(const char* ip, uint32_t port, int32_t code) override {
    kind = 0;
    text = ip;
    lastPort = port;
    lastCode = code;
    if (doThrow) throw std::runtime_error("observer");
  }
  void UDPDefaultPortFailureCallBack(const char* ip, uint32_t port, int32_t code) override {
    kind = 1;
    text = ip;
    lastPort = port;
    lastCode = code;
    if (doThrow) throw 7;
  }
  int kind = -1;
  std::string text;
  uint32_t lastPort = 0;
  int32_t lastCode = 0;
  bool doThrow = false;
};

}  // namespace

TEST(AsynObserver, InternalEventCallBackFormatsTheAddressAndCatchesTheObserver) {
  AsynManager* mgr = AsynManager::GetInstance();
  LogCapture cap;
  IPv4AddressRecord udpAddr{0x7F000001u, 6000};            // host order
  IPv4AddressRecord tcpAddr{plat::HostToNet32(0x0A000102u), 7000};  // network order

  EXPECT_FALSE(mgr->InternalEventCallBack(FrameworkEventRecord{2, 32, &udpAddr}));
  EXPECT_TRUE(cap.Lines().empty());

  mgr->RegisterEventCallBack(nullptr);
  EXPECT_FALSE(mgr->InternalEventCallBack(FrameworkEventRecord{1, 32, &udpAddr}));
  EXPECT_TRUE(cap.Contains(
      "AsynManager::InternalEventCallBack() 接收到异步框架内部事件通知，用户未注册观察实例。事件类型:UDP默认端口错误,IP=127.0.0.1,Port=6000"));
  EXPECT_FALSE(mgr->InternalEventCallBack(FrameworkEventRecord{0, 5, &tcpAddr}));
  EXPECT_TRUE(cap.Contains(
      "AsynManager::InternalEventCallBack() 接收到异步框架内部事件通知，用户未注册观察实例。事件类型:TCP默认监听错误,IP=10.0.1.2,Port=7000"));

  Observer obs;
  mgr->RegisterEventCallBack(&obs);
  EXPECT_TRUE(mgr->InternalEventCallBack(FrameworkEventRecord{1, 32, &udpAddr}));
  EXPECT_EQ(obs.kind, 1);
  EXPECT_EQ(obs.text, "127.0.0.1");
  EXPECT_EQ(obs.lastPort, 6000u);
  EXPECT_EQ(obs.lastCode, 32);
  EXPECT_TRUE(mgr->InternalEventCallBack(FrameworkEventRecord{0, 5, &tcpAddr}));
  EXPECT_EQ(obs.kind, 0);
  EXPECT_EQ(obs.text, "10.0.1.2");

  obs.doThrow = true;
  EXPECT_FALSE(mgr->InternalEventCallBack(FrameworkEventRecord{1, 32, &udpAddr}));
  EXPECT_TRUE(cap.Contains(
      "AsynManager::InternalEventCallBack() 接收到异步框架内部事件通知，用户逻辑Catch()。事件类型:UDP默认端口错误,IP=127.0.0.1,Port=6000"));
  EXPECT_FALSE(mgr->InternalEventCallBack(FrameworkEventRecord{0, 5, &tcpAddr}));
  EXPECT_TRUE(cap.Contains(
      "AsynManager::InternalEventCallBack() 接收到异步框架内部事件通知，用户逻辑Catch()。事件类型:TCP默认监听错误,IP=10.0.1.2,Port=7000"));
  mgr->RegisterEventCallBack(nullptr);
}

TEST(AsynObserver, SessionTimerChannelsFollowTheIdParity) {
  AsynManager* mgr = AsynManager::GetInstance();
  ASSERT_NE(mgr->GetSessionTimer(2), nullptr);
  EXPECT_EQ(mgr->GetSessionTimer(2)->Index(), 0u);
  EXPECT_EQ(mgr->GetSessionTimer(3)->Index(), 1u);
  EXPECT_EQ(mgr->GetSessionTimer(0xFFFFD7FFu), mgr->GetSessionTimer(1));
}
