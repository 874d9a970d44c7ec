// Every reader against random bodies of random length: the point is what the
// sanitizer build sees (no read outside the body, no undefined arithmetic),
// plus the invariants each reader promises about its result.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "report/AdjustCommands.h"
#include "report/LocalCommands.h"
#include "report/ReportLogCommands.h"
#include "report/SecureCommands.h"
#include "report/StprcCommands.h"

using namespace report;

namespace {

constexpr int kRounds = 20000;
constexpr size_t kMaxLen = 2100;

// Each body gets its own exactly-sized heap block, so ASan catches a read
// one byte past its end.
class BodySource {
 public:
  explicit BodySource(uint32_t seed) : rng_(seed) {}
  std::vector<uint8_t> Next() {
    std::vector<uint8_t> b(std::uniform_int_distribution<size_t>(0, kMaxLen)(rng_));
    // Small values often, so lengths and counts that fit also get tried.
    const bool small = rng_() % 2 == 0;
    for (auto& x : b) x = static_cast<uint8_t>(small ? rng_() % 4 : rng_());
    if (!b.empty() && rng_() % 3 == 0) b[0] = 3;  // a valid version byte
    return b;
  }

 private:
  std::mt19937 rng_;
};

const uint8_t* DataOrNull(const std::vector<uint8_t>& b) { return b.empty() ? nullptr : b.data(); }

}  // namespace

TEST(CommandsFuzz, FixedLayoutReaders) {
  BodySource src(1234);
  for (int i = 0; i < kRounds; ++i) {
    const std::vector<uint8_t> b = src.Next();
    const uint8_t* d = DataOrNull(b);
    DestTrailer t;
    EXPECT_EQ(b.size() >= 18, ReadDestTrailer(d, b.size(), &t));
    StpAddrResp s;
    EXPECT_EQ(b.size() >= 22 ? 0 : -1, ReadStpAddrResp(d, b.size(), &s));
    AdjustNotify n;
    EXPECT_EQ(b.size() >= 88 ? 0 : -1, ReadAdjustNotify(d, b.size(), &n));
    AdjustAck a;
    ReadAdjustAck(d, b.size(), &a);
    ReportResp r;
    const int rr = ReadReportResp(d, b.size(), &r);
    EXPECT_TRUE(rr == 14 || rr == -1 || rr == -2);
    BlockHeader bh;
    ReadBlockHeader(d, b.size(), &bh);
  }
}

TEST(CommandsFuzz, GroupAndListReaders) {
  BodySource src(99);
  RcAddrGroups g;  // large: keep it out of the loop
  for (int i = 0; i < kRounds; ++i) {
    const std::vector<uint8_t> b = src.Next();
    const uint8_t* d = DataOrNull(b);
    const uint32_t groups = ReadRcAddrCmd(d, b.size(), &g);
    EXPECT_EQ(d ? b.size() / 240 : 0, groups);
    for (uint32_t k = 0; k < g.groupsUsed; ++k) EXPECT_LE(g.entryCount[k], 10u);

    ReceiversResp rs;
    const int rc = ReadReceiversResp(d, b.size(), &rs);
    if (rc >= 0) {
      EXPECT_EQ(5 + 36 * static_cast<int64_t>(rs.count), rc);
      EXPECT_LE(static_cast<size_t>(rc), b.size());
      EXPECT_LE(rs.kept, 10u);
    } else {
      EXPECT_TRUE(rc == -1 || rc == -2 || rc == -3);
    }

    size_t n = SerialCount(d, b.size());
    for (size_t k = 0; k <= n; ++k) SerialAt(d, b.size(), k);

    CombinedPacketHeader h;
    ReadCombinedPacketHeader(d, b.size(), &h);
    size_t off = kCombinedHeaderBytes;
    CombinedPacketEntry e;
    while (ReadCombinedPacketEntry(d, b.size(), &off, &e) == 0) {
      ASSERT_LE(off, b.size());
      if (e.payloadLen > 0) {
        volatile uint8_t last = e.payload[e.payloadLen - 1];  // inside the body
        (void)last;
      }
    }
  }
}
