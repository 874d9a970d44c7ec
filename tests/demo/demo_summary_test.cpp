// The verdict of a demo run: what counts as accounted for, with and without
// injected faults.
#include <gtest/gtest.h>

#include "summary.h"

using namespace vdemo;

namespace {

// A clean embedded run of 100 records and 4 notifications.
RunTotals Clean() {
  RunTotals t;
  t.discovered = true;
  t.recordsPlanned = t.recordsSent = 100;
  t.records.distinct = 100;
  t.adjustPlanned = t.adjustSent = 4;
  t.callbacks.calls = t.callbacks.distinct = 4;
  t.callbacks.uplink = t.callbacks.downlink = 2;
  t.answered = 4;
  return t;
}

}  // namespace

TEST(DemoSummary, CleanRunPassesAndEveryShortfallIsNamed) {
  EXPECT_TRUE(Judge(Clean()).empty());
  RunTotals t = Clean();
  t.records.distinct = 98;
  t.missing = {3, 70};
  EXPECT_EQ(2u, LostRecords(t));
  ASSERT_EQ(1u, Judge(t).size());
  EXPECT_NE(std::string::npos, Judge(t)[0].find("3, 70"));

  struct Case {
    const char* what;
    void (*spoil)(RunTotals*);
    size_t complaints;
  };
  const Case cases[] = {
      {"duplicate", [](RunTotals* r) { r->records.duplicates = 1; }, 1},
      {"corrupt", [](RunTotals* r) { r->records.corrupt = 1; }, 1},
      // one missing callback, and answers != callbacks
      {"callback missing", [](RunTotals* r) { r->callbacks.distinct = 3; }, 2},
      {"answer missing", [](RunTotals* r) { r->answered = 3; }, 1},
      {"callback repeated", [](RunTotals* r) { r->callbacks.repeats = 1; }, 1},
      {"timed out", [](RunTotals* r) { r->recordsSent = r->records.distinct = 50; r->timedOut = true; }, 2},
      {"undiscovered", [](RunTotals* r) { r->discovered = false; }, 1},
  };
  for (const Case& c : cases) {
    t = Clean();
    c.spoil(&t);
    EXPECT_EQ(c.complaints, Judge(t).size()) << c.what;
  }
}

TEST(DemoSummary, InjectedFaultsExplainDropsDuplicatesAndGiveUps) {
  RunTotals t = Clean();
  t.faults = t.dupFaults = true;
  t.records.distinct = 90;
  t.droppedByPeer = 10;
  t.records.duplicates = 5;
  t.duplicatedByPeer = 7;
  t.callbacks.repeats = 1;
  EXPECT_TRUE(Judge(t).empty());
  t.records.duplicates = 8;  // more copies than the peer made
  EXPECT_EQ(1u, Judge(t).size());

  t = Clean();
  t.faults = true;
  t.adjustGaveUp = 1;  // may or may not have arrived
  t.callbacks.distinct = t.answered = 3;
  EXPECT_TRUE(Judge(t).empty());
  t.callbacks.distinct = t.answered = 4;
  EXPECT_TRUE(Judge(t).empty());
  t.callbacks.distinct = t.answered = 2;
  EXPECT_EQ(1u, Judge(t).size());
}

TEST(DemoSummary, RealStprcJudgesOnlyWhatTheHostSideSees) {
  RunTotals t;
  t.embedded = false;
  t.discovered = true;
  t.recordsPlanned = t.recordsSent = 10;
  EXPECT_TRUE(Judge(t).empty());  // no flow line yet: nothing to compare
  t.log.flowLines = 1;
  t.log.flowOut = 9;
  EXPECT_EQ(1u, Judge(t).size());
  t.log.flowOut = 10;
  t.reportFailures = 1;
  EXPECT_EQ(1u, Judge(t).size());
}
