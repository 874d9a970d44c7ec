// A worker thread: the only consumer of the completion port. Each takes one
// completion at a time and routes it to a processor or a session.
#pragma once
#include <atomic>
#include <cstdint>

class TzThread;

namespace AsynModel {

class ComputeWorker {
 public:
  ComputeWorker();
  ~ComputeWorker();
  ComputeWorker(const ComputeWorker&) = delete;
  ComputeWorker& operator=(const ComputeWorker&) = delete;

  bool Run();
  // Undoes a failed Init: the thread is stopped without an exit event.
  void ForceStop();
  // Waits without limit for the thread to end (orderly shutdown).
  void WaitForExit();
  uint32_t ThreadId() const;
  bool IsLive() const;

 private:
  static void Loop(void* owner, void* arg);
  void RunLoop();
  TzThread* m_thread = nullptr;
  std::atomic<uint8_t> m_running{1};
};

}  // namespace AsynModel
