// TzQuickTimer and its SessionTimer channels: where new timers land, when
// they fire (never before their due time, and on the first pass one step past
// it), cancellation on Disable and destruction, refusals, and callbacks that
// throw. Time moves with plat::AdvanceClock; the only real waits are bounded
// polls for the timer thread's next pass.
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "asynmodel/SessionTimer.h"
#include "platform/clock.h"
#include "platform/system.h"
#include "tzhelper/TzMemAlloc.h"
#include "tzhelper/TzQuickTimer.h"
#include "wait_util.h"

namespace {

// Waits until n passes have run entirely after the call (the pass in
// progress, if any, does not count).
bool WaitFullPasses(TzQuickTimer* t, uint64_t n = 1) {
  const uint64_t start = t->PassCount();
  return WaitUntil([&] { return t->PassCount() >= start + n + 1; }, 5000);
}

int64_t LiveTimerEntries() {
  return TzMemAlloc<TimerEntry, TzPrivateHeapMemAllocMethod>::Counters().liveBlocks;
}

// One armed timer and what its firing saw.
struct Shot {
  TzQuickTimer* timer = nullptr;
  int64_t due = 0;
  std::atomic<int> fired{0};
  std::atomic<int> cancelled{-1};
  std::atomic<int64_t> passNow{0};
  std::atomic<int64_t> prevPassNow{0};
  std::atomic<uint64_t> passIndex{0};
  std::atomic<uint32_t> thread{0};

  static void Callback(void* owner, uint16_t cancelled, void* /*record*/) {
    Shot* s = static_cast<Shot*>(owner);
    s->cancelled = cancelled;
    s->passNow = s->timer->PassNow();
    s->prevPassNow = s->timer->PreviousPassNow();
    s->passIndex = s->timer->PassCount();
    s->thread = plat::CurrentThreadId();
    s->fired.fetch_add(1);
  }
};

class QuickTimerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    timer_ = TzSptr<TzQuickTimer>(TzQuickTimer::Create());
    ASSERT_TRUE(timer_);
    ASSERT_TRUE(timer_->Enable());
    channel_ = SessionTimer(timer_.get(), timer_->NextChannelIndex());
  }

  bool Arm(Shot* s, uint32_t delayMs) {
    s->timer = timer_.get();
    s->due = plat::NowMs() + delayMs;  // SetTimer reads the clock just after
    return channel_.SetTimer(delayMs, s, &Shot::Callback, nullptr);
  }

  // The wheel's promise, stated so that it holds however late the thread is
  // scheduled: the timer never fires before its due time, and no pass one
  // step (15 ms) past its due time goes by without firing it. With passes
  // 15 ms apart that is "within two ticks".
  static void ExpectOnTime(const Shot& s) {
    EXPECT_EQ(s.fired.load(), 1);
    EXPECT_EQ(s.cancelled.load(), 0);
    EXPECT_GE(s.passNow.load(), s.due);
    EXPECT_LT(s.prevPassNow.load(), s.due + int64_t(TzQuickTimer::kTickMs));
  }

  // An entry due at an exact time, straight through AddTimer.
  bool AddAt(Shot* s, int64_t due, void (*dispatch)(uint16_t, TimerEntry*) = &TzQuickTimerDispatch) {
    s->timer = timer_.get();
    s->due = due;
    TimerEntry* e = TimerEntry::New();
    if (e == nullptr) return false;
    e->due = due;
    e->dispatch = dispatch;
    e->owner = s;
    e->callback = &Shot::Callback;
    if (timer_->AddTimer(channel_.Index(), e)) return true;
    TimerEntry::Delete(e);
    return false;
  }

  // Holds the thread and runs one pass by hand on a point t0 of the wheel's
  // 15 ms grid, so that the pass distributing new entries has its base there.
  int64_t HoldOnAGridPoint() {
    EXPECT_TRUE(WaitFullPasses(timer_.get()));
    timer_->SuspendPassesForTest(true);
    const int64_t base = timer_->BaseTimeForTest();
    const int64_t t0 = base + 15 * ((plat::NowMs() - base) / 15 + 1);
    timer_->RunPassForTest(t0);
    EXPECT_EQ(timer_->BaseTimeForTest(), t0);
    return t0;
  }

  TzSptr<TzQuickTimer> timer_;
  SessionTimer channel_;
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

TEST_F(QuickTimerTest, DelayZeroFiresOnTheNextPassNotCancelled) {
  Shot s;
  ASSERT_TRUE(Arm(&s, 0));
  ASSERT_TRUE(WaitUntil([&] { return s.fired.load() == 1; }));
  ExpectOnTime(s);
  EXPECT_NE(s.thread.load(), plat::CurrentThreadId());  // on the timer thread
  EXPECT_TRUE(WaitUntil([] { return LiveTimerEntries() == 0; }));
}

TEST_F(QuickTimerTest, JustUnderThirtySecondsPastTheBaseGoesToTheWheelAndThirtyToTheFarList) {
  const int64_t t0 = HoldOnAGridPoint();
  Shot wheel, far;
  ASSERT_TRUE(AddAt(&wheel, t0 + 29999));
  ASSERT_TRUE(AddAt(&far, t0 + 30000));
  timer_->RunPassForTest(t0);
  TzQuickTimer::Census c = timer_->CensusForTest();
  EXPECT_EQ(c.incoming, 0u);
  EXPECT_EQ(c.wheel, 1u);
  EXPECT_EQ(c.far, 1u);

  // Passes every 15 ms, off the grid by 7 ms.
  for (int64_t t = t0 + 7; t < t0 + 31000 && (wheel.fired == 0 || far.fired == 0); t += 15) {
    timer_->RunPassForTest(t);
  }
  ExpectOnTime(wheel);
  ExpectOnTime(far);
  EXPECT_EQ(wheel.passNow.load(), t0 + 30007);
  EXPECT_EQ(far.passNow.load(), t0 + 30007);
}

// The far list keeps the due time of the entry it fired last as its
// "earliest"; from then on it is walked on every pass and a later far timer
// fires on the first pass less than one step before its due time.
TEST_F(QuickTimerTest, AfterAFarTimerHasFiredLaterFarTimersFireWithinAStepOfTheirDue) {
  const int64_t t0 = HoldOnAGridPoint();
  Shot first, second;
  ASSERT_TRUE(AddAt(&first, t0 + 40000));
  ASSERT_TRUE(AddAt(&second, t0 + 45005));
  timer_->RunPassForTest(t0);
  ASSERT_EQ(timer_->CensusForTest().far, 2u);
  for (int64_t t = t0 + 15; t <= t0 + 46000 && second.fired == 0; t += 15) {
    timer_->RunPassForTest(t);
    if (t < t0 + 40000) {
      ASSERT_EQ(first.fired.load(), 0) << t - t0;
    }
  }
  ExpectOnTime(first);
  EXPECT_EQ(first.passNow.load(), t0 + 40005);
  EXPECT_EQ(second.fired.load(), 1);
  EXPECT_EQ(second.cancelled.load(), 0);
  EXPECT_EQ(second.passNow.load(), t0 + 45000);  // 5 ms before its due time
}

TEST_F(QuickTimerTest, AJumpOfSixtySecondsCatchesUpWithinTheNextPass) {
  Shot wheel, far, after;
  ASSERT_TRUE(Arm(&wheel, 20000));
  ASSERT_TRUE(Arm(&far, 60000));
  ASSERT_TRUE(WaitFullPasses(timer_.get()));
  const uint64_t passesBefore = timer_->PassCount();
  plat::AdvanceClock(60000);
  ASSERT_TRUE(WaitUntil([&] { return wheel.fired.load() == 1 && far.fired.load() == 1; }));
  // The pass in progress at the jump may have read the clock before it; the
  // one after it fires both (4000 steps of the wheel in one pass).
  EXPECT_LE(wheel.passIndex.load(), passesBefore + 1);
  EXPECT_LE(far.passIndex.load(), passesBefore + 1);
  EXPECT_EQ(wheel.cancelled.load(), 0);
  EXPECT_GE(far.passNow.load(), far.due);
  EXPECT_LT(far.prevPassNow.load(), far.due + int64_t(TzQuickTimer::kTickMs));

  // The wheel's base has caught up with the clock: a short timer set after
  // the jump still keeps its promise.
  ASSERT_TRUE(Arm(&after, 100));
  for (int i = 0; i < 100 && after.fired.load() == 0; ++i) {
    plat::AdvanceClock(5);
    ASSERT_TRUE(WaitFullPasses(timer_.get()));
  }
  ExpectOnTime(after);
}

TEST_F(QuickTimerTest, DisableCancelsEveryPendingTimerExactlyOnce) {
  Shot wheel, far, incoming;
  ASSERT_TRUE(Arm(&wheel, 1000));
  ASSERT_TRUE(Arm(&far, 40000));
  ASSERT_TRUE(WaitFullPasses(timer_.get()));
  // Hold the thread between passes so the next timer stays incoming.
  timer_->SuspendPassesForTest(true);
  ASSERT_TRUE(Arm(&incoming, 0));
  TzQuickTimer::Census c = timer_->CensusForTest();
  ASSERT_EQ(c.incoming, 1u);
  ASSERT_EQ(c.wheel, 1u);
  ASSERT_EQ(c.far, 1u);

  timer_->Disable();
  // Incoming entries are cancelled at once, on the disabling thread.
  EXPECT_EQ(incoming.fired.load(), 1);
  EXPECT_EQ(incoming.cancelled.load(), 1);
  EXPECT_EQ(incoming.thread.load(), plat::CurrentThreadId());
  EXPECT_EQ(wheel.fired.load(), 0);
  EXPECT_EQ(far.fired.load(), 0);
  EXPECT_FALSE(channel_.Available());

  // The wheel and the far list are cancelled by the next pass.
  timer_->SuspendPassesForTest(false);
  ASSERT_TRUE(WaitUntil([&] { return wheel.fired.load() == 1 && far.fired.load() == 1; }));
  EXPECT_EQ(wheel.cancelled.load(), 1);
  EXPECT_EQ(far.cancelled.load(), 1);
  EXPECT_NE(wheel.thread.load(), plat::CurrentThreadId());

  // Their due times pass: nothing fires a second time.
  plat::AdvanceClock(60000);
  ASSERT_TRUE(WaitFullPasses(timer_.get(), 2));
  EXPECT_EQ(incoming.fired.load() + wheel.fired.load() + far.fired.load(), 3);
  c = timer_->CensusForTest();
  EXPECT_EQ(c.wheel + c.far + c.incoming, 0u);
  EXPECT_EQ(LiveTimerEntries(), 0);

  // Enabled again, the timer carries new timers.
  ASSERT_TRUE(timer_->Enable());
  Shot again;
  ASSERT_TRUE(Arm(&again, 0));
  ASSERT_TRUE(WaitUntil([&] { return again.fired.load() == 1; }));
  EXPECT_EQ(again.cancelled.load(), 0);
}

TEST_F(QuickTimerTest, RefusedTimersStayWithTheCaller) {
  Shot s;
  s.timer = timer_.get();
  TimerEntry* e = TimerEntry::New();
  ASSERT_NE(e, nullptr);
  e->due = plat::NowMs();
  e->dispatch = &TzQuickTimerDispatch;
  e->owner = &s;
  e->callback = &Shot::Callback;
  EXPECT_FALSE(timer_->AddTimer(TzQuickTimer::kChannels, e));
  EXPECT_FALSE(timer_->AddTimer(1000, e));
  timer_->Disable();
  EXPECT_FALSE(timer_->AddTimer(0, e));
  EXPECT_FALSE(channel_.SetTimer(0, &s, &Shot::Callback, nullptr));
  // The refused entry is still the caller's: it is intact and nobody fired it.
  EXPECT_EQ(e->owner, &s);
  ASSERT_TRUE(WaitFullPasses(timer_.get()));
  EXPECT_EQ(s.fired.load(), 0);
  EXPECT_EQ(LiveTimerEntries(), 1);  // only e: the refused SetTimer freed its own
  TimerEntry::Delete(e);
  EXPECT_EQ(LiveTimerEntries(), 0);

  ASSERT_TRUE(timer_->Enable());
  EXPECT_FALSE(timer_->Enable());  // already running
  EXPECT_FALSE(channel_.SetTimer(0, &s, nullptr, nullptr));
  EXPECT_FALSE(SessionTimer().SetTimer(0, &s, &Shot::Callback, nullptr));
  EXPECT_FALSE(SessionTimer().Available());

  // Channel indexes count up modulo 100; a channel on a timer that is not
  // enabled is not available and refuses.
  TzSptr<TzQuickTimer> idle(TzQuickTimer::Create());
  for (uint32_t i = 0; i < 250; ++i) EXPECT_EQ(idle->NextChannelIndex(), i % 100);
  SessionTimer ch(idle.get(), 7);
  EXPECT_EQ(ch.Index(), 7u);
  EXPECT_FALSE(ch.Available());
  EXPECT_FALSE(ch.SetTimer(0, &s, &Shot::Callback, nullptr));
  EXPECT_EQ(LiveTimerEntries(), 0);
}

TEST_F(QuickTimerTest, ThrowingCallbacksArePrintedAndTheThreadGoesOn) {
  testing::internal::CaptureStdout();
  int owner = 0;
  ASSERT_TRUE(channel_.SetTimer(0, &owner, &Throws, nullptr));
  ASSERT_TRUE(WaitUntil([] { return g_thrown.load() == 1; }));
  // A throwing dispatch function, once straight from the due list and once
  // from a wheel slot.
  Shot unused[2];
  ASSERT_TRUE(AddAt(&unused[0], plat::NowMs(), &ThrowingDispatch));
  ASSERT_TRUE(AddAt(&unused[1], plat::NowMs() + 40, &ThrowingDispatch));
  ASSERT_TRUE(WaitUntil([] { return g_thrown.load() == 2; }));
  for (int i = 0; i < 100 && g_thrown.load() < 3; ++i) {
    plat::AdvanceClock(10);
    ASSERT_TRUE(WaitFullPasses(timer_.get()));
  }
  ASSERT_EQ(g_thrown.load(), 3);

  Shot s;
  ASSERT_TRUE(Arm(&s, 0));
  ASSERT_TRUE(WaitUntil([&] { return s.fired.load() == 1; }));
  const std::string out = testing::internal::GetCapturedStdout();
  for (const char* line : {"TzQuickTimerQueue<TimerOwner>::TimeDueProc() 452 unknown exception\r\n",
                           "TzQuickTimer::TimeDueProc() 193 unknown exception\r\n",
                           "TzQuickTimer::RemoveFromSortList() 254 unknown exception\r\n"}) {
    EXPECT_NE(out.find(line), std::string::npos) << line << " in " << out;
  }
  EXPECT_EQ(LiveTimerEntries(), 0);  // freed whether or not the callback threw
}

TEST(QuickTimerLifetime, DestructionCancelsPendingTimersAndEndsTheThread) {
  TzSptr<TzQuickTimer> t(TzQuickTimer::Create());
  ASSERT_TRUE(t);
  ASSERT_TRUE(t->Enable());
  SessionTimer channel(t.get(), t->NextChannelIndex());
  Shot wheel, far;
  wheel.timer = far.timer = t.get();
  ASSERT_TRUE(channel.SetTimer(1000, &wheel, &Shot::Callback, nullptr));
  ASSERT_TRUE(channel.SetTimer(40000, &far, &Shot::Callback, nullptr));
  ASSERT_TRUE(WaitFullPasses(t.get()));

  testing::internal::CaptureStdout();
  channel = SessionTimer();
  t.reset();  // the last reference
  const std::string out = testing::internal::GetCapturedStdout();
  for (const Shot* shot : {&wheel, &far}) {
    EXPECT_EQ(shot->fired.load(), 1);
    EXPECT_EQ(shot->cancelled.load(), 1);
  }
  EXPECT_NE(out.find("TzQuickTimer::TimerProc:receive a destory msg and exit ,false\r\n"),
            std::string::npos) << out;
  EXPECT_EQ(LiveTimerEntries(), 0);
}
