#include "report/CallLogCacheList.h"

#include <cstring>
#include <new>

#include "platform/clock.h"
#include "report/ReportLog.h"
#include "tzhelper/QosLog.h"
#include "tzhelper/TzThread.h"

namespace {
constexpr uint32_t kReadyPollMs = 100;
constexpr uint32_t kStagePeriodMs = 30000;
}  // namespace

std::atomic<CallLogCacheList*> CallLogCacheList::s_instance{nullptr};
std::mutex CallLogCacheList::s_createLock;

CallLogCacheList* CallLogCacheList::GetInstance() {
  CallLogCacheList* p = s_instance.load(std::memory_order_acquire);
  if (p != nullptr) return p;
  std::lock_guard<std::mutex> guard(s_createLock);
  p = s_instance.load(std::memory_order_relaxed);
  if (p == nullptr) {
    p = new (std::nothrow) CallLogCacheList();
    s_instance.store(p, std::memory_order_release);
  }
  return p;
}

CallLogCacheList::CallLogCacheList() {
  // Without its thread the cache still holds and hands out lines; only the
  // ageing stage (which waits for the ready flag anyway) is lost.
  m_thread = new (std::nothrow) TzThread(this, nullptr, &CallLogCacheList::CacheThread);
  if (m_thread != nullptr) m_thread->Start();
}

void CallLogCacheList::CacheThread(void* owner, void*) {
  static_cast<CallLogCacheList*>(owner)->CacheThreadProc();
}

void CallLogCacheList::CacheThreadProc() {
  while (m_ready.load() == 0) plat::RealSleepMs(kReadyPollMs);
  // Reached only once something sets the ready flag and the file paths. The
  // file stage (reading the main file back, rewriting it while dirty) is not
  // part of this build: the lists are kept in memory only.
  for (;;) {
    plat::SleepMs(kStagePeriodMs);
    if (NewCount() != 0) move_new_to_old();
  }
}

int32_t CallLogCacheList::add_call_log(uint64_t guid, const char* text, uint32_t length,
                                       uint32_t log_index, uint64_t start_time) {
  SptrCallLogRecord record(new CallLogRecord());
  if (!record) return -1;
  if (length > CallLogRecord::kMaxText) length = CallLogRecord::kMaxText;
  if (text == nullptr) length = 0;
  if (length != 0) memcpy(record->text, text, length);
  record->length = length;
  record->log_index = log_index;
  record->start_time = start_time;
  record->guid = guid;
  TzAutoLock guard(&m_newLock, true);
  // A guid already in the list is refused by the list, which logs it.
  m_new.push_back(guid, record);
  return 0;
}

int32_t CallLogCacheList::get_call_logs(std::vector<SptrCallLogRecord>* out) {
  TzAutoLock guard(&m_historyLock, false);
  if (out == nullptr || m_history.empty()) return 0;
  for (const auto& item : m_history) {
    if (out->size() >= kMaxBatch) break;
    out->push_back(item.record);
  }
  return 0;
}

int32_t CallLogCacheList::remove_call_log(uint64_t guid) {
  {
    TzAutoLock guard(&m_newLock, true);
    if (m_new.erase(guid) == 0) return 0;
  }
  {
    TzAutoLock guard(&m_historyLock, true);
    if (m_history.erase(guid) != 0) return -1;
  }
  if (QosLogIsOpen(FacadeLogCategory, 1))
    QosLogInfo(FacadeLogCategory, FacadeLogSubType, " CallLogCacheList:: remove_call_log remove %lld succ ",
               static_cast<long long>(guid));
  m_dirty.store(1);
  return 0;
}

void CallLogCacheList::move_new_to_old() {
  TzAutoLock historyGuard(&m_historyLock, true);
  TzAutoLock newGuard(&m_newLock, true);
  const int64_t now = plat::NowMs();
  for (auto it = m_new.begin(); it != m_new.end();) {
    const CallLogRecord& record = *it->record;
    if (now - static_cast<int64_t>(record.start_time) < kAgeMs) {
      ++it;
      continue;
    }
    REPORT_LOG_DEBUG("[Kelvarn] CallLogCacheList:: move_new_to_old %lld 超过 60分钟，加入历史队列中,:%d",
                     static_cast<long long>(record.guid), static_cast<int>(record.length));
    if (m_history.size() >= kHistoryLimit) {
      const size_t drop = m_history.size() - (kHistoryLimit - 1);
      REPORT_LOG_DEBUG("[Kelvarn] CallLogCacheList:: move_new_to_old超过 60分钟，但是队列长度大于%d,需要删除%d个",
                       static_cast<int>(kHistoryLimit), static_cast<int>(drop));
      for (size_t i = 0; i < drop; ++i) m_history.erase(m_history.begin());
    }
    m_history.push_back(it->guid, it->record);
    m_dirty.store(1);
    it = m_new.erase(it);
  }
}

size_t CallLogCacheList::NewCount() {
  TzAutoLock guard(&m_newLock, false);
  return m_new.size();
}

size_t CallLogCacheList::HistoryCount() {
  TzAutoLock guard(&m_historyLock, false);
  return m_history.size();
}
