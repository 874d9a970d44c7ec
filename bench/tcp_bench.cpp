// The TCP transport against a plain blocking send loop, in one run:
//   BM_RawBlockingSend   one blocking send() per frame on a plain loopback
//                        connection (the baseline)
//   BM_PostMsgTcp        Session::PostMsg with transport 2 of the same
//                        frames over one connection: a TCPSender, the TCP
//                        processor's queue, one send at a time through the
//                        completion port and a compute worker
// Both write to a sink that drains its connections on 127.0.0.1; a batch
// counts once the sink has every byte of it. Every frame carries a 200-byte
// body: 6 + 16 + 200 = 222 bytes.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <condition_variable>
#include <mutex>
#include <cstring>
#include <thread>
#include <vector>

#include "asynmodel/AsynManager.h"
#include "asynmodel/PostMsgContext.h"
#include "asynmodel/Session.h"
#include "asynmodel/net/TcpFrame.h"
#include "platform/log.h"
#include "platform/system.h"

using namespace AsynModel;

namespace {

constexpr uint32_t kBody = 200;
constexpr uint32_t kFrame = kTcpFrameHeader + 16 + kBody;
constexpr int kBatch = 256;

sockaddr_in LoopbackAddr(uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  return a;
}

// Accepts connections on an ephemeral loopback port and reads everything
// they carry on one blocking thread per connection, counting the bytes.
class Sink {
 public:
  Sink() {
    listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = LoopbackAddr(0);
    ::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listen_, 8);
    socklen_t len = sizeof a;
    ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    acceptor_ = std::thread([this] { Accept(); });
  }
  ~Sink() {
    ::shutdown(listen_, SHUT_RDWR);
    acceptor_.join();
    std::lock_guard<std::mutex> g(mu_);
    for (int fd : conns_) ::shutdown(fd, SHUT_RDWR);
    for (std::thread& t : drains_) t.join();
    for (int fd : conns_) ::close(fd);
    ::close(listen_);
  }
  uint16_t Port() const { return port_; }
  int64_t Bytes() {
    std::lock_guard<std::mutex> g(mu_);
    return bytes_;
  }
  void WaitFor(int64_t target) {
    std::unique_lock<std::mutex> lk(mu_);
    cv_.wait(lk, [&] { return bytes_ >= target; });
  }

 private:
  void Accept() {
    for (;;) {
      int c = ::accept(listen_, nullptr, nullptr);
      if (c < 0) return;
      std::lock_guard<std::mutex> g(mu_);
      conns_.push_back(c);
      drains_.emplace_back([this, c] { Drain(c); });
    }
  }
  void Drain(int fd) {
    std::vector<char> buf(1 << 20);
    for (;;) {
      ssize_t n = ::recv(fd, buf.data(), buf.size(), 0);
      if (n <= 0) return;
      std::lock_guard<std::mutex> g(mu_);
      bytes_ += n;
      cv_.notify_all();
    }
  }

  int listen_ = -1;
  uint16_t port_ = 0;
  std::thread acceptor_;
  std::mutex mu_;
  std::condition_variable cv_;
  std::vector<int> conns_;           // guarded by mu_
  std::vector<std::thread> drains_;  // guarded by mu_
  int64_t bytes_ = 0;                // guarded by mu_
};

class Quiet : public Session {};

struct Rig {
  AsynManager* mgr = nullptr;
  Session* session = nullptr;
  Sink sink;
};

Rig* g_rig = nullptr;

Rig& TheRig() {
  if (g_rig) return *g_rig;
  Log::SetLevel(Log::kWarning);
  g_rig = new Rig();
  g_rig->mgr = AsynManager::GetInstance();
  g_rig->mgr->Init(1);
  g_rig->mgr->Start();
  g_rig->session = new Quiet();
  g_rig->session->Start();
  return *g_rig;
}

void TearDownRig() {
  if (!g_rig) return;
  g_rig->session->Terminate(Terminate_Event);
  g_rig->mgr->Stop();
  g_rig->mgr->Destroy();
  delete g_rig;
  g_rig = nullptr;
}

void BM_RawBlockingSend(benchmark::State& state) {
  Rig& rig = TheRig();
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);  // as the library's connections
  sockaddr_in to = LoopbackAddr(rig.sink.Port());
  if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    state.SkipWithError("connect failed");
    return;
  }
  uint8_t frame[kFrame] = {};
  WriteTcpFrameHeader(frame, 16 + kBody);
  int64_t target = rig.sink.Bytes();
  int64_t sent = 0;
  for (auto _ : state) {
    int64_t batch = 0;
    for (int i = 0; i < kBatch; ++i) {
      if (::send(fd, frame, sizeof frame, MSG_NOSIGNAL) == static_cast<ssize_t>(sizeof frame)) ++batch;
    }
    sent += batch;
    target += batch * kFrame;
    rig.sink.WaitFor(target);
  }
  ::close(fd);
  state.SetItemsProcessed(sent);
}
BENCHMARK(BM_RawBlockingSend)->UseRealTime();

void BM_PostMsgTcp(benchmark::State& state) {
  Rig& rig = TheRig();
  PeerAddress dest;
  std::strcpy(dest.tcp_ip, "127.0.0.1");
  dest.tcp_port = rig.sink.Port();
  char body[kBody] = {};
  int64_t target = rig.sink.Bytes();
  int64_t sent = 0;
  for (auto _ : state) {
    int64_t batch = 0;
    for (int i = 0; i < kBatch; ++i) {
      if (rig.session->PostMsg(dest, 0, 1116, body, kBody, 0, kNoTimeLimit, Receipt_None, 2, nullptr, 0, 0) == 0) {
        ++batch;
      }
    }
    sent += batch;
    target += batch * kFrame;
    rig.sink.WaitFor(target);
  }
  state.SetItemsProcessed(sent);
}
BENCHMARK(BM_PostMsgTcp)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  TearDownRig();
  benchmark::Shutdown();
  return 0;
}
