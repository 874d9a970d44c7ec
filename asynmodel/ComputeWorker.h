// A worker thread: the only consumer of the completion port. Each takes one
// completion at a time and routes it: socket completions to the UDP or TCP
// processor, local events to the target session's OnEventArrived.
//
// Record ownership on the worker: a processor's completion handler that
// returns 2 has taken the record over (freed it or kept it); after 0 or 1 the
// worker delivers the event and frees the record. Local-event records are
// always freed by the worker. The socket item reference that a completed
// operation carried is dropped by the worker after the handler.
//
// Threads: Run, ForceStop and WaitForExit run on the manager's controlling
// thread; ThreadId and IsLive may be read from any thread.
#pragma once
#include <atomic>
#include <cstdint>

class TzThread;

namespace AsynModel {

struct LocalEventIOData;
struct PerIO;
class SOCKET_ITEM;

class ComputeWorker {
 public:
  ComputeWorker();
  // Only once the thread has ended (WaitForExit or ForceStop).
  ~ComputeWorker();
  ComputeWorker(const ComputeWorker&) = delete;
  ComputeWorker& operator=(const ComputeWorker&) = delete;

  // Creates and starts the thread; false (no thread left behind) on failure.
  bool Run();
  // Undoes a failed Init. A Linux thread cannot be killed from outside, so
  // the running flag is cleared and the worker is woken with harmless local
  // events until it has seen the flag and left its loop; then its thread
  // object is deleted. Needs the manager's port to be open. False when the
  // thread is still running (stuck in a handler) after every wake-up.
  bool ForceStop();
  // Deletes a worker whose thread has ended. One whose thread still runs
  // keeps its object for the life of the process (the thread reads it), so
  // a worker is never freed under its own thread.
  static void Dispose(ComputeWorker* worker);
  // Workers Dispose had to keep (tests).
  static uint32_t ParkedCount();
  // Waits without limit for the thread to end (orderly shutdown, after the
  // port has sent the worker its exit record).
  void WaitForExit();
  uint32_t ThreadId() const;
  // The thread exists, has an id, and the worker has not yet taken its exit
  // record. A worker that holds its exit record no longer counts, so that the
  // worker it passes the exit on to does not count it either.
  bool IsLive() const;

  // Exit records taken by all workers of the process (tests count them).
  static uint32_t ExitRecordsTaken();

 private:
  static void Loop(void* owner, void* arg);
  void RunLoop();
  void HandleSocketCompletion(SOCKET_ITEM* item, bool ok, PerIO* perio);
  // True when the record was the worker's exit record.
  bool HandleLocalEvent(LocalEventIOData* rec);

  TzThread* m_thread = nullptr;
  std::atomic<uint8_t> m_running{1};
  std::atomic<uint8_t> m_exitTaken{0};
};

}  // namespace AsynModel
