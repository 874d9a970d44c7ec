// The completion port on real loopback sockets: oversized datagrams, closed
// and reused sockets, and starts that fail at once without a completion.
// Every wait is bounded: Get runs on a helper thread with a deadline.
#include <chrono>
#include <cstring>
#include <future>
#include <vector>

#include <gtest/gtest.h>

#include "linux_only.h"
#include "platform/completion_port.h"
#include "udp_peer.h"

namespace {

using plat::CompletionPort;
using plat::Overlapped;
using plat::SockAddrIn;
using plat::Socket;

constexpr uint32_t kLoopback = 0x7F000001u;
constexpr auto kDeadline = std::chrono::seconds(20);
constexpr uintptr_t kMarkerKey = 0xAA;
#if defined(_WIN32)
constexpr bool kRealSizeKnown = false;
#else
constexpr bool kRealSizeKnown = true;
#endif

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
  auto fut = std::async(std::launch::async, [&port] {
    Taken r;
    r.ok = port.Get(&r.key, &r.ov, &r.bytes, &r.err);
    r.lastError = plat::LastSocketError();
    return r;
  });
  if (fut.wait_for(kDeadline) != std::future_status::ready) {
    port.Post(0, &unblock, 0);
    return ::testing::AssertionFailure() << "no completion within the deadline";
  }
  *out = fut.get();
  return ::testing::AssertionSuccess();
}

// Takes the next completion and checks which record it is, its key and error.
void ExpectNext(CompletionPort& port, Overlapped* ov, uintptr_t key, int err, uint32_t bytes = 0) {
  Taken t;
  ASSERT_TRUE(TakeOne(port, &t));
  EXPECT_EQ(t.ov, ov);
  EXPECT_EQ(t.key, key);
  EXPECT_EQ(t.err, err);
  EXPECT_EQ(t.ok, err == 0);
  EXPECT_EQ(t.bytes, bytes);
  EXPECT_TRUE(err == 0 || t.lastError == err) << t.lastError;  // a failed dequeue sets it
}

// Proves that nothing else is queued: a marker posted now is the next out.
void ExpectOnlyMarkerNext(CompletionPort& port) {
  static Overlapped marker{};
  ASSERT_TRUE(port.Post(kMarkerKey, &marker, 0));
  Taken t;
  ASSERT_TRUE(TakeOne(port, &t));
  EXPECT_EQ(t.ov, &marker);
}

bool SameAddr(const SockAddrIn& a, const SockAddrIn& b) {
  return a.addrBe == b.addrBe && a.portBe == b.portBe;
}

// A receive buffer with its source address slot and record.
struct RecvSlot {
  unsigned char buf[64];
  SockAddrIn from{};
  int32_t fromLen = sizeof(SockAddrIn);
  Overlapped ov{};
  int Start(CompletionPort& port, Socket s, uint32_t len = sizeof buf) {
    ov = Overlapped();
    fromLen = sizeof(SockAddrIn);
    return port.StartRecvFrom(s, buf, len, &from, &fromLen, &ov);
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

TEST_F(PlatformCompletionPort, OversizedDatagramReportsItsRealSizeAndSocketStaysUsable) {
  SockAddrIn local{};
  Socket s = AssociatedUdp(1, &local);
  udptest::Peer peer;
  RecvSlot recv;
  std::memset(recv.buf, 0xAB, sizeof recv.buf);
  ASSERT_EQ(recv.Start(port_, s, 16), 0);
  const uint16_t localPort = plat::NetToHost16(local.portBe);
  peer.SendTo(localPort, std::vector<uint8_t>(100, 0x11));

  // Larger than the buffer, so the caller drops it: the real size on Linux,
  // one more than the buffer on Windows.
  ExpectNext(port_, &recv.ov, 1, 0, kRealSizeKnown ? 100u : 17u);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(recv.buf[i], 0x11) << i;
  for (int i = 16; i < 64; ++i) ASSERT_EQ(recv.buf[i], 0xAB) << "written past the buffer at " << i;
  EXPECT_TRUE(SameAddr(recv.from, plat::MakeAddr(kLoopback, peer.Port())));

  ASSERT_EQ(recv.Start(port_, s, 16), 0);
  peer.SendTo(localPort, {'s', 'm', 'a', 'l', 'l'});
  ExpectNext(port_, &recv.ov, 1, 0, 5);
  port_.CloseSocket(s);
}

TEST_F(PlatformCompletionPort, CloseSocketCompletesPendingReceiveOnceWithError) {
  SockAddrIn local{};
  Socket s = AssociatedUdp(7, &local);
  RecvSlot recv;
  ASSERT_EQ(recv.Start(port_, s), 0);
  port_.CloseSocket(s);

  ExpectNext(port_, &recv.ov, 7, plat::kSockConnReset);
  ExpectOnlyMarkerNext(port_);

  EXPECT_EQ(recv.Start(port_, s), plat::kSockNotSocket);
  EXPECT_EQ(plat::LastSocketError(), plat::kSockNotSocket);
  ExpectOnlyMarkerNext(port_);
}

// A socket closed behind the port's back and whose number comes back with a
// new socket: the new association replaces the old one, and the operation
// left waiting on the old socket ends with an error instead of never.
TEST_F(PlatformCompletionPort, ReusedDescriptorReplacesAssociationClosedBehindThePort) {
  VELT_LINUX_ONLY("Windows hands out socket handles that are not reused at once, and a closed socket's "
                  "operations complete on their own there");
  SockAddrIn local{};
  Socket old = AssociatedUdp(0x61, &local);
  RecvSlot waiting;
  ASSERT_EQ(waiting.Start(port_, old), 0);
  plat::CloseSocket(old);
  Socket reused = plat::UdpSocket();
  ASSERT_EQ(reused, old) << "the system did not hand the number out again";
  ASSERT_TRUE(port_.Associate(reused, 0x62));

  ExpectNext(port_, &waiting.ov, 0x61, plat::kSockConnReset);
  udptest::Peer peer;
  Overlapped send{};
  ASSERT_EQ(port_.StartSendTo(reused, "x", 1, plat::MakeAddr(kLoopback, peer.Port()), &send), 0);
  ExpectNext(port_, &send, 0x62, 0, 1);
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
