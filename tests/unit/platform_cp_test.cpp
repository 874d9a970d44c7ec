// The completion port on real loopback sockets: every started operation
// completes exactly once through Get (or fails at once), posts are spread
// over workers, and closing a socket or the port releases whoever waits.
// Every wait is bounded: Get runs on a helper thread with a deadline.
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <future>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/completion_port.h"

namespace {

using plat::CompletionPort;
using plat::Overlapped;
using plat::SockAddrIn;
using plat::Socket;

constexpr uint32_t kLoopback = 0x7F000001u;
constexpr auto kDeadline = std::chrono::seconds(20);
constexpr uintptr_t kMarkerKey = 0xAA;
constexpr uintptr_t kStopKey = 0xBB;

struct Taken {
  bool ok = false;
  uintptr_t key = 0;
  Overlapped* ov = nullptr;
  uint32_t bytes = 0;
  int err = 0;
  int lastError = 0;
};

// Takes one completion on a helper thread; fails the test instead of hanging
// when none comes within the deadline (a post then frees the helper).
::testing::AssertionResult TakeOne(CompletionPort& port, Taken* out) {
  static Overlapped unblock{};
  std::promise<Taken> done;
  std::future<Taken> fut = done.get_future();
  std::thread helper([&port, &done] {
    Taken r;
    r.ok = port.Get(&r.key, &r.ov, &r.bytes, &r.err);
    r.lastError = plat::LastSocketError();
    done.set_value(r);
  });
  if (fut.wait_for(kDeadline) != std::future_status::ready) {
    port.Post(0, &unblock, 0);
    helper.join();
    return ::testing::AssertionFailure() << "no completion within the deadline";
  }
  *out = fut.get();
  helper.join();
  return ::testing::AssertionSuccess();
}

// Proves that nothing else is queued: a marker posted now is the next out.
void ExpectOnlyMarkerNext(CompletionPort& port) {
  static Overlapped marker{};
  ASSERT_TRUE(port.Post(kMarkerKey, &marker, 0));
  Taken t;
  ASSERT_TRUE(TakeOne(port, &t));
  EXPECT_EQ(t.ov, &marker);
  EXPECT_EQ(t.key, kMarkerKey);
}

bool SameAddr(const SockAddrIn& a, const SockAddrIn& b) {
  return a.addrBe == b.addrBe && a.portBe == b.portBe;
}

// A remote peer played with plain blocking sockets.
struct Peer {
  int fd = -1;
  SockAddrIn addr{};
  Peer() {
    fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    timeval tv{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(kLoopback);
    ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    socklen_t len = sizeof sa;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
    std::memcpy(&addr, &sa, sizeof addr);
  }
  ~Peer() { ::close(fd); }
  void SendTo(const SockAddrIn& to, const void* data, size_t len) const {
    sockaddr_in sa;
    std::memcpy(&sa, &to, sizeof sa);
    ::sendto(fd, data, len, 0, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  }
  ssize_t Recv(void* buf, size_t len, SockAddrIn* from) const {
    sockaddr_in sa{};
    socklen_t sl = sizeof sa;
    ssize_t n = ::recvfrom(fd, buf, len, 0, reinterpret_cast<sockaddr*>(&sa), &sl);
    std::memcpy(from, &sa, sizeof *from);
    return n;
  }
};

class PlatformCompletionPort : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(port_.Open()); }
  void TearDown() override { port_.Close(); }

  Socket AssociatedUdp(uintptr_t key, SockAddrIn* local) {
    Socket s = plat::UdpSocket();
    EXPECT_TRUE(plat::BindSocket(s, plat::MakeAddr(kLoopback, 0)));
    EXPECT_TRUE(plat::GetSockName(s, local));
    EXPECT_TRUE(port_.Associate(s, key));
    return s;
  }

  CompletionPort port_;
};

TEST_F(PlatformCompletionPort, SendToCompletesThroughGetExactlyOnceWithByteCount) {
  SockAddrIn local{};
  Socket s = AssociatedUdp(0x51, &local);
  Peer peer;
  char payload[100];
  for (int i = 0; i < 100; ++i) payload[i] = static_cast<char>(i);
  Overlapped ov{};
  ASSERT_EQ(port_.StartSendTo(s, payload, sizeof payload, peer.addr, &ov), 0);

  // A loopback send finishes inside the call; its completion must already be
  // queued, ahead of anything posted afterwards, and come out only once.
  static Overlapped marker{};
  ASSERT_TRUE(port_.Post(kMarkerKey, &marker, 0));
  Taken t;
  ASSERT_TRUE(TakeOne(port_, &t));
  EXPECT_TRUE(t.ok);
  EXPECT_EQ(t.ov, &ov);
  EXPECT_EQ(t.key, 0x51u);
  EXPECT_EQ(t.bytes, 100u);
  EXPECT_EQ(t.err, 0);
  ASSERT_TRUE(TakeOne(port_, &t));
  EXPECT_EQ(t.ov, &marker);

  char got[200];
  SockAddrIn from{};
  ASSERT_EQ(peer.Recv(got, sizeof got, &from), 100);
  EXPECT_EQ(std::memcmp(got, payload, 100), 0);
  EXPECT_TRUE(SameAddr(from, local));
  port_.CloseSocket(s);
}

TEST_F(PlatformCompletionPort, RecvFromDeliversDatagramAndItsSource) {
  SockAddrIn local{};
  Socket s = AssociatedUdp(0x52, &local);
  Peer peer;
  char buf[2048];
  SockAddrIn from{};
  int32_t fromLen = sizeof from;
  Overlapped ov{};
  ASSERT_EQ(port_.StartRecvFrom(s, buf, sizeof buf, &from, &fromLen, &ov), 0);
  peer.SendTo(local, "hello veltrane", 14);

  Taken t;
  ASSERT_TRUE(TakeOne(port_, &t));
  EXPECT_TRUE(t.ok);
  EXPECT_EQ(t.ov, &ov);
  EXPECT_EQ(t.key, 0x52u);
  ASSERT_EQ(t.bytes, 14u);
  EXPECT_EQ(std::memcmp(buf, "hello veltrane", 14), 0);
  EXPECT_TRUE(SameAddr(from, peer.addr));
  EXPECT_EQ(fromLen, 16);
  port_.CloseSocket(s);
}

TEST_F(PlatformCompletionPort, OversizedDatagramReportsItsRealSizeAndSocketStaysUsable) {
  SockAddrIn local{};
  Socket s = AssociatedUdp(1, &local);
  Peer peer;
  unsigned char buf[64];
  std::memset(buf, 0xAB, sizeof buf);
  SockAddrIn from{};
  int32_t fromLen = sizeof from;
  Overlapped ov{};
  ASSERT_EQ(port_.StartRecvFrom(s, buf, 16, &from, &fromLen, &ov), 0);
  std::vector<unsigned char> big(100, 0x11);
  peer.SendTo(local, big.data(), big.size());

  Taken t;
  ASSERT_TRUE(TakeOne(port_, &t));
  EXPECT_EQ(t.bytes, 100u);  // larger than the buffer: the caller drops it
  for (int i = 0; i < 16; ++i) EXPECT_EQ(buf[i], 0x11) << i;
  for (int i = 16; i < 64; ++i) ASSERT_EQ(buf[i], 0xAB) << "written past the buffer at " << i;

  ov = Overlapped();
  ASSERT_EQ(port_.StartRecvFrom(s, buf, 16, &from, &fromLen, &ov), 0);
  peer.SendTo(local, "small", 5);
  ASSERT_TRUE(TakeOne(port_, &t));
  EXPECT_TRUE(t.ok);
  EXPECT_EQ(t.bytes, 5u);
  port_.CloseSocket(s);
}

TEST_F(PlatformCompletionPort, OneReceiveAndManySendsPendingOnOneSocket) {
  SockAddrIn local{};
  Socket s = AssociatedUdp(3, &local);
  char rbuf[64];
  SockAddrIn from{};
  int32_t fromLen = sizeof from;
  Overlapped recv{};
  ASSERT_EQ(port_.StartRecvFrom(s, rbuf, sizeof rbuf, &from, &fromLen, &recv), 0);
  constexpr int kSends = 20;
  Overlapped sends[kSends] = {};
  for (auto& ov : sends) ASSERT_EQ(port_.StartSendTo(s, "12345678", 8, local, &ov), 0);

  std::set<Overlapped*> seen;
  for (int i = 0; i < kSends + 1; ++i) {
    Taken t;
    ASSERT_TRUE(TakeOne(port_, &t));
    EXPECT_TRUE(t.ok);
    EXPECT_EQ(t.bytes, 8u);
    EXPECT_TRUE(seen.insert(t.ov).second) << "completed twice";
  }
  EXPECT_EQ(seen.count(&recv), 1u);
  EXPECT_TRUE(SameAddr(from, local));  // it heard itself
  port_.CloseSocket(s);
}

TEST(PlatformCompletionPortWorkers, ThreeWorkersTakeEachOfTenThousandPostsOnce) {
  CompletionPort port;
  ASSERT_TRUE(port.Open());
  constexpr int kPosts = 10000;
  constexpr int kWorkers = 3;
  std::vector<Overlapped> recs(kPosts);
  std::vector<std::atomic<int>> counts(kPosts);
  std::atomic<int> wrongBytes{0};
  std::vector<std::thread> workers;
  for (int w = 0; w < kWorkers; ++w) {
    workers.emplace_back([&] {
      for (;;) {
        uintptr_t key = 0;
        Overlapped* ov = nullptr;
        uint32_t bytes = 0;
        int err = 0;
        if (!port.Get(&key, &ov, &bytes, &err) && ov == nullptr) return;
        if (key == kStopKey) return;
        size_t idx = static_cast<size_t>(ov - recs.data());
        counts[idx].fetch_add(1);
        if (bytes != idx) wrongBytes.fetch_add(1);
      }
    });
  }
  // Two posting threads: posts from any thread reach the workers.
  auto poster = [&](int from, int to) {
    for (int i = from; i < to; ++i) ASSERT_TRUE(port.Post(1, &recs[i], static_cast<uint32_t>(i)));
  };
  std::thread p1(poster, 0, kPosts / 2);
  std::thread p2(poster, kPosts / 2, kPosts);
  p1.join();
  p2.join();
  Overlapped stops[kWorkers] = {};
  for (auto& stop : stops) ASSERT_TRUE(port.Post(kStopKey, &stop, 0));
  for (auto& w : workers) w.join();

  int total = 0;
  for (int i = 0; i < kPosts; ++i) {
    ASSERT_EQ(counts[i].load(), 1) << "record " << i;
    total += counts[i].load();
  }
  EXPECT_EQ(total, kPosts);
  EXPECT_EQ(wrongBytes.load(), 0);
}

TEST_F(PlatformCompletionPort, CloseSocketCompletesPendingReceiveOnceWithError) {
  SockAddrIn local{};
  Socket s = AssociatedUdp(7, &local);
  char buf[32];
  SockAddrIn from{};
  int32_t fromLen = sizeof from;
  Overlapped ov{};
  ASSERT_EQ(port_.StartRecvFrom(s, buf, sizeof buf, &from, &fromLen, &ov), 0);
  port_.CloseSocket(s);

  Taken t;
  ASSERT_TRUE(TakeOne(port_, &t));
  EXPECT_FALSE(t.ok);
  EXPECT_EQ(t.ov, &ov);
  EXPECT_EQ(t.key, 7u);
  EXPECT_EQ(t.err, plat::kSockConnReset);
  EXPECT_EQ(t.lastError, plat::kSockConnReset);  // a failed dequeue sets it
  ExpectOnlyMarkerNext(port_);

  Overlapped again{};
  EXPECT_EQ(port_.StartRecvFrom(s, buf, sizeof buf, &from, &fromLen, &again), plat::kSockNotSocket);
  EXPECT_EQ(plat::LastSocketError(), plat::kSockNotSocket);
  ExpectOnlyMarkerNext(port_);
}

// Workers re-post receives while datagrams pour in, and the socket is closed
// in the middle: every receive that started must complete exactly once.
TEST_F(PlatformCompletionPort, CloseSocketRacingWithCompletionsLosesAndDoublesNothing) {
  SockAddrIn local{};
  Socket s = AssociatedUdp(9, &local);
  constexpr int kRecords = 2;
  Overlapped recs[kRecords] = {};
  char bufs[kRecords][64];
  SockAddrIn froms[kRecords];
  int32_t fromLens[kRecords];
  std::atomic<int> started{0}, completed{0}, ended{0};
  std::mutex mu;
  std::condition_variable cv;

  auto startRecv = [&](int i) {
    recs[i] = Overlapped();
    fromLens[i] = sizeof(SockAddrIn);
    return port_.StartRecvFrom(s, bufs[i], sizeof bufs[i], &froms[i], &fromLens[i], &recs[i]) == 0;
  };
  auto worker = [&] {
    for (;;) {
      uintptr_t key = 0;
      Overlapped* ov = nullptr;
      uint32_t bytes = 0;
      int err = 0;
      bool ok = port_.Get(&key, &ov, &bytes, &err);
      if (ov == nullptr || key == kStopKey) return;
      completed.fetch_add(1);
      int i = static_cast<int>(ov - recs);
      if (ok && startRecv(i)) {
        started.fetch_add(1);
      } else {
        ended.fetch_add(1);  // reset by the close, or refused after it
      }
      std::lock_guard<std::mutex> lk(mu);
      cv.notify_all();
    }
  };
  for (int i = 0; i < kRecords; ++i) {
    ASSERT_TRUE(startRecv(i));
    started.fetch_add(1);
  }
  std::thread w1(worker), w2(worker);
  std::atomic<bool> pour{true};
  std::thread sender([&] {
    Peer peer;
    while (pour.load()) peer.SendTo(local, "datagram", 8);
  });
  {
    std::unique_lock<std::mutex> lk(mu);
    EXPECT_TRUE(cv.wait_for(lk, kDeadline, [&] { return completed.load() >= 200; }));
  }
  port_.CloseSocket(s);
  {
    std::unique_lock<std::mutex> lk(mu);
    EXPECT_TRUE(cv.wait_for(lk, kDeadline, [&] { return ended.load() == kRecords; }));
  }
  pour.store(false);
  sender.join();
  Overlapped stops[2] = {};
  for (auto& stop : stops) ASSERT_TRUE(port_.Post(kStopKey, &stop, 0));
  w1.join();
  w2.join();
  EXPECT_EQ(completed.load(), started.load());
  EXPECT_EQ(ended.load(), kRecords);
}

TEST_F(PlatformCompletionPort, CloseWakesEveryBlockedGet) {
  constexpr int kWaiters = 3;
  std::vector<std::future<Taken>> results;
  std::vector<std::thread> threads;
  for (int i = 0; i < kWaiters; ++i) {
    auto done = std::make_shared<std::promise<Taken>>();
    results.push_back(done->get_future());
    threads.emplace_back([this, done] {
      Taken r;
      r.ok = port_.Get(&r.key, &r.ov, &r.bytes, &r.err);
      done->set_value(r);
    });
  }
  port_.Close();
  for (auto& f : results) {
    if (f.wait_for(kDeadline) != std::future_status::ready) {
      ADD_FAILURE() << "a Get was not woken by Close";
      // Free the stuck waiter so the test ends instead of hanging.
      static Overlapped unblock[kWaiters];
      ASSERT_TRUE(port_.Open());
      for (auto& u : unblock) port_.Post(0, &u, 0);
      break;
    }
    Taken t = f.get();
    EXPECT_FALSE(t.ok);
    EXPECT_EQ(t.ov, nullptr);
    EXPECT_EQ(t.err, plat::kPortClosedError);
  }
  for (auto& th : threads) th.join();

  EXPECT_FALSE(port_.IsOpen());
  Overlapped ov{};
  EXPECT_FALSE(port_.Post(1, &ov, 0));
  Overlapped* out = &ov;
  int err = 0;
  EXPECT_FALSE(port_.Get(nullptr, &out, nullptr, &err));  // returns at once
  EXPECT_EQ(out, nullptr);
}

TEST(PlatformCompletionPortLife, ReopensAfterClose) {
  CompletionPort port;
  ASSERT_TRUE(port.Open());
  EXPECT_TRUE(port.Open());  // already open
  port.Close();
  ASSERT_TRUE(port.Open());
  Socket s = plat::UdpSocket();
  EXPECT_TRUE(port.Associate(s, 1));
  Overlapped ov{};
  ASSERT_TRUE(port.Post(5, &ov, 12));
  Taken t;
  ASSERT_TRUE(TakeOne(port, &t));
  EXPECT_TRUE(t.ok);
  EXPECT_EQ(t.key, 5u);
  EXPECT_EQ(t.bytes, 12u);
  port.CloseSocket(s);
}

TEST_F(PlatformCompletionPort, TcpConnectAcceptSendRecvOnLoopback) {
  Socket listener = plat::TcpSocket();
  ASSERT_TRUE(plat::SetReuseAddr(listener));
  ASSERT_TRUE(plat::BindSocket(listener, plat::MakeAddr(kLoopback, 0)));
  ASSERT_TRUE(plat::ListenSocket(listener, 8));
  SockAddrIn listenAddr{};
  ASSERT_TRUE(plat::GetSockName(listener, &listenAddr));
  ASSERT_TRUE(port_.Associate(listener, 0x10));
  Overlapped acc{};
  ASSERT_EQ(port_.StartAccept(listener, &acc), 0);

  Socket client = plat::TcpSocket();
  ASSERT_TRUE(port_.Associate(client, 0x20));
  Overlapped conn{};
  ASSERT_EQ(port_.StartConnect(client, listenAddr, &conn), 0);

  for (int i = 0; i < 2; ++i) {
    Taken t;
    ASSERT_TRUE(TakeOne(port_, &t));
    EXPECT_TRUE(t.ok) << "error " << t.err;
    EXPECT_TRUE(t.ov == &acc || t.ov == &conn);
    EXPECT_EQ(t.key, t.ov == &acc ? 0x10u : 0x20u);
  }
  Socket server = acc.acceptSocket;
  ASSERT_NE(server, plat::kInvalidSocket);
  SockAddrIn clientLocal{}, serverPeer{};
  ASSERT_TRUE(plat::GetSockName(client, &clientLocal));
  ASSERT_TRUE(plat::GetPeerName(server, &serverPeer));
  EXPECT_TRUE(SameAddr(clientLocal, serverPeer));
  ASSERT_TRUE(port_.Associate(server, 0x30));

  // More than the loopback buffers hold: the send has to wait for room while
  // the receiver drains, and still completes once with the whole length.
  constexpr uint32_t kTotal = 4 * 1024 * 1024;
  std::vector<uint8_t> data(kTotal);
  for (uint32_t i = 0; i < kTotal; ++i) data[i] = static_cast<uint8_t>(i * 7 + (i >> 13));
  std::vector<uint8_t> rbuf(64 * 1024);
  std::vector<uint8_t> received;
  received.reserve(kTotal);
  Overlapped snd{}, rcv{};
  ASSERT_EQ(port_.StartRecv(server, rbuf.data(), static_cast<uint32_t>(rbuf.size()), &rcv), 0);
  ASSERT_EQ(port_.StartSend(client, data.data(), kTotal, &snd), 0);
  int sendCompletions = 0;
  while (sendCompletions == 0 || received.size() < kTotal) {
    Taken t;
    ASSERT_TRUE(TakeOne(port_, &t));
    ASSERT_TRUE(t.ok) << "error " << t.err;
    if (t.ov == &snd) {
      ++sendCompletions;
      EXPECT_EQ(t.bytes, kTotal);
      continue;
    }
    ASSERT_EQ(t.ov, &rcv);
    ASSERT_GT(t.bytes, 0u);
    received.insert(received.end(), rbuf.begin(), rbuf.begin() + t.bytes);
    rcv = Overlapped();
    ASSERT_EQ(port_.StartRecv(server, rbuf.data(), static_cast<uint32_t>(rbuf.size()), &rcv), 0);
  }
  EXPECT_EQ(sendCompletions, 1);
  ASSERT_EQ(received.size(), kTotal);
  EXPECT_TRUE(received == data);

  // The peer closing shows as a receive of 0 bytes.
  port_.CloseSocket(client);
  Taken t;
  ASSERT_TRUE(TakeOne(port_, &t));
  EXPECT_EQ(t.ov, &rcv);
  EXPECT_TRUE(t.ok);
  EXPECT_EQ(t.bytes, 0u);

  // A pending accept ends with an error when its listener is closed.
  Overlapped acc2{};
  ASSERT_EQ(port_.StartAccept(listener, &acc2), 0);
  port_.CloseSocket(listener);
  ASSERT_TRUE(TakeOne(port_, &t));
  EXPECT_EQ(t.ov, &acc2);
  EXPECT_EQ(t.err, plat::kSockConnReset);
  port_.CloseSocket(server);
  ExpectOnlyMarkerNext(port_);
}

TEST_F(PlatformCompletionPort, ConnectToPortWithoutListenerReportsRefusal) {
  // Bound but not listening: the address answers with a reset.
  Socket closedEnd = plat::TcpSocket();
  ASSERT_TRUE(plat::BindSocket(closedEnd, plat::MakeAddr(kLoopback, 0)));
  SockAddrIn target{};
  ASSERT_TRUE(plat::GetSockName(closedEnd, &target));
  Socket client = plat::TcpSocket();
  ASSERT_TRUE(port_.Associate(client, 2));
  Overlapped conn{};
  int rc = port_.StartConnect(client, target, &conn);
  if (rc == 0) {
    Taken t;
    ASSERT_TRUE(TakeOne(port_, &t));
    EXPECT_EQ(t.ov, &conn);
    EXPECT_FALSE(t.ok);
    EXPECT_EQ(t.err, plat::kSockConnRefused);
  } else {
    EXPECT_EQ(rc, plat::kSockConnRefused);
  }
  port_.CloseSocket(client);
  plat::CloseSocket(closedEnd);
}

// A socket closed behind the port's back and whose number comes back with a
// new socket: the new association replaces the old one, and the operation
// left waiting on the old socket ends with an error instead of never.
TEST_F(PlatformCompletionPort, ReusedDescriptorReplacesAssociationClosedBehindThePort) {
  SockAddrIn local{};
  Socket old = AssociatedUdp(0x61, &local);
  char buf[16];
  SockAddrIn from{};
  int32_t fromLen = sizeof from;
  Overlapped waiting{};
  ASSERT_EQ(port_.StartRecvFrom(old, buf, sizeof buf, &from, &fromLen, &waiting), 0);
  plat::CloseSocket(old);
  Socket reused = plat::UdpSocket();
  ASSERT_EQ(reused, old) << "the system did not hand the number out again";
  ASSERT_TRUE(port_.Associate(reused, 0x62));

  Taken t;
  ASSERT_TRUE(TakeOne(port_, &t));
  EXPECT_EQ(t.ov, &waiting);
  EXPECT_EQ(t.key, 0x61u);
  EXPECT_EQ(t.err, plat::kSockConnReset);

  Peer peer;
  Overlapped send{};
  ASSERT_EQ(port_.StartSendTo(reused, "x", 1, peer.addr, &send), 0);
  ASSERT_TRUE(TakeOne(port_, &t));
  EXPECT_EQ(t.ov, &send);
  EXPECT_EQ(t.key, 0x62u);
  port_.CloseSocket(reused);
}

TEST_F(PlatformCompletionPort, InvalidStartsFailAtOnceWithoutCompletion) {
  char buf[16] = {};
  SockAddrIn to = plat::MakeAddr(kLoopback, 9);
  SockAddrIn from{};
  int32_t fromLen = sizeof from;
  Overlapped ov{};
  const Socket bad = plat::kInvalidSocket;
  EXPECT_EQ(port_.StartSendTo(bad, buf, 4, to, &ov), plat::kSockNotSocket);
  EXPECT_EQ(plat::LastSocketError(), plat::kSockNotSocket);
  EXPECT_EQ(port_.StartRecvFrom(bad, buf, 4, &from, &fromLen, &ov), plat::kSockNotSocket);
  EXPECT_EQ(port_.StartSend(bad, buf, 4, &ov), plat::kSockNotSocket);
  EXPECT_EQ(port_.StartRecv(bad, buf, 4, &ov), plat::kSockNotSocket);
  EXPECT_EQ(port_.StartConnect(bad, to, &ov), plat::kSockNotSocket);
  EXPECT_EQ(port_.StartAccept(bad, &ov), plat::kSockNotSocket);
  EXPECT_FALSE(port_.Associate(bad, 1));

  // A real socket that was never associated is unknown to the port.
  Socket loose = plat::UdpSocket();
  EXPECT_EQ(port_.StartSendTo(loose, buf, 4, to, &ov), plat::kSockNotSocket);

  SockAddrIn local{};
  Socket s = AssociatedUdp(4, &local);
  EXPECT_FALSE(port_.Associate(s, 5));  // bound once only
  EXPECT_EQ(port_.StartSendTo(s, buf, 4, to, nullptr), plat::kSockInvalidArg);
  EXPECT_EQ(port_.StartSendTo(s, nullptr, 4, to, &ov), plat::kSockInvalidArg);
  fromLen = 8;
  EXPECT_EQ(port_.StartRecvFrom(s, buf, 4, &from, &fromLen, &ov), plat::kSockInvalidArg);
  // The system refuses a datagram to port 0 inside the call.
  EXPECT_EQ(port_.StartSendTo(s, buf, 4, plat::MakeAddr(kLoopback, 0), &ov), plat::kSockInvalidArg);
  EXPECT_FALSE(port_.Post(1, nullptr, 0));

  ExpectOnlyMarkerNext(port_);
  port_.CloseSocket(s);
  plat::CloseSocket(loose);
}

}  // namespace
