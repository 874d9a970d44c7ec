// The datagram format and the tables behind reliable delivery, without a
// running framework: exact bytes, size limits, receiver checks, the sn
// counter, the acknowledgement table and the duplicate filter.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "asynmodel/PostMsgContext.h"
#include "asynmodel/Session.h"
#include "asynmodel/net/AliableUdpACKTable.h"
#include "asynmodel/net/Msg.h"
#include "asynmodel/net/UDPDuplicateFilter.h"
#include "asynmodel/net/UDPIOProcess.h"
#include "asynmodel/net/UdpDatagram.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "wire_golden.h"

using namespace AsynModel;

namespace {

std::vector<uint8_t> Bytes(const SptrMemStream& s) {
  return std::vector<uint8_t>(s->Buffer(), s->Buffer() + s->DataLength());
}

Msg& FillMsg(Msg& m, uint32_t msgId, const std::string& body) {
  m.msgId = msgId;
  m.srcSid = 7;
  m.destSid = 9;
  m.form = MSG_DATA_SHARED;
  m.sharedData = reinterpret_cast<const uint8_t*>(body.data());
  m.sharedLength = static_cast<uint32_t>(body.size());
  return m;
}

}  // namespace

TEST(UdpDatagram, BuilderWritesTheGoldenBytesAndTheReceiverAcceptsThem) {
  for (const golden::Datagram& g : golden::Datagrams()) {
    std::vector<uint8_t> built(12);
    if (g.kind == golden::Kind::kAck) {
      WriteAck(built.data(), g.sn);
    } else {
      Msg m;
      FillMsg(m, g.msgId, g.body);
      m.srcSid = g.srcSid;
      m.destSid = g.destSid;
      SptrMemStream s;
      uint32_t total = 0;
      const bool reliable = g.kind == golden::Kind::kReliable;
      ASSERT_EQ(BuildDataDatagram(m, reliable, g.sn, &s, &total), 0u) << g.name;
      EXPECT_EQ(total, g.bytes.size()) << g.name;
      EXPECT_EQ(s->PayloadOffset(), (reliable ? 12u : 8u) + 16u) << g.name;
      EXPECT_EQ(s->Capacity(), g.bytes.size()) << g.name;  // sized to the datagram
      built = Bytes(s);
      EXPECT_EQ(CheckDataPacketValid(g.bytes.data(), static_cast<uint32_t>(g.bytes.size()), 2048),
                UdpCheck_OK) << g.name;
    }
    EXPECT_EQ(built, g.bytes) << g.name;
  }
}

TEST(UdpDatagram, LargestBodiesFillExactly2048BytesAndOneMoreIsRefused) {
  const struct { uint32_t body; bool reliable; uint32_t rc; uint32_t total; } cases[] = {
      {2024, false, 0, 2048}, {2020, true, 0, 2048},
      {2025, false, 14, 2049}, {2021, true, 14, 2049},
      {0xFFFFFFF0u, true, 14, 0xFFFFFFFFu}};  // header + 16 + this wraps in 32 bits
  static const uint8_t bytes[2025] = {};
  for (const auto& c : cases) {
    Msg m;
    m.form = MSG_DATA_SHARED;
    m.sharedData = bytes;
    m.sharedLength = c.body;
    SptrMemStream s;
    uint32_t total = 0;
    EXPECT_EQ(BuildDataDatagram(m, c.reliable, 1, &s, &total), c.rc) << c.body;
    EXPECT_EQ(total, c.total) << c.body;
    EXPECT_EQ(s ? s->DataLength() : 0u, c.rc == 0 ? c.total : 0u) << c.body;
  }
}

TEST(UdpDatagramCheck, VersionThenLengthThenChecksumEachWithItsWarning) {
  const std::string prefix = "UDPIOProcess::CheckDataPacketValid() ";
  std::vector<uint8_t> d(100, 0);
  d[0] = 1;
  d[2] = 100;
  struct Case {
    const char* what;
    size_t at;
    uint8_t value;
    uint32_t received;
    UdpCheck want;
    std::string line;  // empty: no line expected
  };
  const Case cases[] = {
      {"version 2 (length wrong too)", 0, 2, 99, UdpCheck_Version,
       prefix + "数据的版本信息错误.接收到的版本:2,期待版本:1"},
      {"length says 100, 99 received", 1, 0, 99, UdpCheck_Length, prefix + "数据的长度错误."},
      {"checksum not 0", 4, 1, 100, UdpCheck_Checksum, prefix + "数据的校验和错误."},
      {"checksum high byte not 0", 5, 1, 100, UdpCheck_Checksum, prefix + "数据的校验和错误."},
      {"valid", 1, 0, 100, UdpCheck_OK, ""},
      {"shorter than a header", 0, 1, 1, UdpCheck_Version,
       prefix + "数据的版本信息错误.接收到的版本:0,期待版本:1"},
      {"no room for the flags", 2, 4, 4, UdpCheck_Length, prefix + "数据的长度错误."},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> v = d;
    v[c.at] = c.value;
    LogCapture log;
    EXPECT_EQ(CheckDataPacketValid(v.data(), c.received, 2048), c.want) << c.what;
    EXPECT_EQ(log.Lines().size(), c.line.empty() ? 0u : 1u) << c.what;
    EXPECT_TRUE(c.line.empty() || log.Contains(c.line)) << c.what;
  }
}

TEST(UdpSn, SeededWithCalendarSecondsAndNeverZero) {
  UDPIOProcess p(nullptr);
  const uint32_t before = plat::CalendarSeconds();
  const uint32_t first = p.NextSn();
  EXPECT_GE(first, before + 1);
  EXPECT_LE(first, plat::CalendarSeconds() + 1);
  EXPECT_EQ(p.NextSn(), first + 1);

  p.SetSnForTest(0xFFFFFFFEu);
  EXPECT_EQ(p.NextSn(), 0xFFFFFFFFu);
  EXPECT_EQ(p.NextSn(), 1u);  // 0 is stepped over
}

TEST(UdpAckTable, PushFindPopEraseAndTheBucketLimit) {
  AliableUdpACKTable t;
  SptrPostMsgContext c(PostMsgContext::Create());
  ASSERT_TRUE(c);
  EXPECT_EQ(t.Push(10000, c, nullptr), 0);
  EXPECT_EQ(t.Push(10000, c, nullptr), -1);
  EXPECT_EQ(t.Push(20000, c, nullptr), 0);  // same bucket, another sn
  EXPECT_TRUE(t.Find(10000));
  EXPECT_FALSE(t.Find(1));

  SptrPostMsgContext out;
  EXPECT_TRUE(t.Pop(10000, &out, nullptr));
  EXPECT_EQ(out, c);
  EXPECT_FALSE(t.Pop(10000, &out, nullptr));
  EXPECT_TRUE(t.Erase(20000));
  EXPECT_FALSE(t.Erase(20000));
  EXPECT_EQ(t.Size(), 0u);

  // sn 1, 10001, 20001, ... all map to bucket 0, which holds 100001 entries.
  for (uint32_t i = 0; i <= 100000; ++i) ASSERT_EQ(t.Push(1 + i * 10000u, c, nullptr), 0) << i;
  EXPECT_EQ(t.Push(1 + 100001u * 10000u, c, nullptr), -2);
  EXPECT_EQ(t.Push(2, c, nullptr), 0);  // other buckets are unaffected
}

// A window is earned: +1 per ACK up to the ceiling, halved per loss or
// resend down to the start, untouched by a withdrawn send; peers are apart,
// and kSlots peers in flight at once leave no room for another.
TEST(PeerFlightQuota, AWindowGrowsWithAcksAndHalvesOnLossWithinItsBounds) {
  PeerFlightQuota q;
  const plat::SockAddrIn a = plat::MakeAddr(0x7F000001, 4000), b = plat::MakeAddr(0x7F000001, 4001);
  auto fill = [&](const plat::SockAddrIn& p) { uint32_t n = 0; while (q.Acquire(p)) ++n; return n; };
  auto drain = [&](PeerFlightQuota::Outcome o, uint32_t n) { while (n--) q.Release(a, o); };
  const uint32_t start = PeerFlightQuota::kStartWindow, ceiling = PeerFlightQuota::kMaxWindow;
  uint32_t window = 0;
  EXPECT_EQ(fill(a), start);
  EXPECT_FALSE(q.Acquire(a, &window));
  EXPECT_EQ(window, start);
  drain(PeerFlightQuota::Acked, start);
  EXPECT_EQ(fill(a), 2 * start);
  EXPECT_EQ(q.Window(b), start);
  drain(PeerFlightQuota::Withdrawn, 2 * start);
  for (uint32_t i = 0; i < 2 * ceiling; ++i) drain(PeerFlightQuota::Acked, q.Acquire(a) ? 1 : 0);
  EXPECT_EQ(q.Window(a), ceiling);
  ASSERT_TRUE(q.Acquire(a) && q.Acquire(a));
  q.Shrink(a);
  drain(PeerFlightQuota::Lost, 1);
  EXPECT_EQ(q.Window(a), ceiling / 4);
  for (int i = 0; i < 8; ++i) q.Shrink(a);
  EXPECT_EQ(q.Window(a), start);
  EXPECT_EQ(q.InFlight(a), 1u);
  for (uint32_t port = 1; port < PeerFlightQuota::kSlots; ++port) ASSERT_TRUE(q.Acquire(plat::MakeAddr(1, port)));
  EXPECT_FALSE(q.Acquire(b));
  drain(PeerFlightQuota::Acked, 1);
  EXPECT_TRUE(q.Acquire(b));
}

TEST(UdpDuplicateFilter, KeyIsSourceAndSnAndOldKeysGoOnlyWithTrafficInTheirBucket) {
  UDPDuplicateFilter f;
  EXPECT_TRUE(f.Insert(0x7F000001, 5000, 42));
  EXPECT_FALSE(f.Insert(0x7F000001, 5000, 42));
  EXPECT_TRUE(f.Insert(0x7F000001, 5001, 42));  // other port
  EXPECT_TRUE(f.Insert(0x7F000002, 5000, 42));  // other IP
  EXPECT_TRUE(f.Insert(0x7F000001, 5000, 43));  // other sn
  f.Clear();

  ASSERT_TRUE(f.Insert(1, 1, 100));
  plat::AdvanceClock(1500);
  EXPECT_TRUE(f.Insert(1, 1, 101));   // another bucket: 100 survives there
  EXPECT_FALSE(f.Insert(1, 1, 100));  // still caught
  EXPECT_TRUE(f.Insert(1, 1, 200));   // bucket 0 again: the old key goes
  EXPECT_TRUE(f.Insert(1, 1, 100));
  EXPECT_EQ(f.Size(), 3u);
}
