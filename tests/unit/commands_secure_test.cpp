// Secured road bodies: a whole combined packet read back field by field.
// The refusals of cut bodies and the acknowledgement list's partial word are
// the report bodies fuzz target's checks.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "report/SecureCommands.h"

using namespace report;

namespace {

void PutU32(std::vector<uint8_t>& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// serialnum 5, header h0=1 roletype=2 h2..h5=3..6 record word 7, then two
// entries (record words 7 and 8, payloads "abc" and "").
std::vector<uint8_t> Packet() {
  std::vector<uint8_t> b;
  PutU32(b, 5);
  PutU32(b, 1);
  b.insert(b.end(), {2, 0xF1, 0xF2, 0xF3});
  for (uint32_t v = 3; v <= 7; ++v) PutU32(b, v);
  PutU32(b, 7);
  b.insert(b.end(), {3, 0, 'a', 'b', 'c'});
  PutU32(b, 8);
  b.insert(b.end(), {0, 0});
  return b;
}

}  // namespace

TEST(CommandsSecure, APacketReadsBackFieldByField) {
  const std::vector<uint8_t> b = Packet();
  CombinedPacketHeader h;
  ASSERT_EQ(0, ReadCombinedPacketHeader(b.data(), b.size(), &h));
  EXPECT_EQ(5u, h.serialnum);
  EXPECT_EQ(1u, h.first.h0);
  EXPECT_EQ(2, h.first.roletype);
  EXPECT_EQ(7u, h.first.recordWord);
  size_t at = kCombinedHeaderBytes;
  CombinedPacketEntry read[2];
  for (CombinedPacketEntry& r : read) ASSERT_EQ(0, ReadCombinedPacketEntry(b.data(), b.size(), &at, &r));
  EXPECT_EQ(b.size(), at);
  EXPECT_EQ(7u, read[0].recordWord);
  EXPECT_EQ(0, memcmp(read[0].payload, "abc", 3));
  EXPECT_EQ(8u, read[1].recordWord);
  EXPECT_EQ(0u, read[1].payloadLen);

  // A payload cut by one byte is refused and leaves the offset alone.
  size_t off = kCombinedHeaderBytes;
  EXPECT_EQ(-1, ReadCombinedPacketEntry(b.data(), kCombinedHeaderBytes + 8, &off, &read[0]));
  EXPECT_EQ(kCombinedHeaderBytes, off);
}
