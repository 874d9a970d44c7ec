// QoS server discovery through STPRC servers, driven through the exports
// with loopback sockets playing the STPRC servers and the QoS server.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "e2e_client.h"

using namespace e2e;

namespace {

StprcAddrEntry Entry(uint16_t port, uint32_t group) {
  StprcAddrEntry e;
  memset(&e, 0, sizeof(e));
  strcpy(e.stprcIp, "127.0.0.1");
  e.stprcPort = port;
  e.groupid = group;
  return e;
}

}  // namespace

TEST(Discovery, AsksAtOnceAndEvery500msUntilAnsweredThenUsesTheAnswer) {
  FrozenTime frozen;
  TestServer stprc, qos;
  ASSERT_EQ(0, StartWithStprc(stprc));
  Received r;
  ASSERT_TRUE(stprc.ReceiveMsg(vpeer::kMsgStprcRequest, &r));
  ASSERT_TRUE(AdvanceAndSettle(0));  // the timer is armed before time moves
  EXPECT_EQ(0u, r.d.bodyLen);
  EXPECT_EQ(0u, r.d.msg.destSid);
  EXPECT_EQ(vpeer::DatagramKind::kUnreliable, r.d.kind);
  for (int i = 0; i < 3; ++i) {  // the timer fires on the pass after it is due
    const int ms = MsUntilReceived(stprc, &r, 1000);
    EXPECT_GE(ms, 500) << i;
    EXPECT_LE(ms, 530) << i;
  }
  // A non-zero result changes nothing; the asking goes on.
  LogCollector log;
  stprc.SendData(r.from, vpeer::kMsgStprcAnswer, 0, r.d.msg.srcSid, StpAddrResp("127.0.0.1", qos.Port(), 1));
  ASSERT_TRUE(log.WaitFor("[Kelvarn]STP发送来的地址结果不为0(1)，无可用地址，不做处理！！！"));
  ASSERT_GT(MsUntilReceived(stprc, &r, 1000), 0);

  stprc.SendData(r.from, vpeer::kMsgStprcAnswer, 0, r.d.msg.srcSid, StpAddrResp("127.0.0.1", qos.Port(), 0));
  ASSERT_TRUE(log.WaitFor("[Kelvarn]STP发送来的地址为:127.0.0.1:" + std::to_string(qos.Port()) + "！！"));
  std::vector<uint8_t> body;
  ASSERT_TRUE(ReportAndReceive(qos, Pattern(33, 2), &body));
  EXPECT_EQ(Pattern(33, 2), body);
}

TEST(Discovery, AsksAgainOnlyWhenTheAnswerIsOlderThan24Hours) {
  FrozenTime frozen;
  TestServer stprc, qos;
  ASSERT_EQ(0, StartWithStprc(stprc));
  ClientAddr client;
  ASSERT_TRUE(AnswerStprc(stprc, qos.Local(), &client));
  std::vector<uint8_t> body;
  ASSERT_TRUE(WaitUntil([&] { return ReportAndReceive(qos, Pattern(5, 1), &body, 100); }));
  // The answer is checked every minute: exactly 24 hours on, it is not yet
  // older than that.
  LogCollector log;
  ASSERT_TRUE(AdvanceAndSettle(86400000));
  EXPECT_TRUE(stprc.Silent(0));
  ASSERT_TRUE(AdvanceAndSettle(60000));
  Received r;
  ASSERT_GE(MsUntilReceived(stprc, &r, 100), 0);
  EXPECT_EQ(vpeer::kMsgStprcRequest, r.d.msg.msgId);
  EXPECT_EQ(1u, log.Count("[Kelvarn][stprc] 超过24小时，向STPRC请求QOS服务器地址"));
  // Records keep going to the old server meanwhile.
  ASSERT_TRUE(ReportAndReceive(qos, Pattern(6, 1), &body));
}

TEST(Discovery, MovesToTheNextGroupWhenTheFirstNeverAnswers) {
  FrozenTime frozen;
  TestServer silent, answering, qos, dummy;
  ASSERT_EQ(0, StartWithStprc(dummy));  // start-up list: one unrelated server
  StprcAddrEntry list[2] = {Entry(silent.Port(), 1), Entry(answering.Port(), 2)};
  LogCollector log;
  ASSERT_EQ(0, SetStpRc(list, 2));
  Received r;
  ASSERT_TRUE(silent.ReceiveMsg(vpeer::kMsgStprcRequest, &r));  // group 0 at once
  const int ms = MsUntilReceived(answering, &r, 3000);  // a group is asked for 2 s
  EXPECT_GE(ms, 2500);
  EXPECT_LE(ms, 2650);
  EXPECT_EQ(1u, log.Count("[Kelvarn][stprc] 没有收到QOS服务器，向下一组STPRC请求QOS服务器地址 m_curGroup:0 nextGroup:1,m_groupNum:2"));
  answering.SendData(r.from, vpeer::kMsgStprcAnswer, 0, r.d.msg.srcSid, StpAddrResp("127.0.0.1", qos.Port(), 0));
  std::vector<uint8_t> body;
  ASSERT_TRUE(WaitUntil([&] { return ReportAndReceive(qos, Pattern(9, 9), &body, 100); }));
}

TEST(Discovery, AGroupOfPortZeroEntriesLogsTenLinesAndSendsNothing) {
  FrozenTime frozen;
  TestServer dummy, later;
  ASSERT_EQ(0, StartWithStprc(dummy));
  Received r;
  ASSERT_TRUE(dummy.ReceiveMsg(vpeer::kMsgStprcRequest, &r));
  // The start-up request logs its nine empty entries after it sends to entry
  // 0: let it finish before counting.
  ASSERT_TRUE(AdvanceAndSettle(0));
  // Group 5's only entry has port 0: it is dropped, and group index 0 stays
  // empty because group 6 follows it.
  StprcAddrEntry list[2] = {Entry(0, 5), Entry(later.Port(), 6)};
  LogCollector log;
  ASSERT_EQ(0, SetStpRc(list, 2));
  ASSERT_TRUE(AdvanceAndSettle(0));
  EXPECT_EQ(1u, log.Count("[Kelvarn][stprc] 排序后输入的stprcIp地址 stprcPort为0"));
  EXPECT_EQ(10u, log.Count("stprc地址错误"));
  EXPECT_TRUE(dummy.Silent(0));
  EXPECT_TRUE(later.Silent(0));
}

TEST(Discovery, FiveHundredListsLeaveOneRequestChain) {
  FrozenTime frozen;
  TestServer stprc, other;
  ASSERT_EQ(0, StartWithStprc(other));
  ASSERT_TRUE(AdvanceAndSettle(0));  // the start-up list is handled
  StprcAddrEntry list[1] = {Entry(stprc.Port(), 0)};
  LogCollector log;
  for (int i = 0; i < 500; ++i) ASSERT_EQ(0, SetStpRc(list, 1));
  ASSERT_TRUE(AdvanceAndSettle(0));
  EXPECT_EQ(500u, log.Count("[Kelvarn][stprc] 收到STPRC地址，向STPRC请求QOS服务器地址"));
  const std::string tick = "[Kelvarn][strprc] 没有收到QOS服务器，向STPRC请求QOS服务器地址";
  for (int i = 0; i < 100; ++i) ASSERT_TRUE(AdvanceAndSettle(50));
  // One chain asks every 500 ms and a step or two: 9 or 10 times in 5 s.
  EXPECT_GE(log.Count(tick), 9u);
  EXPECT_LE(log.Count(tick), 10u);
}

TEST(Discovery, SetStpRcResults) {
  TestServer stprc;
  StprcAddrEntry one[1] = {Entry(stprc.Port(), 0)};
  EXPECT_EQ(-1, SetStpRc(one, 1));  // no report session yet
  ASSERT_EQ(0, StartWithStprc(stprc));
  EXPECT_EQ(-2, SetStpRc(one, 0));
  StprcAddrEntry zero[1] = {Entry(0, 0)};
  EXPECT_EQ(-10, SetStpRc(zero, 1));

  // Nine groups make a 2160-byte table, longer than a post carries: the post
  // fails with 14, SetStpRc still returns 0 and the session keeps its list.
  LogCollector log;
  StprcAddrEntry nine[9];
  for (uint32_t g = 0; g < 9; ++g) nine[g] = Entry(stprc.Port(), g);
  EXPECT_EQ(0, SetStpRc(nine, 9));
  EXPECT_TRUE(log.WaitFor("[Kelvarn][stprc] SetStpRc Report_RC_ADDR_CMD 发送到session 地址 ret:14"));
}

TEST(Discovery, ConversionMapAppliesToTheAnswerAndToARecordsOwnDestination) {
  TestServer stprc, announced, translated;
  ASSERT_EQ(0, StartWithStprc(stprc));
  EXPECT_EQ(0u, VELT_CovertRecverAddr_Start());
  EXPECT_EQ(0u, VELT_CovertRecverAddr_Add("127.0.0.1", announced.Port(), "127.0.0.1", translated.Port()));
  EXPECT_EQ(0u, VELT_CovertRecverAddr_End());
  ClientAddr client;
  ASSERT_TRUE(AnswerStprc(stprc, announced.Local(), &client));
  std::vector<uint8_t> body;
  ASSERT_TRUE(WaitUntil([&] { return ReportAndReceive(translated, Pattern(7, 7), &body, 100); }));
  translated.Drain();
  const std::vector<uint8_t> record = Pattern(64, 5);
  char ip[16] = "127.0.0.1";
  ASSERT_EQ(0, ReportMeetingQosInfo3(record.data(), 64, ip, announced.Port()));
  Received r;
  ASSERT_TRUE(translated.ReceiveMsg(vpeer::kMsgQosRecord, &r));
  EXPECT_EQ(record, r.Body());
  EXPECT_TRUE(announced.Silent(0));  // what was sent before the record has arrived
}
