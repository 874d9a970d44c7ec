#include "harness.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>
#include <thread>

namespace vbench {

Spread Summarize(std::vector<double> values) {
  Spread s;
  if (values.empty()) return s;
  std::sort(values.begin(), values.end());
  s.min = values.front();
  s.max = values.back();
  const size_t n = values.size();
  s.median = n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
  return s;
}

namespace {

// Total and idle jiffies from the first line of /proc/stat.
bool ReadCpuTimes(uint64_t* total, uint64_t* idle) {
  std::ifstream f("/proc/stat");
  std::string line;
  if (!std::getline(f, line) || line.compare(0, 4, "cpu ") != 0) return false;
  std::istringstream in(line.substr(4));
  uint64_t v = 0;
  *total = 0;
  *idle = 0;
  for (int i = 0; in >> v; ++i) {
    *total += v;
    if (i == 3 || i == 4) *idle += v;  // idle and iowait
  }
  return *total != 0;
}

}  // namespace

double BusyFraction(int windowMs) {
  uint64_t t0 = 0, i0 = 0, t1 = 0, i1 = 0;
  if (!ReadCpuTimes(&t0, &i0)) return -1;
  std::this_thread::sleep_for(std::chrono::milliseconds(windowMs));
  if (!ReadCpuTimes(&t1, &i1) || t1 <= t0) return -1;
  return 1.0 - static_cast<double>(i1 - i0) / static_cast<double>(t1 - t0);
}

double WaitForIdle(int maxWaitMs) {
  constexpr double kIdleEnough = 0.25;  // a quarter of the machine busy
  constexpr int kWindowMs = 100;
  double busy = -1;
  for (int waited = 0; waited <= maxWaitMs; waited += kWindowMs) {
    busy = BusyFraction(kWindowMs);
    if (busy < kIdleEnough) break;
  }
  return busy;
}

PairRun RunPairs(int pairs, const std::function<double()>& a, const std::function<double()>& b) {
  std::vector<double> fa, fb, ratio, busy;
  for (int p = 0; p < pairs; ++p) {
    busy.push_back(WaitForIdle(3000));
    double x, y;
    if (p % 2 == 0) {
      x = a();
      y = b();
    } else {
      y = b();
      x = a();
    }
    fa.push_back(x);
    fb.push_back(y);
    ratio.push_back(y > 0 ? x / y : 0);
  }
  return PairRun{Summarize(fa), Summarize(fb), Summarize(ratio), Summarize(busy)};
}

double ProcessCpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void WaitUntilNs(int64_t dueNs) {
  for (;;) {
    const int64_t left = dueNs - NowNs();
    if (left <= 0) return;
    if (left > 200000) std::this_thread::yield();
  }
}

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

void PrintHeader(const std::string& title) { std::printf("\n== %s\n", title.c_str()); }

void PrintPairs(const std::string& what, const std::string& unit, const PairRun& r, const std::string& goal) {
  std::printf("  %-44s A %10.0f  B %10.0f %-10s (medians)\n", what.c_str(), r.a.median, r.b.median, unit.c_str());
  std::printf("  %-44s ratio A/B min %.2f  median %.2f  max %.2f   goal %s   busy before pairs %.0f-%.0f%%\n", "",
              r.ratio.min, r.ratio.median, r.ratio.max, goal.c_str(), r.busy.min * 100, r.busy.max * 100);
  std::fflush(stdout);
}

void PrintSpread(const std::string& what, const std::string& unit, const Spread& s, const std::string& note) {
  std::printf("  %-44s min %.2f  median %.2f  max %.2f %s   %s\n", what.c_str(), s.min, s.median, s.max, unit.c_str(),
              note.c_str());
  std::fflush(stdout);
}

}  // namespace vbench
