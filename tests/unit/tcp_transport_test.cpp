// The TCP transport end to end against plain sockets on 127.0.0.1: framing,
// queueing behind a connect, replies on the same connection, time limits,
// bad headers, the idle check on the virtual clock, hostile peers, shutdown
// with work in flight, and the sender's refusals before any connect.
#include <string>

#include "asyn_test_util.h"
#include "asynmodel/AsynLog.h"
#include "asynmodel/PostMsgContext.h"
#include "asynmodel/net/TCPIOProcessor.h"
#include "asynmodel/net/TCPSender.h"
#include "platform/stream_socket.h"
#include "udp_test_util.h"

using namespace AsynModel;
using plat::Socket;
using udptest::GetLe32;
using udptest::PutLe16;
using udptest::PutLe32;

namespace {

plat::SockAddrIn Loopback(uint16_t port) { return plat::MakeAddr(0x7F000001u, port); }

// A listening socket on an ephemeral port; Accept hands out plain blocking
// connections that read with a real-time bound.
class Listener {
 public:
  explicit Listener(int backlog = 16) : s_(plat::TcpSocket()) {
    plat::BindSocket(s_, Loopback(0));
    plat::ListenSocket(s_, backlog);
    plat::SockAddrIn a{};
    plat::GetSockName(s_, &a);
    port_ = plat::NetToHost16(a.portBe);
  }
  ~Listener() { plat::CloseSocket(s_); }
  uint16_t Port() const { return port_; }
  Socket Accept(int timeoutMs = 10000) const {
    if (!plat::WaitReadable(s_, timeoutMs)) return plat::kInvalidSocket;
    const Socket conn = plat::AcceptNow(s_);
    plat::SetBlocking(conn, true);
    return conn;
  }

 private:
  Socket s_;
  uint16_t port_ = 0;
};

Socket ConnectTo(uint16_t port) {
  const Socket s = plat::TcpSocket();
  if (plat::SetBlocking(s, true) && plat::ConnectSocket(s, Loopback(port))) return s;
  plat::CloseSocket(s);
  return plat::kInvalidSocket;
}

// Exactly n bytes, or fewer when the peer closed or nothing came in time.
std::vector<uint8_t> ReadN(Socket s, size_t n, int timeoutMs = 10000) {
  std::vector<uint8_t> out(n);
  size_t got = 0;
  while (got < n && plat::WaitReadable(s, timeoutMs)) {
    const int32_t r = plat::StreamRecv(s, out.data() + got, static_cast<uint32_t>(n - got));
    if (r <= 0) break;
    got += static_cast<size_t>(r);
  }
  out.resize(got);
  return out;
}

// Reads whatever is still coming until the library closes its end.
bool PeerClosed(Socket s) {
  uint8_t buf[65536];
  while (plat::WaitReadable(s, 10000)) {
    if (plat::StreamRecv(s, buf, sizeof buf) <= 0) return true;
  }
  return false;
}

// A frame written independently of the library's writer.
std::vector<uint8_t> Frame(uint32_t msgId, uint32_t srcSid, uint32_t destSid, const std::string& body) {
  std::vector<uint8_t> v;
  PutLe16(&v, 1);
  PutLe32(&v, static_cast<uint32_t>(16 + body.size()));
  for (uint32_t w : {1u, msgId, srcSid, destSid}) PutLe32(&v, w);
  v.insert(v.end(), body.begin(), body.end());
  return v;
}

void Write(Socket s, const std::vector<uint8_t>& bytes) {
  ASSERT_EQ(plat::StreamSend(s, bytes.data(), static_cast<uint32_t>(bytes.size())), static_cast<int32_t>(bytes.size()));
}

class TcpTransport : public udptest::UdpFixture {
 protected:
  TCPIOProcessor* Tcp() { return mgr_->GetTCPProcessor(); }
  uint32_t Post(uint16_t port, uint32_t msgId, const std::string& body, uint32_t limitMs = kNoTimeLimit,
                uint32_t mode = Receipt_None, uint32_t localIp = 0, uint16_t localPort = 0) {
    PeerAddress to;
    std::strcpy(to.tcp_ip, "127.0.0.1");
    to.tcp_port = port;
    return session_->PostMsg(to, 77, msgId, body.data(), static_cast<uint32_t>(body.size()), 0, limitMs, mode, 2,
                             nullptr, localIp, localPort);
  }
  // A Gate session that keeps the only worker busy until Open.
  void HoldWorker() {
    gate_ = SptrSession(new asyn_test::Gate());
    ASSERT_EQ(gate_->Start(), 0);
    ASSERT_EQ(mgr_->PostMsg(gate_->GetSessionID(), 1, nullptr, 0, true), 0u);
    ASSERT_TRUE(WaitUntil([&] { return Gate()->entered.load() != 0; }));
  }
  void Open() { Gate()->open.store(1); }
  asyn_test::Gate* Gate() { return static_cast<asyn_test::Gate*>(gate_.get()); }
  void TearDown() override {
    if (gate_) Open();
    if (gate_) gate_->Terminate(Terminate_Event);
    udptest::UdpFixture::TearDown();
  }
  SptrSession gate_;
};

}  // namespace

TEST_F(TcpTransport, QueuedDuringConnectGoOutInOrderAsFramesAndTheReplyUsesTheSameConnection) {
  Listener peer;
  HoldWorker();  // the connect completes only once the worker is free
  const std::vector<std::string> bodies = {"first", "", std::string(2026, 'x')};
  for (size_t i = 0; i < bodies.size(); ++i) ASSERT_EQ(Post(peer.Port(), 500 + i, bodies[i], kNoTimeLimit, Receipt_OnSuccess), 0u);
  EXPECT_EQ(Post(peer.Port(), 9, std::string(2027, 'x')), 18u);  // frame body above 2042
  Open();
  const Socket conn = peer.Accept();
  ASSERT_GE(conn, 0);
  for (size_t i = 0; i < bodies.size(); ++i) {
    EXPECT_EQ(ReadN(conn, 22 + bodies[i].size()), Frame(500 + i, session_->GetSessionID(), 77, bodies[i])) << i;
  }
  ASSERT_TRUE(session_->WaitReceipts(3));
  for (const udptest::Receipt& r : session_->Receipts()) EXPECT_TRUE(r.result == 0 && r.transport == 0);

  Write(conn, Frame(42, 77, session_->GetSessionID(), "ping"));
  ASSERT_TRUE(session_->WaitMessages(1));
  const udptest::Received got = session_->Messages()[0];
  EXPECT_EQ(got.body, "ping");
  ASSERT_TRUE(got.sender && got.sender->TransportType() == 2u);
  EXPECT_EQ(session_->ReplyMsg(got.sender, 77, 43, "pong", 4, 0, kNoTimeLimit, Receipt_None, nullptr), 0u);
  EXPECT_EQ(ReadN(conn, 26), Frame(43, session_->GetSessionID(), 77, "pong"));
  EXPECT_EQ(Tcp()->ConnectionCount(), 1u);

  // The peer hangs up: the sender drops its dead entry and connects afresh.
  plat::CloseSocket(conn);
  ASSERT_TRUE(WaitUntil([&] { return Tcp()->ConnectionCount() == 0; }));
  EXPECT_EQ(session_->ReplyMsg(got.sender, 77, 44, "again", 5, 0, kNoTimeLimit, Receipt_None, nullptr), 0u);
  const Socket second = peer.Accept();
  EXPECT_EQ(ReadN(second, 27), Frame(44, session_->GetSessionID(), 77, "again"));
  plat::CloseSocket(second);
}

TEST_F(TcpTransport, PassedTimeLimitDropsAQueuedMessageWithFourAndReportsTheOneBeingSentWithFive) {
  LogCapture cap;
  Listener peer;
  ASSERT_EQ(Post(peer.Port(), 1, "open", kNoTimeLimit, Receipt_OnSuccess), 0u);
  const Socket conn = peer.Accept();
  ASSERT_EQ(ReadN(conn, 26).size(), 26u);
  ASSERT_TRUE(session_->WaitReceipts(1));  // the connection is idle again
  HoldWorker();  // A's completion waits in the port: A stays "being sent"
  ASSERT_EQ(Post(peer.Port(), 2, "A", 500, Receipt_Both), 0u);
  ASSERT_EQ(Post(peer.Port(), 3, "B", 500, Receipt_Both), 0u);
  ASSERT_EQ(Post(peer.Port(), 4, "C"), 0u);
  // The timer thread takes new timers on its next tick; step until it has.
  for (int i = 0; i < 50 && !cap.WaitFor("ReceptEvent类型为RECEPT_TIMEOUT。", 1, 100); ++i) plat::AdvanceClock(600);
  ASSERT_TRUE(cap.Contains("ReceptEvent类型为RECEPT_TIMEOUT。"));
  ASSERT_TRUE(cap.WaitFor("ReceptEvent类型为RECEPT_TIMEOUT_SENDING。"));
  Open();
  EXPECT_EQ(ReadN(conn, 23), Frame(2, session_->GetSessionID(), 77, "A"));
  EXPECT_EQ(ReadN(conn, 23), Frame(4, session_->GetSessionID(), 77, "C"));  // B never went out
  ASSERT_TRUE(session_->WaitReceipts(3));
  std::map<uint32_t, int16_t> codes;
  for (const udptest::Receipt& r : session_->Receipts()) codes[r.msgId] = r.result;
  EXPECT_EQ(codes, (std::map<uint32_t, int16_t>{{1, 0}, {2, 5}, {3, 4}}));
  plat::CloseSocket(conn);
}

TEST_F(TcpTransport, BadHeadersAndAConnectionToItselfDeleteTheConnection) {
  LogCapture cap;
  // Which headers are bad is the frame reader's (fuzzed) verdict; here one
  // of them, a length of 0.
  Listener peer;
  ASSERT_EQ(Post(peer.Port(), 1, "hi"), 0u);
  const Socket conn = peer.Accept();
  ASSERT_EQ(ReadN(conn, 24).size(), 24u);
  Write(conn, std::vector<uint8_t>{1, 0, 0, 0, 0, 0});
  EXPECT_TRUE(PeerClosed(conn));
  EXPECT_TRUE(WaitUntil([&] { return Tcp()->ConnectionCount() == 0; }));
  plat::CloseSocket(conn);
  EXPECT_EQ(cap.Count("CheckRecvData中发现TCPSocketError，删除SocketItem。"), 1u);

  // A port found free may be taken by a parallel test before the connection
  // binds it (code 18): try a few.
  uint16_t port = 0;
  uint32_t posted = 18;
  for (int attempt = 0; attempt < 5 && posted == 18; ++attempt) {
    port = udptest::FreeUdpPort();
    posted = Post(port, 5, "self", kNoTimeLimit, Receipt_OnFailure, 0x7F000001u, port);
  }
  ASSERT_EQ(posted, 0u);
  ASSERT_TRUE(session_->WaitReceipts(1));
  EXPECT_EQ(session_->Receipts()[0].result, 2);
  EXPECT_TRUE(cap.Contains("LocalAddr == RemoteAddr IP:127.0.0.1 Port:" + std::to_string(port) + "。"));
}

TEST_F(TcpTransport, AnIdleConnectionClosesBetweenThirtyAndThirtyFiveMinutesAfterItsLastUse) {
  Listener peer;
  ASSERT_EQ(Post(peer.Port(), 1, "last use", kNoTimeLimit, Receipt_OnSuccess), 0u);
  const Socket conn = peer.Accept();
  ASSERT_EQ(ReadN(conn, 30).size(), 30u);
  ASSERT_TRUE(session_->WaitReceipts(1));  // not sending any more (else it counts as stuck)
  const int64_t lastUse = plat::NowMs();
  int64_t closedAfter = -1;
  for (uint32_t pass = Tcp()->CheckPassCount() + 1; closedAfter < 0 && pass < 12; ++pass) {
    plat::AdvanceClock(TCPIOProcessor::kCheckIntervalMs);
    ASSERT_TRUE(WaitUntil([&] { return Tcp()->CheckPassCount() >= pass; }));
    if (Tcp()->ConnectionCount() == 0) closedAfter = plat::NowMs() - lastUse;
  }
  EXPECT_GE(closedAfter, 30 * 60 * 1000 - 1000);
  EXPECT_LE(closedAfter, 35 * 60 * 1000 + 1000);
  EXPECT_TRUE(PeerClosed(conn));
  plat::CloseSocket(conn);
}

TEST_F(TcpTransport, HostilePeersEndTheirConnectionsWithoutStallingTheWorker) {
  uint16_t port = 0;
  ASSERT_EQ(Tcp()->AddListenAddr(0x7F000001u, 0, &port), 0);
  const Socket stall = ConnectTo(port);
  Write(stall, std::vector<uint8_t>{1, 0, 9});  // half a header, then nothing
  const Socket reset = ConnectTo(port);  // hangs up hard in mid-frame
  plat::SetResetOnClose(reset);
  const std::vector<uint8_t> cut = Frame(1, 2, session_->GetSessionID(), "cut short");
  Write(reset, std::vector<uint8_t>(cut.begin(), cut.begin() + 12));
  plat::CloseSocket(reset);

  const Socket flood = ConnectTo(port);
  std::vector<uint8_t> burst;
  constexpr int kFrames = 1000;
  for (int i = 0; i < kFrames; ++i) {
    std::vector<uint8_t> f = Frame(100, 2, session_->GetSessionID(), std::to_string(i));
    burst.insert(burst.end(), f.begin(), f.end());
  }
  Write(flood, burst);
  ASSERT_TRUE(session_->WaitMessages(kFrames, 30000));
  const std::vector<udptest::Received> got = session_->Messages();
  for (int i = 0; i < kFrames; ++i) ASSERT_EQ(got[i].body, std::to_string(i));  // in order
  EXPECT_TRUE(WaitUntil([&] { return Tcp()->ConnectionCount() == 2; }));  // the stalled one and the flood
  for (Socket s : {stall, flood}) plat::CloseSocket(s);
  EXPECT_TRUE(WaitUntil([&] { return Tcp()->ConnectionCount() == 0; }));
}

TEST_F(TcpTransport, StopAndDestroyEndCleanlyWithConnectionsSendsAndAConnectInFlight) {
  LogCapture cap;
  Listener open;
  ASSERT_EQ(Post(open.Port(), 1, "up"), 0u);
  const Socket conn = open.Accept();
  ASSERT_EQ(ReadN(conn, 24).size(), 24u);
  // A listener whose backlog is full drops new handshakes: that connect stays
  // in progress.
  Listener full(0);
  std::vector<Socket> fillers;
  for (int i = 0; i < 3; ++i) {
    fillers.push_back(plat::TcpSocket());  // non-blocking: the connect stays under way
    plat::ConnectSocket(fillers.back(), Loopback(full.Port()));
  }
  HoldWorker();
  for (uint32_t i = 0; i < 20; ++i) {
    ASSERT_EQ(Post(open.Port(), 10 + i, std::string(2000, 'q'), 60000, Receipt_OnFailure), 0u);
    ASSERT_EQ(Post(full.Port(), 50 + i, "waits"), 0u);
  }
  Open();
  EXPECT_EQ(mgr_->Stop(), 0u);
  EXPECT_EQ(Tcp()->ConnectionCount(), 0u);
  mgr_->Destroy();
  EXPECT_TRUE(cap.Contains("TCPIOProcessor::Stop 完成Stop。"));
  EXPECT_TRUE(cap.Contains("TCPIOProcessor::Destroy 完成Destroy。"));
  EXPECT_TRUE(PeerClosed(conn));
  for (Socket s : fillers) plat::CloseSocket(s);
  plat::CloseSocket(conn);
}

TEST(TcpSender, RefusesABadAddressAndAMissingManagerWithItsCodesAndLines) {
  LogCapture cap;
  SptrPostMsgContext ctx(PostMsgContext::Create());
  SptrSession session(new asyn_test::RecordingSession());

  SptrISender noPort(new TCPSender(0x7F000001u, 0, 0, 0));
  EXPECT_EQ(static_cast<TCPSender*>(noPort.get())->AsynSendEx(ctx, session), 8u);
  EXPECT_TRUE(cap.Contains("TCPSender::AsynSendEx 中Sender 发送目的地的IP,Port非法,IP = 2130706433 Port = 0."));

  SptrISender sender(new TCPSender(0x7F000001u, 8000, 0, 0));
  auto* tcp = static_cast<TCPSender*>(sender.get());
  EXPECT_EQ(sender->TransportType(), 2u);
  EXPECT_EQ(tcp->AsynSendEx(ctx, session), 9u);  // the manager is not running
  EXPECT_TRUE(cap.Contains(" TCPSender::AsynSendEx 中 获取Manager失败。"));

  for (const LogLine& l : cap.Lines()) {
    if (l.text.find("TCPSender::AsynSendEx") != std::string::npos) {
      EXPECT_EQ(l.subType, kLogTcpSender);
      EXPECT_EQ(l.level, Log::kError);
    }
  }
  session->Terminate(0);
}
