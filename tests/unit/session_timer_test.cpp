// Session timers on the manager's quick timer: due timers, time-outs,
// cancellation by Stop, and the two delivery roads.
#include <gtest/gtest.h>

#include <string>

#include "asyn_test_util.h"
#include "platform/clock.h"
#include "tzhelper/QosLog.h"

using namespace AsynModel;
using namespace asyn_test;

using SessionTimerTest = FrameworkTest<1>;

TEST_F(SessionTimerTest, ADueTimerReachesOnTimerWithItsIdAndUserDataAndTheTimeoutOnTimeout) {
  SptrSession s(new RecordingSession());
  ASSERT_EQ(s->Start(), 0);
  ASSERT_TRUE(WaitUntil([&] { return Rec(s)->starts.load() == 1; }));
  std::atomic<int> udDestroyed{0};
  SptrUserDataInfo ud(new CountedUserData(&udDestroyed));
  ASSERT_TRUE(s->SetTimer(7, 1000, ud.get()));
  EXPECT_EQ(ud->RefCount(), 2u);  // ours and the timer's
  plat::AdvanceClock(1000);
  ASSERT_TRUE(WaitUntil([&] { return Rec(s)->timerCount.load() == 1; }));
  {
    std::lock_guard<std::mutex> g(Rec(s)->mu);
    EXPECT_FALSE(Rec(s)->timers[0].cancelled);
    EXPECT_EQ(Rec(s)->timers[0].timerId, 7u);
    EXPECT_EQ(Rec(s)->timers[0].userData, ud.get());
  }
  // Every reference the timer took is back: ours, its own and the SessionMap's.
  EXPECT_TRUE(WaitUntil([&] { return ud->RefCount() == 1u; })) << ud->RefCount();
  EXPECT_TRUE(WaitUntil([&] { return s->RefCount() == 3u; })) << s->RefCount();
  s->Terminate(0);

  SptrSession t(new RecordingSession());
  ASSERT_EQ(t->Start(500), 0);
  plat::AdvanceClock(500);
  ASSERT_TRUE(WaitUntil([&] { return Rec(t)->timeouts.load() == 1; }));
  EXPECT_EQ(Rec(t)->timeoutCancelled.load(), 0);
  EXPECT_EQ(Rec(t)->lastTerminateReason.load(), 6002u);  // the default OnTimeout terminates
  EXPECT_FALSE(mgr->FindSession(t->GetSessionID()));
}

TEST_F(SessionTimerTest, StopDeliversPendingTimersOnceWithTheCancelFlagThenSetTimerRefuses) {
  SptrSession s(new RecordingSession(Parallel()));
  ASSERT_EQ(s->Start(), 0);
  ASSERT_TRUE(s->SetTimer(1, 100));
  ASSERT_TRUE(s->SetTimer(2, 60000));  // the far list
  ASSERT_EQ(mgr->Stop(), 0u);
  // Timers still waiting to be distributed fire during Stop; those on the
  // wheel or the far list on the timer thread's next pass, soon after.
  ASSERT_TRUE(WaitUntil([&] { return Rec(s)->timerCount.load() == 2; }));
  {
    std::lock_guard<std::mutex> g(Rec(s)->mu);
    for (const auto& t : Rec(s)->timers) EXPECT_TRUE(t.cancelled) << t.timerId;
  }
  plat::AdvanceClock(61000);
  plat::SleepMs(0);
  EXPECT_TRUE(WaitUntil([&] { return s->RefCount() == 2u; }));
  EXPECT_EQ(Rec(s)->timerCount.load(), 2);

  LogCapture cap;
  EXPECT_FALSE(s->SetTimer(3, 10));
  EXPECT_FALSE(s->SetTimeoutTimer(10));
  EXPECT_TRUE(cap.Contains(Sid(s.get()) + "Session::SetTimer 中SessionTimer获取为空或者Timer的状态为Disable。"));
  EXPECT_TRUE(cap.Contains(Sid(s.get()) + "Session::SetTimeoutTimer 中SessionTimer获取为空或者Timer的状态为Disable。"));
  EXPECT_EQ(s->RefCount(), 2u);  // nothing kept
  s->Terminate(0);
}

TEST_F(SessionTimerTest, OrderedSerialSessionsQueueTheirTimersOthersPostThem) {
  LogCapture cap;
  SptrSession ordered(new RecordingSession(Serial(true)));
  SptrSession parallel(new RecordingSession(Parallel()));
  ASSERT_EQ(ordered->Start(), 0);
  ASSERT_EQ(parallel->Start(), 0);
  ASSERT_TRUE(ordered->SetTimer(4, 0));
  ASSERT_TRUE(parallel->SetTimer(5, 0));
  ASSERT_TRUE(WaitUntil([&] { return Rec(ordered)->timerCount.load() == 1 && Rec(parallel)->timerCount.load() == 1; }));
  EXPECT_TRUE(cap.Contains(Sid(ordered.get()) +
                           "Session::TransmitTimerEvent(SessionTimer到期相响应函数) \t\t\t\t\t    "
                           "中判断Session属性为串行并且要求顺序则直接Push 超时Event，并向完成端口发送通知消息。"));
  EXPECT_TRUE(cap.Contains(Sid(parallel.get()) +
                           "Session::TransmitTimerEvent(SessionTimer到期相响应函数) \t\t\t\t\t    "
                           "中判断Session threadMode 为 并行,\t\t\t\t\t\tmsgArrivedModel为 要求顺序,直接向完成端口Post 超时Event。"));
  ordered->Terminate(0);
  parallel->Terminate(0);
}
