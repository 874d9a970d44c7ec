// The system's real clocks under the virtual clock of clock.h; one
// implementation per system (platform/linux, platform/win). Internal to the
// platform layer.
#pragma once
#include <cstdint>

namespace plat {

// Monotonic milliseconds since an arbitrary start (never wraps).
int64_t RealSteadyMs();
// Milliseconds since 1970-01-01 00:00 UTC.
int64_t RealSystemMs();
// Monotonic seconds at the finest resolution the system offers.
double RealHighResSeconds();

}  // namespace plat
