// SimpleIndexList: insertion order, the guid index kept in step with the
// list, the references it holds, and its facade lines.
#include <gtest/gtest.h>

#include <vector>

#include "platform/log.h"
#include "report/SimpleIndexList.h"
#include "tzhelper/QosLog.h"

namespace {

int g_live = 0;

struct Rec : TzRefCounterBase<Rec> {
  explicit Rec(uint64_t g) : guid(g) { ++g_live; }
  ~Rec() override { --g_live; }
  uint64_t guid;
};
using RecRef = TzSptr<Rec>;
using List = SimpleIndexList<Rec>;

RecRef Make(uint64_t guid) { return RecRef(new Rec(guid)); }

std::vector<uint64_t> Guids(const List& list) {
  std::vector<uint64_t> out;
  for (const List::Item& item : list) {
    EXPECT_EQ(item.guid, item.record->guid);
    out.push_back(item.guid);
  }
  EXPECT_EQ(list.size(), list.index_size());
  return out;
}

TEST(SimpleIndexList, PushBackKeepsOrderAndRefusesADuplicateGuid) {
  LogCapture log;
  List list;
  ASSERT_EQ(0, list.push_back(7, Make(7)));
  ASSERT_EQ(0, list.push_back(3, Make(3)));
  ASSERT_EQ(0, list.push_back(9, Make(9)));
  EXPECT_EQ((std::vector<uint64_t>{7, 3, 9}), Guids(list));
  EXPECT_EQ(1u, log.Count("SimpleIndexList::push_back guid：9, list_size:3, map size:3"));

  RecRef dup = Make(3);
  EXPECT_EQ(-1, list.push_back(3, dup));
  EXPECT_EQ(1u, dup->RefCount());  // the list kept nothing of it
  EXPECT_EQ((std::vector<uint64_t>{7, 3, 9}), Guids(list));
  const std::vector<LogLine> lines = log.Lines();
  ASSERT_EQ(4u, lines.size());
  EXPECT_EQ("SimpleIndexList::push_back guid：3", lines[3].text);
  for (const LogLine& l : lines) {
    EXPECT_EQ(FacadeLogCategory, l.category);
    EXPECT_EQ(FacadeLogSubType, l.subType);
  }
  // A 64-bit guid prints whole on push_back.
  ASSERT_EQ(0, list.push_back(0x100000005ull, Make(0x100000005ull)));
  EXPECT_EQ(1u, log.Count("SimpleIndexList::push_back guid：4294967301, list_size:4, map size:4"));

  // Routine lines are debug lines, skipped at the default level; the refused
  // duplicate is a warning.
  Log::SetLevel(2);
  log.Clear();
  ASSERT_EQ(0, list.erase(7));
  ASSERT_EQ(0, list.push_back(7, Make(7)));
  EXPECT_EQ(-1, list.push_back(7, Make(7)));
  ASSERT_EQ(1u, log.Lines().size());
  EXPECT_EQ("SimpleIndexList::push_back guid：7", log.Lines()[0].text);
}

TEST(SimpleIndexList, EraseByGuidOrPositionKeepsTheIndexInStep) {
  List list;
  for (uint64_t g : {1ull, 2ull, 0x100000005ull, 6ull}) ASSERT_EQ(0, list.push_back(g, Make(g)));
  LogCapture log;
  EXPECT_EQ(0, list.erase(2));
  EXPECT_EQ(-1, list.erase(2));
  EXPECT_EQ(2u, log.Count("SimpleIndexList::erase  guid:2"));
  EXPECT_EQ(0, list.erase(0x100000005ull));
  EXPECT_EQ(1u, log.Count("SimpleIndexList::erase  guid:5"));  // the low 32 bits
  EXPECT_EQ((std::vector<uint64_t>{1, 6}), Guids(list));

  // By position: the next one comes back and the guid is free again.
  List::iterator it = list.erase(list.begin());
  ASSERT_NE(list.end(), it);
  EXPECT_EQ(6u, it->guid);
  EXPECT_EQ(1u, log.Count("SimpleIndexList::erase it guid:1"));
  EXPECT_EQ(0, list.push_back(1, Make(1)));
  EXPECT_EQ((std::vector<uint64_t>{6, 1}), Guids(list));

  // Erasing while walking, as an owner trims from the front.
  for (List::iterator at = list.begin(); at != list.end();) at = list.erase(at);
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(0u, list.index_size());
  EXPECT_EQ(0, g_live);
}

}  // namespace
