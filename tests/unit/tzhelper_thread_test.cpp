// TzThread: start handshake, waits in 100 ms steps of virtual time, and a
// wrapper destroyed from inside its own body.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "platform/clock.h"
#include "platform/sync.h"
#include "platform/system.h"
#include "tzhelper/TzThread.h"
#include "wait_util.h"

namespace {

struct Blocker {
  std::atomic<bool> release{false};
  std::atomic<uint32_t> bodyThreadId{0};
  std::atomic<int> calls{0};
  void* seenArg = nullptr;
};

void BlockingBody(void* owner, void* arg) {
  Blocker* b = static_cast<Blocker*>(owner);
  b->seenArg = arg;
  b->bodyThreadId.store(plat::CurrentThreadId());
  b->calls.fetch_add(1);
  while (!b->release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// Drives `wait` to its end by moving the virtual clock; returns its result and
// the clock time that passed since `start` (moved plus real), read before the
// waiter was launched so its first sleep cannot begin earlier. `onStep` runs
// after each move.
template <class Step>
bool DriveWait(std::future<bool>& wait, uint32_t start, int64_t* elapsed, Step onStep) {
  for (int i = 0; i < 20000; ++i) {
    if (wait.wait_for(std::chrono::milliseconds(1)) == std::future_status::ready) break;
    plat::AdvanceClock(10);
    onStep();
  }
  *elapsed = plat::TickDiff(plat::GetTickCount(), start);
  return wait.get();
}

struct SelfDestroy {
  TzThread* thread = nullptr;
  std::atomic<bool> go{false};
  std::atomic<bool> destroyed{false};
};

void DestroyOwnWrapper(void* owner, void*) {
  SelfDestroy* s = static_cast<SelfDestroy*>(owner);
  while (!s->go.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  TzThread* t = s->thread;
  EXPECT_TRUE(t->Wait(plat::kInfinite));  // on its own thread: at once
  delete t;
  s->destroyed = true;
}

}  // namespace

TEST(TzhelperThread, StartReturnsWithTheThreadRunningAndAWrapperRunsAgainAfterItEnded) {
  Blocker b;
  int arg = 7;
  TzThread t(&b, &arg, BlockingBody);
  EXPECT_FALSE(t.IsRunning());
  EXPECT_FALSE(t.Wait(1000));  // nothing runs yet
  for (int run = 1; run <= 2; ++run) {
    b.release = false;
    b.bodyThreadId = 0;
    ASSERT_TRUE(t.Start());
    EXPECT_TRUE(t.IsRunning());
    EXPECT_NE(0u, t.ThreadId());
    EXPECT_TRUE(t.Start());  // already running: nothing new
    ASSERT_TRUE(WaitUntil([&] { return b.bodyThreadId.load() != 0; }));
    EXPECT_EQ(t.ThreadId(), b.bodyThreadId.load());
    EXPECT_EQ(&arg, b.seenArg);
    EXPECT_EQ(run, b.calls.load());
    b.release = true;
    ASSERT_TRUE(WaitUntil([&] { return !t.IsRunning(); }));
    EXPECT_EQ(0u, t.ThreadId());
    EXPECT_FALSE(t.Wait(1000));  // finished: no thread to wait for
  }
}

TEST(TzhelperThread, WaitGivesUpAfterThreeStepsOrSeesTheBodyEndWithinItsBudget) {
  Blocker b;
  TzThread t(&b, nullptr, BlockingBody);
  ASSERT_TRUE(t.Start());
  uint32_t start = plat::GetTickCount();  // the clock the sleeps measure
  auto wait = std::async(std::launch::async, [&t] { return t.Wait(250); });
  int64_t elapsed = 0;
  EXPECT_FALSE(DriveWait(wait, start, &elapsed, [] {}));
  EXPECT_GE(elapsed, 300);  // three 100 ms sleeps before giving up
  EXPECT_TRUE(t.IsRunning());

  std::atomic<bool> waiting{false};
  start = plat::GetTickCount();
  wait = std::async(std::launch::async, [&t, &waiting] {
    waiting = true;
    return t.Wait(plat::kInfinite);
  });
  // The body ends only once the waiter is well into its sleeps; ending it
  // earlier would make Wait find no thread and answer false.
  bool ended = DriveWait(wait, start, &elapsed, [&] {
    if (waiting.load() && plat::TickDiff(plat::GetTickCount(), start) > 500) b.release = true;
  });
  EXPECT_TRUE(ended);
  EXPECT_GE(elapsed, 500);
  EXPECT_FALSE(t.IsRunning());
}

TEST(TzhelperThread, WrapperDestroyedFromItsOwnBodyEndsCleanly) {
  SelfDestroy s;
  s.thread = new TzThread(&s, nullptr, DestroyOwnWrapper);
  ASSERT_TRUE(s.thread->Start());
  s.go = true;
  // The entry must leave the freed wrapper alone afterwards; ASan reports any
  // touch of it.
  ASSERT_TRUE(WaitUntil([&] { return s.destroyed.load(); }));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
}
