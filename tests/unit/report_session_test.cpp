// The coordinator and the report session in-process: start-up paths the
// exports cannot reach, lists shorter than a group, and random bodies of every
// message type posted to the session (every address they name forced onto
// loopback).
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "api/RouterAccessManager.h"
#include "asynmodel/AsynManager.h"
#include "platform/log.h"
#include "report/ReportCommands.h"

namespace {

StprcAddrEntry Entry(const char* ip, uint16_t port, uint32_t group) {
  StprcAddrEntry e;
  memset(&e, 0, sizeof(e));
  memcpy(e.stprcIp, ip, strlen(ip));
  e.stprcPort = port;
  e.groupid = group;
  return e;
}

// A loopback port nothing listens on: datagrams to it vanish.
constexpr uint16_t kSinkPort = 9;

int32_t StartCoordinator() {
  StprcAddrEntry e = Entry("127.0.0.1", kSinkPort, 0);
  return RouterAccessManager::GetInstance()->Init(nullptr, 0, 0, "127.0.0.1", 0, 0, 0, &e, 1, 0,
                                                  nullptr, 0);
}

}  // namespace

TEST(RouterAccess, NoStprcEntryGivesMinus10AndItsLine) {
  LogCapture log;
  EXPECT_EQ(-10, RouterAccessManager::GetInstance()->Init(nullptr, 0, 0, "127.0.0.1", 0, 0, 0, nullptr,
                                                          0, 0, nullptr, 0));
  EXPECT_EQ(1u, log.Count("[Kelvarn] 输入的stprcIp地址 数目错误"));
  EXPECT_FALSE(RouterAccessManager::GetInstance()->Started());
}

TEST(RouterAccess, EmptyStprcTextStillStartsWithoutPostingAList) {
  LogCapture log;
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
  StprcAddrEntry e = Entry("127.0.0.1", kSinkPort, 0);
  ASSERT_EQ(0, RouterAccessManager::GetInstance()->Init(nullptr, 0, 0, "127.0.0.1", 0, 0, 10, &e, 1, 0,
                                                        nullptr, 0));
  EXPECT_EQ(1u, log.Count("[Kelvarn] 绑定端口成功:127.0.0.1:0"));
  EXPECT_EQ(0u, log.Count("[Kelvarn]设定端口有误"));
  EXPECT_EQ(1u, log.Count("[Kelvarn]传入参数：nType:0,ip:127.0.0.1,端口起始:0-10"));
}

TEST(ReportSession, AListShorterThanOneGroupAsksNobody) {
  LogCapture log;
  ASSERT_EQ(0, StartCoordinator());
  ASSERT_TRUE(log.WaitFor("[Kelvarn][stprc] 向STPRC请求QOS服务器地址命令发送成功:0！！"));
  log.Clear();
  const uint32_t sid = RouterAccessManager::GetInstance()->ReportSid();
  std::vector<uint8_t> list(239, 0);
  ASSERT_EQ(0u, AsynModel::PostMsg(sid, report::Report_RC_ADDR_CMD, list.data(), 239, false));
  ASSERT_TRUE(log.WaitFor("[Kelvarn][stprc] 传入的stprc地址长度不够一个，不请求服务器地址！！"));
  EXPECT_FALSE(log.Contains("开始请求QOS服务器地址"));
}

TEST(ReportSession, ConfigDirectoryOf511CharactersIsKeptAnd512Refused) {
  ASSERT_EQ(0, StartCoordinator());
  LogCapture log;
  const uint32_t sid = RouterAccessManager::GetInstance()->ReportSid();
  std::string dir(511, 'd');
  ASSERT_EQ(0u, AsynModel::PostMsg(sid, report::Report_CONFIG_DIR_CMD, dir.data(), 511, false));
  ASSERT_TRUE(log.WaitFor("[Kelvarn]设置config目录传入session，path:" + dir + "!\r\n"));
  std::string longer(512, 'd');
  ASSERT_EQ(0u, AsynModel::PostMsg(sid, report::Report_CONFIG_DIR_CMD, longer.data(), 512, false));
  ASSERT_TRUE(log.WaitFor("[Kelvarn]设置config目录传入session,长度为512,大于m_path大小,无法拷贝！."));
}

TEST(ReportSession, RandomBodiesOfEveryMessageTypeAreSurvived) {
  ASSERT_EQ(0, StartCoordinator());
  LogCapture log;
  const uint32_t sid = RouterAccessManager::GetInstance()->ReportSid();
  const uint32_t types[] = {4000, 4001, 4002, 4004, 4005, 4006, 1120, 115, 1112, 6802, 6003, 1116, 9999};
  std::mt19937 rng(7);
  for (int i = 0; i < 3000; ++i) {
    const uint32_t type = types[i % (sizeof(types) / sizeof(types[0]))];
    std::vector<uint8_t> body(rng() % 2049);
    for (auto& b : body) b = static_cast<uint8_t>(rng());
    // Force every address a body can name onto loopback.
    if (type == report::Report_RC_ADDR_CMD) {
      for (size_t e = 0; e + 24 <= body.size(); e += 24) {
        memset(body.data() + e, 0, 16);
        memcpy(body.data() + e, "127.0.0.1", 9);
      }
    } else if ((type == 4002 || type == 4005) && body.size() >= 18) {
      uint8_t* t = body.data() + body.size() - 18;
      memset(t, 0, 16);
      if (rng() % 2) memcpy(t, "127.0.0.1", 9);
      t[16] = kSinkPort;
      t[17] = 0;
    } else if (type == report::Report_RECEIVERS_RESP_CMD) {
      for (size_t e = 5; e + 36 <= body.size(); e += 36) {
        for (size_t ip : {e, e + 18}) {
          memset(body.data() + ip, 0, 16);
          memcpy(body.data() + ip, "127.0.0.1", 9);
        }
      }
    } else if (type == report::Stprc_ADDR_RESP_CMD && body.size() >= 16) {
      memset(body.data(), 0, 16);
      memcpy(body.data(), "127.0.0.1", 9);
    }
    AsynModel::PostMsg(sid, type, body.empty() ? nullptr : body.data(), static_cast<uint32_t>(body.size()),
                       false);
  }
  // The session is still alive and answering after all of it.
  std::vector<uint8_t> list(240, 0);
  memcpy(list.data(), "127.0.0.1", 9);
  list[16] = kSinkPort;
  ASSERT_EQ(0u, AsynModel::PostMsg(sid, report::Report_RC_ADDR_CMD, list.data(), 240, false));
  EXPECT_TRUE(log.WaitFor("[Kelvarn][stprc] 收到STPRC地址，向STPRC请求QOS服务器地址", 1, 20000));
}
