// Real clocks on Linux: CLOCK_MONOTONIC and CLOCK_REALTIME through std::chrono.
#include <chrono>

#include "platform/common/system_clock.h"

namespace plat {

int64_t RealSteadyMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int64_t RealSystemMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

double RealHighResSeconds() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace plat
