// Reliable sending against a loopback peer that acknowledges or stays silent:
// the resend schedule, the time limit, receipts, and the races between a
// send completion, an ACK and a time-out. Time is driven with AdvanceClock.
#include <chrono>
#include <functional>
#include <map>

#include "asynmodel/net/UDPResendContext.h"
#include "tzhelper/TzQuickTimer.h"
#include "udp_test_util.h"
#include "wait_util.h"

using namespace udptest;

namespace {

struct Arrival {
  uint32_t sn;
  uint32_t msgId;
  int64_t atMs;
};

// Moves the clock on in 20 ms steps, collecting what reaches the peer, until
// done() says so, the virtual budget is spent, or 30 s of real time pass.
// The peer ACKs every datagram when `ack` is set.
std::vector<Arrival> Drive(const Peer& peer, int64_t budgetMs,
                           const std::function<bool(const std::vector<Arrival>&)>& done,
                           uint16_t ackTo = 0) {
  std::vector<Arrival> got;
  const auto realDeadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  for (int64_t advanced = 0; advanced <= budgetMs && std::chrono::steady_clock::now() < realDeadline;) {
    std::vector<uint8_t> d;
    while (peer.Recv(&d, 5)) {
      if (d.size() < 20) continue;
      got.push_back(Arrival{GetLe32(d, 8), GetLe32(d, 16), plat::NowMs()});
      if (ackTo != 0) peer.SendTo(ackTo, AckDatagram(GetLe32(d, 8)));
    }
    if (done(got)) break;
    plat::AdvanceClock(20);
    advanced += 20;
  }
  return got;
}

uint32_t PendingTimers(AsynManager* mgr) {
  TzQuickTimer::Census c = mgr->GetQuickTimer()->CensusForTest();
  return c.incoming + c.wheel + c.far;
}

}  // namespace

class UdpReliable : public UdpFixture {};

TEST_F(UdpReliable, WithoutLimitSixTransmissionsWithGrowingWaitsThenCode4) {
  Peer peer;
  ASSERT_EQ(SendTo(peer, 101, "one", 1, kNoTimeLimit, Receipt_OnSuccess), 0u);
  ASSERT_EQ(SendTo(peer, 102, "two", 1, kNoTimeLimit, Receipt_OnFailure), 0u);
  ASSERT_EQ(SendTo(peer, 103, "three", 1, kNoTimeLimit, Receipt_Both), 0u);

  std::vector<Arrival> got = Drive(peer, 6000, [](const std::vector<Arrival>& a) { return a.size() >= 18; });
  ASSERT_EQ(got.size(), 18u);

  std::map<uint32_t, std::vector<int64_t>> bySn;
  std::map<uint32_t, uint32_t> msgOfSn;
  for (const Arrival& a : got) {
    bySn[a.sn].push_back(a.atMs);
    msgOfSn[a.sn] = a.msgId;
  }
  ASSERT_EQ(bySn.size(), 3u);
  for (auto& entry : bySn) {
    ASSERT_EQ(entry.second.size(), 6u) << "msgId " << msgOfSn[entry.first];
    for (size_t k = 1; k < 6; ++k) {
      const int64_t gap = entry.second[k] - entry.second[k - 1];
      // Lower bound: the wait after transmission k is k x 200 ms (less one
      // driving step of observation slack). Loose upper bound: no doubling.
      EXPECT_GE(gap, static_cast<int64_t>(200 * k) - 30) << "gap " << k;
      EXPECT_LT(gap, static_cast<int64_t>(200 * k) + 400) << "gap " << k;
    }
  }

  // Given up as soon as the sixth transmission completed: no more time needed.
  ASSERT_TRUE(session_->WaitReceipts(2));
  std::vector<Receipt> r = session_->Receipts();
  ASSERT_EQ(r.size(), 2u);
  std::map<uint32_t, Receipt> byMsg{{r[0].msgId, r[0]}, {r[1].msgId, r[1]}};
  ASSERT_EQ(byMsg.count(102), 1u);
  ASSERT_EQ(byMsg.count(103), 1u);
  EXPECT_EQ(byMsg[102].result, 4);
  EXPECT_EQ(byMsg[102].transport, 1);
  EXPECT_EQ(byMsg[102].body, "two");
  EXPECT_EQ(byMsg[103].result, 4);
  EXPECT_EQ(byMsg[103].body, "three");
  EXPECT_EQ(udp_->AckTable().Size(), 0u);

  std::vector<uint8_t> none;
  plat::AdvanceClock(3000);
  EXPECT_FALSE(peer.Recv(&none, 60));
}

// The range check above cannot tell a resend one step late (400 ms) from real
// time flowing. With the timer thread held, one pass 250 ms after the timer
// was armed must resend: the first wait is 200 ms, not 400.
TEST_F(UdpReliable, FirstResendIsDueTwoHundredMsAfterTheFirstTransmission) {
  TzQuickTimer* timer = mgr_->GetQuickTimer();
  timer->SuspendPassesForTest(true);
  Peer peer;
  ASSERT_EQ(SendTo(peer, 111, "late?", 1, kNoTimeLimit, Receipt_None), 0u);
  std::vector<uint8_t> d;
  ASSERT_TRUE(peer.Recv(&d, 5000));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (PendingTimers(mgr_) == 0 && std::chrono::steady_clock::now() < deadline) plat::SleepMs(1);
  ASSERT_EQ(PendingTimers(mgr_), 1u);
  timer->RunPassForTest(plat::NowMs() + 250);
  const bool resent = peer.Recv(&d, 5000);  // still held: only that pass can resend
  timer->SuspendPassesForTest(false);
  ASSERT_TRUE(resent);
  EXPECT_EQ(GetLe32(d, 16), 111u);
}

TEST_F(UdpReliable, WithALimitOfOneSecondCode4ComesAfterTheLimit) {
  Peer peer;
  const int64_t start = plat::NowMs();
  ASSERT_EQ(SendTo(peer, 201, "limited", 1, 1000, Receipt_Both), 0u);
  std::vector<Arrival> got =
      Drive(peer, 3000, [&](const std::vector<Arrival>&) { return !session_->Receipts().empty(); });
  ASSERT_TRUE(session_->WaitReceipts(1));
  Receipt r = session_->Receipts()[0];
  EXPECT_EQ(r.result, 4);
  EXPECT_EQ(r.msgId, 201u);
  EXPECT_GE(r.atMs - start, 1000);
  EXPECT_LT(r.atMs - start, 1000 + 400);
  ASSERT_GE(got.size(), 1u);
  EXPECT_LE(got.size(), 2u);  // normally one: a resend only if the timer beat the limit
}

TEST_F(UdpReliable, AckedDatagramsGiveCode0ForModes1And3AndAreNotResent) {
  Peer peer;
  ASSERT_EQ(SendTo(peer, 301, "a", 1, kNoTimeLimit, Receipt_OnSuccess), 0u);
  ASSERT_EQ(SendTo(peer, 302, "b", 1, kNoTimeLimit, Receipt_OnFailure), 0u);
  ASSERT_EQ(SendTo(peer, 303, "c", 1, kNoTimeLimit, Receipt_Both), 0u);
  std::vector<Arrival> got = Drive(
      peer, 4000, [&](const std::vector<Arrival>& a) { return a.size() >= 3 && session_->Receipts().size() >= 2; },
      defaultPort_);
  ASSERT_TRUE(session_->WaitReceipts(2));

  // Whatever came first, ACK or completion, one receipt each for 1 and 3.
  Drive(peer, 3000, [](const std::vector<Arrival>&) { return false; }, defaultPort_);
  std::vector<Receipt> r = session_->Receipts();
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].result, 0);
  EXPECT_EQ(r[1].result, 0);
  EXPECT_EQ(r[0].msgId + r[1].msgId, 301u + 303u);
  EXPECT_EQ(got.size(), 3u);
  EXPECT_EQ(udp_->AckTable().Size(), 0u);
}

TEST_F(UdpReliable, SendCompletionAfterTheAckArmsNoTimer) {
  // The completion of a datagram whose ACK has already popped its sn.
  const uint32_t sn = udp_->NextSn();
  Msg m;
  SptrMemStream stream;
  uint32_t total = 0;
  ASSERT_EQ(BuildDataDatagram(m, true, sn, &stream, &total), 0u);
  SptrUdpSocketItem item;
  ASSERT_EQ(udp_->FindSocketIfNotThenCreateNewOne(0, 0, &item, false), 1);

  UDPIOData* data = UDPIOData::Create(UdpOp_Send);
  ASSERT_NE(data, nullptr);
  data->stream = stream;
  data->resend = SptrUDPResendContext(UDPResendContext::Create(sn, plat::NowMs(), kNoTimeLimit, item));
  data->context = SptrPostMsgContext(PostMsgContext::Create());
  data->context->m_receiptMode = Receipt_Both;
  data->transferred = total;

  const uint32_t before = PendingTimers(mgr_);
  Event ev;
  EXPECT_EQ(udp_->AliableSendFinish(item.get(), true, data, &ev), UdpProc_Nothing);
  EXPECT_EQ(PendingTimers(mgr_), before);
  EXPECT_EQ(ev.kind, 0u);  // no receipt from the completion
}

TEST_F(UdpReliable, ShutdownClearsPendingResendsWithCode4AndNoResend) {
  Peer peer;
  ASSERT_EQ(SendTo(peer, 401, "bye", 1, kNoTimeLimit, Receipt_OnFailure), 0u);
  std::vector<uint8_t> first;
  ASSERT_TRUE(peer.Recv(&first, 5000));
  // Wait until the completion has armed the resend timer.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (PendingTimers(mgr_) == 0 && std::chrono::steady_clock::now() < deadline) plat::SleepMs(1);
  ASSERT_GT(PendingTimers(mgr_), 0u);

  ASSERT_EQ(mgr_->Stop(), 0u);
  ASSERT_TRUE(session_->WaitReceipts(1));
  EXPECT_EQ(session_->Receipts()[0].result, 4);
  EXPECT_EQ(session_->Receipts()[0].msgId, 401u);
  std::vector<uint8_t> none;
  EXPECT_FALSE(peer.Recv(&none, 60));
}

TEST_F(UdpReliable, RefusedReliableSendsUseUpTheirSn) {
  LogCapture log;
  Peer peer;
  // An sn already in flight: 70, nothing sent.
  udp_->SetSnForTest(5000);
  SptrPostMsgContext other(PostMsgContext::Create());
  ASSERT_EQ(udp_->AckTable().Push(5001, other, nullptr), 0);
  EXPECT_EQ(SendTo(peer, 501, "dup", 1, kNoTimeLimit, Receipt_Both), 70u);
  EXPECT_TRUE(log.Contains("UDPIOProcess::ReliableSendMsg() m_ackTable.push 失败：已经存在"));
  std::vector<uint8_t> d;
  EXPECT_FALSE(peer.Recv(&d, 50));

  ASSERT_EQ(SendTo(peer, 502, "next", 1, kNoTimeLimit, Receipt_None), 0u);
  ASSERT_TRUE(peer.Recv(&d, 5000));
  EXPECT_EQ(GetLe32(d, 8), 5002u);
  EXPECT_TRUE(session_->Receipts().empty());
  EXPECT_TRUE(udp_->AckTable().Erase(5001));

  // Too large for the processor: 14, after taking an sn.
  udp_->SetSnForTest(700);
  SptrUdpSocketItem item;
  ASSERT_EQ(udp_->FindSocketIfNotThenCreateNewOne(0, 0, &item, false), 1);
  SptrPostMsgContext ctx(PostMsgContext::Create());
  const std::string body(2021, 'x');
  ctx->m_msg.sharedData = reinterpret_cast<const uint8_t*>(body.data());
  ctx->m_msg.sharedLength = 2021;
  ctx->m_reliable = 1;
  const size_t inFlight = udp_->AckTable().Size();  // 5002, unacknowledged
  EXPECT_EQ(udp_->SendMsg(plat::MakeAddr(0x7F000001, 9), item, ctx, nullptr), 14u);
  EXPECT_TRUE(log.Contains(
      "UDPIOProcess::ReliableSendMsg() 输入的用户数据过大[2049 Byte],超过了系统规定的长度2048 Byte."));
  EXPECT_EQ(udp_->NextSn(), 702u);
  EXPECT_EQ(udp_->AckTable().Size(), inFlight);
}

// A peer that never acknowledges used to get every reliable datagram six
// times with no bound on how many were waiting: each request it sent became
// six datagrams and a resend record. At most kMaxPerPeer now wait per peer.
TEST_F(UdpReliable, APeerThatNeverAcksHasAtMostTheCapInFlight) {
  Peer silent, other;
  const uint32_t cap = PeerFlightQuota::kMaxPerPeer;
  for (uint32_t i = 0; i < cap; ++i) ASSERT_EQ(SendTo(silent, 300 + i, "x", 1, 1000, Receipt_Both), 0u);
  EXPECT_EQ(SendTo(silent, 399, "x", 1, 1000, Receipt_Both), 71u);
  EXPECT_EQ(SendTo(other, 400, "y", 1, 1000), 0u);  // another peer is not affected
  EXPECT_EQ(udp_->FlightQuota().InFlight(plat::MakeAddr(0x7F000001, silent.Port())), cap);
  // Once the cap's datagrams have timed out, the peer may be sent to again.
  Drive(silent, 3000, [&](const std::vector<Arrival>&) { return session_->Receipts().size() >= cap; });
  ASSERT_TRUE(session_->WaitReceipts(cap));
  ASSERT_TRUE(WaitUntil([&] { return udp_->FlightQuota().InFlight(plat::MakeAddr(0x7F000001, silent.Port())) == 0; }));
  EXPECT_EQ(SendTo(silent, 401, "x", 1, 1000), 0u);
}

// An acknowledged datagram no longer waits: its slot is free at once, not
// when its resend timer (armed for 200 ms) finally runs.
TEST_F(UdpReliable, AnAckGivesThePeersSlotBackBeforeTheResendTimerRuns) {
  Peer peer;
  const uint32_t cap = PeerFlightQuota::kMaxPerPeer;
  for (uint32_t i = 0; i < cap; ++i) ASSERT_EQ(SendTo(peer, 500 + i, "x", 1, kNoTimeLimit, Receipt_Both), 0u);
  std::vector<uint8_t> d;
  for (uint32_t got = 0; got < cap;) {
    ASSERT_TRUE(peer.Recv(&d, 5000));
    if (d.size() >= 20 && ++got) peer.SendTo(defaultPort_, AckDatagram(GetLe32(d, 8)));
  }
  ASSERT_TRUE(session_->WaitReceipts(cap));
  EXPECT_EQ(udp_->FlightQuota().InFlight(plat::MakeAddr(0x7F000001, peer.Port())), 0u);
  EXPECT_EQ(SendTo(peer, 600, "x", 1, kNoTimeLimit, Receipt_Both), 0u);
}
