// SecureTransfer's host side: parameters, keys, the refusals of PostPacket,
// the cache-full episodes, releasing and retiring keys, statistics.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frozen_clock.h"
#include "api/RecverAddrConverter.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "report/ReportLog.h"
#include "secure_test_util.h"

using namespace securetest;

namespace {

class SecureHost : public SecureFixture {
 protected:
  FrozenClock clock_;
};

constexpr uint32_t kBandwidth50 = 2000000;  // 50 packets per pass

struct CacheFullCalls {
  int count = 0;
  SecureTransferKey lastKey = nullptr;
  uint32_t lastUserValue = 0;
};
CacheFullCalls g_cacheFull;

void OnCacheFull(SecureTransferKey key, uint32_t userValue) {
  ++g_cacheFull.count;
  g_cacheFull.lastKey = key;
  g_cacheFull.lastUserValue = userValue;
}

TEST_F(SecureHost, EverythingRefusesBeforeInitParamsWhichSetsPacketsPerPass) {
  EXPECT_EQ(50u, st.SendQueueSize());
  EXPECT_EQ(nullptr, NewKey());
  int fake = 0;
  EXPECT_EQ(-1, Post(&fake, Block(100, 1, 1, 1, 1)));
  EXPECT_EQ(-2, st.ReleaseKey(&fake));
  EXPECT_EQ(0u, st.KeyCount());

  LogCapture log;
  // Bandwidth to packets per pass; taken as signed, a value with the top bit
  // set counts as negative.
  for (auto bp : {std::make_pair(0u, 1u), std::make_pair(102400u, 5u),
                  std::make_pair(kBandwidth50, 50u), std::make_pair(0x80000000u, 1u)}) {
    st.InitParams(nullptr, 0, bp.first, 8);
    EXPECT_EQ(bp.second, st.SendQueueSize()) << bp.first;
  }
  ASSERT_EQ(1u, log.Count("SecureTransfer::InitParams m_uiSendQueueSize=5,m_bandwidth=102400,m_cacheSize=8"));
  for (const LogLine& l : log.Lines()) {
    EXPECT_EQ(ReportLogCategory, l.category);
    EXPECT_EQ(ReportLogSubType, l.subType);
    EXPECT_EQ(Log::kWarning, l.level);
  }
}

// One line per key event, naming the handle.
std::string KeyLine(const char* format, SecureTransferKey key) {
  char line[128];
  snprintf(line, sizeof line, format, key);
  return line;
}

TEST_F(SecureHost, PostPacketRefusals) {
  SecureTransferKey key = Init(kBandwidth50);
  ASSERT_NE(nullptr, key);
  LogCapture log;
  const Bytes b = Block(1024, 1, 1, 1, 1);
  int notAKey = 0;
  // 1024 and more pass no MTU; 1020..1023 could never open a packet; below
  // 28 there is no block header.
  const struct { SecureTransferKey key; const uint8_t* data; int32_t len; int32_t rc; const char* line; } cases[] = {
      {nullptr, b.data(), 100, -1, "SecureTransfer参数错误："},
      {key, nullptr, 100, -1, "SecureTransfer参数错误："},
      {key, b.data(), 0, -1, "SecureTransfer参数错误："},
      {key, b.data(), -5, -1, "SecureTransfer参数错误："},
      {key, b.data(), 27, -1, "SecureTransfer参数错误："},
      {&notAKey, b.data(), 100, -1000, "SecureTransfer添加数据包信息,key 无效key.异常"},
      {key, b.data(), 1024, -1, "SecureTransfer数据包长度超过MTU最大值,返回错误"},
      {key, b.data(), 1020, -1, "SecureTransfer数据包长度超过MTU最大值,返回错误"}};
  for (const auto& c : cases) {
    const size_t before = log.Count(c.line);
    EXPECT_EQ(c.rc, st.PostPacket(c.key, c.data, c.len, nullptr, 0)) << c.len;
    EXPECT_EQ(before + 1, log.Count(c.line)) << c.len;
  }
  char line[128];
  snprintf(line, sizeof line, "SecureTransfer参数错误：key=%p,pData=%p,len=%d ", key,
           static_cast<const void*>(b.data()), -5);
  EXPECT_EQ(1u, log.Count(line));
  EXPECT_EQ(0u, st.KeyCount());
  EXPECT_EQ(0, st.PostPacket(key, b.data(), 1019, nullptr, 0));
  EXPECT_EQ(1019u + 18u, st.CachedBytes());
}

TEST_F(SecureHost, CacheFullCallsBackEachTimeAndLogsOncePerEpisode) {
  g_cacheFull = CacheFullCalls();
  // Cache size 0: every block finds the cache full.
  st.InitParams(&OnCacheFull, 77, kBandwidth50, 0);
  SecureTransferKey a = NewKey();
  SecureTransferKey b = NewKey();
  LogCapture log;
  const Bytes blk = Block(100, 3, 2, 1, 9);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(-1, Post(a, blk));
  EXPECT_EQ(3, g_cacheFull.count);
  EXPECT_EQ(a, g_cacheFull.lastKey);
  EXPECT_EQ(77u, g_cacheFull.lastUserValue);
  const std::string fullLine =
      "SecureTransfer缓冲区满,添加数据包信息丢弃.cache=0(B),key=3-5-6-7-8,roletype=2,index=9,len=100";
  EXPECT_EQ(1u, log.Count(fullLine));
  EXPECT_EQ(0u, st.KeyCount());

  // Each key has its own episode.
  EXPECT_EQ(-1, Post(b, blk));
  EXPECT_EQ(2u, log.Count(fullLine));
  EXPECT_EQ(b, g_cacheFull.lastKey);

  // A pass well inside the episode keeps it; a refusal refreshes its tick.
  clock_.Advance(5000);
  st.SendPass();
  EXPECT_EQ(-1, Post(a, blk));
  EXPECT_EQ(2u, log.Count(fullLine));
  // 10 001 ms after the last refusal, the next pass ends the episode.
  clock_.Advance(10001);
  st.SendPass();
  EXPECT_EQ(-1, Post(a, blk));
  EXPECT_EQ(3u, log.Count(fullLine));
  EXPECT_EQ(6, g_cacheFull.count);
}

TEST_F(SecureHost, CacheLimitCountsEighteenBytesBesideEachBlock) {
  SecureTransferKey key = Init(kBandwidth50, 1);
  const Bytes blk = Block(1019, 1, 1, 1, 1);
  // 1011 x 1037 = 1 048 407 bytes stays below 1 MiB; one more does not.
  for (int i = 0; i < 1011; ++i) ASSERT_EQ(0, Post(key, blk)) << i;
  EXPECT_EQ(1011u * 1037u, st.CachedBytes());
  EXPECT_EQ(-1, Post(key, blk));
  // A smaller block still fits: 1 048 407 + 50 + 18 < 1 048 576.
  EXPECT_EQ(0, Post(key, Block(50, 1, 1, 1, 1)));
  // Packing gives the room back.
  st.SendPass();
  EXPECT_EQ(50u, cap.Take().size());
  EXPECT_EQ((1011u - 50u) * 1037u + 68u, st.CachedBytes());
}

// Keys count from one and join the table with their first block; a released
// key's blocks are still sent, and the key is retired once a build finds its
// queue empty.
TEST_F(SecureHost, KeysJoinTheTableWithAFirstBlockAndAreRetiredOnceReleasedAndDrained) {
  st.InitParams(nullptr, 0, 0, 8);  // one packet per pass
  LogCapture log;
  SecureTransferKey a = NewKey();
  SecureTransferKey b = NewKey();
  ASSERT_NE(nullptr, a);
  ASSERT_NE(a, b);
  // A key that posted nothing cannot be released, and stays good for posting.
  EXPECT_EQ(-1, st.ReleaseKey(a));
  EXPECT_EQ(0u, st.KeyCount());
  EXPECT_EQ(0, Post(a, Block(100, 7, 1, 1, 42)));
  EXPECT_EQ(1u, st.KeyCount());
  EXPECT_EQ(0, st.ReleaseKey(a));
  for (const std::string& line :
       {KeyLine("SecureTransfer创建key=%p,keyid=1", a), KeyLine("SecureTransfer创建key=%p,keyid=2", b),
        KeyLine("SecureTransfer要释放的key=%p已不存在,释放失败,keyid=1", a),
        KeyLine("SecureTransfer要释放的key=%p,keyid=1", a),
        KeyLine("SecureTransfer添加数据包信息,key=7-9-10-11-12,roletype=1,index=42,key addr=%p", a)}) {
    EXPECT_EQ(1u, log.Count(line)) << line;
  }

  st.SendPass();
  std::vector<Bytes> sent = cap.Take();
  ASSERT_EQ(1u, sent.size());
  EXPECT_EQ(0, st.Acknowledge(Read(sent[0]).serial));
  EXPECT_EQ(1u, st.KeyCount());
  EXPECT_EQ(0u, log.Count("SecureTransfer释放key="));
  ASSERT_EQ(0, Post(b, Block(100, 2, 1, 1, 1)));
  st.SendPass();
  sent = cap.Take();
  ASSERT_EQ(1u, sent.size());
  EXPECT_EQ(2u, Read(sent[0]).h0);
  EXPECT_EQ(0, st.Acknowledge(Read(sent[0]).serial));
  EXPECT_EQ(1u, log.Count(KeyLine("SecureTransfer释放key=%p,keyid=1", a)));
  EXPECT_EQ(1u, st.KeyCount());  // b: posted, not released

  // The retired handle is unknown from now on (checked by address only).
  EXPECT_EQ(-1000, Post(a, Block(100, 1, 1, 1, 1)));
  EXPECT_EQ(-1, st.ReleaseKey(a));
  EXPECT_EQ(1u, log.Count(KeyLine("SecureTransfer要释放的key=%p已不存在,释放失败,keyid=0", a)));

  // An unreleased key with an empty queue is never retired.
  st.SendPass();
  EXPECT_EQ(1u, st.KeyCount());
  ASSERT_EQ(0, st.ReleaseKey(b));
  st.SendPass();
  EXPECT_EQ(0u, st.KeyCount());
  EXPECT_TRUE(cap.Take().empty());
}

TEST_F(SecureHost, StatisticsAreLoggedAndReset) {
  SecureTransferKey key = Init(kBandwidth50);
  ASSERT_EQ(0, Post(key, Block(100, 1, 1, 1, 1)));
  ASSERT_EQ(0, Post(key, Block(200, 1, 1, 1, 1)));
  st.SendPass();  // one packet: 4 + 28 + (6 + 72) + (6 + 172) + 18 = 306
  clock_.Advance(200);
  st.SendPass();  // resent once
  LogCapture log;
  st.LogAndResetStatistics();
  EXPECT_EQ(1u, log.Count("SecureTransfer[统计]收到数据包总个数:2,收到数据总长度:336"));
  EXPECT_EQ(1u, log.Count("SecureTransfer[统计]发送数据包总个数:2,发送数据总长度:612"));
  EXPECT_EQ(1u, log.Count("SecureTransfer[统计]重发数据包总个数:1,重发数据总长度:306"));
  st.LogAndResetStatistics();
  for (const char* l : {"收到数据包总个数:0,收到数据总长度:0", "发送数据包总个数:0,发送数据总长度:0",
                        "重发数据包总个数:0,重发数据总长度:0"}) {
    EXPECT_EQ(1u, log.Count(std::string("SecureTransfer[统计]") + l));
  }
  EXPECT_EQ(6u, log.Lines().size());
}

}  // namespace

TEST(SecureLimits, KeysAndStagedPairsStopAtTheirLimit) {
  SecureTransfer st{[](const uint8_t*, uint32_t) {}};
  st.InitParams(nullptr, 0, 0, 8);
  LogCapture log;
  for (size_t i = 0; i < SecureTransfer::kMaxKeys; ++i) ASSERT_NE(nullptr, st.CreateKey(1, 2, 3, 4, 5));
  EXPECT_EQ(nullptr, st.CreateKey(1, 2, 3, 4, 5));
  EXPECT_EQ(nullptr, st.CreateKey(1, 2, 3, 4, 5));
  EXPECT_EQ(1u, log.Count("SecureTransfer创建key失败,key数目已达上限:65536"));

  RecverAddrConverter conv;
  for (size_t i = 0; i < RecverAddrConverter::kMaxPairs; ++i)
    ASSERT_TRUE(conv.Add("10.0.0.1", static_cast<int32_t>(i), "127.0.0.1", 9));
  EXPECT_FALSE(conv.Add("10.0.0.2", 1, "127.0.0.1", 9));
  EXPECT_TRUE(conv.Add("10.0.0.1", 5, "127.0.0.2", 9));  // a staged source is no new pair
  conv.End();
  EXPECT_EQ(RecverAddrConverter::kMaxPairs, conv.LiveSize());
}
