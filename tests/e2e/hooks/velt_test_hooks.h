// Test-only exports of libveltrane_testhooks.so.
#pragma once
#include <cstdint>

extern "C" {
void VELT_TestAdvanceClock(int64_t ms);
uint32_t VELT_TestTickCount(void);
}
