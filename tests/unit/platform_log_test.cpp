// The Log stand-in: writers, level threshold, and the three sinks.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/log.h"
#include "temp_dir.h"

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::mutex g_cbMu;
std::vector<LogLine> g_cbLines;

void RecordLine(uint64_t category, uint32_t subType, int level, const char* text) {
  std::lock_guard<std::mutex> g(g_cbMu);
  g_cbLines.push_back(LogLine{category, subType, level, text});
}

auto Fields(const LogLine& l) { return std::tie(l.category, l.subType, l.level, l.text); }

std::vector<LogLine> CallbackLines() {
  std::lock_guard<std::mutex> g(g_cbMu);
  return g_cbLines;
}

TEST(Log, WritersCarryLevelCategoryAndSubTypeAndLongLinesArriveWhole) {
  LogCapture cap;
  Log::writeDebug(1, 3025, "[Kelvarn] d %d", 1);
  Log::writeMessage(0x0000800000000000ull, 120, "m %s", "two");
  Log::writeWarning(0x2000000000000000ull, 1, "w %u", 3u);
  Log::writeError(1, 3025, "e %lld", -4ll);
  const std::string longText(10000, 'x');
  Log::writeMessage(1, 3025, "<%s>", longText.c_str());
  const std::vector<LogLine> lines = cap.Lines();
  ASSERT_EQ(lines.size(), 5u);
  const LogLine expected[] = {{1, 3025, 1, "[Kelvarn] d 1"},
                              {0x0000800000000000ull, 120, 2, "m two"},
                              {0x2000000000000000ull, 1, 3, "w 3"},
                              {1, 3025, 4, "e -4"},
                              {1, 3025, 2, "<" + longText + ">"}};
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_TRUE(Fields(lines[i]) == Fields(expected[i])) << i << ": " << lines[i].text.substr(0, 40);
  }
}

// Which lines the threshold keeps: the facade tests.
TEST(Log, TheLevelOpensSubTypesAndACaptureRestoresIt) {
  EXPECT_EQ(Log::GetLevel(), 2);  // the default: message level
  EXPECT_FALSE(Log::isThisSubTypeOpen(1, 1, 1));
  EXPECT_TRUE(Log::isThisSubTypeOpen(1, 2, 1));
  EXPECT_TRUE(Log::isThisSubTypeOpen(1, 4, 1));
  {
    LogCapture cap;
    EXPECT_EQ(Log::GetLevel(), 1);  // a capture keeps debug lines
    Log::SetLevel(3);
    EXPECT_FALSE(Log::isThisSubTypeOpen(1, 2, 1));
    EXPECT_TRUE(Log::isThisSubTypeOpen(1, 3, 1));
  }
  EXPECT_EQ(Log::GetLevel(), 2);
}

// A file sink that cannot be opened keeps the previous sink: a regular file
// where a directory should be refuses even root (missing ones are created).
TEST(LogSinks, CallbackGetsEveryFieldAnUnwritableFileIsRefusedAndNullGoesBackToTheFile) {
  TempDir dir;
  const fs::path file = dir.path() / "sub.log";
  ASSERT_TRUE(Log::SetFileSink(file.string().c_str()));
  Log::writeWarning(1, 3025, "[Kelvarn] file line %d", 7);
  Log::SetCallbackSink(&RecordLine);
  std::ofstream(dir.path() / "plain") << "x";
  const std::string below = (dir.path() / "plain" / "x.log").string();
  for (const char* bad : {below.c_str(), "", static_cast<const char*>(nullptr)}) EXPECT_FALSE(Log::SetFileSink(bad));
  Log::writeWarning(0x2000000000000000ull, 1, "adjust %d%%", 50);
  Log::writeDebug(1, 3025, "below the level");
  Log::SetCallbackSink(nullptr);
  Log::writeMessage(1, 3025, "back in the file");
  Log::Flush();

  const std::vector<LogLine> lines = CallbackLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(Fields(lines[0]) == Fields(LogLine{0x2000000000000000ull, 1, 3, "adjust 50%"}));
  const std::string content = ReadFile(file);
  for (const char* part : {"[Kelvarn] file line 7", "warning", "[0x1:3025]", "20", "back in the file"}) {
    EXPECT_NE(content.find(part), std::string::npos) << part << " in " << content;
  }
  EXPECT_EQ(content.find("adjust"), std::string::npos);
}

TEST(LogOpen, DefaultFileIsCreatedOnTheFirstLineAfterOpen) {
  TempDir dir;
  const fs::path oldCwd = fs::current_path();
  fs::current_path(dir.path());
  Log::writeMessage(1, 3025, "before open");  // no sink yet: dropped
  Log::open(true, "-dTzfyds", false);
  EXPECT_FALSE(fs::exists("veltrane.log"));
  Log::writeMessage(1, 3025, "after open");
  Log::Flush();
  fs::current_path(oldCwd);
  const std::string content = ReadFile(dir.path() / "veltrane.log");
  EXPECT_NE(content.find("after open"), std::string::npos);
  EXPECT_EQ(content.find("before open"), std::string::npos);
}

TEST(LogOpen, KeepsTheSinkAndLevelTheHostInstalled) {
  Log::SetCallbackSink(&RecordLine);
  Log::SetLevel(4);
  Log::open(true, "-dTzfyds", false);
  EXPECT_EQ(Log::GetLevel(), 4);
  Log::writeWarning(1, 3025, "dropped by level");
  Log::writeError(1, 3025, "kept");
  ASSERT_EQ(CallbackLines().size(), 1u);
  EXPECT_EQ(CallbackLines()[0].text, "kept");
}

}  // namespace
