// The session model: ids, Start and its failure reasons, the start gate,
// serial draining, dispatch of each event kind, Terminate.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>

#include "asyn_test_util.h"
#include "asynmodel/net/LocalSender.h"
#include "asynmodel/net/Msg.h"
#include "platform/clock.h"
#include "tzhelper/QosLog.h"
#include "tzhelper/TzEventNodeAlloc.h"

using namespace AsynModel;
using namespace asyn_test;

namespace {

// A MsgEvent carrying a copied body (form 2).
Event CopiedMessage(uint32_t destSid, uint32_t msgId, const void* data, uint32_t length) {
  Msg* msg = new Msg();
  msg->msgId = msgId;
  msg->destSid = destSid;
  if (length != 0) {
    msg->form = MSG_DATA_MEMSTREAM;
    msg->stream = SptrMemStream(MemStream::Create(length));
    std::memcpy(msg->stream->Buffer(), data, length);
    msg->stream->SetDataLength(length);
  }
  Event ev = Event::Make(destSid, MsgEvent, plat::NowMs());
  ev.word2 = reinterpret_cast<uintptr_t>(msg);
  return ev;
}

// A TimerEvent whose user data holds the event's reference.
Event TimerWithUserData(uint32_t destSid, std::atomic<int>* destroyed) {
  Event timer = Event::Make(destSid, TimerEvent, plat::NowMs());
  UserDataInfo* ud = new CountedUserData(destroyed);
  ud->AddRef();
  timer.word3 = reinterpret_cast<uintptr_t>(ud);
  return timer;
}

using SessionGate = FrameworkTest<1>;

}  // namespace

TEST(SessionIds, OrdinaryIdsWrapToOneAndResidentIdsStartHigh) {
  LogCapture cap;
  SetNextSessionIdForTest(0xFFFFD7FEu, Session::kFirstResidentId);
  SessionProperty resident;
  resident.idKind = 0;
  SptrSession s[] = {SptrSession(new RecordingSession()), SptrSession(new RecordingSession()),
                     SptrSession(new RecordingSession()), SptrSession(new RecordingSession(resident)),
                     SptrSession(new RecordingSession(resident))};
  const uint32_t expected[] = {0xFFFFD7FEu, 1u, 2u, 0xFFFFD7FFu, 0xFFFFD800u};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(s[i]->GetSessionID(), expected[i]) << i;
    s[i]->Terminate(0);
  }
  EXPECT_EQ(cap.Count("Session 常驻SessionID使用折回！"), 1u);
}

TEST(SessionStart, RefusesABadThreadModeAndAMissingFramework) {
  LogCapture cap;
  SessionProperty bad;
  bad.threadMode = 2;
  std::atomic<int> destroyed{0};
  {
    SptrSession s(new RecordingSession(bad, &destroyed));
    EXPECT_EQ(s->Start(), -1);
    EXPECT_EQ(Rec(s)->lastTerminateReason.load(), 6003u);
    EXPECT_TRUE(cap.Contains(Sid(s.get()) + "Session::Start Session threadMode 属性非法,既非串行又非并行，直接Terminate。"));
    EXPECT_EQ(s->Start(), -1);  // once only
    EXPECT_EQ(Rec(s)->terminates.load(), 1);
  }
  EXPECT_EQ(destroyed.load(), 1);

  SptrSession s(new RecordingSession());
  EXPECT_EQ(s->Start(), -1);  // the manager is not running
  EXPECT_EQ(Rec(s)->lastTerminateReason.load(), 6005u);
  EXPECT_TRUE(cap.Contains(Sid(s.get()) + "Session::Start AsynModel没有运行，直接Terminate。"));
}

TEST_F(SessionGate, AWorkerThatStartsASessionDispatchesItsStartInline) {
  LogCapture cap;  // debug lines kept
  class Starter : public RecordingSession {
   public:
    int32_t OnMessage(uint32_t, const uint8_t*, uint32_t, uint32_t, const SptrISender&) override {
      child = SptrSession(new RecordingSession());
      child->Start();
      startedBeforeReturn = Rec(child)->starts.load() == 1;
      handlerThread.store(plat::CurrentThreadId());  // published last
      return 0;
    }
    SptrSession child;
    bool startedBeforeReturn = false;
    std::atomic<uint32_t> handlerThread{0};
  };
  SptrSession starter(new Starter());
  auto* st = static_cast<Starter*>(starter.get());
  ASSERT_EQ(starter->Start(), 0);
  EXPECT_TRUE(cap.Contains(Sid(starter.get()) + "Session::Start当前执行线程不是异步模型内部线程，向完成端口PostLocalEvent。"));
  ASSERT_EQ(mgr->PostMsg(starter->GetSessionID(), 1, nullptr, 0, false), 0u);
  ASSERT_TRUE(WaitUntil([&] { return st->handlerThread.load() != 0; }));
  ASSERT_TRUE(st->child);
  EXPECT_TRUE(st->startedBeforeReturn);
  {
    std::lock_guard<std::mutex> g(Rec(st->child)->mu);
    EXPECT_EQ(Rec(st->child)->startThread, st->handlerThread.load());
  }
  EXPECT_TRUE(cap.Contains(Sid(st->child.get()) + "Session::Start当前执行线程是异步模型内部线程，直接调用OnEventArrived。"));
  st->child->Terminate(0);
  st->child.reset();
  starter->Terminate(0);
}

TEST(SessionGateDirect, ANotifyBeforeTheStartIsDroppedAndOtherEventsWait) {
  LogCapture cap;
  SptrSession s(new RecordingSession(Serial(false)));
  Event notify = Event::Make(s->GetSessionID(), NotifyEvent, plat::NowMs());
  EXPECT_EQ(s->OnEventArrived(notify, SptrISender()), 0);
  EXPECT_EQ(s->PendingEventCount(), 0u);
  EXPECT_TRUE(cap.Contains(Sid(s.get()) + "Session::OnEventArrived  \t\t\t\t\t判断出Session没有启动过，并且Event不是startEvent且是通知Event,"
                                          "\t\t\t\t\t则不将该Event push入eventlist中。"));

  Event m1 = CopiedMessage(s->GetSessionID(), 7, "ab", 2);
  Event m2 = CopiedMessage(s->GetSessionID(), 8, nullptr, 0);
  EXPECT_EQ(s->OnEventArrived(m1, SptrISender()), 0);
  EXPECT_EQ(s->OnEventArrived(m2, SptrISender()), 0);
  EXPECT_EQ(s->PendingEventCount(), 2u);
  EXPECT_EQ(Rec(s)->messageCount.load(), 0);

  // The start arrives through the same door and drains the queue behind it.
  Event start = Event::Make(s->GetSessionID(), StartEvent, plat::NowMs());
  EXPECT_EQ(s->OnEventArrived(start, SptrISender()), 0);
  {
    std::lock_guard<std::mutex> g(Rec(s)->mu);
    const std::vector<std::string> expected = {"start", "msg7", "msg8"};
    EXPECT_EQ(Rec(s)->trace, expected);
    EXPECT_EQ(Rec(s)->messages[0].body, "ab");
  }
  EXPECT_TRUE(cap.Contains(Sid(s.get()) + "Session::OnEventArrived 将isStartEvent 赋值为 true"));
  s->Terminate(0);
}

// Events queued before the start are released with the session; one that
// comes while it is being destroyed is released at once.
TEST(SessionTerminate, OnlyTheFirstTerminateCountsAndEveryEventIsReleasedNotDelivered) {
  LogCapture cap;
  std::atomic<int> destroyed{0}, queuedUd{0}, lateUd{0};
  SptrSession s(new RecordingSession(SessionProperty(), &destroyed));
  Event msg = CopiedMessage(s->GetSessionID(), 1, "xyz", 3);
  EXPECT_EQ(s->OnEventArrived(msg, SptrISender()), 0);  // queued: not started
  EXPECT_TRUE(s->PushEvent(TimerWithUserData(s->GetSessionID(), &queuedUd),
                           SptrISender(new LocalSender(nullptr, nullptr))));
  const long nodesBefore = tz::LiveEventNodes();
  EXPECT_EQ(s->PendingEventCount(), 2u);
  EXPECT_EQ(s->Terminate(41), 0);
  EXPECT_EQ(s->Terminate(42), 0);
  EXPECT_EQ(Rec(s)->terminates.load(), 1);
  EXPECT_EQ(Rec(s)->lastTerminateReason.load(), 41u);
  EXPECT_EQ(destroyed.load(), 0);  // our reference keeps it
  EXPECT_TRUE(cap.Contains(Sid(s.get()) + "Session::Terminate 开始调用OnTerminate。"));

  Event late = TimerWithUserData(s->GetSessionID(), &lateUd);
  EXPECT_EQ(s->OnEventArrived(late, SptrISender()), -1);
  EXPECT_EQ(lateUd.load(), 1);
  EXPECT_EQ(Rec(s)->timerCount.load() + Rec(s)->messageCount.load(), 0);
  EXPECT_TRUE(cap.Contains(Sid(s.get()) + "Session::OnEventArrived Session处于销毁中，释放Event资源，直接返回。"));
  s.reset();
  EXPECT_EQ(destroyed.load(), 1);
  EXPECT_EQ(queuedUd.load(), 1);
  EXPECT_EQ(tz::LiveEventNodes(), nodesBefore - 2);
}
