// The completion-port controller: argument checks, admission and draining,
// the item reference that travels with an operation, and the exit records
// that end the workers.
#include <gtest/gtest.h>

#include <cstring>
#include <future>
#include <thread>
#include <vector>

#include "asyn_test_util.h"
#include "asynmodel/CompletationPortControler.h"
#include "asynmodel/ComputeWorker.h"
#include "asynmodel/net/Msg.h"
#include "asynmodel/net/SocketItem.h"
#include "asynmodel/net/TCPIOData.h"
#include "asynmodel/net/UDPIOData.h"
#include "platform/clock.h"
#include "platform/socket.h"
#include "tzhelper/QosLog.h"

using namespace AsynModel;
using namespace asyn_test;

namespace {

class TestItem : public SOCKET_ITEM {
 public:
  explicit TestItem(plat::Socket s) { m_socket.store(s); }
};

SptrSocketItem MakeItem(plat::Socket s = plat::kInvalidSocket) { return SptrSocketItem(new TestItem(s)); }

uint32_t Refs(const SptrSocketItem& item) {
  item->AddRef();
  return item->Release();  // the count after our temporary reference is gone
}

UDPIOData* UdpRecord(uint32_t op) { return UDPIOData::Create(op); }

TCPIOData* TcpRecord(uint32_t op) {
  TCPIOData* io = new TCPIOData();
  io->kind = PerIO_TCP;
  io->operation = op;
  return io;
}

}  // namespace

TEST(CpcArguments, SendAndRecvCheckTheirArgumentsAndTheRecordKind) {
  LogCapture cap;
  CompletationPortControler cpc;
  std::vector<uint8_t> buffer(CompletationPortControler::kMaxIoLength + 1);
  SptrSocketItem item = MakeItem();
  UDPIOData* udp = UdpRecord(UdpOp_Send);

  EXPECT_EQ(cpc.Send(item.get(), udp, buffer.data(), 10), 37u);  // no port yet
  ASSERT_TRUE(cpc.Init());
  EXPECT_TRUE(cap.Contains("完成端口Init()。"));
  EXPECT_EQ(cpc.Send(nullptr, udp, buffer.data(), 10), 40u);
  EXPECT_EQ(cpc.Send(item.get(), nullptr, buffer.data(), 10), 40u);
  EXPECT_EQ(cpc.Send(item.get(), udp, nullptr, 10), 40u);
  EXPECT_EQ(cpc.Send(item.get(), udp, buffer.data(), 2097153), 40u);
  EXPECT_EQ(cpc.Recv(item.get(), udp, buffer.data(), 2097153), 40u);

  // Exactly 2 MiB is attempted: here the item's socket is invalid, so the
  // attempt fails as a socket call and the item reference comes back.
  EXPECT_EQ(cpc.Send(item.get(), udp, buffer.data(), 2097152), 38u);
  EXPECT_TRUE(cap.Contains("CompletationPortControler::Send WSASend失败，错误类型=-1。"));
  EXPECT_EQ(Refs(item), 1u);

  TCPIOData* tcp = TcpRecord(TCP_IO_RECV_H);
  EXPECT_EQ(cpc.Send(item.get(), tcp, buffer.data(), 10), 36u);
  EXPECT_EQ(cap.Count("完成端口Send()失败，发送的不能识别的类型的PerIO。"), 1u);
  EXPECT_EQ(cpc.Recv(item.get(), udp, buffer.data(), 10), 36u);  // a UDP send record
  tcp->operation = TCP_IO_SEND;
  EXPECT_EQ(cpc.Recv(item.get(), tcp, buffer.data(), 10), 36u);
  EXPECT_EQ(cap.Count("完成端口Recv()失败，发送的不能识别的类型的PerIO。"), 2u);

  tcp->operation = TCP_IO_RECV_B;
  EXPECT_EQ(cpc.Recv(item.get(), tcp, buffer.data(), 10), 38u);
  EXPECT_TRUE(cap.Contains("TCP完成端口Recv()失败，错误类型=-1。"));
  udp->operation = UdpOp_Recv;
  EXPECT_EQ(cpc.Recv(item.get(), udp, buffer.data(), 10), 38u);
  EXPECT_TRUE(cap.Contains("UDP完成端口Recv()失败，错误类型=-1。"));

  EXPECT_EQ(cpc.Outstanding(), 0);  // every refused start gave its admission back
  EXPECT_EQ(Refs(item), 1u);
  EXPECT_FALSE(cpc.Associate(nullptr));
  EXPECT_FALSE(cpc.Connect(item.get(), nullptr));
  EXPECT_FALSE(cpc.Accept(nullptr));
  delete udp;
  delete tcp;
}

TEST(CpcIo, AUdpRoundTripCarriesOneItemReferencePerOperation) {
  CompletationPortControler cpc;
  ASSERT_TRUE(cpc.Init());
  plat::Socket s = plat::UdpSocket();
  ASSERT_NE(s, plat::kInvalidSocket);
  ASSERT_TRUE(plat::BindSocket(s, plat::MakeAddr(0x7F000001u, 0)));
  plat::SockAddrIn self{};
  ASSERT_TRUE(plat::GetSockName(s, &self));
  SptrSocketItem item = MakeItem(s);
  ASSERT_TRUE(cpc.Associate(item.get()));

  std::vector<uint8_t> inbox(64);
  UDPIOData* recv = UdpRecord(UdpOp_Recv);
  ASSERT_EQ(cpc.Recv(item.get(), recv, inbox.data(), 64), 0u);
  EXPECT_EQ(Refs(item), 2u);

  char hello[] = "hello";
  UDPIOData* send = UdpRecord(UdpOp_Send);
  send->remote = self;
  ASSERT_EQ(cpc.Send(item.get(), send, hello, 5), 0u);
  EXPECT_EQ(Refs(item), 3u);
  EXPECT_EQ(cpc.Outstanding(), 2);

  // Take both completions as a worker would, on a thread we can unblock.
  auto taker = std::async(std::launch::async, [&] {
    std::vector<PerIO*> got;
    for (int i = 0; i < 2; ++i) {
      SOCKET_ITEM* key = nullptr;
      PerIO* perio = nullptr;
      cpc.GetCompletion(&key, &perio);
      if (perio == nullptr) break;
      EXPECT_EQ(key, item.get());
      SptrSocketItem::Adopt(key);  // the operation's reference, dropped at once
      got.push_back(perio);
    }
    return got;
  });
  if (taker.wait_for(std::chrono::seconds(10)) != std::future_status::ready) cpc.Port().Close();
  std::vector<PerIO*> got = taker.get();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(cpc.Outstanding(), 0);
  EXPECT_EQ(Refs(item), 1u);
  EXPECT_EQ(send->transferred, 5u);
  EXPECT_EQ(recv->transferred, 5u);
  EXPECT_EQ(std::memcmp(inbox.data(), "hello", 5), 0);
  EXPECT_EQ(recv->remote.portBe, self.portBe);
  cpc.Port().CloseSocket(s);
  delete send;
  delete recv;
}

TEST(CpcDrain, DestroyWaitsForEveryAdmittedRecordThenRefusesEverything) {
  LogCapture cap;
  CompletationPortControler cpc;
  ASSERT_TRUE(cpc.Init());
  EXPECT_EQ(cpc.DrainCount(), CompletationPortControler::kDrainSentinel);
  for (uint32_t i = 0; i < 3; ++i) {
    ASSERT_EQ(cpc.PostLocalEvent(Event::Make(i, NotifyEvent, plat::NowMs()), nullptr, nullptr), 0u);
  }
  EXPECT_EQ(cpc.Outstanding(), 3);

  auto destroyer = std::async(std::launch::async, [&] { cpc.Destroy(); });
  // Draining: the three records are still in the port, so Destroy cannot
  // have finished (it ends with a drain count of 0 and the port closed).
  ASSERT_TRUE(WaitUntil([&] { return cpc.Outstanding() < 0 && cpc.DrainCount() == 3; }));
  EXPECT_TRUE(cpc.IsOpen());
  EXPECT_EQ(cpc.PostLocalEvent(Event::Make(9, NotifyEvent, plat::NowMs()), nullptr, nullptr), 37u);
  for (int i = 0; i < 3; ++i) {
    SOCKET_ITEM* key = nullptr;
    PerIO* perio = nullptr;
    EXPECT_TRUE(cpc.GetCompletion(&key, &perio));
    ASSERT_NE(perio, nullptr);
    EXPECT_EQ(perio->kind, static_cast<uint32_t>(PerIO_Local));
    delete static_cast<LocalEventIOData*>(perio);
  }
  ASSERT_EQ(destroyer.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(cpc.DrainCount(), 0);
  EXPECT_FALSE(cpc.IsOpen());
  EXPECT_TRUE(cap.Contains("完成端口Destroy(),等待所有已投递的PerIO被取出。"));
  EXPECT_TRUE(cap.Contains("完成端口Destroy(),等待所有工作线程退出。"));

  // Closed: nothing touches the item or its socket.
  plat::Socket s = plat::UdpSocket();
  SptrSocketItem item = MakeItem(s);
  UDPIOData* udp = UdpRecord(UdpOp_Send);
  char byte = 0;
  EXPECT_EQ(cpc.Send(item.get(), udp, &byte, 1), 37u);
  udp->operation = UdpOp_Recv;
  EXPECT_EQ(cpc.Recv(item.get(), udp, &byte, 1), 37u);
  EXPECT_FALSE(cpc.Associate(item.get()));
  EXPECT_EQ(Refs(item), 1u);
  EXPECT_EQ(item->m_socket.load(), s);
  plat::CloseSocket(s);
  delete udp;

  // A destroyed controller opens again with fresh counters.
  ASSERT_TRUE(cpc.Init());
  EXPECT_EQ(cpc.Outstanding(), 0);
  EXPECT_EQ(cpc.DrainCount(), CompletationPortControler::kDrainSentinel);
}

// A worker forced to stop leaves its wake-up to the others; Destroy ends
// every worker with exactly one exit record.
TEST(CpcWorkers, ForceStopAndDestroyEndWorkersAndAnEventForAnUnknownSessionIsReleased) {
  AsynManager* mgr = StartFramework(4);
  ASSERT_NE(mgr, nullptr);
  ASSERT_TRUE(WaitUntil([&] { return mgr->LiveWorkerCount() == 4; }));
  ComputeWorker extra;  // a second consumer of the manager's port
  ASSERT_TRUE(extra.Run());
  EXPECT_NE(extra.ThreadId(), 0u);
  extra.ForceStop();
  EXPECT_EQ(extra.ThreadId(), 0u);
  // A wake-up the extra worker did not need is dropped by another one.
  EXPECT_TRUE(WaitUntil([&] { return mgr->GetCompletionPort()->Outstanding() == 0; }));

  // The manager's own workers still serve: a message for a session nobody
  // knows is released without a handler.
  std::atomic<int> udDestroyed{0};
  Msg* msg = new Msg();
  msg->destSid = 4000000;
  msg->userData = SptrUserDataInfo(new CountedUserData(&udDestroyed));
  Event ev = Event::Make(4000000, MsgEvent, plat::NowMs());
  ev.word2 = reinterpret_cast<uintptr_t>(msg);
  ASSERT_EQ(mgr->GetCompletionPort()->PostLocalEvent(ev, nullptr, nullptr), 0u);
  EXPECT_TRUE(WaitUntil([&] { return udDestroyed.load() == 1; }));
  ASSERT_EQ(mgr->Stop(), 0u);
  CompletationPortControler* cpc = mgr->GetCompletionPort();
  const uint32_t postedBefore = cpc->ExitRecordsPosted();
  const uint32_t takenBefore = ComputeWorker::ExitRecordsTaken();
  mgr->Destroy();
  EXPECT_EQ(cpc->ExitRecordsPosted() - postedBefore, 4u);
  EXPECT_EQ(ComputeWorker::ExitRecordsTaken() - takenBefore, 4u);
  EXPECT_EQ(mgr->LiveWorkerCount(), 0u);
  EXPECT_EQ(mgr->WorkerCount(), 0u);
  EXPECT_EQ(cpc->DrainCount(), 0);
  EXPECT_EQ(cpc->PostLocalEvent(Event::Make(1, NotifyEvent, plat::NowMs()), nullptr, nullptr), 37u);

  // One worker: its exit record ends it, and nothing is passed on.
  ASSERT_EQ(mgr->Init(1), 0u);
  const uint32_t posted1 = cpc->ExitRecordsPosted();
  mgr->Destroy();
  EXPECT_EQ(cpc->ExitRecordsPosted() - posted1, 1u);
}
