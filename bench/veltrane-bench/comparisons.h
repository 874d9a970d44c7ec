// The comparisons veltrane-bench runs; each prints its own lines.
#pragma once
#include <cstdint>

namespace vbench {

struct Options {
  int pairs = 5;
  double scale = 1.0;  // multiplies the work per side (0.2 for a quick look)
};

constexpr uint32_t kBody = 200;  // payload of every record and message

void RunPlainRoad(const Options& o);
void RunDispatch(const Options& o);
void RunReliable(const Options& o);
void RunSecureRoad(const Options& o);
void RunAllocations(const Options& o);
void RunTimers(const Options& o);

}  // namespace vbench
