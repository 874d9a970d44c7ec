// AsynManager::PostMsg: argument checks, copied and shared bodies, and the
// serial-session guarantees under concurrent posting.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "asyn_test_util.h"
#include "tzhelper/QosLog.h"

using namespace AsynModel;
using namespace asyn_test;

namespace {

class PostMsgTest : public FrameworkTest<2> {
 protected:
  void SetUp() override {
    FrameworkTest<2>::SetUp();
    session = SptrSession(new RecordingSession(Serial()));
    rec = Rec(session);
    ASSERT_EQ(session->Start(), 0);
    sid = session->GetSessionID();
  }
  void TearDown() override {
    if (session) session->Terminate(0);
    session.reset();
    FrameworkTest<2>::TearDown();
  }
  SptrSession session;
  RecordingSession* rec = nullptr;
  uint32_t sid = 0;
};

}  // namespace

TEST_F(PostMsgTest, PointerAndLengthMustMatchAndUnknownOrNonFindableSessionsAnswer24) {
  LogCapture cap;
  uint8_t byte = 1;
  const std::string line = "AsynManager::PostMsg() destSid = " + std::to_string(sid) + " 输入参数msgData和dataLen不匹配。";
  EXPECT_EQ(mgr->PostMsg(sid, 1, nullptr, 5, false), 40u);
  EXPECT_EQ(mgr->PostMsg(sid, 1, &byte, 0, false), 40u);
  EXPECT_EQ(mgr->PostMsg(sid, 1, &byte, 0, true), 40u);
  EXPECT_EQ(cap.Count(line), 3u);
  cap.Clear();

  EXPECT_EQ(mgr->PostMsg(sid + 1000, 1, nullptr, 0, false), 24u);
  SessionProperty hidden = Serial();
  hidden.findable = 0;
  SptrSession s(new RecordingSession(hidden));
  ASSERT_EQ(s->Start(1000), 0);  // no time-out timer for a non-findable session
  EXPECT_FALSE(cap.Contains("需要设置超时Timer"));
  EXPECT_EQ(mgr->PostMsg(s->GetSessionID(), 1, nullptr, 0, false), 24u);
  EXPECT_TRUE(WaitUntil([&] { return Rec(s)->starts.load() == 1; }));
  s->Terminate(0);
  for (const LogLine& l : cap.Lines()) EXPECT_EQ(l.text.find("AsynManager::PostMsg()"), std::string::npos) << l.text;
}

// Bodies up to 2048 bytes are copied at the post, shared ones arrive by
// reference whatever their size, empty ones as null. An ordered serial
// session queues its events (no sender); the others get them directly with
// a LocalSender.
TEST_F(PostMsgTest, CopiedSharedAndEmptyBodiesReachEveryKindOfSession) {
  LogCapture cap;
  std::vector<uint8_t> data(2049), shared(100000, 0x5A);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
  EXPECT_EQ(mgr->PostMsg(sid, 9, data.data(), 2049, false), 14u);
  EXPECT_TRUE(cap.Contains("AsynManager::PostMsg() 给目标[destSid=" + std::to_string(sid) +
                           "] 投递的非共享数据过大，数据大小[2049]，系统允许的最大值[2048] "));
  SptrSession unordered(new RecordingSession(Serial(false)));
  SptrSession parallel(new RecordingSession(Parallel()));
  ASSERT_EQ(unordered->Start(), 0);
  ASSERT_EQ(parallel->Start(), 0);
  const std::string copied(data.begin(), data.begin() + 2048);
  for (const SptrSession& s : {session, unordered, parallel}) {
    ASSERT_EQ(mgr->PostMsg(s->GetSessionID(), 10, data.data(), 2048, false), 0u);
    ASSERT_EQ(mgr->PostMsg(s->GetSessionID(), 11, shared.data(), 100000, true), 0u);
    ASSERT_EQ(mgr->PostMsg(s->GetSessionID(), 12, nullptr, 0, false), 0u);
    ASSERT_EQ(mgr->PostMsg(s->GetSessionID(), 13, nullptr, 0, true), 0u);
  }
  data[0] ^= 0xFF;  // the copies were taken at the post
  for (const SptrSession& s : {session, unordered, parallel}) {
    RecordingSession* r = Rec(s);
    ASSERT_TRUE(WaitUntil([&] { return r->messageCount.load() == 4; }));
    const uint32_t transport = s == session ? 0xFFFFFFFFu : 0u;
    std::lock_guard<std::mutex> g(r->mu);
    for (const Received& m : r->messages) {
      const bool isCopy = m.msgId == 10, isShared = m.msgId == 11;
      EXPECT_EQ(m.pointer == shared.data(), isShared) << m.msgId;
      EXPECT_EQ(m.pointer == nullptr, !isCopy && !isShared) << m.msgId;
      EXPECT_EQ(m.length, isCopy ? 2048u : isShared ? 100000u : 0u) << m.msgId;
      EXPECT_TRUE(!isCopy || m.body == copied);
      EXPECT_EQ(m.srcSid, 0u);
      EXPECT_EQ(m.senderTransport, transport) << m.msgId;
    }
  }
  unordered->Terminate(0);
  parallel->Terminate(0);
}

namespace {

constexpr int kPosters = 4;

// Checks the serial guarantees from inside the handler.
class OrderCheckingSession : public Session {
 public:
  OrderCheckingSession() : Session(Serial()) {}
  int32_t OnMessage(uint32_t, const uint8_t* data, uint32_t length, uint32_t, const SptrISender&) override {
    if (inHandler.fetch_add(1) != 0) overlaps.fetch_add(1);
    uint32_t words[2] = {0, 0};
    if (data != nullptr && length == sizeof(words)) std::memcpy(words, data, sizeof(words));
    const uint32_t poster = words[0] % kPosters;
    if (words[1] != expected[poster].load()) outOfOrder.fetch_add(1);
    expected[poster].store(words[1] + 1);
    received.fetch_add(1);
    inHandler.fetch_sub(1);
    return 0;
  }
  std::atomic<int> inHandler{0};
  std::atomic<int> overlaps{0};
  std::atomic<int> outOfOrder{0};
  std::atomic<int> received{0};
  std::atomic<uint32_t> expected[kPosters] = {};
};

}  // namespace

TEST_F(PostMsgTest, ConcurrentPostersKeepASerialSessionOrderedAndExclusive) {
  // Enough for the posters to interleave many times on any machine.
  const uint32_t perPoster = 2000;
  auto target = SptrSession(new OrderCheckingSession());
  auto* checker = static_cast<OrderCheckingSession*>(target.get());
  ASSERT_EQ(target->Start(), 0);
  const uint32_t targetSid = target->GetSessionID();

  std::atomic<int> refused{0};
  std::vector<std::thread> posters;
  for (uint32_t t = 0; t < kPosters; ++t) {
    posters.emplace_back([&, t] {
      for (uint32_t seq = 0; seq < perPoster; ++seq) {
        const uint32_t words[2] = {t, seq};
        if (mgr->PostMsg(targetSid, 1, words, sizeof(words), false) != 0) refused.fetch_add(1);
      }
    });
  }
  for (std::thread& th : posters) th.join();
  const int total = static_cast<int>(perPoster) * kPosters;
  ASSERT_TRUE(WaitUntil([&] { return checker->received.load() == total; }, 60000))
      << checker->received.load() << " of " << total;
  EXPECT_EQ(refused.load(), 0);
  EXPECT_EQ(checker->overlaps.load(), 0);
  EXPECT_EQ(checker->outOfOrder.load(), 0);
  for (int t = 0; t < kPosters; ++t) EXPECT_EQ(checker->expected[t].load(), perPoster);
  target->Terminate(0);
}
