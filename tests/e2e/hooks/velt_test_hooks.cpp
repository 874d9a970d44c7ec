// Test-only exports, built into libveltrane_testhooks.so beside the normal
// exports: the end-to-end suite drives time through the library's own clock
// instead of sleeping. The production library never carries these.
#include <cstdint>

#include "asynmodel/AsynManager.h"
#include "platform/clock.h"
#include "veltrane.h"

extern "C" {

VELT_API void VELT_TestAdvanceClock(int64_t ms) { plat::AdvanceClock(ms); }

VELT_API uint32_t VELT_TestTickCount(void) { return plat::GetTickCount(); }

VELT_API void VELT_TestFreezeClock(int frozen) {
  if (frozen) {
    plat::FreezeClockForTest();
  } else {
    plat::ThawClockForTest();
  }
}

// The timer thread has made every pass it makes at the present reading (it
// passes one step after the last pass began) and that pass has ended, so
// every timer it fires by now has been handed to its session. -1 when no
// timer runs or the pass does not come within 10 s of real time.
VELT_API int VELT_TestTimersCaughtUp(void) {
  AsynModel::AsynManager* m = AsynModel::AsynManager::GetInstanceIfExists();
  TzQuickTimer* timer = m ? m->GetQuickTimer() : nullptr;
  if (timer == nullptr || !timer->IsRunning()) return -1;
  const int64_t now = plat::NowMs();
  for (int waited = 0; timer->PassNow() + TzQuickTimer::kTickMs <= now; ++waited) {
    if (waited == 10000) return -1;
    plat::RealSleepMs(1);
  }
  timer->CensusForTest();  // waits for the pass in progress to end
  return 0;
}

}  // extern "C"
