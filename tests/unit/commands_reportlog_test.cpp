// Call-log reporting bodies: ReportCmd, ReportResp, ReceiversResp.
#include <gtest/gtest.h>

#include <cstring>
#include <tuple>
#include <vector>

#include "report/ReportLogCommands.h"

using namespace report;

namespace {

ReportCmdFields TenByteCmd() {
  static const uint8_t text[] = "0123456789";
  ReportCmdFields f;
  f.text = text;
  f.textLen = 10;
  f.attempt = 1;
  f.log_index = 0x22;
  f.elapsed = 0x01020304;
  f.guid = 0x1122334455667788ull;
  return f;
}

void PutReceiver(std::vector<uint8_t>& b, const char* tcpIp, uint16_t tcpPort, const char* udpIp,
                 uint16_t udpPort) {
  uint8_t e[36] = {};
  memcpy(e, tcpIp, strnlen(tcpIp, 16));
  e[16] = static_cast<uint8_t>(tcpPort);
  e[17] = static_cast<uint8_t>(tcpPort >> 8);
  memcpy(e + 18, udpIp, strnlen(udpIp, 16));
  e[34] = static_cast<uint8_t>(udpPort);
  e[35] = static_cast<uint8_t>(udpPort >> 8);
  b.insert(b.end(), e, e + 36);
}

std::vector<uint8_t> ReceiversBody(uint8_t version, uint32_t count) {
  return {version, static_cast<uint8_t>(count), static_cast<uint8_t>(count >> 8),
          static_cast<uint8_t>(count >> 16), static_cast<uint8_t>(count >> 24)};
}

}  // namespace

TEST(CommandsReportLog, ReportCmdBytesForTenByteTextAndWithAName) {
  uint8_t out[1024];
  memset(out, 0xAA, sizeof(out));
  ASSERT_EQ(40, WriteReportCmd(TenByteCmd(), out, sizeof(out)));
  const uint8_t want[40] = {0x03, 0x01, 0, 0, 0, 0x00, 0x0A, 0, 0, 0,
                            '0', '1', '2', '3', '4', '5', '6', '7', '8', '9',
                            0x01, 0, 0, 0,              // attempt
                            0x22, 0, 0, 0,              // log_index
                            0x04, 0x03, 0x02, 0x01,     // elapsed
                            0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11};  // guid
  EXPECT_EQ(0, memcmp(want, out, 40));
  EXPECT_EQ(0xAA, out[40]);

  ReportCmdFields f = TenByteCmd();
  f.name = "ab";  // its length counts the NUL
  ASSERT_EQ(42, WriteReportCmd(f, out, sizeof(out)));  // 29 + 3 + 10
  EXPECT_EQ(3, out[1]);
  EXPECT_EQ(0, memcmp(out + 5, "ab\0", 3));
  EXPECT_EQ(10, out[8]);
}

TEST(CommandsReportLog, ReportCmdRefusals) {
  uint8_t out[64];
  // The buffer must hold name characters + T + 34 (44 here) although 40 are
  // written; an empty text needs no pointer; a huge length must not wrap.
  struct Case { uint8_t version; bool text; uint32_t textLen; uint8_t* out; size_t cap; int rc; };
  const Case cases[] = {{3, true, 10, out, 43, -1},  {3, true, 10, out, 44, 40},
                        {2, true, 10, out, 64, -1},  {3, false, 10, out, 64, -1},
                        {3, false, 0, out, 64, 30},  {3, true, 0xFFFFFFF0u, out, 64, -1},
                        {3, true, 10, nullptr, 1024, -1}};
  for (const auto& c : cases) {
    ReportCmdFields f = TenByteCmd();
    f.version = c.version;
    if (!c.text) f.text = nullptr;
    f.textLen = c.textLen;
    EXPECT_EQ(c.rc, WriteReportCmd(f, c.out, c.cap)) << c.cap << " " << c.textLen;
  }
}

TEST(CommandsReportLog, ReportRespResults) {
  const uint8_t body[15] = {3, 1, 9, 9, 9, 9, 0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01, 0xEE};
  ReportResp r;
  ASSERT_EQ(14, ReadReportResp(body, sizeof(body), &r));
  EXPECT_EQ(std::make_tuple(3, 1, 0x09090909u, 0x0102030405060708ull),
            std::make_tuple(int{r.version}, int{r.succ}, r.reserved, r.guid));

  EXPECT_EQ(-2, ReadReportResp(nullptr, 14, &r));  // shorter bodies: the fuzz target's check
  uint8_t bad[14];
  memcpy(bad, body, 14);
  bad[0] = 2;
  bad[1] = 0;
  EXPECT_EQ(-1, ReadReportResp(bad, 14, &r));
  EXPECT_EQ(0, r.succ);  // still read, for the failure line

  // succ 0 is a valid answer.
  bad[0] = 3;
  EXPECT_EQ(14, ReadReportResp(bad, 14, &r));
  EXPECT_EQ(0, r.succ);
}

TEST(CommandsReportLog, ReceiversRespFillsPeerAddressesKeepsTenAndTakesCountZero) {
  std::vector<uint8_t> b = ReceiversBody(3, 12);
  PutReceiver(b, "1.1.1.1", 100, "255.255.255.255", 200);
  for (uint16_t i = 1; i < 12; ++i) {
    PutReceiver(b, "3.3.3.3", i, "2.2.2.2", static_cast<uint16_t>(1000 + i));
  }
  ReceiversResp r;
  ASSERT_EQ(5 + 36 * 12, ReadReceiversResp(b.data(), b.size(), &r));
  EXPECT_EQ(12u, r.count);
  EXPECT_EQ(10u, r.kept);
  EXPECT_STREQ("1.1.1.1", r.entries[0].tcp_ip);
  EXPECT_EQ(100, r.entries[0].tcp_port);
  EXPECT_STREQ("255.255.255.255", r.entries[0].udp_ip);
  EXPECT_EQ(200, r.entries[0].udp_port);
  EXPECT_EQ(0u, r.entries[0].kind);
  EXPECT_EQ(1009, r.entries[9].udp_port);

  const std::vector<uint8_t> none = ReceiversBody(3, 0);
  EXPECT_EQ(5, ReadReceiversResp(none.data(), none.size(), &r));
  EXPECT_EQ(0u, r.count);
}

TEST(CommandsReportLog, ReceiversRespRefusals) {
  std::vector<uint8_t> v2 = ReceiversBody(2, 1), two = ReceiversBody(3, 2);
  const std::vector<uint8_t> all = ReceiversBody(3, 0xFFFFFFFFu);
  PutReceiver(v2, "1.1.1.1", 1, "2.2.2.2", 2);
  PutReceiver(two, "1.1.1.1", 1, "2.2.2.2", 2);  // a count the body cannot hold
  const struct { const uint8_t* body; size_t len; int rc; } cases[] = {
      {nullptr, 41, -1}, {two.data(), 0, -1}, {v2.data(), v2.size(), -2},
      {two.data(), two.size(), -3}, {all.data(), all.size(), -3}, {all.data(), 4, -3}};
  for (const auto& c : cases) {
    ReceiversResp r;
    EXPECT_EQ(c.rc, ReadReceiversResp(c.body, c.len, &r)) << c.len;
    EXPECT_EQ(0u, r.count);  // nothing is left behind
    EXPECT_EQ(0, r.entries[0].udp_port);
  }
}
