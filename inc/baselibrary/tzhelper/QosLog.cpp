// The logging facade. The facade lock is only ever taken shared, so facade
// lines never wait for one another; it exists so that a future exclusive
// holder (switching where facade lines go) can exclude writers.
#include "tzhelper/QosLog.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "tzhelper/Tzautolock.h"

namespace {

constexpr size_t kFacadeLine = 1024;  // at most 1023 characters and the 0

// Created on first use and never destroyed: host threads may log while the
// process exits.
TzRWLock& FacadeLock() {
  static TzRWLock* lock = new TzRWLock();
  return *lock;
}

// All three writers end here: the finished text goes to the message writer as
// one "%s" argument, so a '%' in it is not read as a format again. `meant` is
// the level its callers check it at (1 for routine lines, 3, 4): the host's
// threshold keeps or drops the line by it, whatever writer carries it.
void FacadeWriteV(int meant, uint64_t category, uint32_t subType, const char* format, va_list args) {
  TzAutoLock guard(&FacadeLock(), false);
  if (!Log::isThisSubTypeOpen(category, meant, 1)) return;  // not worth formatting
  char line[kFacadeLine];
  std::memset(line, 0, sizeof line);
  if (format != nullptr) std::vsnprintf(line, sizeof line, format, args);
  Log::Severity severity(meant);
  Log::writeMessage(category, subType, "%s", line);
}

}  // namespace

bool QosLogIsOpen(uint64_t category, int level) {
  TzAutoLock guard(&FacadeLock(), false);
  return Log::isThisSubTypeOpen(category, level, 1);
}

void QosLogInfo(uint64_t category, uint32_t subType, const char* format, ...) {
  va_list args;
  va_start(args, format);
  FacadeWriteV(Log::kDebug, category, subType, format, args);
  va_end(args);
}

void QosLogWarning(uint64_t category, uint32_t subType, const char* format, ...) {
  va_list args;
  va_start(args, format);
  FacadeWriteV(Log::kWarning, category, subType, format, args);
  va_end(args);
}

void QosLogError(uint64_t category, uint32_t subType, const char* format, ...) {
  va_list args;
  va_start(args, format);
  FacadeWriteV(Log::kError, category, subType, format, args);
  va_end(args);
}
