// TzLock and TzRWLock, with the slim lock and with the fallback lock.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/system.h"
#include "tzhelper/Tzautolock.h"

namespace {

using std::chrono::milliseconds;

template <class Pred>
bool EventuallyTrue(Pred pred, int timeoutMs = 5000) {
  const auto end = std::chrono::steady_clock::now() + milliseconds(timeoutMs);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(milliseconds(1));
  }
  return true;
}

struct FallbackState {
  int32_t waitingReaders = 0;
  int32_t waitingWriters = 0;
  int32_t active = 0;
};

FallbackState StateOf(const TzRWLock& lock) {
  FallbackState s;
  EXPECT_TRUE(lock.FallbackStateForTest(&s.waitingReaders, &s.waitingWriters, &s.active));
  return s;
}

TEST(TzLock, ExcludesOtherThreads) {
  TzLock lock;
  int counter = 0;
  auto add = [&] {
    for (int i = 0; i < 20000; ++i) {
      TzAutoLock guard(&lock);
      ++counter;
    }
  };
  std::thread a(add);
  std::thread b(add);
  a.join();
  b.join();
  EXPECT_EQ(counter, 40000);
}

class TzRWLockModes : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { plat::SetSrwAvailableForTest(!GetParam()); }
  void TearDown() override { plat::SetSrwAvailableForTest(true); }
};

TEST_P(TzRWLockModes, PicksTheLockThePlatformOffers) {
  TzRWLock lock;
  EXPECT_EQ(lock.UsesFallback(), GetParam());
}

TEST_P(TzRWLockModes, ReadersRunTogether) {
  TzRWLock lock;
  std::atomic<int> inside{0};
  std::atomic<bool> sawBoth[2] = {false, false};
  auto reader = [&](int i) {
    TzAutoLock guard(&lock, false);
    inside.fetch_add(1);
    // Each reader stays until the other is inside too: impossible if shared
    // holders excluded each other.
    sawBoth[i] = EventuallyTrue([&] { return inside.load() == 2; });
  };
  std::thread a(reader, 0);
  std::thread b(reader, 1);
  a.join();
  b.join();
  EXPECT_TRUE(sawBoth[0]);
  EXPECT_TRUE(sawBoth[1]);
}

TEST_P(TzRWLockModes, WritersExcludeReadersAndWriters) {
  TzRWLock lock;
  int64_t a = 0;
  int64_t b = 0;
  std::atomic<int> torn{0};
  auto writer = [&] {
    for (int i = 0; i < 5000; ++i) {
      TzAutoLock guard(&lock, true);
      ++a;
      ++b;
    }
  };
  auto reader = [&] {
    for (int i = 0; i < 5000; ++i) {
      TzAutoLock guard(&lock, false);
      if (a != b) torn.fetch_add(1);
    }
  };
  std::thread w1(writer), w2(writer), r1(reader), r2(reader);
  w1.join();
  w2.join();
  r1.join();
  r2.join();
  EXPECT_EQ(torn.load(), 0);
  EXPECT_EQ(a, 10000);
  EXPECT_EQ(b, 10000);
}

INSTANTIATE_TEST_SUITE_P(SlimAndFallback, TzRWLockModes, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& p) {
                           return p.param ? "Fallback" : "Slim";
                         });

TEST(TzRWLockFallback, WaitingWriterGoesBeforeNewReaders) {
  plat::SetSrwAvailableForTest(false);
  TzRWLock lock;
  ASSERT_TRUE(lock.UsesFallback());

  std::atomic<int> order{0};
  int writerTurn = 0;
  int readerTurn = 0;
  lock.LockShared();
  std::thread writer([&] {
    lock.LockExclusive();
    writerTurn = ++order;
    lock.UnlockExclusive();
  });
  EXPECT_TRUE(EventuallyTrue([&] { return StateOf(lock).waitingWriters == 1; }));
  std::thread reader([&] {
    lock.LockShared();
    readerTurn = ++order;
    lock.UnlockShared();
  });
  // The new reader queues behind the writer although only readers hold it.
  EXPECT_TRUE(EventuallyTrue([&] { return StateOf(lock).waitingReaders == 1; }));
  EXPECT_EQ(StateOf(lock).active, 1);

  lock.UnlockShared();
  writer.join();
  reader.join();
  EXPECT_EQ(writerTurn, 1);
  EXPECT_EQ(readerTurn, 2);
  EXPECT_EQ(StateOf(lock).active, 0);
}

TEST(TzRWLockFallback, LastReaderOutHandsOverNotTheFirst) {
  // Two readers inside, a writer and then a reader waiting: when one reader
  // leaves, neither waiter may enter; when the last one leaves, the writer
  // goes first and the reader follows.
  plat::SetSrwAvailableForTest(false);
  TzRWLock lock;
  lock.LockShared();
  std::atomic<bool> releaseFirst{false};
  std::thread first([&] {
    lock.LockShared();
    EventuallyTrue([&] { return releaseFirst.load(); });
    lock.UnlockShared();
  });
  EXPECT_TRUE(EventuallyTrue([&] { return StateOf(lock).active == 2; }));

  std::atomic<bool> writerIn{false};
  std::atomic<bool> releaseWriter{false};
  std::atomic<bool> readerIn{false};
  std::thread writer([&] {
    lock.LockExclusive();
    writerIn = true;
    EventuallyTrue([&] { return releaseWriter.load(); });
    lock.UnlockExclusive();
  });
  EXPECT_TRUE(EventuallyTrue([&] { return StateOf(lock).waitingWriters == 1; }));
  std::thread reader([&] {
    lock.LockShared();
    readerIn = true;
    lock.UnlockShared();
  });
  EXPECT_TRUE(EventuallyTrue([&] { return StateOf(lock).waitingReaders == 1; }));

  lock.UnlockShared();
  FallbackState s = StateOf(lock);
  EXPECT_EQ(s.active, 1);
  EXPECT_EQ(s.waitingWriters, 1);
  EXPECT_EQ(s.waitingReaders, 1);

  releaseFirst = true;
  first.join();
  EXPECT_TRUE(EventuallyTrue([&] { return writerIn.load(); }));
  s = StateOf(lock);
  EXPECT_EQ(s.active, -1);
  EXPECT_EQ(s.waitingWriters, 0);
  EXPECT_EQ(s.waitingReaders, 1);
  EXPECT_FALSE(readerIn.load());

  releaseWriter = true;
  writer.join();
  reader.join();
  EXPECT_TRUE(readerIn.load());
  EXPECT_EQ(StateOf(lock).active, 0);
}

}  // namespace
