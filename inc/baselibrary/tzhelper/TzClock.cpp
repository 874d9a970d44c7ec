#include "tzhelper/TzClock.h"

// The Windows build captures the inverse of the performance frequency here.
// The Linux monotonic clock already counts in nanoseconds, so there is nothing
// to capture; the call stays so that start-up code is the same on both.
void TzInitHighResClock() {}
