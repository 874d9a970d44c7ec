// The logging facade: bounded stack formatting, "%s" hand-over to the
// writer of each line's level, and the level check callers make first.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/system.h"
#include "tzhelper/QosLog.h"

namespace {

TEST(Facade, LinesAreCutAfter1023CharactersAndTheLevelKeepsThemByMeaningBeforeFormatting) {
  LogCapture cap;
  std::string text;
  for (int i = 0; i < 1500; ++i) text += static_cast<char>('a' + i % 26);
  QosLogInfo(FacadeLogCategory, FacadeLogSubType, "%s", text.c_str());
  QosLogWarning(FacadeLogCategory, FacadeLogSubType, "open %s failed, code %d", "C:\\a%1d\\%s.txt", 5);
  const std::vector<LogLine> lines = cap.Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].text, text.substr(0, 1023));
  EXPECT_EQ(lines[1].text, "open C:\\a%1d\\%s.txt failed, code 5");

  // All three writers make the same call; the level keeps them by meaning.
  cap.Clear();
  QosLogError(FacadeLogCategory, FacadeLogSubType, "[SID:%u] value %d", 7u, 42);
  QosLogInfo(FacadeLogCategory, FacadeLogSubType, "[SID:%u] value %d", 7u, 42);
  QosLogWarning(FacadeLogCategory, FacadeLogSubType, "[SID:%u] value %d", 7u, 42);
  ASSERT_EQ(cap.Lines().size(), 3u);
  for (const LogLine& l : cap.Lines()) {
    EXPECT_EQ(l.level, Log::kMessage);
    EXPECT_EQ(l.category, FacadeLogCategory);
    EXPECT_EQ(l.subType, FacadeLogSubType);
    EXPECT_EQ(l.text, "[SID:7] value 42");
  }
  cap.Clear();
  Log::SetLevel(3);
  QosLogError(FacadeLogCategory, FacadeLogSubType, "error");
  QosLogInfo(FacadeLogCategory, FacadeLogSubType, "routine");
  QosLogWarning(FacadeLogCategory, FacadeLogSubType, "warning");
  Log::writeMessage(FacadeLogCategory, FacadeLogSubType, "direct");  // no scope left behind
  ASSERT_EQ(cap.Lines().size(), 2u);
  EXPECT_EQ(cap.Lines()[0].text, "error");
  EXPECT_EQ(cap.Lines()[1].text, "warning");

  // A checked line below the level is neither formatted nor written.
  cap.Clear();
  Log::SetLevel(2);
  int formatted = 0;
  auto arg = [&formatted] { ++formatted; return 1; };
  if (QosLogIsOpen(FacadeLogCategory, 1)) QosLogInfo(FacadeLogCategory, FacadeLogSubType, "routine %d", arg());
  EXPECT_EQ(formatted, 0);
  EXPECT_TRUE(cap.Lines().empty());
  if (QosLogIsOpen(FacadeLogCategory, 3)) QosLogWarning(FacadeLogCategory, FacadeLogSubType, "warned %d", arg());
  EXPECT_EQ(formatted, 1);
  EXPECT_EQ(cap.Count("warned 1"), 1u);
}

}  // namespace
