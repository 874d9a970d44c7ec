// Bounds under load: a busy serial session cannot keep the worker from the
// port's other completions, and host records beyond the backlog limit are
// refused, counted and logged once.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "api/RouterAccessManager.h"
#include "asyn_test_util.h"
#include "asynmodel/ComputeWorker.h"
#include "asynmodel/net/UDPIOProcess.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "report/RecordBacklog.h"
#include "udp_test_util.h"

using namespace AsynModel;
using namespace asyn_test;

namespace {

// Notes how many messages `busy` had handled when this one's arrived.
class Probe : public Session {
 public:
  explicit Probe(RecordingSession* busy) : busy_(busy) {}
  int32_t OnMessage(uint32_t, const uint8_t*, uint32_t, uint32_t, const SptrISender&) override {
    seen.store(busy_->messageCount.load());
    done.store(1);
    return 0;
  }
  std::atomic<int> seen{-1};
  std::atomic<int> done{0};

 private:
  RecordingSession* busy_;
};

using SerialDrain = FrameworkTest<1>;

TEST_F(SerialDrain, OneWakeUpPerSessionAndOtherWorkBetweenBatches) {
  SptrSession gate(new Gate());
  SptrSession busy(new RecordingSession(Serial(true)));
  SptrSession probe(new Probe(Rec(busy)));
  for (const SptrSession& s : {gate, busy, probe}) ASSERT_EQ(s->Start(), 0);
  ASSERT_TRUE(WaitUntil([&] { return Rec(busy)->starts.load() == 1; }));
  ASSERT_EQ(mgr->PostMsg(gate->GetSessionID(), 1, nullptr, 0, false), 0u);
  ASSERT_TRUE(WaitUntil([&] { return static_cast<Gate*>(gate.get())->entered.load() != 0; }));

  constexpr int kQueued = 1000;
  for (int i = 0; i < kQueued; ++i) ASSERT_EQ(mgr->PostMsg(busy->GetSessionID(), 2, "x", 1, false), 0u);
  EXPECT_LE(mgr->GetCompletionPort()->Outstanding(), 2);  // not one wake-up per message
  ASSERT_EQ(mgr->PostMsg(probe->GetSessionID(), 3, nullptr, 0, false), 0u);
  static_cast<Gate*>(gate.get())->open.store(1);

  auto* p = static_cast<Probe*>(probe.get());
  ASSERT_TRUE(WaitUntil([&] { return p->done.load() != 0; }));
  EXPECT_LE(p->seen.load(), static_cast<int>(Session::kSerialBatch));
  ASSERT_TRUE(WaitUntil([&] { return Rec(busy)->messageCount.load() == kQueued; }));
  for (const SptrSession& s : {gate, busy, probe}) s->Terminate(0);
}

TEST(RecordBacklogLimit, RecordsBeyondItAreRefusedCountedAndLoggedOnce) {
  report::RecordBacklog& backlog = report::RecordBacklog::Global();
  EXPECT_EQ(-2, backlog.SetLimit(report::RecordBacklog::kMinLimit - 1));
  ASSERT_EQ(0, backlog.SetLimit(16));
  StprcAddrEntry e;
  memset(&e, 0, sizeof(e));
  memcpy(e.stprcIp, "127.0.0.1", 9);
  udptest::Peer silent;  // an STPRC that never answers
  e.stprcPort = silent.Port();
  RouterAccessManager* c = RouterAccessManager::GetInstance();
  ASSERT_EQ(0, c->Init(nullptr, 0, 0, "127.0.0.1", 0, 0, 0, &e, 1, 0, nullptr, 0));

  // The gate holds the only worker, so nothing waiting is handled meanwhile.
  SptrSession gate(new Gate());
  ASSERT_EQ(gate->Start(), 0);
  ASSERT_EQ(PostMsg(gate->GetSessionID(), 1, nullptr, 0, false), 0u);
  ASSERT_TRUE(WaitUntil([&] { return static_cast<Gate*>(gate.get())->entered.load() != 0; }));
  LogCapture log;
  const char record[10] = "qos";
  const char noDest[16] = {};
  for (int i = 0; i < 100; ++i) EXPECT_EQ(0, c->ReportCallInfo(record, sizeof(record), noDest, 0));
  EXPECT_EQ(16, backlog.Waiting());
  EXPECT_EQ(84u, backlog.RefusedTotal());
  EXPECT_EQ(1u, log.Count("refused: 16 records waiting, 1 refused since the last line"));
  EXPECT_EQ(1u, log.Count("refused:"));

  static_cast<Gate*>(gate.get())->open.store(1);
  ASSERT_TRUE(WaitUntil([&] { return backlog.Waiting() == 0; }));
  plat::AdvanceClock(5000);
  EXPECT_TRUE(log.WaitFor("[Kelvarn][flow]队列已满拒绝的客户端记录:84条(上限:16条)"));
  gate->Terminate(0);
}

TEST(ShutdownBounds, StopRefusesSocketsARacingSenderWouldMake) {
  AsynManager* mgr = StartFramework(1);
  ASSERT_NE(mgr, nullptr);
  UDPIOProcess* udp = mgr->GetUDPProcessor();
  std::atomic<bool> done{false};
  std::atomic<int> made{0};
  std::thread sender([&] {
    while (!done.load()) {
      SptrUdpSocketItem item;  // port 0: a new socket every time
      if (udp->FindSocketIfNotThenCreateNewOne(0x7F000001, 0, &item, true) == 2) made.fetch_add(1);
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  ASSERT_TRUE(WaitUntil([&] { return made.load() >= 5; }));
  EXPECT_EQ(mgr->Stop(), 0u);  // a socket made behind the close-all would keep it waiting
  SptrUdpSocketItem late;
  EXPECT_EQ(-1, udp->FindSocketIfNotThenCreateNewOne(0x7F000001, 0, &late, true));
  done.store(true);
  sender.join();
  EXPECT_EQ(0u, udp->SocketCount());
  EXPECT_EQ(0, mgr->GetCompletionPort()->Outstanding());
  mgr->Destroy();
}

TEST(ShutdownBounds, AWorkerStuckInAHandlerIsKeptNotFreed) {
  AsynManager* mgr = StartFramework(1);
  ASSERT_NE(mgr, nullptr);
  ComputeWorker* extra = new ComputeWorker();
  ASSERT_TRUE(extra->Run());
  // Two gates hold both workers of the port.
  SptrSession gates[2] = {SptrSession(new Gate()), SptrSession(new Gate())};
  for (const SptrSession& g : gates) {
    static_cast<Gate*>(g.get())->holdMs = 120000;  // shut for as long as ForceStop may try
    ASSERT_EQ(g->Start(), 0);
    ASSERT_EQ(mgr->PostMsg(g->GetSessionID(), 1, nullptr, 0, false), 0u);
  }
  auto gate = [&](int i) { return static_cast<Gate*>(gates[i].get()); };
  ASSERT_TRUE(WaitUntil([&] { return gate(0)->entered.load() != 0 && gate(1)->entered.load() != 0; }));

  std::atomic<int> stopped{-1};
  std::thread stopper([&] { stopped.store(extra->ForceStop() ? 1 : 0); });
  // ForceStop waits on the virtual clock; run it forward until it gives up.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(100);
  while (stopped.load() == -1 && std::chrono::steady_clock::now() < deadline) plat::AdvanceClock(100);
  stopper.join();
  EXPECT_EQ(0, stopped.load());
  ComputeWorker::Dispose(extra);  // must not free what the stuck thread still uses
  EXPECT_EQ(1u, ComputeWorker::ParkedCount());
  gate(0)->open.store(1);
  gate(1)->open.store(1);
  for (const SptrSession& g : gates) g->Terminate(0);
  EXPECT_EQ(mgr->Stop(), 0u);
  mgr->Destroy();
}

}  // namespace
