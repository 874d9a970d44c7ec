// The side-by-side harness: runs two sides of a comparison in pairs,
// alternating which goes first, waits for the machine to calm down before
// each pair, and sums the pairs up as min / median / max.
//
// Threads: the controlling thread only.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vbench {

struct Spread {
  double min = 0;
  double median = 0;
  double max = 0;
};
Spread Summarize(std::vector<double> values);

// Busy fraction of all processors (0..1) over the last window, from the
// system's processor counters; negative when they cannot be read.
double BusyFraction(int windowMs);
// Waits until the processors are mostly idle (at most maxWaitMs) and returns
// the busy fraction seen last, so a report can say what the load was.
double WaitForIdle(int maxWaitMs);

struct PairRun {
  Spread a;      // figure of side A
  Spread b;      // figure of side B
  Spread ratio;  // A / B, pair by pair
  Spread busy;   // machine busy fraction before each pair
};
// Each side runs once per pair and returns its figure (bigger is better).
PairRun RunPairs(int pairs, const std::function<double()>& a, const std::function<double()>& b);

// Process CPU time in seconds (every thread).
double ProcessCpuSeconds();
// Monotonic wall time in nanoseconds.
int64_t NowNs();
// Busy-waits until NowNs() reaches dueNs (pacing; yields while far away).
void WaitUntilNs(int64_t dueNs);
// Sleeps about ms milliseconds: for waits whose CPU time is being measured.
void SleepMs(int ms);

// Output: one line per figure, aligned.
void PrintHeader(const std::string& title);
void PrintPairs(const std::string& what, const std::string& unit, const PairRun& r, const std::string& goal);
void PrintSpread(const std::string& what, const std::string& unit, const Spread& s, const std::string& note);

}  // namespace vbench
