// The process-wide pseudo random generator: x = x * 214013 + 2531011.
#pragma once
#include <cstdint>

// Both functions are safe from any thread: the state advances with a
// compare-and-swap, so concurrent callers each take their own step.

// Seeds the shared state (the library seeds it with the tick count when it loads).
void TzSrand(uint32_t seed);
// A number in [lo, hi]; swapped bounds are put in order first. Advances the
// state x to x * 214013 + 2531011 and returns lo + x mod (hi - lo + 1).
uint32_t TzRandom(uint32_t lo, uint32_t hi);
