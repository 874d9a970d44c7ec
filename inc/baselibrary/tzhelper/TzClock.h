// Clock helpers of the helper library; all readings come from platform/clock.
#pragma once
#include "platform/clock.h"

// Milliseconds since 1970-01-01 UTC (the framework clock).
inline int64_t TzNowMs() { return plat::NowMs(); }
inline uint32_t TzTickCount() { return plat::GetTickCount(); }
// Captures the inverse performance frequency; kept for the TCP sender.
void TzInitHighResClock();
inline double TzHighResSeconds() { return plat::HighResSeconds(); }
