// Test-only exports, built into libveltrane_testhooks.so beside the normal
// exports: the end-to-end suite drives time through the library's own clock
// instead of sleeping. The production library never carries these.
#include <cstdint>

#include "platform/clock.h"
#include "veltrane.h"

extern "C" {

VELT_API void VELT_TestAdvanceClock(int64_t ms) { plat::AdvanceClock(ms); }

VELT_API uint32_t VELT_TestTickCount(void) { return plat::GetTickCount(); }

}  // extern "C"
