// Call-log reporting in the running report session, on a frozen clock:
// a cached line without receivers, a report walking its receivers, the
// answers (1112) from plain loopback sockets, and the statistics sweep.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "frozen_clock.h"
#include "api/RouterAccessManager.h"
#include "report/ReportCallInfoReqSession.h"
#include "udp_test_util.h"

namespace {

int32_t StartCoordinator() {
  static udptest::Peer* silent = new udptest::Peer();  // an STPRC that never answers
  StprcAddrEntry e;
  memset(&e, 0, sizeof(e));
  strcpy(e.stprcIp, "127.0.0.1");
  e.stprcPort = silent->Port();
  return RouterAccessManager::GetInstance()->Init(nullptr, 0, 0, "127.0.0.1", 0, 0, 0, &e, 1, 0, nullptr, 0);
}

std::string ReportResp(uint8_t succ, uint64_t guid) {
  std::string b(14, '\0');
  b[0] = 3;
  b[1] = static_cast<char>(succ);
  for (int i = 0; i < 8; ++i) b[6 + i] = static_cast<char>(guid >> (8 * i));
  return b;
}

// A ReportCmd datagram with a 4-byte text: its attempt and elapsed fields.
void ReadCmd(const std::vector<uint8_t>& d, uint32_t* attempt, uint32_t* elapsed) {
  ASSERT_EQ(24u + 34u, d.size());
  EXPECT_EQ(1116u, udptest::GetLe32(d, 12));
  *attempt = udptest::GetLe32(d, 24 + 14);
  *elapsed = udptest::GetLe32(d, 24 + 22);
}

// Lines containing needle written before the first line containing marker.
size_t CountBefore(const LogCapture& log, const std::string& needle, const std::string& marker) {
  size_t n = 0;
  for (const LogLine& l : log.Lines()) {
    if (l.text.find(marker) != std::string::npos) break;
    if (l.text.find(needle) != std::string::npos) ++n;
  }
  return n;
}

}  // namespace

TEST(CallLogReport, CachedLineWithoutReceiversTimesOutAndIsReportedAgainUnderItsGuid) {
  FrozenClock clock;
  LogCapture log;
  ASSERT_EQ(0, StartCoordinator());
  EXPECT_FALSE(RouterAccessManager::GetInstance()->HasRelayTimer());  // nType 0 runs no heartbeat
  CallLogCacheList* cache = CallLogCacheList::GetInstance();
  const uint64_t guid = 0x0123456700000042ull;
  const std::string g = "[" + std::to_string(guid) + "]";
  ASSERT_EQ(0, cache->add_call_log(guid, "[call]hello", 11, 3, static_cast<uint64_t>(plat::NowMs() - 60000)));
  cache->move_new_to_old();

  // Each move goes one timer step past a due time: a timer already on the
  // quick timer's wheel fires once its 15 ms slot has passed.
  clock.Advance(1000 + 15);
  ASSERT_TRUE(log.WaitFor("[Kelvarn] ReportCallInfoReqSession::start_report sid" + g + " get receiver 同步成功 "));
  EXPECT_EQ(1u, log.Count("ReportCallInfoReqSession::OnCheckLogCacheTimer 从缓存中获取到日志1条， 开始发送"));
  EXPECT_EQ(1u, log.Count("ReportCallInfoReqSession::report_log sid log:[call]hello, guid:" + std::to_string(guid) +
                          ",log_index:3, starttime:"));
  clock.Advance(60000 + 15);  // the whole minute since the report began
  ASSERT_TRUE(log.WaitFor("ReportCallInfoReqSession::deal_report_finish sid" + g + " failed ec:3"));
  EXPECT_EQ(1u, log.Count("ReportCallInfoReqSession::OnReportCmdTotalTimeOutTimer sid" + g + " 整体超时时间到"));
  // One context for the whole minute.
  EXPECT_EQ(1u, CountBefore(log, "start_report sid" + g, "failed ec:3"));
  EXPECT_EQ(0u, log.Count("send_report_cmd"));       // and nothing sent
  EXPECT_EQ(1u, cache->HistoryCount());
  clock.Advance(1000 + 15);
  ASSERT_TRUE(log.WaitFor("start_report sid" + g, 2));

  // Report requests count their bracketed key; 20 s after its first count
  // the key becomes a statistics line of its own.
  const uint32_t sid = RouterAccessManager::GetInstance()->ReportSid();
  for (int i = 0; i < 2; ++i) ASSERT_EQ(0u, AsynModel::PostMsg(sid, 4000, "[mic]lost", 9, false));
  ASSERT_TRUE(log.WaitFor("PostMsg failed ec:27 , destip:,destport:0,index:0", 2));
  clock.Advance(21000 + 15);
  ASSERT_TRUE(log.WaitFor("ReportCallInfoReqSession::OnCheckLogCacheTimer 生成统计信息 :[statistics][mic][2]"));
}

TEST(CallLogReport, ReceiversAreTriedOneAfterTheOtherAndASuccessAnswerEndsTheReport) {
  FrozenClock clock;
  LogCapture log;
  ASSERT_EQ(0, StartCoordinator());
  const uint32_t sid = RouterAccessManager::GetInstance()->ReportSid();
  AsynModel::SptrSession session = AsynModel::AsynManager::GetInstance()->FindSession(sid);
  ASSERT_TRUE(session);
  CallLogCacheList* cache = CallLogCacheList::GetInstance();
  const uint64_t guid = 77;
  ASSERT_EQ(0, cache->add_call_log(guid, "[k]x", 4, 1, static_cast<uint64_t>(plat::NowMs())));

  // A report with two receivers, started the way a receiver list would.
  udptest::Peer a, b;
  SptrReportCallInfoContext ctx = ReportCallInfoContext::Make("[k]x", 4);
  ctx->guid = guid;
  ctx->msg_type = 1116;
  ctx->start_time = static_cast<uint64_t>(plat::NowMs());
  ctx->receivers[0].SetUdp("127.0.0.1", a.Port());
  ctx->receivers[1].SetUdp("127.0.0.1", b.Port());
  ctx->receiver_count = 2;
  ASSERT_TRUE(session->SetTimer(ReportCallInfoReqSession::Timer_ReportCmdTotalTimeOut, 60000, ctx.get()));
  ASSERT_TRUE(session->SetTimer(ReportCallInfoReqSession::Timer_ReportSingleCmdTimeOut, 0, ctx.get()));
  clock.Advance(15);  // the timer thread's next pass, one step on

  std::vector<uint8_t> d;
  uint16_t client = 0;
  uint32_t attempt, first, second;
  ASSERT_TRUE(a.Recv(&d, 5000, &client));
  ReadCmd(d, &attempt, &first);
  EXPECT_EQ(0u, attempt);
  const std::string peerA = "recv [ip:127.0.0.1 port:" + std::to_string(a.Port()) + "] resp, ";
  a.SendTo(client, udptest::DataDatagram(1112, 0, sid, ReportResp(0, guid)));
  ASSERT_TRUE(log.WaitFor(peerA + "succ:false, is_finish:false"));

  bool got = false;
  for (int step = 0; step < 44 && !got; ++step) {
    clock.Advance(250);
    got = b.Recv(&d, 30);
  }
  ASSERT_TRUE(got || b.Recv(&d, 5000));
  ReadCmd(d, &attempt, &second);
  EXPECT_EQ(1u, attempt);
  EXPECT_GE(second - first, 7000u);
  EXPECT_LE(second - first, 9000u + 250u);  // one clock step late at most

  const std::string peerB = "recv [ip:127.0.0.1 port:" + std::to_string(b.Port()) + "] resp, ";
  b.SendTo(client, udptest::DataDatagram(1112, 0, sid, ReportResp(1, guid)));
  ASSERT_TRUE(log.WaitFor("ReportCallInfoReqSession::deal_report_finish sid[77] succ"));
  EXPECT_EQ(1u, log.Count(peerB + "succ:true, is_finish:false"));
  EXPECT_EQ(0u, cache->NewCount());
  b.SendTo(client, udptest::DataDatagram(1112, 0, sid, ReportResp(1, guid)));
  ASSERT_TRUE(log.WaitFor(peerB + "succ:true, is_finish:true"));
  EXPECT_EQ(1u, log.Count("deal_report_finish"));
}
