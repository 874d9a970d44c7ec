// TzToken: Take waits for the holder; a disabled token stops spinning.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "tzhelper/TzToken.h"

TEST(TzhelperToken, TakeWaitsForTheHolderAndDisablingReleasesATaker) {
  TzToken token;
  token.Take();
  std::atomic<bool> given{false};
  std::thread other([&] {
    token.Take();
    EXPECT_TRUE(given.load());  // it could only have the token after the Give
    token.Give();
  });
  given = true;
  token.Give();
  other.join();

  token.Take();
  std::thread taker([&] { token.Take(); });  // held and enabled: spins until disabled
  token.SetEnabled(false);
  taker.join();
  EXPECT_FALSE(token.Enabled());
  token.Give();  // still held by this thread
}
