// Facts about the running system that the helper library asks at run time,
// with test hooks to pretend another answer.
#pragma once
#include <cstdint>

namespace plat {

struct SystemVersion {
  uint32_t major;
  uint32_t minor;
};

// Answers 6.1 unless a test set something else.
SystemVersion GetSystemVersion();
void SetSystemVersionForTest(uint32_t major, uint32_t minor);

// Whether slim reader/writer locks exist (yes here); a test may answer no to
// exercise the fallback lock.
bool SrwAvailable();
void SetSrwAvailableForTest(bool available);

uint32_t ProcessorCount();
// The kernel's id of the calling thread.
uint32_t CurrentThreadId();
// Yield the processor (a zero sleep).
void YieldThread();

}  // namespace plat
