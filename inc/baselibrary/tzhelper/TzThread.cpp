#include "tzhelper/TzThread.h"

#include <new>
#include <thread>

#include "platform/clock.h"
#include "platform/sync.h"
#include "platform/system.h"

namespace {

// Set to 1 on a wrapped thread when its wrapper is destroyed from inside the
// body; the entry then must not touch the freed wrapper any more.
thread_local int t_wrapperDestroyed = 0;

constexpr uint32_t kWaitStepMs = 100;

}  // namespace

// The thread object. "Closing the handle" detaches the thread, which then
// cleans up after itself when it ends.
struct TzThread::Handle {
  std::thread thread;
};

TzThread::TzThread(void* owner, void* arg, Body body) : m_owner(owner), m_arg(arg), m_body(body) {}

// Thread contract: either from the body itself, or from another thread once
// Wait has returned true (or the thread never started). Destroying the wrapper
// from elsewhere while the body still runs leaves the entry a freed wrapper to
// write to on its way out: a programming error.
TzThread::~TzThread() {
  // Events are deleted here rather than right after their last Set, so that
  // the thread that set them has surely left the event before it is freed.
  delete m_runEvent;
  m_runEvent = nullptr;
  delete m_startupEvent;
  m_startupEvent = nullptr;

  uint32_t id = m_threadId.load();
  Handle* h = m_handle.exchange(nullptr);
  if (h) {
    h->thread.detach();
    delete h;
  }
  if (id != 0 && id == plat::CurrentThreadId()) t_wrapperDestroyed = 1;
}

// Thread contract: from the owning thread, never from the wrapped one, and not
// concurrently with itself.
bool TzThread::Start() {
  if (m_running.load() != 0) return true;

  // Left over from an earlier run of this wrapper; that thread has ended.
  delete m_runEvent;
  delete m_startupEvent;
  m_runEvent = new (std::nothrow) plat::Event(false, false);
  m_startupEvent = new (std::nothrow) plat::Event(false, false);
  Handle* h = (m_runEvent && m_startupEvent) ? new (std::nothrow) Handle : nullptr;
  if (h) {
    try {
      h->thread = std::thread(&TzThread::Entry, this);
    } catch (...) {
      delete h;
      h = nullptr;
    }
  }
  if (!h) {
    delete m_runEvent;
    m_runEvent = nullptr;
    delete m_startupEvent;
    m_startupEvent = nullptr;
    return false;
  }
  m_handle.store(h);
  m_running.store(1);

  // The new thread stores its id before it signals, so ThreadId() is valid
  // once Start returns. The body waits for the run event, so it never sees
  // a half-started wrapper.
  m_startupEvent->Wait(plat::kInfinite);
  m_runEvent->Set();
  return true;
}

void TzThread::Entry(TzThread* self) {
  // Windows creates the thread's message queue here; Linux threads have none.
  // The C runtime generator is left alone: it belongs to the host (one state
  // for the whole process here), and the library draws from TzRandom only.

  self->m_threadId.store(plat::CurrentThreadId());
  plat::Event* runEvent = self->m_runEvent;
  self->m_startupEvent->Set();
  runEvent->Wait(plat::kInfinite);

  self->m_body(self->m_owner, self->m_arg);

  if (t_wrapperDestroyed == 1) return;  // the body destroyed the wrapper
  Handle* h = self->m_handle.exchange(nullptr);
  if (h) {
    h->thread.detach();
    delete h;
  }
  self->m_threadId.store(0);
  // Last touch of the wrapper: once running clears, Wait may return and the
  // owner may free it.
  self->m_running.store(0);
}

// Thread contract: any thread. Sleeps through plat::SleepMs, so a test can
// drive it with plat::AdvanceClock.
bool TzThread::Wait(uint32_t timeoutMs) {
  if (m_running.load() == 0) return false;
  if (m_threadId.load() == plat::CurrentThreadId() || m_running.load() == 0) return true;
  uint32_t budget = timeoutMs;
  for (;;) {
    plat::SleepMs(kWaitStepMs);
    if (budget < kWaitStepMs + 1) return false;
    budget -= kWaitStepMs;
    if (m_running.load() == 0) return true;
  }
}
