// The road of a host record: start-up, the destination rule and its
// overrides, and what the host sees for every kind of refusal.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "e2e_client.h"

using namespace e2e;

namespace {

// Starts against an STPRC test server that names qos as the QoS server.
ClientAddr StartDiscovered(TestServer& stprc, TestServer& qos) {
  EXPECT_EQ(0, StartWithStprc(stprc));
  ClientAddr client;
  EXPECT_TRUE(AnswerStprc(stprc, qos.Local(), &client));
  return client;
}

void WriteFile(const std::string& path, const std::string& text) {
  FILE* f = fopen(path.c_str(), "wb");
  ASSERT_NE(nullptr, f);
  fwrite(text.data(), 1, text.size(), f);
  fclose(f);
}

}  // namespace

TEST(Records, ReachTheDiscoveredServerAsMessage1116WithTheirExactBytes) {
  TestServer stprc, qos;
  ClientAddr client = StartDiscovered(stprc, qos);
  // The answer is applied asynchronously: records sent before it may be
  // dropped, so keep offering one until the server sees it.
  std::vector<uint8_t> record = Pattern(300, 3);
  Received r;
  ASSERT_TRUE(WaitUntil([&] {
    ReportMeetingQosInfo(record.data(), static_cast<uint32_t>(record.size()));
    return qos.ReceiveMsg(vpeer::kMsgQosRecord, &r, 50);
  }));
  EXPECT_EQ(vpeer::DatagramKind::kUnreliable, r.d.kind);
  EXPECT_EQ(record, r.Body());
  EXPECT_EQ(0u, r.d.msg.destSid);
  EXPECT_EQ(client.sid, r.d.msg.srcSid);
  EXPECT_EQ(client.ep, r.from);  // every datagram leaves from the default socket

  for (size_t len : {0u, 1u, 2020u}) {
    std::vector<uint8_t> body;
    ASSERT_TRUE(ReportAndReceive(qos, Pattern(len, 9), &body)) << len;
    EXPECT_EQ(Pattern(len, 9), body);
  }
}

TEST(Records, WithTheirOwnDestinationGoThereAndDirectAddressWinsOverBoth) {
  TestServer stprc, qos, own, direct;
  StartDiscovered(stprc, qos);
  std::vector<uint8_t> record = Pattern(40, 1);
  char ip[16] = "127.0.0.1";
  ASSERT_EQ(0, ReportMeetingQosInfo3(record.data(), 40, ip, own.Port()));
  Received r;
  ASSERT_TRUE(own.ReceiveMsg(vpeer::kMsgQosRecord, &r));
  EXPECT_EQ(record, r.Body());

  TempDir tmp;
  const std::string dir = tmp.str();
  WriteFile(dir + "/qosRecverIP.txt", "127.0.0.1:" + std::to_string(direct.Port()) + "\n");
  LogCollector log;
  SetVeltraneDir(dir.c_str());
  ASSERT_TRUE(log.WaitFor("[Kelvarn]从配置文件解析服务器地址 ip:127.0.0.1,port:" + std::to_string(direct.Port())));
  ASSERT_EQ(0, ReportMeetingQosInfo3(record.data(), 40, ip, own.Port()));
  ASSERT_TRUE(direct.ReceiveMsg(vpeer::kMsgQosRecord, &r));
  ASSERT_EQ(0, ReportMeetingQosInfo(record.data(), 40));
  ASSERT_TRUE(direct.ReceiveMsg(vpeer::kMsgQosRecord, &r));
}

TEST(Records, LongerThan2030BytesFailThePostButReturn0) {
  TestServer stprc, qos;
  StartDiscovered(stprc, qos);
  std::vector<uint8_t> body;
  ASSERT_TRUE(WaitUntil([&] { return ReportAndReceive(qos, Pattern(8, 1), &body, 100); }));
  qos.Drain();
  LogCollector log;
  std::vector<uint8_t> record = Pattern(2031, 1);
  EXPECT_EQ(0, ReportMeetingQosInfo(record.data(), 2031));
  EXPECT_TRUE(log.WaitFor("[Kelvarn]RouterAccessAgent::ReportCallInfo  PostMsg to sid:"));
  EXPECT_TRUE(log.WaitFor("AsynManager::PostMsg() 给目标"));
  // 2021 to 2030 bytes still fit a post (with the 18-byte trailer) but not
  // a datagram: the session's send refuses them with 14.
  std::vector<uint8_t> tooLong = Pattern(2030, 2);
  EXPECT_EQ(0, ReportMeetingQosInfo(tooLong.data(), 2030));
  EXPECT_TRUE(log.WaitFor("[Kelvarn]OnReportLocalQosinfoCmdArrived PostMsg failed ec:14 , destip:127.0.0.1"));
  EXPECT_TRUE(ReportAndReceive(qos, Pattern(2020, 2), &body));
  EXPECT_EQ(Pattern(2020, 2), body);
}

TEST(Records, FlowLineCountsTheLastFiveSecondsAndRestartsFromZero) {
  TestServer stprc, qos;
  StartDiscovered(stprc, qos);
  std::vector<uint8_t> body;
  ASSERT_TRUE(WaitUntil([&] { return ReportAndReceive(qos, Pattern(10, 1), &body, 100); }));
  qos.Drain();
  LogCollector log;
  VELT_TestAdvanceClock(5000);  // closes the window of the start-up records
  ASSERT_TRUE(log.WaitFor("[Kelvarn][flow][meetId:0]", 1));
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(ReportAndReceive(qos, Pattern(10, 1), &body));
  VELT_TestAdvanceClock(5000);
  ASSERT_TRUE(log.WaitFor("[Kelvarn][flow][meetId:0]", 2));
  std::vector<std::string> flows;
  for (const std::string& l : log.Lines())
    if (l.find("[Kelvarn][flow]") != std::string::npos) flows.push_back(l);
  const std::string& second = flows[1];
  EXPECT_NE(std::string::npos, second.find("收到的客户端postmsg传来的记录:3条,postmsg出去的记录:3条!!")) << second;
  EXPECT_NE(std::string::npos, second.find("ServerAdd:127.0.0.1:" + std::to_string(qos.Port())));
  EXPECT_NE(std::string::npos, second.find("(serVers:127.0.0.1:" + std::to_string(qos.Port()) + "|)"));
  EXPECT_TRUE(log.WaitFor("SecureTransfer[统计]向服务器发送流量(安全数据):流量:0/s(kbps),总次数:0,ServerAdd(127.0.0.1:"));
  VELT_TestAdvanceClock(5000);
  ASSERT_TRUE(log.WaitFor("[Kelvarn][flow][meetId:0]", 3));
  EXPECT_EQ(1u, log.Count("记录:0条,postmsg出去的记录:0条"));
}

