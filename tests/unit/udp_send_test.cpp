// Sending: Session::PostMsg and ReplyMsg checks, the datagram on the wire,
// UDPSender and the default address (removal, the framework event, recovery),
// socket table removal rules, and send failures with receipts.
#include <tuple>

#include "asynmodel/SubScribeEventCallBack.h"
#include "asynmodel/net/LocalSender.h"
#include "asynmodel/net/UDPSender.h"
#include "tzhelper/TzMemAlloc.h"
#include "udp_test_util.h"
#include "wait_util.h"

using namespace udptest;

namespace {

// Each default-port failure the framework reports, as "ip:port code".
class CountingObserver : public SubScribeEventCallBack {
 public:
  void TCPDefaultListenPortFailureCallBack(const char*, uint32_t, int32_t) override {}
  void UDPDefaultPortFailureCallBack(const char* ip, uint32_t port, int32_t code) override {
    std::lock_guard<std::mutex> g(mu_);
    calls_.push_back(std::string(ip) + ":" + std::to_string(port) + " " + std::to_string(code));
  }
  std::vector<std::string> Calls() {
    std::lock_guard<std::mutex> g(mu_);
    return calls_;
  }

 private:
  std::mutex mu_;
  std::vector<std::string> calls_;
};

template <class T>
plat::HeapCounters PoolCounters() {
  return TzMemAlloc<T, TzListMemAllocMethod>::Counters();
}

SptrPostMsgContext Context(RecordingSession* s, uint32_t msgId, const std::string& body) {
  SptrPostMsgContext c(PostMsgContext::Create());
  c->m_msg.msgId = msgId;
  c->m_msg.srcSid = s->GetSessionID();
  c->m_msg.sharedData = reinterpret_cast<const uint8_t*>(body.data());
  c->m_msg.sharedLength = static_cast<uint32_t>(body.size());
  return c;
}

}  // namespace

class UdpSend : public UdpFixture {
 protected:
  void TearDown() override {
    mgr_->RegisterEventCallBack(nullptr);
    UdpFixture::TearDown();
  }
};

TEST_F(UdpSend, UnreliableDatagramOnTheWireAndReceiptsForModes1And3) {
  Peer peer;
  const std::string body = "qos-record";
  ASSERT_EQ(session_->PostMsg(To(peer), 0, 1116, body.data(), 10, 0, kNoTimeLimit, Receipt_None, 3,
                              nullptr, 0, 0),
            0u);
  std::vector<uint8_t> d;
  uint16_t from = 0;
  ASSERT_TRUE(peer.Recv(&d, 5000, &from));
  EXPECT_EQ(from, defaultPort_);
  EXPECT_EQ(d, DataDatagram(1116, session_->GetSessionID(), 0, body));

  ASSERT_EQ(SendTo(peer, 11, "m1", 0, kNoTimeLimit, Receipt_OnSuccess), 0u);
  ASSERT_EQ(SendTo(peer, 12, "m2", 0, kNoTimeLimit, Receipt_OnFailure), 0u);
  ASSERT_EQ(SendTo(peer, 13, "m3", 0, kNoTimeLimit, Receipt_Both), 0u);
  ASSERT_EQ(SendTo(peer, 14, "m4", 0, kNoTimeLimit, Receipt_OnSuccess), 0u);
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(peer.Recv(&d, 5000));
  // 14's receipt is the last to come: 12 (failures only) had its chance.
  ASSERT_TRUE(WaitUntil([&] {
    for (const Receipt& x : session_->Receipts()) {
      if (x.msgId == 14) return true;
    }
    return false;
  }));
  std::vector<Receipt> r = session_->Receipts();
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r[0].msgId + r[1].msgId + r[2].msgId, 11u + 13u + 14u);
  for (const Receipt& x : r) {
    EXPECT_EQ(x.result, 0);
    EXPECT_EQ(x.transport, 1);
    EXPECT_EQ(x.reliable, 0);
  }
}

TEST_F(UdpSend, BadDestinationIsRefusedWith27BeforeAnythingIsAllocated) {
  Peer peer;
  const int64_t contexts = PoolCounters<PostMsgContext>().systemBlocks;
  const int64_t senders = PoolCounters<UDPSender>().systemBlocks;

  std::vector<PeerAddress> bad(3, To(peer));
  bad[0].kind = 1;
  bad[1].SetUdp("10.0.0.1", 0);
  bad[2] = PeerAddress();
  std::strcpy(bad[2].tcp_ip, "127.0.0.1");
  bad[2].tcp_port = peer.Port();  // usable, but not over UDP
  // Text the system parser would turn into all ones (or a surprise) is no
  // dotted unicast address, wherever it came from.
  for (const char* text : {"abc", "localhost", "255.255.255.255", "0.0.0.0", "127.0.0.1junk", "999.1.1.1",
                           "127.1", "0x7f.0.0.1", " 127.0.0.1", "1.2.3.4.", "010.0.0.1"}) {
    bad.emplace_back();
    bad.back().SetUdp(text, peer.Port());
  }
  for (const PeerAddress& a : bad) {
    EXPECT_EQ(session_->PostMsg(a, 0, 1, "x", 1, 0, kNoTimeLimit, Receipt_Both, 3, nullptr, 0, 0),
              27u) << a.udp_ip << " kind " << a.kind;
  }

  EXPECT_EQ(PoolCounters<PostMsgContext>().systemBlocks, contexts);
  EXPECT_EQ(PoolCounters<UDPSender>().systemBlocks, senders);
  // Nothing of the refused ones reaches the wire or the session: the first
  // datagram and the first receipt are those of a good send made now.
  ASSERT_EQ(SendTo(peer, 2, "good", 0, kNoTimeLimit, Receipt_Both), 0u);
  std::vector<uint8_t> d;
  ASSERT_TRUE(peer.Recv(&d, 5000));
  EXPECT_EQ(GetLe32(d, 12), 2u);
  ASSERT_TRUE(session_->WaitReceipts(1));
  EXPECT_EQ(session_->Receipts()[0].msgId, 2u);
}

TEST_F(UdpSend, BodyLimitsAre2020ForUdpAnd2064ForTcp) {
  Peer peer;
  const std::string body(2065, 'b');
  std::vector<uint8_t> d;
  for (uint8_t reliable : {0, 1}) {  // unreliable leaves 4 bytes to spare
    EXPECT_EQ(SendTo(peer, 1, body.substr(0, 2021), reliable), 14u);
    ASSERT_EQ(SendTo(peer, 1, body.substr(0, 2020), reliable), 0u);
    ASSERT_TRUE(peer.Recv(&d, 5000));
    EXPECT_EQ(d.size(), 2044u + 4u * reliable);
  }

  PeerAddress tcp;
  std::strcpy(tcp.tcp_ip, "127.0.0.1");
  tcp.tcp_port = 9;  // nothing listens; the TCP side refuses on its own terms
  EXPECT_EQ(session_->PostMsg(tcp, 0, 1, body.data(), 2065, 0, kNoTimeLimit, 0, 2, nullptr, 0, 0), 14u);
  EXPECT_NE(session_->PostMsg(tcp, 0, 1, body.data(), 2064, 0, kNoTimeLimit, 0, 2, nullptr, 0, 0), 14u);
}

TEST_F(UdpSend, RefusalsOfTheProcessorAndOfReplyThenOfAStoppedManager) {
  LogCapture log;
  SptrUdpSocketItem item;
  ASSERT_EQ(udp_->FindSocketIfNotThenCreateNewOne(0, 0, &item, false), 1);
  const std::string big(2025, 'x');
  SptrPostMsgContext ctx = Context(session_, 1, big);
  EXPECT_EQ(udp_->SendMsg(plat::MakeAddr(0x7F000001, 9), item, ctx, nullptr), 14u);
  EXPECT_TRUE(log.Contains(
      "UDPIOProcess::UnReliableSendMsg() 输入的用户数据过大[2049 Byte],超过了系统规定的长度2048 Byte."));
  EXPECT_EQ(udp_->SendMsg(plat::MakeAddr(0x7F000001, 9), nullptr, ctx, nullptr), 31u);
  EXPECT_TRUE(log.Contains("UDPIOProcess::SendMsg() 输入参数SocketItem为NULL."));
  EXPECT_EQ(udp_->SendMsg(plat::MakeAddr(0x7F000001, 9), item, nullptr, nullptr), 18u);
  EXPECT_TRUE(log.Contains("UDPIOProcess::SendMsg() 输入参数SptrPostMsgContext为NULL."));
  EXPECT_FALSE(udp_->PopAndCloseSocketFromTheTable(nullptr));
  EXPECT_TRUE(log.Contains("UDPIOProcess::PopAndCloseSocketFromTheTable() 输入参数SocketItem错误，为NULL"));

  // A reply needs a UDP or TCP sender, and keeps to the body limit.
  EXPECT_EQ(session_->ReplyMsg(nullptr, 0, 1, "x", 1, 0, kNoTimeLimit, 0, nullptr), 10u);
  SptrISender local(new LocalSender(session_, session_));
  EXPECT_EQ(session_->ReplyMsg(local, 0, 1, "x", 1, 0, kNoTimeLimit, 0, nullptr), 11u);
  Peer peer;
  SptrISender udp(new UDPSender(0, 0, plat::MakeAddr(0x7F000001, peer.Port())));
  EXPECT_EQ(session_->ReplyMsg(udp, 0, 1, big.data(), 2021, 0, kNoTimeLimit, 0, nullptr), 14u);

  // A stopped manager refuses with 12 and sends nothing.
  ASSERT_EQ(mgr_->Stop(), 0u);
  EXPECT_EQ(SendTo(peer, 1, "x"), 12u);
  EXPECT_EQ(session_->ReplyMsg(udp, 0, 1, "x", 1, 0, kNoTimeLimit, 0, nullptr), 12u);
}

TEST_F(UdpSend, LosingTheDefaultSocketIsReportedOnceAndAHeldSenderRecovers) {
  LogCapture log;
  CountingObserver observer;
  mgr_->RegisterEventCallBack(&observer);
  Peer peer;

  TzSptr<UDPSender> held(new UDPSender(0, 0, plat::MakeAddr(0x7F000001, peer.Port())));
  ASSERT_EQ(held->AsynSendEx(Context(session_, 1, "first"), SptrSession(session_)), 0u);
  uint32_t ip = 0;
  uint16_t port = 0;
  held->GetLocalAddr(&ip, &port);
  EXPECT_EQ(ip, defaultIp_);
  EXPECT_EQ(port, defaultPort_);
  std::vector<uint8_t> d;
  ASSERT_TRUE(peer.Recv(&d, 5000));

  SptrUdpSocketItem oldDefault;
  ASSERT_EQ(udp_->FindSocketIfNotThenCreateNewOne(0, 0, &oldDefault, false), 1);
  ASSERT_TRUE(udp_->PopAndCloseSocketFromTheTable(oldDefault));
  // The closed socket's pending receive fails too; that removal finds nothing.
  ASSERT_TRUE(log.WaitFor("失效,被删除,错误类型:"));
  const std::vector<std::string> once = {"127.0.0.1:" + std::to_string(defaultPort_) + " 32"};
  EXPECT_EQ(observer.Calls(), once);
  EXPECT_EQ(log.Count("UDPIOProcess::DefaultPortInvaildCallBack() 发现UDP默认地址失效回调用户"), 1u);
  EXPECT_FALSE(held->IsValid());

  // Nothing names a local address and there is no default any more.
  EXPECT_EQ(SendTo(peer, 2, "lost"), 29u);
  EXPECT_TRUE(log.Contains("UDPIOProcess::FindSocketIfNotThenCreateNewOne() "
                           "系统还没有指定的默认端口或者默认端口失效，创建Socket失败。"));
  TzSptr<UDPSender> fresh(new UDPSender(0, 0, plat::MakeAddr(0x7F000001, peer.Port())));
  EXPECT_EQ(fresh->AsynSendEx(Context(session_, 3, "lost"), SptrSession(session_)), 29u);

  ASSERT_EQ(mgr_->SetDefaultUDPAddr("127.0.0.1", 0), 0u);
  uint16_t newPort = 0;
  udp_->GetDefault(nullptr, &newPort, nullptr);
  ASSERT_NE(newPort, 0);
  // The held sender still holds the dead socket: dropped (31), then the
  // retry in the same call finds the new default.
  ASSERT_EQ(held->AsynSendEx(Context(session_, 4, "back"), SptrSession(session_)), 0u);
  uint16_t from = 0;
  ASSERT_TRUE(peer.Recv(&d, 5000, &from));
  EXPECT_EQ(from, newPort);
  held->GetLocalAddr(&ip, &port);
  EXPECT_EQ(port, newPort);
  EXPECT_EQ(observer.Calls(), once);
}

// Each change of the default address used to leave the old socket open and
// receiving (8 rebinds: 9 sockets). A removal takes only the entry it names,
// not a newer one on the same address; Stop takes all and reports the
// default once.
TEST_F(UdpSend, RebindsRemovalsAndStopKeepTheSocketTableExact) {
  LogCapture log;
  SptrUdpSocketItem first;
  ASSERT_EQ(udp_->FindSocketIfNotThenCreateNewOne(0, 0, &first, false), 1);
  for (int i = 0; i < 8; ++i) ASSERT_EQ(mgr_->SetDefaultUDPAddr("127.0.0.1", FreeUdpPort()), 0u);
  EXPECT_EQ(udp_->SocketCount(), 1u);
  EXPECT_FALSE(first->IsValid());

  const uint16_t p = FreeUdpPort();
  SptrUdpSocketItem old, a, b, found;
  ASSERT_EQ(udp_->FindSocketIfNotThenCreateNewOne(0x7F000001, p, &old, true), 2);
  ASSERT_TRUE(udp_->PopAndCloseSocketFromTheTable(old));
  ASSERT_EQ(udp_->FindSocketIfNotThenCreateNewOne(0x7F000001, p, &a, true), 2);
  ASSERT_NE(old->m_sn, a->m_sn);
  EXPECT_FALSE(udp_->PopAndCloseSocketFromTheTable(old));
  EXPECT_EQ(udp_->FindSocketIfNotThenCreateNewOne(0x7F000001, p, &found, true), 1);
  EXPECT_EQ(found, a);

  CountingObserver observer;
  mgr_->RegisterEventCallBack(&observer);
  ASSERT_EQ(udp_->FindSocketIfNotThenCreateNewOne(0x7F000001, FreeUdpPort(), &b, true), 2);
  ASSERT_EQ(mgr_->Stop(), 0u);
  EXPECT_EQ(log.Count("UDPIOProcess::PopAndCloseAllSocketFromTheTable() 从SocketItemMap中删除了所有3个SocketItem"), 1u);
  EXPECT_EQ(observer.Calls().size(), 1u);
  EXPECT_FALSE(a->IsValid());
  EXPECT_FALSE(b->IsValid());
  EXPECT_EQ(udp_->SocketCount(), 0u);
  uint32_t sn = 1;
  udp_->GetDefault(nullptr, nullptr, &sn);
  EXPECT_EQ(sn, 0u);
  EXPECT_TRUE(log.Contains("UDPIOProcess::Stop"));
}

TEST_F(UdpSend, DefaultOnAnAddressInUseFailsWith33AndZeroZeroTakesThePrimaryAddress) {
  LogCapture log;
  Peer squatter;
  EXPECT_EQ(mgr_->SetDefaultUDPAddr("127.0.0.1", squatter.Port()), 33u);
  EXPECT_TRUE(log.Contains("UDPIOProcess::CreateANewUdpSocket() 绑定UDP Socket端口失败，IP=127.0.0.1 Port=" +
                           std::to_string(squatter.Port()) + "."));
  EXPECT_TRUE(log.Contains("UDPIOProcess::SetDefaultIPPort() 设置默认地址失败"));
  uint32_t ip = 0;
  uint16_t port = 0;
  udp_->GetDefault(nullptr, &port, nullptr);
  EXPECT_EQ(port, defaultPort_);  // the old default stays

  // (0, 0) would first take the current default's address: drop it.
  SptrUdpSocketItem oldDefault;
  ASSERT_EQ(udp_->FindSocketIfNotThenCreateNewOne(0, 0, &oldDefault, false), 1);
  ASSERT_TRUE(udp_->PopAndCloseSocketFromTheTable(oldDefault));
  ASSERT_EQ(mgr_->SetDefaultUDPAddr(nullptr, 0), 0u);
  udp_->GetDefault(&ip, &port, nullptr);
  EXPECT_EQ(ip, plat::PrimaryLocalIp());
  EXPECT_NE(port, 0);
}

// A send refused for its destination (here port 0, which the system refuses
// at once) used to close the shared socket, so one bad address silenced all
// receiving. It now fails alone with 39, also when the failure comes back
// through a completion, and the socket keeps working. Any other failed
// completion removes its socket and gives code 1 to a mode-2 sender.
TEST_F(UdpSend, DestinationErrorFailsTheSendAloneAndOtherFailuresRemoveTheSocket) {
  LogCapture log;
  SptrUdpSocketItem item, other;
  ASSERT_EQ(udp_->FindSocketIfNotThenCreateNewOne(0, 0, &item, false), 1);
  ASSERT_EQ(udp_->FindSocketIfNotThenCreateNewOne(0x7F000001, FreeUdpPort(), &other, true), 2);
  const std::string body = "lost body";  // the contexts point at it
  for (int reliable = 0; reliable < 2; ++reliable) {
    SptrPostMsgContext ctx = Context(session_, 5, body);
    ctx->m_reliable = static_cast<uint8_t>(reliable);
    EXPECT_EQ(udp_->SendMsg(plat::MakeAddr(0x7F000001, 0), item, ctx, nullptr), 39u);
  }
  EXPECT_TRUE(log.Contains("UDPIOProcess::UnReliableSendMsg() 发往127.0.0.1:0的数据被拒绝(目的地址错误),错误类型:10022"));

  Event ev;
  SptrISender none;
  UDPIOData* data = UDPIOData::Create(UdpOp_Send);
  data->context = Context(session_, 6, body);
  ASSERT_EQ(BuildDataDatagram(data->context->m_msg, false, 0, &data->stream, nullptr), 0u);
  data->remote = plat::MakeAddr(0x7F000001, 0);
  data->overlapped.error = plat::kSockAccess;
  EXPECT_EQ(udp_->UDPProc(item.get(), false, data, &ev, &none), UdpProc_Nothing);
  EXPECT_TRUE(item->IsValid());
  Peer peer;
  ASSERT_EQ(SendTo(peer, 7, "after"), 0u);
  std::vector<uint8_t> d;
  EXPECT_TRUE(peer.Recv(&d, 5000));

  SptrPostMsgContext ctx = Context(session_, 77, body);
  ctx->m_receiptMode = Receipt_OnFailure;
  data = UDPIOData::Create(UdpOp_Send);
  ASSERT_EQ(BuildDataDatagram(ctx->m_msg, false, 0, &data->stream, nullptr), 0u);
  ctx->m_msg.form = MSG_DATA_MEMSTREAM;  // as a posted send holds its datagram
  ctx->m_msg.sharedData = nullptr;
  ctx->m_msg.stream = data->stream;
  data->context = ctx;
  data->targetSession = SptrSession(session_);
  ASSERT_EQ(udp_->UDPProc(other.get(), false, data, &ev, &none), UdpProc_DeliverReceipt);
  delete data;  // what the worker does after delivering
  EXPECT_TRUE(log.Contains("UDPIOProcess::UDPProc() 收到发送数据失败,错误类型:"));
  EXPECT_TRUE(log.Contains("UDPIOProcess::UnAliableSendFinish()收到一个不可靠发送完成包,相应的SocketItem[sn=" +
                           std::to_string(other->m_sn) + "]实效,SocketItem被删除."));
  EXPECT_FALSE(other->IsValid());
  ASSERT_EQ(session_->OnEventArrived(ev, none), 0);
  ASSERT_TRUE(session_->WaitReceipts(1));
  const Receipt r = session_->Receipts()[0];
  EXPECT_EQ(std::make_tuple(r.result, r.transport, r.msgId, r.body),
            std::make_tuple(int16_t{1}, uint16_t{1}, 77u, body));
}
