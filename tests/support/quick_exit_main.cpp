// Test entry for Windows builds: the framework is a process-wide singleton
// that is never shut down, and with the library linked into the test program
// its statics are destroyed by exit() while its worker and timer threads still
// run. A host loads the DLL, where the system ends those threads before the
// DLL's statics go; leaving without static destruction gives the test program
// the same order.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  const int rc = RUN_ALL_TESTS();
  std::fflush(nullptr);
  std::_Exit(rc);
}
