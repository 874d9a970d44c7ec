// AsynManager lifecycle: the state table, Init's lines and worker count, the observer road and the calls that need a running manager.
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>

#include "asyn_test_util.h"
#include "asynmodel/AsynLog.h"
#include "asynmodel/ComputeWorker.h"

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

// Calls that need a running manager answer 12 in every other state.
TEST(AsynLifecycle, InitStartStopDestroyFollowTheStateTable) {
  LogCapture cap;
  AsynManager* mgr = AsynManager::GetInstance();
  ASSERT_NE(mgr, nullptr);
  EXPECT_EQ(mgr->GetState(), Distroy);
  EXPECT_EQ(mgr->Start(), 6u);  // Distroy
  EXPECT_EQ(mgr->PostMsg(1, 1, nullptr, 0, false), 12u);
  EXPECT_EQ(mgr->PostTerminateEvent(1), 12u);
  EXPECT_EQ(mgr->SetDefaultUDPAddr("127.0.0.1", 0), 12u);
  ASSERT_EQ(mgr->Init(2), 0u);
  EXPECT_EQ(mgr->GetState(), Inited);
  EXPECT_EQ(mgr->PostMsg(1, 1, nullptr, 0, false), 12u);
  EXPECT_EQ(CountAt(cap, "AsynManager 初始化成功!", Log::kMessage, kLogAsynManager), 1u);
  EXPECT_EQ(mgr->Init(1), 1u);
  EXPECT_EQ(CountAt(cap, "AsynManager 初始化失败，系统状态不是Distroy，当前状态是1。", Log::kError, kLogAsynManager), 1u);
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
  EXPECT_EQ(mgr->SetDefaultUDPAddr(nullptr, 0), 12u);

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
  mgr->Destroy();
}

// Running: PostTerminateEvent terminates a session; Stop empties the
// SessionMap without terminating what is left.
TEST(AsynLifecycle, FreeFunctionsDriveTheSingletonWithOneWorkerPerProcessorByDefault) {
  ASSERT_EQ(AsynModel::Init(0), 0u);
  AsynManager* mgr = AsynManager::GetInstance();
  const uint32_t expected = std::min<uint32_t>(plat::ProcessorCount(), AsynManager::kMaxWorkers);
  EXPECT_EQ(mgr->WorkerCount(), expected);
  EXPECT_TRUE(WaitUntil([&] { return mgr->LiveWorkerCount() == expected; }));
  ASSERT_EQ(AsynModel::Start(), 0u);
  EXPECT_EQ(mgr->GetState(), Running);
  EXPECT_EQ(AsynModel::PostMsg(12345, 1, nullptr, 0, false), 24u);
  EXPECT_EQ(mgr->PostTerminateEvent(987654), 24u);
  SptrSession s(new RecordingSession());
  ASSERT_EQ(s->Start(), 0);
  EXPECT_EQ(mgr->PostTerminateEvent(s->GetSessionID()), 0u);
  EXPECT_TRUE(WaitUntil([&] { return Rec(s)->terminates.load() == 1; }));
  EXPECT_EQ(Rec(s)->lastTerminateReason.load(), 6001u);
  EXPECT_FALSE(mgr->FindSession(s->GetSessionID()));
  SptrSession a(new RecordingSession()), b(new RecordingSession());
  ASSERT_EQ(a->Start(), 0);
  ASSERT_EQ(b->Start(), 0);
  EXPECT_EQ(mgr->GetSessionMap()->Size(), 2u);
  AsynModel::Stop();
  EXPECT_EQ(mgr->GetSessionMap()->Size(), 0u);
  EXPECT_EQ(Rec(a)->terminates.load(), 0);
  a->Terminate(0);
  b->Terminate(0);
  AsynModel::Destroy();
  EXPECT_EQ(mgr->GetState(), Distroy);
}

namespace {

struct Observer : public SubScribeEventCallBack {
  void TCPDefaultListenPortFailureCallBack(const char* ip, uint32_t port, int32_t code) override {
    Record(0, ip, port, code);
    if (doThrow) throw std::runtime_error("observer");
  }
  void UDPDefaultPortFailureCallBack(const char* ip, uint32_t port, int32_t code) override {
    Record(1, ip, port, code);
    if (doThrow) throw 7;
  }
  void Record(int k, const char* ip, uint32_t port, int32_t code) {
    seen = std::to_string(k) + " " + ip + " " + std::to_string(port) + " " + std::to_string(code);
  }
  std::string seen;
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

  const std::string prefix = "AsynManager::InternalEventCallBack() 接收到异步框架内部事件通知，";
  const FrameworkEventRecord udp{1, 32, &udpAddr}, tcp{0, 5, &tcpAddr};
  const std::string udpText = "事件类型:UDP默认端口错误,IP=127.0.0.1,Port=6000";
  const std::string tcpText = "事件类型:TCP默认监听错误,IP=10.0.1.2,Port=7000";
  Observer obs;
  for (int round = 0; round < 3; ++round) {
    // No observer, an observer, a throwing observer.
    mgr->RegisterEventCallBack(round == 0 ? nullptr : &obs);
    obs.doThrow = round == 2;
    obs.seen.clear();
    EXPECT_EQ(mgr->InternalEventCallBack(udp), round == 1);
    EXPECT_EQ(obs.seen, round == 0 ? "" : "1 127.0.0.1 6000 32");
    EXPECT_EQ(mgr->InternalEventCallBack(tcp), round == 1);
    EXPECT_EQ(obs.seen, round == 0 ? "" : "0 10.0.1.2 7000 5");
  }
  for (const std::string& kind : {udpText, tcpText}) {
    EXPECT_EQ(cap.Count(prefix + "用户未注册观察实例。" + kind), 1u) << kind;
    EXPECT_EQ(cap.Count(prefix + "用户逻辑Catch()。" + kind), 1u) << kind;
  }
  mgr->RegisterEventCallBack(nullptr);

  // Session timer channels follow the id's parity.
  EXPECT_EQ(mgr->GetSessionTimer(2)->Index(), 0u);
  EXPECT_EQ(mgr->GetSessionTimer(3)->Index(), 1u);
  EXPECT_EQ(mgr->GetSessionTimer(0xFFFFD7FFu), mgr->GetSessionTimer(1));
}
