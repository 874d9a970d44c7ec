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

TEST_F(PostMsgTest, NonSharedDataUpTo2048BytesIsCopied) {
  LogCapture cap;
  std::vector<uint8_t> data(2049);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
  EXPECT_EQ(mgr->PostMsg(sid, 9, data.data(), 2049, false), 14u);
  EXPECT_TRUE(cap.Contains("AsynManager::PostMsg() 给目标[destSid=" + std::to_string(sid) +
                           "] 投递的非共享数据过大，数据大小[2049]，系统允许的最大值[2048] "));

  ASSERT_EQ(mgr->PostMsg(sid, 10, data.data(), 2048, false), 0u);
  data[0] ^= 0xFF;  // the copy was taken at the post
  ASSERT_TRUE(WaitUntil([&] { return rec->messageCount.load() == 1; }));
  std::lock_guard<std::mutex> g(rec->mu);
  const Received& r = rec->messages[0];
  EXPECT_EQ(r.msgId, 10u);
  EXPECT_EQ(r.length, 2048u);
  EXPECT_NE(r.pointer, data.data());
  data[0] ^= 0xFF;
  EXPECT_EQ(r.body, std::string(data.begin(), data.begin() + 2048));
  EXPECT_EQ(r.srcSid, 0u);
  EXPECT_EQ(r.senderTransport, 0xFFFFFFFFu);  // queued on an ordered session without a sender
}

TEST_F(PostMsgTest, SharedDataArrivesByReferenceWhateverItsSizeAndEmptyBodiesAsNull) {
  std::vector<uint8_t> big(100000, 0x5A);
  ASSERT_EQ(mgr->PostMsg(sid, 11, big.data(), static_cast<uint32_t>(big.size()), true), 0u);
  ASSERT_EQ(mgr->PostMsg(sid, 12, nullptr, 0, false), 0u);
  ASSERT_EQ(mgr->PostMsg(sid, 13, nullptr, 0, true), 0u);
  ASSERT_TRUE(WaitUntil([&] { return rec->messageCount.load() == 3; }));
  std::lock_guard<std::mutex> g(rec->mu);
  EXPECT_EQ(rec->messages[0].pointer, big.data());
  EXPECT_EQ(rec->messages[0].length, big.size());
  for (int i = 1; i < 3; ++i) {
    EXPECT_EQ(rec->messages[i].pointer, nullptr);
    EXPECT_EQ(rec->messages[i].length, 0u);
  }
}

TEST_F(PostMsgTest, UnorderedAndParallelSessionsGetTheEventDirectly) {
  SptrSession unordered(new RecordingSession(Serial(false)));
  SptrSession parallel(new RecordingSession(Parallel()));
  ASSERT_EQ(unordered->Start(), 0);
  ASSERT_EQ(parallel->Start(), 0);
  uint8_t body[3] = {1, 2, 3};
  ASSERT_EQ(mgr->PostMsg(unordered->GetSessionID(), 21, body, 3, false), 0u);
  ASSERT_EQ(mgr->PostMsg(parallel->GetSessionID(), 22, body, 3, false), 0u);
  RecordingSession* u = Rec(unordered);
  RecordingSession* p = Rec(parallel);
  EXPECT_TRUE(WaitUntil([&] { return u->messageCount.load() == 1 && p->messageCount.load() == 1; }));
  EXPECT_EQ(unordered->PendingEventCount(), 0u);
  {
    std::lock_guard<std::mutex> gu(u->mu);
    std::lock_guard<std::mutex> gp(p->mu);
    EXPECT_EQ(u->messages[0].senderTransport, 0u);  // a LocalSender
    EXPECT_EQ(p->messages[0].senderTransport, 0u);
    EXPECT_EQ(u->messages[0].body, std::string("\x01\x02\x03"));
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
