// Start-up codes and lines, single-port and port-range binding, and the
// supervision thread's lines.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "e2e_client.h"
#include "../unit/linux_only.h"

using namespace e2e;

namespace {

// The first port of a range of n that lies inside the port space, starting
// at a port the system handed out a moment ago.
uint16_t RangeStart(uint16_t n) {
  uint16_t p;
  {
    TestServer probe;
    p = probe.Port();
  }
  return p <= 65535 - n ? p : static_cast<uint16_t>(p - n);
}

}  // namespace

TEST(StartUp, SecondCallReturns15AndKeepsTheBoundAddress) {
  TestServer stprc, qos;
  LogCollector log;
  ASSERT_EQ(0, StartWithStprc(stprc));
  EXPECT_TRUE(log.WaitFor("[Kelvarn] 启动成功,IP自适应状态:自适应"));
  EXPECT_EQ(1u, log.Count("[Kelvarn] 版本:brisa_version Veltrane：2.3.14.25dll"));
  ClientAddr first;
  ASSERT_TRUE(AnswerStprc(stprc, qos.Local(), &first));

  EXPECT_EQ(15, InitVeltrane(0, 0, "127.0.0.1", 6000, 0, 6010, "127.0.0.1", stprc.Port()));
  EXPECT_EQ(1u, log.Count("RouterAccessManager::Init has been inited..."));
  EXPECT_EQ(2u, log.Count("[Kelvarn] 版本:brisa_version Veltrane：2.3.14.25dll"));
  // Records still leave from the address bound by the first call.
  Received r;
  std::vector<uint8_t> record = Pattern(12, 4);
  ASSERT_TRUE(WaitUntil([&] {
    ReportMeetingQosInfo(record.data(), 12);
    return qos.ReceiveMsg(vpeer::kMsgQosRecord, &r, 50);
  }));
  EXPECT_EQ(first.ep, r.from);
}

TEST(StartUp, EmptyLocalIpGivesMinus11AndOneThatDoesNotParse23) {
  TestServer stprc;
  LogCollector log;
  EXPECT_EQ(-11, InitVeltrane(0, 0, "", 0, 0, 0, "127.0.0.1", stprc.Port()));
  EXPECT_TRUE(log.WaitFor("[Kelvarn] 输入的ip地址为空！！"));
  // These used to start (0) and then bind whatever the system made of them.
  for (const char* bad : {"not.an.ip", "999.1.1.1", "127.0.0.1junk", "255.255.255.255"}) {
    EXPECT_EQ(23, InitVeltrane(0, 0, bad, 0, 0, 0, "127.0.0.1", stprc.Port())) << bad;
    EXPECT_TRUE(log.WaitFor(std::string("[Kelvarn] 输入的本地Ip地址无效:") + bad));
  }
  std::vector<uint8_t> record = Pattern(10, 1);
  EXPECT_EQ(14, ReportMeetingQosInfo(record.data(), 10));
}

// At threshold 3 the host sees the coordinator's warnings and errors, report and facade alike, and nothing below.
TEST(StartUp, APortThatCannotBeBoundGives23AndALaterCallCanSucceed) {
  auto holder = std::make_unique<TestServer>();
  const uint16_t taken = holder->Port();

  TestServer stprc, qos;
  LogCollector log(3);
  EXPECT_EQ(23, InitVeltrane(0, 0, "127.0.0.1", taken, 0, taken, "127.0.0.1", stprc.Port()));
  EXPECT_TRUE(log.WaitFor("[Kelvarn] 绑定端口失败:127.0.0.1:" + std::to_string(taken)));
  std::vector<uint8_t> record = Pattern(10, 1);
  EXPECT_EQ(14, ReportMeetingQosInfo(record.data(), 10));
  EXPECT_EQ(1u, log.Count("RouterAccessManager::ReportCallInfo client not init "));
  holder.reset();
  // The framework and the session made by the failed call are reused.
  EXPECT_EQ(0, InitVeltrane(0, 0, "127.0.0.1", 0, 0, 0, "127.0.0.1", stprc.Port()));
  ClientAddr client;
  EXPECT_TRUE(AnswerStprc(stprc, qos.Local(), &client));
  std::vector<uint8_t> tooLong = Pattern(3000, 2);  // refused by the post: a facade error
  EXPECT_EQ(0, ReportMeetingQosInfo(tooLong.data(), 3000));
  EXPECT_EQ(1u, log.Count("[Kelvarn]RouterAccessAgent::ReportCallInfo  PostMsg to sid:"));
  EXPECT_EQ(0u, log.Count("AsynManager 初始化成功!") + log.Count("PostMsg finish"));
}

TEST(StartUp, PortRangeModeBindsFromTheRangeThroughTheSupervisionThread) {
  TestServer stprc;
  LogCollector log;
  // The bound port may lie up to 99 past the range's end.
  const uint16_t first = RangeStart(110), last = static_cast<uint16_t>(first + 10);
  ASSERT_EQ(0, InitVeltrane2(0, 0, "127.0.0.1", first, 0, last, "127.0.0.1", stprc.Port(), 0));
  EXPECT_TRUE(log.WaitFor("[Kelvarn]设定端口有误:127.0.0.1:" + std::to_string(first) + ",IP自适应状态:非自适应"));
  ASSERT_TRUE(log.WaitFor("[Kelvarn][IPRESET]重新设置默认UDP地址成功, addr:127.0.0.1:"));
  // The session asks STPRC from the bound port: first .. last + 99.
  ASSERT_TRUE(WaitUntil([&] {
    VELT_TestAdvanceClock(500);
    Received r;
    if (!stprc.ReceiveMsg(vpeer::kMsgStprcRequest, &r, 50)) return false;
    EXPECT_GE(r.from.port, first);
    EXPECT_LE(r.from.port, last + 99);
    return true;
  }));
  VELT_TestAdvanceClock(3000);
  EXPECT_TRUE(log.WaitFor("[Kelvarn][IPRESET]重新设置默认UDP地址时,Ip没有变化Local IP:127.0.0.1,自适应状态:非自适应"));
}

// The random offset added to a port of the range once wrapped past 65535, so
// a range at the top of the port space bound a low port outside it.
TEST(StartUp, ARangeAtTheTopOfThePortSpaceBindsInsideIt) {
  TestServer stprc;
  LogCollector log;
  ASSERT_EQ(0, InitVeltrane2(0, 0, "127.0.0.1", 65530, 0, 65535, "127.0.0.1", stprc.Port(), 0));
  const std::string bound = "[Kelvarn][IPRESET]重新设置默认UDP地址成功, addr:127.0.0.1:";
  ASSERT_TRUE(log.WaitFor(bound));
  for (const std::string& l : log.Lines()) {
    if (l.rfind(bound, 0) == 0) {
      EXPECT_GE(std::stoi(l.substr(bound.size())), 65530) << l;
    }
  }
}

TEST(StartUp, EveryPortRefusedGivesOneFailureLinePerPass) {
  VELT_LINUX_ONLY("Wine binds an address that no local interface has, which Windows and Linux refuse");
  TestServer stprc;
  LogCollector log;
  // An address of no local interface: every bind is refused, nothing is sent.
  const uint16_t first = RangeStart(4);
  const std::string end = std::to_string(first + 3);
  ASSERT_EQ(0, InitVeltrane2(0, 0, "192.0.2.1", first, 0, static_cast<uint16_t>(first + 2), "127.0.0.1",
                             stprc.Port(), 0));
  const std::string line = "[Kelvarn][IPRESET]重新设置默认UDP地址失败(" + end + ":" + end +
                           ")，循环了开始到结束都没成功，:" + std::to_string(first) + "-" + std::to_string(first + 2);
  ASSERT_TRUE(WaitUntil([&] {
    VELT_TestAdvanceClock(10);
    return log.Count(line) >= 1;
  }));
  EXPECT_EQ(1u, log.Count(line));
  EXPECT_EQ(0u, log.Count("重新设置默认UDP地址成功"));
}

TEST(StartUp, LeavesTheHostsRandomSequenceAlone) {
  std::srand(7);
  const int before[3] = {std::rand(), std::rand(), std::rand()};
  std::srand(7);
  ASSERT_EQ(0, InitVeltrane(0, 0, "127.0.0.1", 0, 0, 0, "", 0));
  for (int b : before) EXPECT_EQ(b, std::rand());
}
