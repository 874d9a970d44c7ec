// Thread wrapper with a start handshake: Start returns only once the new
// thread runs, and the body starts only once Start has finished its
// bookkeeping. The wrapper may be destroyed from inside its own body.
#pragma once
#include <atomic>
#include <cstdint>

namespace plat { class Event; }

class TzThread {
 public:
  typedef void (*Body)(void* owner, void* arg);

  TzThread(void* owner, void* arg, Body body);
  ~TzThread();
  TzThread(const TzThread&) = delete;
  TzThread& operator=(const TzThread&) = delete;

  // True when the thread runs (also when it already did). Safe from any
  // thread but the wrapped one.
  bool Start();
  // Waits in 100 ms steps for the body to return. False on timeout or when
  // no thread runs; true at once when called on the thread itself.
  bool Wait(uint32_t timeoutMs);
  bool IsRunning() const { return m_running.load() != 0; }
  uint32_t ThreadId() const { return m_threadId.load(); }

 private:
  static void Entry(TzThread* self);
  struct Handle;
  std::atomic<Handle*> m_handle{nullptr};
  std::atomic<uint32_t> m_threadId{0};
  void* m_owner;
  void* m_arg;
  Body m_body;
  plat::Event* m_runEvent = nullptr;
  plat::Event* m_startupEvent = nullptr;
  std::atomic<uint8_t> m_running{0};
};
