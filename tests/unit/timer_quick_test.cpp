// TzQuickTimer and its SessionTimer channels on a frozen clock: where new
// timers land and the exact pass that fires them, the thread waking when the
// clock moves, cancellation on destruction (on Disable: the session timer
// tests, through Stop), refusals, and callbacks that throw. Most passes run
// by hand on the test thread.
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "asynmodel/SessionTimer.h"
#include "platform/clock.h"
#include "frozen_clock.h"
#include "platform/system.h"
#include "tzhelper/TzMemAlloc.h"
#include "tzhelper/TzQuickTimer.h"
#include "wait_util.h"

namespace {

// Entries taken from the pool and not given back.
int64_t LiveTimerEntries() {
  return TzMemAlloc<TimerEntry, TzListMemAllocMethod>::Counters().liveBlocks -
         tz_detail::ClassList<TimerEntry>().CachedBlocks();
}

// One armed timer and what its firing saw.
struct Shot {
  TzQuickTimer* timer = nullptr;
  std::atomic<int> fired{0};
  std::atomic<int> cancelled{-1};
  std::atomic<int64_t> passNow{0};
  std::atomic<uint32_t> thread{0};

  static void Callback(void* owner, uint16_t cancelled, void* /*record*/) {
    Shot* s = static_cast<Shot*>(owner);
    s->cancelled = cancelled;
    s->passNow = s->timer->PassNow();
    s->thread = plat::CurrentThreadId();
    s->fired.fetch_add(1);
  }
};

// The timer's thread is held; passes run by hand unless Release()d.
class QuickTimerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    timer_ = TzSptr<TzQuickTimer>(TzQuickTimer::Create());
    ASSERT_TRUE(timer_);
    ASSERT_TRUE(timer_->Enable());
    channel_ = SessionTimer(timer_.get(), timer_->NextChannelIndex());
    // The thread's first pass follows the set-up of its loop state.
    ASSERT_TRUE(WaitUntil([&] { return timer_->PassCount() > 0; }));
    timer_->SuspendPassesForTest(true);
    // A point of the wheel's 15 ms grid (the grid of the framework clock).
    t0_ = (plat::NowMs() / 15 + 1) * 15;
    clock_.Advance(t0_ - plat::NowMs());
    timer_->RunPassForTest(t0_);
    ASSERT_EQ(timer_->BaseTimeForTest(), t0_);
  }
  void TearDown() override { Release(); }
  void Release() {
    plat::ThawClockForTest();
    if (timer_) timer_->SuspendPassesForTest(false);
  }
  // Moves the clock and waits until the timer thread's pass at the new time has ended.
  void AdvanceAndPass(int64_t ms) {
    clock_.Advance(ms);
    const int64_t now = plat::NowMs();
    ASSERT_TRUE(WaitUntil([&] { return timer_->PassNow() >= now; }));
    timer_->CensusForTest();
  }
  bool Arm(Shot* s, uint32_t delayMs) {
    s->timer = timer_.get();
    return channel_.SetTimer(delayMs, s, &Shot::Callback, nullptr);
  }
  using Dispatch = void (*)(uint16_t, TimerEntry*);
  TimerEntry* Entry(Shot* s, int64_t due, Dispatch dispatch = &TzQuickTimerDispatch) {
    s->timer = timer_.get();
    TimerEntry* e = TimerEntry::New();
    if (e == nullptr) return nullptr;
    e->due = due;
    e->dispatch = dispatch;
    e->owner = s;
    e->callback = &Shot::Callback;
    return e;
  }
  // An entry due at an exact time, straight through AddTimer.
  bool AddAt(Shot* s, int64_t due, Dispatch dispatch = &TzQuickTimerDispatch) {
    TimerEntry* e = Entry(s, due, dispatch);
    if (e != nullptr && timer_->AddTimer(channel_.Index(), e)) return true;
    TimerEntry::Delete(e);
    return false;
  }

  FrozenClock clock_;
  TzSptr<TzQuickTimer> timer_;
  SessionTimer channel_;
  int64_t t0_ = 0;
};

std::atomic<int> g_thrown{0};
void Throws(void*, uint16_t, void*) {
  g_thrown.fetch_add(1);
  throw 42;
}
// A dispatch function that frees its entry and then throws, as a broken
// owner type might.
void ThrowingDispatch(uint16_t, TimerEntry* e) {
  TimerEntry::Delete(e);
  g_thrown.fetch_add(1);
  throw std::string("boom");
}

}  // namespace

// Distributed by a pass at t0, then passes every 15 ms off the grid by 7 ms.
// A wheel entry fires on the first pass after its 15 ms slot has ended; the
// far list holds entries 30 s or more past the base and, once one has fired,
// fires each later one on the first pass less than a step before its due time.
TEST_F(QuickTimerTest, EachTimerFiresOnItsExactPass) {
  const struct { int64_t due; int64_t firedAt; } cases[] = {
      {0, 0},              // due at the distributing pass: fires in it
      {1, 22},             // slot [0, 15)
      {15, 37},            // slot [15, 30)
      {29999, 30007},      // the wheel's last slot
      {30000, 30007},      // the far list, first pass at or past its due
      {45005, 44992},      // a later far entry: within a step before its due
  };
  Shot shots[6];
  for (size_t i = 0; i < 6; ++i) ASSERT_TRUE(AddAt(&shots[i], t0_ + cases[i].due));
  timer_->RunPassForTest(t0_);
  TzQuickTimer::Census c = timer_->CensusForTest();
  EXPECT_EQ(c.incoming, 0u);
  EXPECT_EQ(c.wheel, 3u);
  EXPECT_EQ(c.far, 2u);
  for (int64_t t = t0_ + 7; t < t0_ + 45100; t += 15) timer_->RunPassForTest(t);
  for (size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(shots[i].fired.load(), 1) << "due " << cases[i].due;
    EXPECT_EQ(shots[i].cancelled.load(), 0) << cases[i].due;
    EXPECT_EQ(shots[i].passNow.load() - t0_, cases[i].firedAt) << "due " << cases[i].due;
  }
  EXPECT_EQ(LiveTimerEntries(), 0);
}

// The thread sleeps one step on the frozen clock; a jump of 60 s wakes it and
// its next pass catches up (4000 steps of the wheel at once).
TEST_F(QuickTimerTest, TheThreadPassesWhenTheClockMovesAndCatchesUpAJump) {
  Shot wheel, far, after;
  ASSERT_TRUE(Arm(&wheel, 20000));
  ASSERT_TRUE(Arm(&far, 60000));
  timer_->SuspendPassesForTest(false);
  ASSERT_NO_FATAL_FAILURE(AdvanceAndPass(60000));
  EXPECT_EQ(wheel.fired.load() + far.fired.load(), 2);
  EXPECT_EQ(far.passNow.load(), plat::NowMs());
  EXPECT_NE(far.thread.load(), plat::CurrentThreadId());  // on the timer thread
  // The base has caught up: a 100 ms timer after the jump is not early.
  ASSERT_TRUE(Arm(&after, 100));
  ASSERT_NO_FATAL_FAILURE(AdvanceAndPass(99));
  EXPECT_EQ(after.fired.load(), 0);
  ASSERT_NO_FATAL_FAILURE(AdvanceAndPass(2 * TzQuickTimer::kTickMs));
  EXPECT_EQ(after.fired.load(), 1);
}

// Refused timers stay with the caller; a timer disabled and enabled again
// carries new timers.
TEST_F(QuickTimerTest, RefusedTimersStayWithTheCallerAndAnEnabledAgainTimerCarriesNewOnes) {
  Shot s, again;
  TimerEntry* e = Entry(&s, t0_);
  ASSERT_NE(e, nullptr);
  EXPECT_FALSE(timer_->AddTimer(TzQuickTimer::kChannels, e));
  timer_->Disable();
  EXPECT_FALSE(timer_->AddTimer(0, e));
  EXPECT_FALSE(channel_.SetTimer(0, &s, &Shot::Callback, nullptr));
  // The refused entry is still the caller's: intact, and nobody fired it.
  timer_->RunPassForTest(t0_);
  EXPECT_EQ(e->owner, &s);
  EXPECT_EQ(s.fired.load(), 0);
  EXPECT_EQ(LiveTimerEntries(), 1);  // only e: the refused SetTimer freed its own
  TimerEntry::Delete(e);

  ASSERT_TRUE(timer_->Enable());
  EXPECT_FALSE(timer_->Enable());  // already running
  ASSERT_TRUE(Arm(&again, 0));
  timer_->RunPassForTest(t0_);
  EXPECT_TRUE(again.fired.load() == 1 && again.cancelled.load() == 0);
  EXPECT_FALSE(channel_.SetTimer(0, &s, nullptr, nullptr));
  EXPECT_FALSE(SessionTimer().SetTimer(0, &s, &Shot::Callback, nullptr));
  // Channel indexes count up modulo 100; a channel on a timer that is not
  // enabled is not available and refuses.
  Release();  // destroying a timer waits for its thread in clock steps
  TzSptr<TzQuickTimer> idle(TzQuickTimer::Create());
  for (uint32_t i = 0; i < 250; ++i) EXPECT_EQ(idle->NextChannelIndex(), i % 100);
  SessionTimer ch(idle.get(), 7);
  EXPECT_FALSE(ch.Available());
  EXPECT_FALSE(ch.SetTimer(0, &s, &Shot::Callback, nullptr));
  EXPECT_EQ(LiveTimerEntries(), 0);
}

TEST_F(QuickTimerTest, ThrowingCallbacksArePrintedAndPassesGoOn) {
  testing::internal::CaptureStdout();
  int owner = 0;
  Shot unused[2], s;
  ASSERT_TRUE(channel_.SetTimer(0, &owner, &Throws, nullptr));
  // A throwing dispatch function, once straight from the due list and once
  // from a wheel slot.
  ASSERT_TRUE(AddAt(&unused[0], t0_, &ThrowingDispatch));
  ASSERT_TRUE(AddAt(&unused[1], t0_ + 40, &ThrowingDispatch));
  timer_->RunPassForTest(t0_);
  EXPECT_EQ(g_thrown.load(), 2);
  ASSERT_TRUE(AddAt(&s, t0_ + 45));
  timer_->RunPassForTest(t0_ + 60);
  EXPECT_EQ(g_thrown.load(), 3);
  EXPECT_EQ(s.fired.load(), 1);
  const std::string out = testing::internal::GetCapturedStdout();
  for (const char* line : {"TzQuickTimerQueue<TimerOwner>::TimeDueProc() 452 unknown exception\r\n",
                           "TzQuickTimer::TimeDueProc() 193 unknown exception\r\n",
                           "TzQuickTimer::RemoveFromSortList() 254 unknown exception\r\n"}) {
    EXPECT_NE(out.find(line), std::string::npos) << line << " in " << out;
  }
  EXPECT_EQ(LiveTimerEntries(), 0);  // freed whether or not the callback threw
}

TEST_F(QuickTimerTest, DestructionCancelsPendingTimersAndEndsTheThread) {
  Shot wheel, far;
  ASSERT_TRUE(Arm(&wheel, 1000));
  ASSERT_TRUE(Arm(&far, 40000));
  timer_->RunPassForTest(t0_);
  Release();
  testing::internal::CaptureStdout();
  channel_ = SessionTimer();
  timer_.reset();  // the last reference
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(wheel.cancelled.load() + far.cancelled.load(), 2);
  EXPECT_EQ(wheel.fired.load() + far.fired.load(), 2);
  EXPECT_NE(out.find("TzQuickTimer::TimerProc:receive a destory msg and exit ,false\r\n"),
            std::string::npos) << out;
  EXPECT_EQ(LiveTimerEntries(), 0);
}
