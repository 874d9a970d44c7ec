// The Log_writer calls: check the level, format the line on the stack, hand
// it to the sink. Where lines go is LogSinks' business.
#include "platform/log.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <string>

#include "platform/common/log_sinks.h"

namespace {

constexpr size_t kStackLine = 2048;
// Longer lines are formatted on the heap up to this length, and cut there.
constexpr size_t kMaxLine = 64 * 1024;

thread_local int t_severity = 0;  // 0: lines are kept by their writer's level

void WriteV(int level, uint64_t category, uint32_t subType, const char* format, va_list args) {
  const int meant = t_severity != 0 ? t_severity : level;
  if (format == nullptr || meant < LogSinks::Level()) return;
  char line[kStackLine];
  va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(line, sizeof line, format, args);
  if (n < 0) {
    va_end(again);
    return;  // a format the C library rejects: nothing sensible to write
  }
  if (static_cast<size_t>(n) < sizeof line) {
    va_end(again);
    LogSinks::Deliver(level, category, subType, line);
    return;
  }
  try {
    std::string big(std::min(static_cast<size_t>(n), kMaxLine - 1) + 1, '\0');
    std::vsnprintf(&big[0], big.size(), format, again);
    va_end(again);
    LogSinks::Deliver(level, category, subType, big.c_str());
  } catch (...) {
    va_end(again);
    LogSinks::Deliver(level, category, subType, line);  // no memory: the cut line
  }
}

}  // namespace

void Log::open(bool /*flag*/, const char* /*options*/, bool /*flag2*/) { LogSinks::Open(); }

void Log::writeDebug(uint64_t category, uint32_t subType, const char* format, ...) {
  va_list args;
  va_start(args, format);
  WriteV(kDebug, category, subType, format, args);
  va_end(args);
}

void Log::writeMessage(uint64_t category, uint32_t subType, const char* format, ...) {
  va_list args;
  va_start(args, format);
  WriteV(kMessage, category, subType, format, args);
  va_end(args);
}

void Log::writeWarning(uint64_t category, uint32_t subType, const char* format, ...) {
  va_list args;
  va_start(args, format);
  WriteV(kWarning, category, subType, format, args);
  va_end(args);
}

void Log::writeError(uint64_t category, uint32_t subType, const char* format, ...) {
  va_list args;
  va_start(args, format);
  WriteV(kError, category, subType, format, args);
  va_end(args);
}

bool Log::isThisSubTypeOpen(uint64_t /*category*/, int level, uint8_t /*flag*/) {
  return level >= LogSinks::Level();
}

void Log::SetCallbackSink(VeltLogCallback cb) { LogSinks::SetCallback(cb); }

bool Log::SetFileSink(const char* path) { return LogSinks::SetFile(path); }

Log::Severity::Severity(int level) : previous_(t_severity) { t_severity = level; }

Log::Severity::~Severity() { t_severity = previous_; }

void Log::SetLevel(int level) { LogSinks::SetLevel(level); }

int Log::GetLevel() { return LogSinks::Level(); }

void Log::Flush() { LogSinks::Flush(); }
