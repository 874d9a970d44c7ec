// The coordinator and the report session in-process: start-up paths the
// exports cannot reach, lists shorter than a group, and the secured road
// from the exports to a loopback server and back on a frozen clock.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "frozen_clock.h"
#include "api/RouterAccessManager.h"
#include "asynmodel/AsynManager.h"
#include "platform/log.h"
#include "report/FlowCounter.h"
#include "report/LocalCommands.h"
#include "report/ReportCommands.h"
#include "report/SecureCommands.h"
#include "tzhelper/TzQuickTimer.h"
#include "udp_test_util.h"
#include "wait_util.h"

namespace {

StprcAddrEntry Entry(const char* ip, uint16_t port, uint32_t group) {
  StprcAddrEntry e;
  memset(&e, 0, sizeof(e));
  memcpy(e.stprcIp, ip, strlen(ip));
  e.stprcPort = port;
  e.groupid = group;
  return e;
}

// A loopback socket that never answers: datagrams to it vanish.
const udptest::Peer& Sink() {
  static udptest::Peer* sink = new udptest::Peer();
  return *sink;
}

int32_t StartCoordinator() {
  StprcAddrEntry e = Entry("127.0.0.1", Sink().Port(), 0);
  return RouterAccessManager::GetInstance()->Init(nullptr, 0, 0, "127.0.0.1", 0, 0, 0, &e, 1, 0,
                                                  nullptr, 0);
}

}  // namespace

// No entry at all is refused; an entry with empty text starts.
TEST(RouterAccess, NoStprcEntryGivesMinus10AndAnEmptyTextStillStartsWithoutPostingAList) {
  LogCapture log;
  EXPECT_EQ(-10, RouterAccessManager::GetInstance()->Init(nullptr, 0, 0, "127.0.0.1", 0, 0, 0, nullptr,
                                                          0, 0, nullptr, 0));
  EXPECT_EQ(1u, log.Count("[Kelvarn] 输入的stprcIp地址 数目错误"));
  EXPECT_FALSE(RouterAccessManager::GetInstance()->Started());
  StprcAddrEntry e = Entry("", 0, 0);
  EXPECT_EQ(0, RouterAccessManager::GetInstance()->Init(nullptr, 0, 0, "127.0.0.1", 0, 0, 0, &e, 1, 0,
                                                        nullptr, 0));
  EXPECT_TRUE(log.Contains("[Kelvarn][stprc] init Report_RC_ADDR_CMD init 没有传stprc!"));
  EXPECT_FALSE(log.Contains("[Kelvarn] 输入的stprcIp地址为:"));
}

TEST(RouterAccess, FirstPortZeroBindsTheSinglePortEvenWithALastPort) {
  // The public header said any first port below the last selects port range
  // mode; a first port of 0 keeps single port mode and is bound at start-up.
  LogCapture log;
  StprcAddrEntry e = Entry("127.0.0.1", Sink().Port(), 0);
  ASSERT_EQ(0, RouterAccessManager::GetInstance()->Init(nullptr, 0, 0, "127.0.0.1", 0, 0, 10, &e, 1, 0,
                                                        nullptr, 0));
  EXPECT_EQ(1u, log.Count("[Kelvarn] 绑定端口成功:127.0.0.1:0"));
  EXPECT_EQ(0u, log.Count("[Kelvarn]设定端口有误"));
  EXPECT_EQ(1u, log.Count("[Kelvarn]传入参数：nType:0,ip:127.0.0.1,端口起始:0-10"));
}

TEST(ReportSession, AListShorterThanOneGroupAsksNobodyAndA512CharacterDirectoryIsRefused) {
  LogCapture log;
  ASSERT_EQ(0, StartCoordinator());
  ASSERT_TRUE(log.WaitFor("[Kelvarn][stprc] 向STPRC请求QOS服务器地址命令发送成功:0！！"));
  log.Clear();
  const uint32_t sid = RouterAccessManager::GetInstance()->ReportSid();
  std::vector<uint8_t> list(239, 0);
  ASSERT_EQ(0u, AsynModel::PostMsg(sid, report::Report_RC_ADDR_CMD, list.data(), 239, false));
  ASSERT_TRUE(log.WaitFor("[Kelvarn][stprc] 传入的stprc地址长度不够一个，不请求服务器地址！！"));
  EXPECT_FALSE(log.Contains("开始请求QOS服务器地址"));

  // A config directory of 511 characters is kept, one of 512 refused.
  std::string dir(511, 'd');
  ASSERT_EQ(0u, AsynModel::PostMsg(sid, report::Report_CONFIG_DIR_CMD, dir.data(), 511, false));
  ASSERT_TRUE(log.WaitFor("[Kelvarn]设置config目录传入session，path:" + dir + "!\r\n"));
  std::string longer(512, 'd');
  ASSERT_EQ(0u, AsynModel::PostMsg(sid, report::Report_CONFIG_DIR_CMD, longer.data(), 512, false));
  ASSERT_TRUE(log.WaitFor("[Kelvarn]设置config目录传入session,长度为512,大于m_path大小,无法拷贝！."));
}

TEST(FlowCounter, RateAcrossTheTickWrapAndFromTickZero) {
  FrozenClock clock;
  for (uint32_t beforeWrap : {1000u, 0u}) {
    clock.ToTickWrap(beforeWrap);
    FlowCounter flow;
    flow.Add(958);  // with the 42 bytes of overhead: 1000
    clock.Advance(1000);
    flow.Add(958);
    clock.Advance(1000);
    EXPECT_EQ(flow.RateBps(), 2000u * 8 / 2000 * 1000) << beforeWrap;
  }
}

// The report session on a frozen clock that starts 3 s before the tick count
// wraps, so every tick comparison of the session spans the wrap. Secured
// blocks posted as the exports post them go to a loopback server as combined
// packets. Each step moves the clock one timer step, waits for the timer pass
// at the new time and then for the session to have handled what it fired.
class FrozenReport : public ::testing::Test {
 protected:
  void SetUp() override {
    clock_.ToTickWrap(3000);
    ASSERT_EQ(0, StartCoordinator());
    coordinator_ = RouterAccessManager::GetInstance();
    timer_ = AsynModel::AsynManager::GetInstance()->GetQuickTimer();
    ASSERT_EQ(0, coordinator_->Secure().InitParams(nullptr, 0, 20480, 8));  // one packet a pass
    key_ = coordinator_->Secure().CreateKey(1, 2, 3, 4, 5);
    ASSERT_NE(key_, nullptr);
  }
  void TearDown() override { plat::ThawClockForTest(); }

  void Post() {
    DirectRecverAddr::Global().Set("127.0.0.1", server_.Port());  // secured packets go to the current server
    std::vector<uint8_t> block(64, 0xAB);
    ASSERT_EQ(0, coordinator_->Secure().PostPacket(key_, block.data(), 64, nullptr, 0));
  }
  void Step() {
    clock_.Advance(TzQuickTimer::kTickMs);
    const int64_t now = plat::NowMs();
    ASSERT_TRUE(WaitUntil([&] { return timer_->PassNow() >= now; }));
    timer_->CensusForTest();  // the pass has ended: what it fired is queued
    Barrier();
  }
  // Returns once the serial session has handled everything posted before.
  void Barrier() {
    const std::string dir = "barrier";
    ASSERT_EQ(0u, AsynModel::PostMsg(coordinator_->ReportSid(), report::Report_CONFIG_DIR_CMD, dir.data(),
                                     static_cast<uint32_t>(dir.size()), false));
    ASSERT_TRUE(log_.WaitFor("path:barrier!", ++barriers_, 10000));
  }
  void StepFor(int64_t ms) {
    for (int64_t end = plat::MonotonicMs() + ms; plat::MonotonicMs() < end;) ASSERT_NO_FATAL_FAILURE(Step());
  }
  // The serial number of the next secured packet at the server, and the
  // port it came from.
  uint32_t Received(uint16_t* from) {
    std::vector<uint8_t> d;
    for (;;) {
      if (!server_.Recv(&d, 10000, from)) return 0;
      if (d.size() > 28 && udptest::GetLe32(d, 12) == report::Report_SECURE_QOSINFO_CMD) {
        return report::SerialAt(d.data() + 24, d.size() - 24, 0);
      }
    }
  }
  // "Resent" counts of the statistics lines logged so far (one every 5 s).
  std::vector<uint32_t> ResentCounts() {
    std::vector<uint32_t> n;
    const std::string head = "SecureTransfer[统计]重发数据包总个数:";
    for (const LogLine& l : log_.Lines()) {
      if (l.text.compare(0, head.size(), head) == 0) n.push_back(std::stoul(l.text.substr(head.size())));
    }
    return n;
  }

  FrozenClock clock_;
  LogCapture log_;
  udptest::Peer server_;
  RouterAccessManager* coordinator_ = nullptr;
  TzQuickTimer* timer_ = nullptr;
  SecureTransferKey key_ = nullptr;
  size_t barriers_ = 0;
};

TEST_F(FrozenReport, TheServersAcknowledgementReleasesThePacket) {
  Post();
  for (int i = 0; i < 20 && coordinator_->Secure().ResendTableSize() == 0; ++i) Step();
  uint16_t client = 0;
  const uint32_t serial = Received(&client);
  ASSERT_NE(serial, 0u);
  ASSERT_EQ(coordinator_->Secure().ResendTableSize(), 1u);
  uint8_t body[4];
  ASSERT_EQ(4, report::WriteSerialList(&serial, 1, body, sizeof(body)));
  server_.SendTo(client, udptest::DataDatagram(report::Report_SECURE_ACK_CMD, 1, coordinator_->ReportSid(),
                                             std::string(reinterpret_cast<char*>(body), 4)));
  EXPECT_TRUE(WaitUntil([&] { return coordinator_->Secure().ResendTableSize() == 0; }));
}

// Without acknowledgements: resends at most one per 200 ms, a pause once the
// server has been silent for 2 s, and sending again 12 s after the last
// acknowledgement (here: the session's start).
TEST_F(FrozenReport, UnacknowledgedPacketsAreResentEvery200MsPauseAndResumeAfter12s) {
  Post();
  StepFor(15100);
  const std::vector<uint32_t> resent = ResentCounts();
  ASSERT_EQ(resent.size(), 3u);
  EXPECT_GE(resent[0], 5u);   // between the first send and 2 s of silence
  EXPECT_LE(resent[0], 10u);  // never sooner than 200 ms after the last one
  EXPECT_EQ(resent[1], 0u);   // 5..10 s: paused
  EXPECT_GE(resent[2], 5u);   // 12..14 s: sending again
}

TEST_F(FrozenReport, WithoutAServerRecordsAreDroppedWithOneLineEvery5s) {
  const std::string line = "[Kelvarn]服务器地址列表为空，无法发送数据！！";
  const std::vector<uint8_t> record(40 + report::kDestTrailerBytes, 0);
  // Each post comes this long after the one before, and the line count then.
  const struct { int64_t after; size_t lines; } posts[] = {{0, 0}, {5000, 0}, {1, 1}, {5000, 1}, {1, 2}};
  for (const auto& p : posts) {
    clock_.Advance(p.after);
    ASSERT_EQ(0u, AsynModel::PostMsg(coordinator_->ReportSid(), report::Report_LOCAL_QOSINFO_CMD, record.data(),
                                     static_cast<uint32_t>(record.size()), false));
    Barrier();
    EXPECT_EQ(log_.Count(line), p.lines) << "after " << p.after;
  }
}
