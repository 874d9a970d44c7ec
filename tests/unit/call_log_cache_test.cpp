// The call-log cache: lines by guid in the new and history lists, the batch
// of five from the front of the history list, removal results and lines, and
// the report guid.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/log.h"
#include "report/CallLogCacheList.h"
#include "report/ReportCallInfoContext.h"
#include "tzhelper/TzRandom.h"

namespace {

void AddAged(CallLogCacheList* cache, uint64_t guid) {
  const std::string text = "line " + std::to_string(guid);
  ASSERT_EQ(0, cache->add_call_log(guid, text.data(), static_cast<uint32_t>(text.size()), 7,
                                   static_cast<uint64_t>(plat::NowMs() - CallLogCacheList::kAgeMs)));
}

}  // namespace

TEST(CallLogCache, RemoveFindsNewLinesSilentlyAndHistoryLinesWithTheirLineAndFiveAreHandedOut) {
  LogCapture log;
  CallLogCacheList* cache = CallLogCacheList::GetInstance();
  EXPECT_EQ(-1, cache->remove_call_log(41));
  ASSERT_EQ(0, cache->add_call_log(42, "fresh", 5, 1, static_cast<uint64_t>(plat::NowMs())));
  AddAged(cache, 43);
  cache->move_new_to_old();  // only the aged line moves
  EXPECT_EQ(1u, cache->NewCount());
  EXPECT_EQ(1u, cache->HistoryCount());
  EXPECT_EQ(1u, log.Count("[Kelvarn] CallLogCacheList:: move_new_to_old 43 超过 60分钟，加入历史队列中,:7"));
  EXPECT_TRUE(cache->Dirty());  // the move changed the history list

  EXPECT_EQ(0, cache->remove_call_log(42));
  EXPECT_EQ(0u, log.Count("remove_call_log"));
  std::vector<SptrCallLogRecord> held;
  cache->get_call_logs(&held);
  ASSERT_EQ(1u, held.size());
  EXPECT_EQ(0, cache->remove_call_log(43));
  EXPECT_EQ(1u, log.Count(" CallLogCacheList:: remove_call_log remove 43 succ "));
  EXPECT_EQ(-1, cache->remove_call_log(43));
  EXPECT_EQ(0u, cache->HistoryCount());
  // The reference handed out keeps the removed line readable.
  EXPECT_EQ("line 43", std::string(held[0]->text, held[0]->length));

  // At most five are handed out, from the front of the history list.
  for (uint64_t g = 100; g < 107; ++g) AddAged(cache, g);
  std::vector<SptrCallLogRecord> out;
  EXPECT_EQ(0, cache->get_call_logs(&out));  // none of them in the history yet
  EXPECT_TRUE(out.empty());
  cache->move_new_to_old();
  EXPECT_EQ(0, cache->get_call_logs(&out));
  ASSERT_EQ(5u, out.size());
  for (size_t i = 0; i < out.size(); ++i) EXPECT_EQ(100 + i, out[i]->guid);
  EXPECT_EQ(0, cache->get_call_logs(&out));
  EXPECT_EQ(5u, out.size());
  EXPECT_EQ(7u, cache->HistoryCount());  // handing out leaves the lines cached
}

TEST(CallLogCache, GuidCountsInTheLowHalfAndDrawsEightDigitsForTheHighHalf) {
  TzSrand(12345);
  const uint64_t a = ReportCallInfoContext::NewGuid();
  const uint64_t b = ReportCallInfoContext::NewGuid();
  EXPECT_EQ(1u, static_cast<uint32_t>(a));
  EXPECT_EQ(2u, static_cast<uint32_t>(b));
  // The same generator, stepped by hand: x = x * 214013 + 2531011, digit x % 10.
  uint32_t x = 12345;
  uint64_t expect = 0;
  for (int i = 0; i < 8; ++i) {
    x = x * 214013u + 2531011u;
    expect = expect * 10 + x % 10;
  }
  EXPECT_EQ(expect, a >> 32);
}
