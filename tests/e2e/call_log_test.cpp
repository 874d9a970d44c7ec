// Receiver lists (115), report answers (1112) and relay mode, driven through
// the exports with plain loopback sockets.
#include <gtest/gtest.h>

#include <string>

#include "e2e_client.h"

using namespace e2e;

namespace {

// A ReceiversResp whose entries name 127.0.0.1 and the given ports (tcp and
// udp alike).
std::vector<uint8_t> ReceiversResp(uint8_t version, const std::vector<uint16_t>& ports) {
  std::vector<uint8_t> b{version};
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(ports.size() >> (8 * i)));
  for (uint16_t port : ports) {
    for (int half = 0; half < 2; ++half) {
      char ip[16] = "127.0.0.1";
      b.insert(b.end(), ip, ip + 16);
      b.push_back(static_cast<uint8_t>(port));
      b.push_back(static_cast<uint8_t>(port >> 8));
    }
  }
  return b;
}

}  // namespace

TEST(ReceiverList, TwoEntriesRedirectTheNextRecordToTheFirstAndEmptyOrForeignListsChangeNothing) {
  TestServer stprc, qos, first, second, translated, lister;
  LogCollector log;
  ASSERT_EQ(0, StartWithStprc(stprc));
  ClientAddr client;
  ASSERT_TRUE(AnswerStprc(stprc, qos.Local(), &client));
  std::vector<uint8_t> body;
  ASSERT_TRUE(WaitUntil([&] { return ReportAndReceive(qos, Pattern(5, 1), &body, 100); }));

  const std::string src = "src:(ip:127.0.0.1, port:" + std::to_string(lister.Port()) + ")";
  lister.SendData(client.ep, 115, 0, client.sid, ReceiversResp(3, {}));
  ASSERT_TRUE(log.WaitFor("get receivers failed try next one" + src));
  lister.SendData(client.ep, 115, 0, client.sid, ReceiversResp(2, {first.Port(), second.Port()}));
  ASSERT_TRUE(log.WaitFor("收到回应，但是反序列化命令失败"));
  ASSERT_TRUE(ReportAndReceive(qos, Pattern(6, 1), &body));

  lister.SendData(client.ep, 115, 0, client.sid, ReceiversResp(3, {first.Port(), second.Port()}));
  ASSERT_TRUE(log.WaitFor("get receivers succ num:2 " + src));
  ASSERT_TRUE(ReportAndReceive(first, Pattern(7, 1), &body));

  // A listed address goes through the conversion map like any server's.
  VELT_CovertRecverAddr_Add("127.0.0.1", second.Port(), "127.0.0.1", translated.Port());
  VELT_CovertRecverAddr_End();
  lister.SendData(client.ep, 115, 0, client.sid, ReceiversResp(3, {second.Port(), first.Port()}));
  ASSERT_TRUE(log.WaitFor("get receivers succ num:2 " + src, 2));
  ASSERT_TRUE(ReportAndReceive(translated, Pattern(8, 1), &body));
  EXPECT_EQ(0u, log.Count("HeartBeatTimerProc"));  // a reporting client runs no heartbeat
}

TEST(ReportAnswer, AnUnknownGuidOrAShortBodyIsLoggedWithItsSender) {
  TestServer stprc, receiver;
  LogCollector log;
  ASSERT_EQ(0, StartWithStprc(stprc));
  ClientAddr client;
  ASSERT_TRUE(AnswerStprc(stprc, receiver.Local(), &client));
  std::vector<uint8_t> resp(14, 0);
  resp[0] = 3;
  resp[1] = 1;
  resp[6] = 9;  // a guid no report has
  const std::string from = "[ip:127.0.0.1 port:" + std::to_string(receiver.Port()) + "] resp, ";
  const std::string sid = "sid[" + std::to_string(static_cast<int32_t>(client.sid)) + "]  recv";
  receiver.SendData(client.ep, 1112, 0, client.sid, resp);
  ASSERT_TRUE(log.WaitFor("ReportCallInfoReqSession::OnReportLogRespArrived " + sid + " " + from + "但从队列中查找失败"));
  resp.resize(13);
  receiver.SendData(client.ep, 1112, 0, client.sid, resp);
  ASSERT_TRUE(log.WaitFor("[Kelvarn]ReportCallInfoReqSession::OnReportLogRespArrived " + sid + from +
                          "but failed unserial ret:-2, result:failed"));
}

TEST(Relay, ARelayCoordinatorRefusesRecordsAndRunsItsIdleHeartbeatEvery100ms) {
  TestServer stprc;
  LogCollector log(1);
  ASSERT_EQ(0, InitVeltrane(0, 1, "127.0.0.1", 0, 0, 0, "127.0.0.1", stprc.Port()));
  const std::vector<uint8_t> record = Pattern(10, 1);
  EXPECT_EQ(21, ReportMeetingQosInfo(record.data(), 10));
  const std::string idle = "RelayRegisterReqSession::HeartBeatTimerProc 开始一个心跳周期,未设置心跳时间，本周期不进行心跳";
  ASSERT_TRUE(log.WaitFor(idle));
  const size_t before = log.Count(idle);
  const uint32_t t0 = VELT_TestTickCount();
  for (size_t i = 1; i <= 10; ++i) {
    VELT_TestAdvanceClock(100);
    ASSERT_TRUE(log.WaitFor(idle, before + i));
  }
  const size_t passes = log.Count(idle) - before;
  const uint32_t t1 = VELT_TestTickCount();
  EXPECT_LE(passes, (t1 - t0) / 100 + 2);  // never more often than every 100 ms
  EXPECT_GE(log.Count("RelayRegisterReqSession::HeartBeatTimerProc start "), before + 10);
}
