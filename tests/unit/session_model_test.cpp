// The session model: ids, Start and its failure reasons, the start gate,
// serial draining, dispatch of each event kind, Terminate.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>

#include "asyn_test_util.h"
#include "asynmodel/PostMsgContext.h"
#include "asynmodel/net/LocalSender.h"
#include "asynmodel/net/Msg.h"
#include "platform/clock.h"
#include "tzhelper/QosLog.h"
#include "tzhelper/TzEventNodeAlloc.h"

using namespace AsynModel;
using namespace asyn_test;

namespace {

std::string Sid(const Session* s) { return "[SID:" + std::to_string(s->GetSessionID()) + "] "; }

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

}  // namespace

TEST(SessionIds, OrdinaryIdsWrapToOneAndResidentIdsStartHigh) {
  LogCapture cap;
  SetNextSessionIdForTest(0xFFFFD7FEu, Session::kFirstResidentId);
  SptrSession a(new RecordingSession());
  SptrSession b(new RecordingSession());
  SptrSession c(new RecordingSession());
  EXPECT_EQ(a->GetSessionID(), 0xFFFFD7FEu);
  EXPECT_EQ(b->GetSessionID(), 1u);
  EXPECT_EQ(c->GetSessionID(), 2u);
  EXPECT_EQ(cap.Count("Session 常驻SessionID使用折回！"), 1u);

  SessionProperty resident;
  resident.idKind = 0;
  SptrSession r1(new RecordingSession(resident));
  SptrSession r2(new RecordingSession(resident));
  EXPECT_EQ(r1->GetSessionID(), 0xFFFFD7FFu);
  EXPECT_EQ(r2->GetSessionID(), 0xFFFFD800u);
  for (SptrSession* s : {&a, &b, &c, &r1, &r2}) (*s)->Terminate(0);
}

TEST(SessionStart, RefusesABadThreadModeAndAMissingFramework) {
  LogCapture cap;
  SessionProperty bad;
  bad.threadMode = 2;
  std::atomic<int> destroyed{0};
  {
    SptrSession s(new RecordingSession(bad, &destroyed));
    auto* rec = static_cast<RecordingSession*>(s.get());
    EXPECT_EQ(s->Start(), -1);
    EXPECT_EQ(rec->lastTerminateReason.load(), 6003u);
    EXPECT_TRUE(cap.Contains(Sid(s.get()) + "Session::Start Session threadMode 属性非法,既非串行又非并行，直接Terminate。"));
    EXPECT_EQ(s->Start(), -1);  // once only
    EXPECT_EQ(rec->terminates.load(), 1);
  }
  EXPECT_EQ(destroyed.load(), 1);

  SptrSession s(new RecordingSession());
  auto* rec = static_cast<RecordingSession*>(s.get());
  EXPECT_EQ(s->Start(), -1);  // the manager is not running
  EXPECT_EQ(rec->lastTerminateReason.load(), 6005u);
  EXPECT_TRUE(cap.Contains(Sid(s.get()) + "Session::Start AsynModel没有运行，直接Terminate。"));
}

TEST(SessionStart, AWorkerThatStartsASessionDispatchesItsStartInline) {
  AsynManager* mgr = StartFramework(1);
  ASSERT_NE(mgr, nullptr);
  LogCapture cap;  // debug lines kept

  class Starter : public RecordingSession {
   public:
    int32_t OnMessage(uint32_t, const uint8_t*, uint32_t, uint32_t, const SptrISender&) override {
      child = SptrSession(new RecordingSession());
      child->Start();
      auto* c = static_cast<RecordingSession*>(child.get());
      startedBeforeReturn = c->starts.load() == 1;
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
  auto* child = static_cast<RecordingSession*>(st->child.get());
  {
    std::lock_guard<std::mutex> g(child->mu);
    EXPECT_EQ(child->startThread, st->handlerThread.load());
  }
  EXPECT_TRUE(cap.Contains(Sid(child) + "Session::Start当前执行线程是异步模型内部线程，直接调用OnEventArrived。"));
  st->child->Terminate(0);
  st->child.reset();
  starter->Terminate(0);
  mgr->Stop();
  mgr->Destroy();
}

TEST(SessionGate, MessagesQueuedBeforeTheStartRunRightAfterOnStartInOrder) {
  AsynManager* mgr = StartFramework(1);
  ASSERT_NE(mgr, nullptr);

  // Holds the only worker, so that the target's start event waits in the
  // port while its messages are queued on the session.
  class Gate : public Session {
   public:
    int32_t OnMessage(uint32_t, const uint8_t*, uint32_t, uint32_t, const SptrISender&) override {
      entered.store(1);
      WaitUntil([&] { return open.load() != 0; });
      return 0;
    }
    std::atomic<int> entered{0};
    std::atomic<int> open{0};
  };
  SptrSession gate(new Gate());
  auto* g = static_cast<Gate*>(gate.get());
  ASSERT_EQ(gate->Start(), 0);
  ASSERT_EQ(mgr->PostMsg(gate->GetSessionID(), 1, nullptr, 0, false), 0u);
  ASSERT_TRUE(WaitUntil([&] { return g->entered.load() != 0; }));

  SptrSession target(new RecordingSession());
  auto* rec = static_cast<RecordingSession*>(target.get());
  ASSERT_EQ(target->Start(), 0);
  for (uint32_t id = 1; id <= 3; ++id) {
    const uint8_t body = static_cast<uint8_t>(id);
    ASSERT_EQ(mgr->PostMsg(target->GetSessionID(), id, &body, 1, false), 0u);
  }
  EXPECT_EQ(target->PendingEventCount(), 3u);
  g->open.store(1);
  ASSERT_TRUE(WaitUntil([&] { return rec->messageCount.load() == 3; }));
  ASSERT_EQ(mgr->PostMsg(target->GetSessionID(), 4, nullptr, 0, false), 0u);
  ASSERT_TRUE(WaitUntil([&] { return rec->messageCount.load() == 4; }));
  {
    std::lock_guard<std::mutex> lk(rec->mu);
    const std::vector<std::string> expected = {"start", "msg1", "msg2", "msg3", "msg4"};
    EXPECT_EQ(rec->trace, expected);
  }
  target->Terminate(0);
  gate->Terminate(0);
  mgr->Stop();
  mgr->Destroy();
}

TEST(SessionGate, ANotifyBeforeTheStartIsDroppedAndOtherEventsWait) {
  LogCapture cap;
  SptrSession s(new RecordingSession(Serial(false)));
  auto* rec = static_cast<RecordingSession*>(s.get());
  Event notify = Event::Make(s->GetSessionID(), NotifyEvent, plat::NowMs());
  EXPECT_EQ(s->OnEventArrived(notify, SptrISender()), 0);
  EXPECT_EQ(s->PendingEventCount(), 0u);
  EXPECT_TRUE(cap.Contains(Sid(s.get()) + "Session::OnEventArrived  \t\t\t\t\t判断出Session没有启动过，并且Event不是startEvent且是通知Event,"
                                          "\t\t\t\t\t则不将该Event push入eventlist中。"));

  const char text[] = "ab";
  Event m1 = CopiedMessage(s->GetSessionID(), 7, text, 2);
  Event m2 = CopiedMessage(s->GetSessionID(), 8, nullptr, 0);
  EXPECT_EQ(s->OnEventArrived(m1, SptrISender()), 0);
  EXPECT_EQ(s->OnEventArrived(m2, SptrISender()), 0);
  EXPECT_EQ(s->PendingEventCount(), 2u);
  EXPECT_EQ(rec->messageCount.load(), 0);

  // The start arrives through the same door and drains the queue behind it.
  Event start = Event::Make(s->GetSessionID(), StartEvent, plat::NowMs());
  EXPECT_EQ(s->OnEventArrived(start, SptrISender()), 0);
  {
    std::lock_guard<std::mutex> g(rec->mu);
    const std::vector<std::string> expected = {"start", "msg7", "msg8"};
    EXPECT_EQ(rec->trace, expected);
    EXPECT_EQ(rec->messages[0].bytes, std::vector<uint8_t>({'a', 'b'}));
  }
  EXPECT_TRUE(cap.Contains(Sid(s.get()) + "Session::OnEventArrived 将isStartEvent 赋值为 true"));
  s->Terminate(0);
}

TEST(SessionDispatch, BodiesReachOnMessageAsTheirFormSays) {
  SptrSession s(new RecordingSession());
  auto* rec = static_cast<RecordingSession*>(s.get());

  // Form 2 whose data length equals its payload offset: an empty body.
  EventListItem item;
  item.event = CopiedMessage(s->GetSessionID(), 1, "0123456789abcdef", 16);
  item.event.msg()->stream->SetPayloadOffset(16);
  s->DispatchEvent(item);

  // Form 2 with an offset: the bytes after it.
  item.event = CopiedMessage(s->GetSessionID(), 2, "headBODY", 8);
  item.event.msg()->stream->SetPayloadOffset(4);
  s->DispatchEvent(item);

  // A LinkBuff body is never delivered.
  item.event = CopiedMessage(s->GetSessionID(), 3, nullptr, 0);
  item.event.msg()->form = MSG_DATA_LINKBUFF;
  s->DispatchEvent(item);

  std::lock_guard<std::mutex> g(rec->mu);
  ASSERT_EQ(rec->messages.size(), 2u);
  EXPECT_EQ(rec->messages[0].pointer, nullptr);
  EXPECT_EQ(rec->messages[0].length, 0u);
  EXPECT_EQ(std::string(rec->messages[1].bytes.begin(), rec->messages[1].bytes.end()), "BODY");
  s->Terminate(0);
}

TEST(SessionDispatch, ASendResultReachesOnSendResultWithItsThirteenArguments) {
  struct Call {
    int16_t result;
    uint16_t transport;
    uint32_t msgId;
    std::string body;
    uint32_t destSid, replyFlag;
    const PeerAddress* dest;
    ISender* sender;
    UserDataInfo* userData;
    uint32_t localIp;
    uint16_t localPort;
    uint8_t reliable;
  };
  class ResultSession : public Session {
   public:
    int32_t OnSendResult(int16_t result, uint16_t transport, uint32_t msgId, const uint8_t* body, uint32_t len,
                         uint32_t destSid, uint32_t replyFlag, const PeerAddress* dest, ISender* sender,
                         UserDataInfo* userData, uint32_t localIp, uint16_t localPort, uint8_t reliable) override {
      call = Call{result, transport, msgId, std::string(reinterpret_cast<const char*>(body), len), destSid,
                  replyFlag, dest, sender, userData, localIp, localPort, reliable};
      ++calls;
      return 0;
    }
    Call call{};
    int calls = 0;
  };
  SptrSession s(new ResultSession());
  auto* rs = static_cast<ResultSession*>(s.get());

  std::atomic<int> udDestroyed{0};
  SptrPostMsgContext ctx(PostMsgContext::Create());
  ASSERT_TRUE(ctx);
  ctx->m_msg.msgId = 1116;
  ctx->m_msg.destSid = 77;
  ctx->m_msg.form = MSG_DATA_MEMSTREAM;
  ctx->m_msg.stream = SptrMemStream(MemStream::Create(32));
  std::memcpy(ctx->m_msg.stream->Buffer(), "12345678headmsg!payload", 23);
  ctx->m_msg.stream->SetDataLength(23);
  ctx->m_msg.stream->SetPayloadOffset(16);
  ctx->m_replyFlag = 1;
  ctx->m_dest.SetUdp("127.0.0.1", 9000);
  ctx->m_sender = SptrISender(new LocalSender(nullptr, s.get()));
  ctx->m_userData = SptrUserDataInfo(new CountedUserData(&udDestroyed));
  ctx->m_localIp = 0x7F000001;
  ctx->m_localPort = 4321;
  ctx->m_reliable = 1;

  EventListItem item;
  item.event = Event::Make(s->GetSessionID(), SendResultEvent, plat::NowMs());
  ctx->AddRef();  // the event's reference
  item.event.word2 = reinterpret_cast<uintptr_t>(ctx.get());
  item.event.word3 = (uintptr_t{1} << 16) | static_cast<uint16_t>(int16_t{-3});
  s->DispatchEvent(item);

  ASSERT_EQ(rs->calls, 1);
  EXPECT_EQ(rs->call.result, -3);
  EXPECT_EQ(rs->call.transport, 1u);
  EXPECT_EQ(rs->call.msgId, 1116u);
  EXPECT_EQ(rs->call.body, "payload");
  EXPECT_EQ(rs->call.destSid, 77u);
  EXPECT_EQ(rs->call.replyFlag, 1u);
  EXPECT_EQ(rs->call.dest, &ctx->m_dest);
  EXPECT_EQ(rs->call.sender, ctx->m_sender.get());
  EXPECT_EQ(rs->call.userData, ctx->m_userData.get());
  EXPECT_EQ(rs->call.localIp, 0x7F000001u);
  EXPECT_EQ(rs->call.localPort, 4321u);
  EXPECT_EQ(rs->call.reliable, 1u);
  // The event's context reference is gone: ours is the last.
  ctx.reset();
  EXPECT_EQ(udDestroyed.load(), 1);
  s->Terminate(0);
}

TEST(SessionTerminate, OnlyTheFirstTerminateCountsAndDestroyingRefusesEvents) {
  LogCapture cap;
  std::atomic<int> destroyed{0};
  std::atomic<int> udDestroyed{0};
  SptrSession s(new RecordingSession(SessionProperty(), &destroyed));
  auto* rec = static_cast<RecordingSession*>(s.get());
  EXPECT_EQ(s->Terminate(41), 0);
  EXPECT_EQ(s->Terminate(42), 0);
  EXPECT_EQ(rec->terminates.load(), 1);
  EXPECT_EQ(rec->lastTerminateReason.load(), 41u);
  EXPECT_EQ(destroyed.load(), 0);  // our reference keeps it
  EXPECT_TRUE(cap.Contains(Sid(s.get()) + "Session::Terminate 开始调用OnTerminate。"));

  // An event for a destroying session is released, not delivered.
  Event timer = Event::Make(s->GetSessionID(), TimerEvent, plat::NowMs());
  timer.word3 = reinterpret_cast<uintptr_t>(new CountedUserData(&udDestroyed));
  reinterpret_cast<UserDataInfo*>(timer.word3)->AddRef();
  EXPECT_EQ(s->OnEventArrived(timer, SptrISender()), -1);
  EXPECT_EQ(udDestroyed.load(), 1);
  EXPECT_EQ(rec->timerCount.load(), 0);
  EXPECT_TRUE(cap.Contains(Sid(s.get()) + "Session::OnEventArrived Session处于销毁中，释放Event资源，直接返回。"));

  s.reset();
  EXPECT_EQ(destroyed.load(), 1);
}

TEST(SessionTerminate, DestructionReleasesQueuedEvents) {
  std::atomic<int> udDestroyed{0};
  SptrSession s(new RecordingSession());
  const char text[] = "xyz";
  Event msg = CopiedMessage(s->GetSessionID(), 1, text, 3);
  EXPECT_EQ(s->OnEventArrived(msg, SptrISender()), 0);  // queued: not started
  Event timer = Event::Make(s->GetSessionID(), TimerEvent, plat::NowMs());
  UserDataInfo* ud = new CountedUserData(&udDestroyed);
  ud->AddRef();
  timer.word3 = reinterpret_cast<uintptr_t>(ud);
  EXPECT_TRUE(s->PushEvent(timer, SptrISender(new LocalSender(nullptr, nullptr))));
  const long nodesBefore = tz::LiveEventNodes();
  EXPECT_EQ(s->PendingEventCount(), 2u);
  s->Terminate(0);
  s.reset();
  EXPECT_EQ(udDestroyed.load(), 1);
  EXPECT_EQ(tz::LiveEventNodes(), nodesBefore - 2);
}
