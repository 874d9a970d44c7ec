// Marks a test, or the rest of one, that checks behaviour only Linux has; on
// Windows it is reported as skipped with the reason given.
#pragma once
#include <gtest/gtest.h>

#if defined(_WIN32)
#define VELT_LINUX_ONLY(why) GTEST_SKIP() << "Linux only: " << why
#else
#define VELT_LINUX_ONLY(why) static_cast<void>(0)
#endif
