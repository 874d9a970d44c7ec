// The process-wide pseudo random generator: x = x * 214013 + 2531011.
#pragma once
#include <cstdint>

// Seeds the shared state.
void TzSrand(uint32_t seed);
// A number in [lo, hi]; swapped bounds are put in order first.
uint32_t TzRandom(uint32_t lo, uint32_t hi);
