// Session timers on the manager's quick timer and a frozen clock: the exact
// pass that delivers them, cancellation by Stop, and the two delivery roads.
#include <gtest/gtest.h>

#include "asyn_test_util.h"
#include "frozen_clock.h"
#include "tzhelper/QosLog.h"

using namespace AsynModel;
using namespace asyn_test;

namespace {

const std::string kRoad = "Session::TransmitTimerEvent(SessionTimer到期相响应函数) \t\t\t\t\t    中判断Session";

class SessionTimerTest : public FrameworkTest<1> {
 protected:
  // Moves the clock (a pass needs a step of 15 ms at least), waits until the
  // quick timer's pass at the new time has ended and answers how many timers
  // it still holds.
  uint32_t Pass(int64_t ms) {
    clock_.Advance(ms);
    const int64_t now = plat::NowMs();
    EXPECT_TRUE(WaitUntil([&] { return mgr->GetQuickTimer()->PassNow() >= now; }));
    const TzQuickTimer::Census c = mgr->GetQuickTimer()->CensusForTest();
    return c.incoming + c.wheel + c.far;
  }
  FrozenClock clock_;
};

}  // namespace

// A timer fires on the first pass after its 15 ms slot has ended: never at
// its due time minus one, always one step after.
TEST_F(SessionTimerTest, TimerAndTimeOutFireOnTheirPassWithTheirIdAndUserData) {
  LogCapture cap;
  SptrSession s(new RecordingSession(Serial(true)));
  ASSERT_EQ(s->Start(2000), 0);
  SptrUserDataInfo ud(new UserDataInfo());
  ASSERT_TRUE(s->SetTimer(7, 1000, ud.get()));
  EXPECT_EQ(ud->RefCount(), 2u);  // ours and the timer's
  EXPECT_EQ(Pass(999), 2u);
  EXPECT_EQ(Pass(16), 1u);
  ASSERT_TRUE(WaitUntil([&] { return Rec(s)->timerCount.load() == 1; }));
  {
    std::lock_guard<std::mutex> g(Rec(s)->mu);
    const RecordingSession::TimerCall& t = Rec(s)->timers[0];
    EXPECT_TRUE(!t.cancelled && t.timerId == 7 && t.userData == ud.get());
  }
  // The timer's references are back: ours, the session's own, the SessionMap's, the time-out's.
  EXPECT_TRUE(WaitUntil([&] { return ud->RefCount() == 1u && s->RefCount() == 4u; }));
  EXPECT_TRUE(cap.Contains(Sid(s.get()) + kRoad +
                           "属性为串行并且要求顺序则直接Push 超时Event，并向完成端口发送通知消息。"));

  EXPECT_EQ(Pass(984), 1u);
  EXPECT_EQ(Pass(16), 0u);
  // Not cancelled; the default OnTimeout terminates, which ends on another
  // thread some time after the count: wait for the session to leave the map.
  ASSERT_TRUE(WaitUntil([&] { return Rec(s)->timeouts.load() == 1 && !mgr->FindSession(s->GetSessionID()); }));
  EXPECT_TRUE(Rec(s)->timeoutCancelled.load() == 0 && Rec(s)->lastTerminateReason.load() == 6002u);
}

// Stop cancels a timer not yet distributed at once and those on the wheel
// and the far list on the next pass; none fires again.
TEST_F(SessionTimerTest, StopDeliversPendingTimersOnceWithTheCancelFlagThenSetTimerRefuses) {
  LogCapture cap;
  SptrSession s(new RecordingSession(Parallel()));
  ASSERT_EQ(s->Start(), 0);
  ASSERT_TRUE(s->SetTimer(1, 100));
  ASSERT_TRUE(s->SetTimer(2, 60000));
  EXPECT_EQ(Pass(15), 2u);
  ASSERT_TRUE(s->SetTimer(3, 0));
  ASSERT_EQ(mgr->Stop(), 0u);
  EXPECT_EQ(Pass(15), 0u);
  EXPECT_TRUE(WaitUntil([&] { return s->RefCount() == 2u; }));
  {
    std::lock_guard<std::mutex> g(Rec(s)->mu);
    ASSERT_EQ(Rec(s)->timers.size(), 3u);
    for (const auto& t : Rec(s)->timers) EXPECT_TRUE(t.cancelled) << t.timerId;
  }
  EXPECT_TRUE(cap.Contains(Sid(s.get()) + kRoad +
                           " threadMode 为 并行,\t\t\t\t\t\tmsgArrivedModel为 要求顺序,直接向完成端口Post 超时Event。"));

  EXPECT_FALSE(s->SetTimer(3, 10) || s->SetTimeoutTimer(10));
  for (const char* call : {"SetTimer", "SetTimeoutTimer"}) {
    EXPECT_TRUE(cap.Contains(Sid(s.get()) + "Session::" + call + " 中SessionTimer获取为空或者Timer的状态为Disable。"));
  }
  EXPECT_EQ(s->RefCount(), 2u);  // nothing kept
  s->Terminate(0);
}
