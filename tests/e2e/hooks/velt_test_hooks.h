// Test-only exports of libveltrane_testhooks.so.
#pragma once
#include <cstdint>

extern "C" {
void VELT_TestAdvanceClock(int64_t ms);
uint32_t VELT_TestTickCount(void);
// 1: time stands still and moves only through VELT_TestAdvanceClock; 0: it
// flows again from where it stood.
void VELT_TestFreezeClock(int frozen);
int VELT_TestTimersCaughtUp(void);
}
