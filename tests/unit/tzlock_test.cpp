// TzRWLock's own fallback lock (the slim one is the platform's): two readers
// share it, and a waiting writer goes before readers that come after it.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <thread>

#include "platform/system.h"
#include "tzhelper/Tzautolock.h"
#include "wait_util.h"

namespace {

// Waiting readers, waiting writers, active holders (-1: a writer).
using State = std::array<int32_t, 3>;

State StateOf(const TzRWLock& lock) {
  State s{};
  EXPECT_TRUE(lock.FallbackStateForTest(&s[0], &s[1], &s[2]));
  return s;
}

// Two readers inside, then a writer and a new reader waiting: the reader
// queues behind the writer although only readers hold the lock; when one
// reader leaves neither waiter enters; when the last one leaves, the writer
// goes first and the reader follows.
TEST(TzRWLockFallback, WaitingWriterGoesBeforeNewReadersOnceTheLastReaderLeaves) {
  plat::SetSrwAvailableForTest(false);
  TzRWLock lock;
  ASSERT_TRUE(lock.UsesFallback());
  lock.LockShared();
  std::atomic<bool> releaseFirst{false};
  std::thread first([&] {
    lock.LockShared();
    WaitUntil([&] { return releaseFirst.load(); });
    lock.UnlockShared();
  });
  EXPECT_TRUE(WaitUntil([&] { return StateOf(lock) == State{0, 0, 2}; }));

  std::atomic<int> order{0};
  std::atomic<int> writerTurn{0}, readerTurn{0};
  std::atomic<bool> releaseWriter{false};
  std::thread writer([&] {
    lock.LockExclusive();
    writerTurn = ++order;
    WaitUntil([&] { return releaseWriter.load(); });
    lock.UnlockExclusive();
  });
  EXPECT_TRUE(WaitUntil([&] { return StateOf(lock) == State{0, 1, 2}; }));
  std::thread reader([&] {
    lock.LockShared();
    readerTurn = ++order;
    lock.UnlockShared();
  });
  EXPECT_TRUE(WaitUntil([&] { return StateOf(lock) == State{1, 1, 2}; }));
  lock.UnlockShared();
  EXPECT_EQ(StateOf(lock), (State{1, 1, 1}));

  releaseFirst = true;
  first.join();
  EXPECT_TRUE(WaitUntil([&] { return writerTurn.load() != 0; }));
  EXPECT_EQ(StateOf(lock), (State{1, 0, -1}));
  EXPECT_EQ(readerTurn.load(), 0);

  releaseWriter = true;
  writer.join();
  reader.join();
  EXPECT_TRUE(writerTurn.load() == 1 && readerTurn.load() == 2);
  EXPECT_EQ(StateOf(lock), (State{0, 0, 0}));
}

}  // namespace
