// The UDP transport's send paths against what the system can do:
//   BM_RawSendTo            a raw non-blocking sendto loop (the baseline)
//   BM_PostMsgUnreliable    Session::PostMsg of the same datagrams, through a
//                           UDPSender, the UDP processor, the completion port
//                           and a compute worker, completions included
//   BM_PostMsgReliableAcked reliable sends that a loopback peer acknowledges,
//                           each batch timed until every receipt is back
// All traffic stays on 127.0.0.1. Bodies are 200 bytes, so every datagram is
// 8 + 16 + 200 = 224 bytes (reliable: 228).
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "asynmodel/AsynManager.h"
#include "asynmodel/PostMsgContext.h"
#include "asynmodel/Session.h"
#include "asynmodel/net/UdpDatagram.h"
#include "platform/completion_port.h"
#include "platform/log.h"
#include "platform/socket.h"
#include "platform/system.h"

using namespace AsynModel;

namespace {

constexpr uint32_t kBody = 200;
constexpr uint32_t kDatagram = kUdpHeaderUnreliable + 16 + kBody;
constexpr int kBatch = 256;
constexpr uint32_t kLoopback = 0x7F000001;

// Counts the receipts of reliable sends.
class ReceiptCounter : public Session {
 public:
  int32_t OnSendResult(int16_t result, uint16_t, uint32_t, const uint8_t*, uint32_t, uint32_t, uint32_t,
                       const PeerAddress*, ISender*, UserDataInfo*, uint32_t, uint16_t, uint8_t) override {
    std::lock_guard<std::mutex> g(mu_);
    if (result == 0) ++ok_; else ++failed_;
    cv_.notify_all();
    return 0;
  }
  int64_t Ok() {
    std::lock_guard<std::mutex> g(mu_);
    return ok_;
  }
  bool WaitOk(int64_t target) {
    std::unique_lock<std::mutex> lk(mu_);
    return cv_.wait_for(lk, std::chrono::seconds(10), [&] { return ok_ >= target || failed_ > 0; }) &&
           failed_ == 0;
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  int64_t ok_ = 0;
  int64_t failed_ = 0;
};

uint16_t BoundPort(plat::Socket s) {
  plat::SockAddrIn a{};
  plat::GetSockName(s, &a);
  return plat::NetToHost16(a.portBe);
}

plat::Socket LoopbackSocket() {
  plat::Socket s = plat::UdpSocket();
  plat::BindSocket(s, plat::MakeAddr(kLoopback, 0));
  plat::SetSocketBuffers(s, 4 << 20, 4 << 20);
  return s;
}

// A stand-in remote peer that acknowledges every reliable data datagram. It
// waits on a completion port of its own, so it costs nothing while idle.
class AckingPeer {
 public:
  AckingPeer() : recv_(LoopbackSocket()), send_(LoopbackSocket()) {
    port_.Open();
    port_.Associate(recv_, 1);
    thread_ = std::thread([this] { Run(); });
  }
  ~AckingPeer() {
    port_.Close();  // wakes the peer's Get with "port closed"
    thread_.join();
    port_.CloseSocket(recv_);
    plat::CloseSocket(send_);
  }
  uint16_t Port() const { return BoundPort(recv_); }
  // Reliable datagrams seen, resends included.
  int64_t Seen() const { return seen_.load(); }

 private:
  void Run() {
    uint8_t buf[2048];
    for (;;) {
      plat::Overlapped ov{};
      plat::SockAddrIn from{};
      int32_t fromLen = sizeof from;
      if (port_.StartRecvFrom(recv_, buf, sizeof buf, &from, &fromLen, &ov) != 0) return;
      uintptr_t key = 0;
      plat::Overlapped* done = nullptr;
      uint32_t bytes = 0;
      int err = 0;
      if (!port_.Get(&key, &done, &bytes, &err)) {
        if (done == nullptr) return;  // closed
        continue;
      }
      if (bytes >= kUdpHeaderReliable && bytes <= sizeof buf && buf[kUdpOffReliable] == 1 && buf[kUdpOffAck] == 0) {
        seen_.fetch_add(1);
        uint8_t ack[kUdpAckLength];
        WriteAck(ack, wire::GetU32(buf + kUdpOffSn));
        plat::SendToNow(send_, ack, sizeof ack, from);
      }
    }
  }

  plat::CompletionPort port_;
  plat::Socket recv_;
  plat::Socket send_;
  std::thread thread_;
  std::atomic<int64_t> seen_{0};
};

struct Rig {
  AsynManager* mgr = nullptr;
  ReceiptCounter* session = nullptr;
  plat::Socket sink = plat::kInvalidSocket;  // never read: the kernel drops what overflows
  plat::Socket raw = plat::kInvalidSocket;
  AckingPeer* peer = nullptr;
};

Rig* g_rig = nullptr;

Rig& TheRig() {
  if (g_rig) return *g_rig;
  g_rig = new Rig();
  Log::SetLevel(Log::kWarning);
  g_rig->mgr = AsynManager::GetInstance();
  g_rig->mgr->Init(1);
  g_rig->mgr->Start();
  g_rig->mgr->SetDefaultUDPAddr("127.0.0.1", 0);
  g_rig->session = new ReceiptCounter();
  g_rig->session->Start();
  g_rig->sink = LoopbackSocket();
  g_rig->raw = LoopbackSocket();
  g_rig->peer = new AckingPeer();
  return *g_rig;
}

void TearDownRig() {
  if (!g_rig) return;
  g_rig->session->Terminate(Terminate_Event);
  g_rig->mgr->Stop();
  g_rig->mgr->Destroy();
  delete g_rig->peer;
  plat::CloseSocket(g_rig->sink);
  plat::CloseSocket(g_rig->raw);
  delete g_rig;
  g_rig = nullptr;
}

void WaitCompletions(CompletationPortControler* cpc, int32_t idle) {
  while (cpc->Outstanding() > idle) plat::YieldThread();
}

void BM_RawSendTo(benchmark::State& state) {
  Rig& rig = TheRig();
  uint8_t datagram[kDatagram] = {};
  const plat::SockAddrIn to = plat::MakeAddr(kLoopback, BoundPort(rig.sink));
  int64_t sent = 0;
  for (auto _ : state) {
    for (int i = 0; i < kBatch; ++i) {
      if (plat::SendToNow(rig.raw, datagram, sizeof datagram, to) > 0) ++sent;
    }
  }
  state.SetItemsProcessed(sent);
}
BENCHMARK(BM_RawSendTo)->UseRealTime();

void BM_PostMsgUnreliable(benchmark::State& state) {
  Rig& rig = TheRig();
  PeerAddress dest;
  dest.SetUdp("127.0.0.1", BoundPort(rig.sink));
  char body[kBody] = {};
  CompletationPortControler* cpc = rig.mgr->GetCompletionPort();
  const int32_t idle = cpc->Outstanding();  // the receives posted on our sockets
  int64_t sent = 0;
  for (auto _ : state) {
    for (int i = 0; i < kBatch; ++i) {
      if (rig.session->PostMsg(dest, 0, 1116, body, kBody, 0, kNoTimeLimit, Receipt_None, 3, nullptr, 0, 0) == 0) {
        ++sent;
      }
    }
    WaitCompletions(cpc, idle);  // a batch counts once every send has completed
  }
  state.SetItemsProcessed(sent);
}
BENCHMARK(BM_PostMsgUnreliable)->UseRealTime();

// range(0): datagrams in flight per batch (1 measures the round trip).
void BM_PostMsgReliableAcked(benchmark::State& state) {
  Rig& rig = TheRig();
  PeerAddress dest;
  dest.SetUdp("127.0.0.1", rig.peer->Port());
  char body[kBody] = {};
  const int64_t window = state.range(0);
  const int64_t seenBefore = rig.peer->Seen();
  int64_t acked = 0;
  for (auto _ : state) {
    const int64_t target = rig.session->Ok() + window;
    for (int64_t i = 0; i < window; ++i) {
      rig.session->PostMsg(dest, 0, 1119, body, kBody, 1, kNoTimeLimit, Receipt_Both, 3, nullptr, 0, 0);
    }
    if (!rig.session->WaitOk(target)) {
      state.SkipWithError("receipts missing or failed");
      break;
    }
    acked += window;
  }
  state.SetItemsProcessed(acked);
  // 1.0 when nothing had to be resent.
  state.counters["sends_per_msg"] =
      acked > 0 ? static_cast<double>(rig.peer->Seen() - seenBefore) / static_cast<double>(acked) : 0.0;
}
BENCHMARK(BM_PostMsgReliableAcked)->Arg(1)->Arg(64)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  TearDownRig();
  benchmark::Shutdown();
  return 0;
}
