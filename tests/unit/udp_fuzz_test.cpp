// Hostile input on the default socket: 10,000 datagrams of random length and
// with random headers, some valid. Nothing may crash or leak, no invalid
// datagram may reach a session, and every valid one must.
#include <random>
#include <set>

#include "asynmodel/net/UDPIOData.h"
#include "tzhelper/TzMemAlloc.h"
#include "udp_test_util.h"

using namespace udptest;

namespace {

constexpr uint32_t kMarkerBit = 0x80000000u;

// An independent reading of the receiver's rules: would this datagram be
// delivered to a session as a message?
bool Deliverable(const std::vector<uint8_t>& d) {
  const size_t n = d.size();
  if (n < 8 || n > 2048) return false;
  if ((d[0] | (d[1] << 8)) != 1) return false;
  if (static_cast<size_t>(d[2] | (d[3] << 8)) != n) return false;
  if ((d[4] | (d[5] << 8)) != 0) return false;
  if (d[6] == 1) {
    if (d[7] == 1) return false;  // an ACK
    return n >= 12 + 16;
  }
  return n >= 8 + 16;
}

class Generator {
 public:
  Generator(uint32_t sid, uint32_t seed) : sid_(sid), rng_(seed) {}

  // Datagram number i (its msgId is i when it carries a Msg header).
  std::vector<uint8_t> Next(uint32_t i) {
    const uint32_t kind = Uniform(0, 99);
    if (kind < 25) return DataDatagram(i, 0, sid_, Body(2024));
    if (kind < 35) return DataDatagram(i, 0, sid_, Body(2020), true, nextSn_++);
    if (kind < 40) return AckDatagram(Uniform(0, 3) == 0 ? 0 : Uniform(1, 0xFFFFFFFFu));
    if (kind < 55) return Noise(Uniform(0, 2100));

    // A well-formed datagram with one thing wrong.
    std::vector<uint8_t> d = DataDatagram(i, 0, sid_, Body(2024), Uniform(0, 1) == 1, nextSn_++);
    switch (Uniform(0, 5)) {
      case 0: d[0] = static_cast<uint8_t>(Uniform(2, 255)); break;          // version
      case 1: d[2] = static_cast<uint8_t>(d[2] + Uniform(1, 255)); break;   // length field
      case 2: d[4 + Uniform(0, 1)] = static_cast<uint8_t>(Uniform(1, 255)); break;  // checksum
      case 3: d.resize(Uniform(0, static_cast<uint32_t>(d.size()) - 1)); break;     // cut short
      case 4: {                                                             // too large, self-consistent
        d = DataDatagram(i, 0, sid_, std::string(Uniform(2025, 2076), 'L'));
        break;
      }
      default: {  // header fits, Msg image does not
        d.resize(Uniform(8, 23));
        d[2] = static_cast<uint8_t>(d.size());
        d[3] = 0;
        d[6] = 0;
        break;
      }
    }
    return d;
  }

 private:
  uint32_t Uniform(uint32_t lo, uint32_t hi) { return std::uniform_int_distribution<uint32_t>(lo, hi)(rng_); }
  std::string Body(uint32_t max) {
    std::string b(Uniform(0, Uniform(0, 3) == 0 ? max : 64), '\0');
    for (char& c : b) c = static_cast<char>(Uniform(0, 255));
    return b;
  }
  std::vector<uint8_t> Noise(uint32_t n) {
    std::vector<uint8_t> v(n);
    for (uint8_t& b : v) b = static_cast<uint8_t>(Uniform(0, 255));
    return v;
  }

  uint32_t sid_;
  std::mt19937 rng_;
  uint32_t nextSn_ = 1000;
};

}  // namespace

class UdpFuzz : public UdpFixture {};

TEST_F(UdpFuzz, TenThousandRandomDatagramsDeliverExactlyTheValidOnes) {
  LogCapture log;
  const int64_t started = plat::NowMs();
  Peer peer;
  const uint32_t sid = session_->GetSessionID();
  Generator gen(sid, 20240601);
  std::set<uint32_t> expected;
  size_t expectedCount = 0;

  // Paced in batches closed by a marker: the socket has one receive posted,
  // so the marker's delivery means the whole batch has been handled, and the
  // socket buffer never holds more than one batch.
  constexpr uint32_t kTotal = 10000;
  constexpr uint32_t kBatch = 32;
  for (uint32_t i = 0; i < kTotal; ++i) {
    std::vector<uint8_t> d = gen.Next(i);
    if (Deliverable(d)) {
      expected.insert(GetLe32(d, d[6] == 1 ? 16 : 12));
      ++expectedCount;
    }
    peer.SendTo(defaultPort_, d);
    if ((i + 1) % kBatch == 0 || i + 1 == kTotal) {
      peer.SendTo(defaultPort_, DataDatagram(kMarkerBit | i, 0, sid, "marker"));
      ++expectedCount;
      ASSERT_TRUE(session_->WaitMessages(expectedCount)) << "stalled after datagram " << i;
    }
  }

  std::set<uint32_t> delivered;
  size_t markers = 0;
  for (const Received& r : session_->Messages()) {
    if (r.msgId & kMarkerBit) {
      ++markers;
      continue;
    }
    EXPECT_TRUE(delivered.insert(r.msgId).second) << "delivered twice: " << r.msgId;
  }
  EXPECT_EQ(delivered, expected);
  EXPECT_GT(expected.size(), 2000u);  // the mix really holds valid ones
  EXPECT_EQ(markers, (kTotal + kBatch - 1) / kBatch);
  EXPECT_EQ(udp_->SocketCount(), 1u);

  // Each invalid datagram used to write two warnings, so a junk flood
  // rotated the start-up lines out of the log. Per kind, 5 lines in full and
  // then one summary a second: a few per kind and second, however many come.
  size_t warnings = 0;
  for (const LogLine& l : log.Lines()) warnings += l.level >= Log::kWarning ? 1 : 0;
  const int64_t seconds = (plat::NowMs() - started) / 1000 + 1;
  EXPECT_LE(warnings, static_cast<size_t>(8 * (5 + 2 * seconds)));
  // The next bad datagram after the second is over says how many were left out.
  plat::AdvanceClock(1000);
  peer.SendTo(defaultPort_, std::vector<uint8_t>(30, 0xEE));
  EXPECT_TRUE(log.WaitFor("UDPIOProcess::CheckDataPacketValid() version: "));
  EXPECT_TRUE(log.Contains("similar warnings suppressed in the last"));

  // Steady traffic recycles its records: the pools grew to the working set,
  // not with the number of datagrams.
  const int64_t records = TzMemAlloc<UDPIOData, TzListMemAllocMethod>::Counters().systemBlocks;
  EXPECT_LT(records, 64);
  EXPECT_LT(MemStream::ClassPool(6).Counters().systemBlocks, 64);
}
