// The call-log cache: short text lines that the report session reports to log
// receivers one by one, each held under its 64-bit guid until a receiver has
// taken it. Lines are added to the new list; the session reports from the
// history list. Ageing lines from the new list into the history list is the
// cache thread's job, and that thread waits for a ready flag that nothing in
// the library sets, so in this build both lists live in memory only and a
// line stays where it was added until it is removed by guid.
//
// Threads: one process-wide instance, created on first use and never
// destroyed. Every operation may run on any thread; each takes only the lock
// of the list it touches. Lock order when both are held: history lock, then
// new lock.
//
// Ownership: each list holds one reference per record; get_call_logs hands
// out further references, which keep a record alive after it has left the
// cache.
#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "report/SimpleIndexList.h"
#include "tzhelper/TzMemAlloc.h"
#include "tzhelper/TzRefCounter.h"
#include "tzhelper/Tzautolock.h"

class TzThread;

// One cached line. Filled once by add_call_log and read-only afterwards.
class CallLogRecord : public TzRefCounterBase<CallLogRecord>,
                      public TzPooled<CallLogRecord, TzListMemAllocMethod> {
 public:
  static constexpr uint32_t kMaxText = 2048;
  CallLogRecord() = default;

  char text[kMaxText];      // the first length bytes are the line, no terminator
  uint32_t length = 0;
  uint32_t log_index = 0;   // chosen by the adder (100 for statistics lines)
  uint64_t start_time = 0;  // ms since 1970, supplied by the adder
  uint64_t guid = 0;

 protected:
  ~CallLogRecord() override = default;
  friend class TzRefCounterBase<CallLogRecord>;
};
typedef TzSptr<CallLogRecord> SptrCallLogRecord;

class CallLogCacheList {
 public:
  static constexpr size_t kMaxBatch = 5;
  static constexpr uint32_t kHistoryLimit = 1000;
  static constexpr int64_t kAgeMs = 60000;

  // The one instance; the first call constructs it and starts its thread.
  // Null only when it cannot be allocated.
  static CallLogCacheList* GetInstance();

  // 0, or -1 when the record cannot be allocated. A length above 2048 is
  // cut to 2048.
  int32_t add_call_log(uint64_t guid, const char* text, uint32_t length, uint32_t log_index,
                       uint64_t start_time);
  // Appends references to the front lines of the history list while out
  // holds fewer than five. Always 0.
  int32_t get_call_logs(std::vector<SptrCallLogRecord>* out);
  // 0 when the guid was in either list (and is gone now), -1 otherwise.
  int32_t remove_call_log(uint64_t guid);

  // The ageing stage of the cache thread: moves every line of the new list
  // whose age has reached 60 s into the history list (keeping at most 1000
  // there, oldest dropped first). The thread runs it only once ready.
  void move_new_to_old();

  // Read accessors (tests, diagnostics).
  size_t NewCount();
  size_t HistoryCount();
  bool Dirty() const { return m_dirty.load() != 0; }

 private:
  CallLogCacheList();
  ~CallLogCacheList() = delete;  // lives until the process ends
  static void CacheThread(void* owner, void* arg);
  void CacheThreadProc();

  TzRWLock m_historyLock;
  SimpleIndexList<CallLogRecord> m_history TZ_GUARDED_BY(m_historyLock);
  TzRWLock m_newLock;
  SimpleIndexList<CallLogRecord> m_new TZ_GUARDED_BY(m_newLock);
  TzThread* m_thread = nullptr;
  // Where the history list would be kept on disk; nothing sets them.
  std::string m_tempPath;
  std::string m_mainPath;
  std::atomic<uint8_t> m_dirty{0};  // the history list changed since it was last written
  std::atomic<uint8_t> m_ready{0};  // the thread waits for it; nothing sets it

  static std::atomic<CallLogCacheList*> s_instance;
  static std::mutex s_createLock;
};
