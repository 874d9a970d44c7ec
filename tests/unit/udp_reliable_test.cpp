// Reliable sending against a loopback peer that acknowledges or stays silent:
// the resend schedule, the time limit, receipts, and the races between a send
// completion, an ACK and a time-out. The clock stands still and the resend
// timer's passes run on the test thread at chosen moments, so every resend is
// due at an exact time: not at `due - 1`, and by the pass one step after it.
#include <algorithm>
#include <tuple>

#include "frozen_clock.h"
#include "asynmodel/net/UDPResendContext.h"
#include "tzhelper/TzQuickTimer.h"
#include "udp_test_util.h"
#include "wait_util.h"

using namespace udptest;

class UdpReliable : public UdpFixture {
 protected:
  void SetUp() override {
    UdpFixture::SetUp();
    timer_ = mgr_->GetQuickTimer();
    timer_->SuspendPassesForTest(true);
  }
  void TearDown() override {
    Release();
    UdpFixture::TearDown();
  }
  // Time flows again and the timer thread makes its own passes.
  void Release() {
    plat::ThawClockForTest();
    timer_->SuspendPassesForTest(false);
  }

  uint32_t PendingTimers() {
    TzQuickTimer::Census c = timer_->CensusForTest();
    return c.incoming + c.wheel + c.far;
  }
  // One timer pass with the clock moved on to `at`; its callbacks run here.
  void PassAt(int64_t at) {
    clock_.Advance(at - plat::NowMs());
    timer_->RunPassForTest(at);
  }
  // n datagrams at the peer (msgId of each); the peer ACKs them when ackTo is set.
  std::vector<uint32_t> Take(const Peer& peer, size_t n, uint16_t ackTo = 0) {
    std::vector<uint32_t> ids;
    std::vector<uint8_t> d;
    while (ids.size() < n && peer.Recv(&d, 10000)) {
      ids.push_back(GetLe32(d, 16));
      if (ackTo != 0) peer.SendTo(ackTo, AckDatagram(GetLe32(d, 8)));
    }
    return ids;
  }
  bool Armed(uint32_t n) {
    return WaitUntil([&] { return PendingTimers() == n; });
  }

  FrozenClock clock_;
  TzQuickTimer* timer_ = nullptr;
};

using ReceiptKey = std::tuple<uint32_t, int16_t, uint16_t, std::string, int64_t>;
static std::vector<ReceiptKey> Keys(const std::vector<Receipt>& r) {
  std::vector<ReceiptKey> k;
  for (const Receipt& x : r) k.emplace_back(x.msgId, x.result, x.transport, x.body, x.atMs);
  std::sort(k.begin(), k.end());
  return k;
}

TEST_F(UdpReliable, WithoutLimitResendsAfter200To1000MsThenCode4AfterTheSixthTransmission) {
  Peer peer;
  ASSERT_EQ(SendTo(peer, 101, "one", 1, kNoTimeLimit, Receipt_OnSuccess), 0u);
  ASSERT_EQ(SendTo(peer, 102, "two", 1, kNoTimeLimit, Receipt_OnFailure), 0u);
  ASSERT_EQ(SendTo(peer, 103, "three", 1, kNoTimeLimit, Receipt_Both), 0u);
  ASSERT_EQ(Take(peer, 3).size(), 3u);
  int64_t sent = plat::NowMs();
  for (int k = 1; k <= 5; ++k) {
    ASSERT_TRUE(Armed(3)) << "transmission " << k;
    const int64_t due = sent + 200 * k;
    PassAt(due - 1);
    ASSERT_EQ(PendingTimers(), 3u) << "resend " << k << " early";
    sent = due + TzQuickTimer::kTickMs;
    PassAt(sent);  // late, nothing would come until the next step
    std::vector<uint32_t> ids = Take(peer, 3);
    std::sort(ids.begin(), ids.end());
    ASSERT_EQ(ids, (std::vector<uint32_t>{101, 102, 103})) << "resend " << k;
  }
  // Given up as the sixth transmission completed: no timer, no table entry.
  ASSERT_TRUE(session_->WaitReceipts(2));
  EXPECT_EQ(Keys(session_->Receipts()),
            (std::vector<ReceiptKey>{ReceiptKey{102, 4, 1, "two", sent}, ReceiptKey{103, 4, 1, "three", sent}}));
  EXPECT_TRUE(WaitUntil([&] { return udp_->AckTable().Size() == 0; }));
  EXPECT_EQ(PendingTimers(), 0u);
}

// Acknowledged datagrams give code 0 for modes 1 and 3 and no longer wait:
// their slots are free at once, not when their resend timers (armed for
// 200 ms) run, and those timers send nothing.
TEST_F(UdpReliable, AckedDatagramsGiveCode0ForModes1And3AndFreeTheirSlotsBeforeTheirTimersRun) {
  Peer peer;
  const int64_t start = plat::NowMs();
  const uint32_t cap = PeerFlightQuota::kStartWindow;
  const uint32_t modes[3] = {Receipt_OnSuccess, Receipt_OnFailure, Receipt_Both};
  std::vector<ReceiptKey> want;
  for (uint32_t i = 0; i < cap; ++i) {
    ASSERT_EQ(SendTo(peer, 300 + i, "x", 1, kNoTimeLimit, modes[i % 3]), 0u);
    if (i % 3 != 1) want.emplace_back(300 + i, 0, 1, "x", start);
  }
  ASSERT_EQ(Take(peer, cap, defaultPort_).size(), cap);
  ASSERT_TRUE(session_->WaitReceipts(want.size()));
  ASSERT_TRUE(WaitUntil([&] { return udp_->AckTable().Size() == 0; }));
  const plat::SockAddrIn addr = plat::MakeAddr(0x7F000001, peer.Port());
  EXPECT_EQ(udp_->FlightQuota().InFlight(addr), 0u);
  EXPECT_EQ(udp_->FlightQuota().Window(addr), 2 * cap);  // each ACK widened it by one
  PassAt(start + 200 + TzQuickTimer::kTickMs);
  EXPECT_EQ(PendingTimers(), 0u);
  EXPECT_EQ(Keys(session_->Receipts()), want);
  // A resend halves the window the peer earned.
  const int64_t sent = plat::NowMs();
  EXPECT_EQ(SendTo(peer, 600, "x", 1, kNoTimeLimit, Receipt_Both), 0u);
  ASSERT_TRUE(Armed(1));
  PassAt(sent + 200 + TzQuickTimer::kTickMs);
  EXPECT_EQ(Take(peer, 2), (std::vector<uint32_t>{600u, 600u}));
  EXPECT_EQ(udp_->FlightQuota().Window(addr), cap);
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

  const uint32_t before = PendingTimers();
  Event ev;
  EXPECT_EQ(udp_->AliableSendFinish(item.get(), true, data, &ev), UdpProc_Nothing);
  EXPECT_EQ(PendingTimers(), before);
  EXPECT_EQ(ev.kind, 0u);  // no receipt from the completion
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

  // The first datagram the peer sees is the next one, with the next sn.
  ASSERT_EQ(SendTo(peer, 502, "next", 1, kNoTimeLimit, Receipt_None), 0u);
  std::vector<uint8_t> d;
  ASSERT_TRUE(peer.Recv(&d, 10000));
  EXPECT_EQ(GetLe32(d, 8), 5002u);
  EXPECT_EQ(GetLe32(d, 16), 502u);
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
  EXPECT_EQ(udp_->SendMsg(plat::MakeAddr(0x7F000001, peer.Port()), item, ctx, nullptr), 14u);
  EXPECT_TRUE(log.Contains(
      "UDPIOProcess::ReliableSendMsg() 输入的用户数据过大[2049 Byte],超过了系统规定的长度2048 Byte."));
  EXPECT_EQ(udp_->NextSn(), 702u);
  EXPECT_EQ(udp_->AckTable().Size(), inFlight);
}

// A peer that never acknowledges used to get every reliable datagram six
// times with no bound on how many were waiting. At most kStartWindow wait per
// peer; with a limit of one second they fail with code 4 at the limit,
// without a resend, and the peer may be sent to again. Shutdown clears what
// still waits with code 4.
TEST_F(UdpReliable, APeerThatNeverAcksHasAtMostTheCapInFlightUntilTheLimitOrShutdownGivesCode4) {
  Peer silent, other;
  const int64_t start = plat::NowMs();
  const uint32_t cap = PeerFlightQuota::kStartWindow;
  for (uint32_t i = 0; i < cap; ++i) ASSERT_EQ(SendTo(silent, 300 + i, "x", 1, 1000, Receipt_Both), 0u);
  EXPECT_EQ(SendTo(silent, 399, "x", 1, 1000, Receipt_Both), 71u);
  EXPECT_EQ(SendTo(other, 400, "y", 1, 1000), 0u);  // another peer is not affected
  const plat::SockAddrIn silentAddr = plat::MakeAddr(0x7F000001, silent.Port());
  EXPECT_EQ(udp_->FlightQuota().InFlight(silentAddr), cap);
  ASSERT_TRUE(Armed(cap + 1));
  PassAt(start + 999);
  ASSERT_EQ(PendingTimers(), cap + 1);
  PassAt(start + 1000 + TzQuickTimer::kTickMs);
  ASSERT_TRUE(session_->WaitReceipts(cap));
  const std::vector<ReceiptKey> failed = Keys(session_->Receipts());
  for (uint32_t i = 0; i < cap; ++i) {
    EXPECT_EQ(failed[i], ReceiptKey(300 + i, 4, 1, "x", start + 1015));
  }
  EXPECT_EQ(PendingTimers(), 0u);  // a resend would have armed the timer again
  ASSERT_TRUE(WaitUntil([&] { return udp_->FlightQuota().InFlight(silentAddr) == 0; }));
  EXPECT_EQ(SendTo(silent, 401, "bye", 1, kNoTimeLimit, Receipt_OnFailure), 0u);
  ASSERT_EQ(Take(silent, cap + 1).back(), 401u);
  ASSERT_TRUE(Armed(1));
  Release();
  ASSERT_EQ(mgr_->Stop(), 0u);
  ASSERT_TRUE(session_->WaitReceipts(cap + 1));
  EXPECT_EQ(session_->Receipts()[cap].msgId, 401u);
  EXPECT_EQ(session_->Receipts()[cap].result, 4);
}
