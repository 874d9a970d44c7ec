// Call-log reporting bodies: ReportCmd, ReportResp, ReceiversResp.
#include <gtest/gtest.h>

#include <cstring>
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
  ReportCmdFields f = TenByteCmd();
  // The buffer must hold name characters + T + 34 (44 here) although 40 are
  // written.
  EXPECT_EQ(-1, WriteReportCmd(f, out, 43));
  EXPECT_EQ(40, WriteReportCmd(f, out, 44));
  f.version = 2;
  EXPECT_EQ(-1, WriteReportCmd(f, out, sizeof(out)));
  f = TenByteCmd();
  f.text = nullptr;
  EXPECT_EQ(-1, WriteReportCmd(f, out, sizeof(out)));
  f.textLen = 0;  // empty text without a pointer is fine
  EXPECT_EQ(30, WriteReportCmd(f, out, sizeof(out)));
  f = TenByteCmd();
  f.textLen = 0xFFFFFFF0u;  // must not wrap the size check
  EXPECT_EQ(-1, WriteReportCmd(f, out, sizeof(out)));
  EXPECT_EQ(-1, WriteReportCmd(TenByteCmd(), nullptr, 1024));
}

TEST(CommandsReportLog, ReportRespResults) {
  const uint8_t body[15] = {3, 1, 9, 9, 9, 9, 0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01, 0xEE};
  ReportResp r;
  ASSERT_EQ(14, ReadReportResp(body, sizeof(body), &r));
  EXPECT_EQ(3, r.version);
  EXPECT_EQ(1, r.succ);
  EXPECT_EQ(0x09090909u, r.reserved);
  EXPECT_EQ(0x0102030405060708ull, r.guid);

  EXPECT_EQ(-2, ReadReportResp(body, 13, &r));
  EXPECT_EQ(-2, ReadReportResp(nullptr, 14, &r));
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
  std::vector<uint8_t> b = ReceiversBody(3, 2);
  PutReceiver(b, "1.1.1.1", 100, "2.2.2.2", 200);
  PutReceiver(b, "3.3.3.3", 300, "255.255.255.255", 400);
  ReceiversResp r;
  ASSERT_EQ(77, ReadReceiversResp(b.data(), b.size(), &r));
  EXPECT_EQ(2u, r.count);
  EXPECT_EQ(2u, r.kept);
  EXPECT_STREQ("1.1.1.1", r.entries[0].tcp_ip);
  EXPECT_EQ(100, r.entries[0].tcp_port);
  EXPECT_STREQ("2.2.2.2", r.entries[0].udp_ip);
  EXPECT_EQ(200, r.entries[0].udp_port);
  EXPECT_STREQ("255.255.255.255", r.entries[1].udp_ip);
  EXPECT_EQ(400, r.entries[1].udp_port);
  EXPECT_EQ(0u, r.entries[1].kind);
  EXPECT_EQ(0, r.entries[2].udp_port);

  b = ReceiversBody(3, 12);
  for (uint16_t i = 0; i < 12; ++i) PutReceiver(b, "1.1.1.1", i, "2.2.2.2", static_cast<uint16_t>(1000 + i));
  ASSERT_EQ(5 + 36 * 12, ReadReceiversResp(b.data(), b.size(), &r));
  EXPECT_EQ(12u, r.count);
  EXPECT_EQ(10u, r.kept);
  EXPECT_EQ(1009, r.entries[9].udp_port);

  const std::vector<uint8_t> none = ReceiversBody(3, 0);
  EXPECT_EQ(5, ReadReceiversResp(none.data(), none.size(), &r));
  EXPECT_EQ(0u, r.count);
}

TEST(CommandsReportLog, ReceiversRespRefusals) {
  ReceiversResp r;
  EXPECT_EQ(-1, ReadReceiversResp(nullptr, 41, &r));
  const uint8_t one = 3;
  EXPECT_EQ(-1, ReadReceiversResp(&one, 0, &r));

  std::vector<uint8_t> b = ReceiversBody(2, 1);
  PutReceiver(b, "1.1.1.1", 1, "2.2.2.2", 2);
  EXPECT_EQ(-2, ReadReceiversResp(b.data(), b.size(), &r));

  // A count the body cannot hold is refused, and nothing is left behind.
  b = ReceiversBody(3, 2);
  PutReceiver(b, "1.1.1.1", 1, "2.2.2.2", 2);
  EXPECT_EQ(-3, ReadReceiversResp(b.data(), b.size(), &r));
  EXPECT_EQ(0u, r.count);
  EXPECT_EQ(0, r.entries[0].udp_port);
  b = ReceiversBody(3, 0xFFFFFFFFu);
  EXPECT_EQ(-3, ReadReceiversResp(b.data(), b.size(), &r));
  EXPECT_EQ(-3, ReadReceiversResp(b.data(), 4, &r));
}
