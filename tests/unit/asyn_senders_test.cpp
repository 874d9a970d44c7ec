// The TCP sender's refusals before any connection is tried (the road
// itself: tcp_transport_test.cpp).
#include <gtest/gtest.h>

#include "asyn_test_util.h"
#include "asynmodel/AsynLog.h"
#include "asynmodel/PostMsgContext.h"
#include "asynmodel/net/TCPIOProcessor.h"
#include "asynmodel/net/TCPSender.h"

using namespace AsynModel;
using namespace asyn_test;

TEST(AsynSenders, TheTcpSenderRefusesWithItsCodesAndLines) {
  LogCapture cap;
  SptrPostMsgContext ctx(PostMsgContext::Create());
  SptrSession session(new RecordingSession());

  SptrISender noPort(new TCPSender(0x7F000001u, 0, 0, 0));
  EXPECT_EQ(static_cast<TCPSender*>(noPort.get())->AsynSendEx(ctx, session), 8u);
  EXPECT_TRUE(cap.Contains("TCPSender::AsynSendEx 中Sender 发送目的地的IP,Port非法,IP = 2130706433 Port = 0."));

  SptrISender sender(new TCPSender(0x7F000001u, 8000, 0, 0));
  auto* tcp = static_cast<TCPSender*>(sender.get());
  EXPECT_EQ(sender->TransportType(), 2u);
  EXPECT_EQ(tcp->AsynSendEx(ctx, session), 9u);  // the manager is not running
  EXPECT_TRUE(cap.Contains(" TCPSender::AsynSendEx 中 获取Manager失败。"));

  for (const LogLine& l : cap.Lines()) {
    if (l.text.find("TCPSender::AsynSendEx") != std::string::npos) {
      EXPECT_EQ(l.subType, kLogTcpSender);
      EXPECT_EQ(l.level, Log::kError);
    }
  }
  session->Terminate(0);
}
