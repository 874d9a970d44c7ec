// Real clocks on Windows: the tick count (GetTickCount64, the 64-bit form of
// GetTickCount, so it never wraps), the file-time clock for the calendar, and
// the performance counter for high-resolution seconds.
#include "platform/common/system_clock.h"
#include "platform/win/win_api.h"

namespace plat {
namespace {

// 100-ns intervals between 1601-01-01 (file time) and 1970-01-01.
constexpr int64_t kUnixEpochInFileTime = 116444736000000000LL;

}  // namespace

int64_t RealSteadyMs() { return static_cast<int64_t>(::GetTickCount64()); }

int64_t RealSystemMs() {
  FILETIME ft;
  ::GetSystemTimeAsFileTime(&ft);
  const int64_t t = static_cast<int64_t>((static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
  return (t - kUnixEpochInFileTime) / 10000;
}

double RealHighResSeconds() {
  // The frequency is fixed at boot; asking once is enough.
  static const double frequency = [] {
    LARGE_INTEGER f;
    return ::QueryPerformanceFrequency(&f) && f.QuadPart > 0 ? static_cast<double>(f.QuadPart) : 0.0;
  }();
  LARGE_INTEGER c;
  if (frequency <= 0.0 || !::QueryPerformanceCounter(&c)) return static_cast<double>(RealSteadyMs()) / 1000.0;
  return static_cast<double>(c.QuadPart) / frequency;
}

}  // namespace plat
