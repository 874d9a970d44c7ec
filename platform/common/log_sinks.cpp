// The process-wide log sink: nothing (before Log::open), a rotating file
// through spdlog, a host callback, or a LogCapture. One shared_mutex guards
// the choice; writers take it shared and only long enough to pick the sink,
// so file I/O and host callbacks run outside it.
#include "platform/common/log_sinks.h"

#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/spdlog.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <shared_mutex>

namespace {

enum SinkKind : int { kNone = 0, kFile = 1, kCallback = 2, kCapture = 3 };

constexpr const char* kDefaultFile = "veltrane.log";
constexpr size_t kRotateBytes = 10 * 1024 * 1024;
constexpr size_t kRotateFiles = 5;

struct SinkState {
  std::shared_mutex mu;
  int kind = kNone;
  // The file sink; null with kind == kFile means the default file, opened on
  // the first line.
  std::shared_ptr<spdlog::logger> file;
  VeltLogCallback callback = nullptr;
  LogCapture* capture = nullptr;
  bool opened = false;
  bool defaultFailed = false;  // the default file could not be created
};

std::atomic<int> g_level{Log::kMessage};

// Never destroyed: threads of the host may still log while the process exits.
SinkState& State() {
  static SinkState* state = new SinkState();
  return *state;
}

spdlog::level::level_enum SpdLevel(int level) {
  switch (level) {
    case Log::kDebug: return spdlog::level::debug;
    case Log::kWarning: return spdlog::level::warn;
    case Log::kError: return spdlog::level::err;
    default: return spdlog::level::info;
  }
}

// Null when the file cannot be opened.
std::shared_ptr<spdlog::logger> MakeFileLogger(const char* path) {
  try {
    auto sink = std::make_shared<spdlog::sinks::rotating_file_sink_mt>(path, kRotateBytes, kRotateFiles);
    // Not registered with spdlog's registry: several files may be opened over
    // the life of the process under the same name.
    auto logger = std::make_shared<spdlog::logger>("veltrane", std::move(sink));
    logger->set_pattern("%Y-%m-%d %H:%M:%S.%e %l [%t] %v");
    logger->set_level(spdlog::level::trace);  // the threshold is applied before formatting
    logger->flush_on(spdlog::level::trace);   // a crash of the host must not lose lines
    return logger;
  } catch (...) {
    return nullptr;
  }
}

// Creates the default file for the first line after open().
std::shared_ptr<spdlog::logger> OpenDefaultFile() {
  SinkState& s = State();
  std::unique_lock<std::shared_mutex> lk(s.mu);
  if (s.kind != kFile) return nullptr;
  if (!s.file && !s.defaultFailed) {
    s.file = MakeFileLogger(kDefaultFile);
    if (!s.file) {
      s.defaultFailed = true;  // do not retry on every line
      std::fprintf(stderr, "veltrane: cannot open log file %s; log lines are dropped\n", kDefaultFile);
    }
  }
  return s.file;
}

}  // namespace

void LogSinks::Deliver(int level, uint64_t category, uint32_t subType, const char* text) {
  SinkState& s = State();
  std::shared_ptr<spdlog::logger> file;
  VeltLogCallback callback = nullptr;
  bool needDefault = false;
  try {
    {
      std::shared_lock<std::shared_mutex> lk(s.mu);
      switch (s.kind) {
        case kCapture:
          // Under the lock: ~LogCapture takes it exclusively, so the capture
          // outlives every line being delivered to it.
          s.capture->Append(category, subType, level, text);
          return;
        case kCallback:
          callback = s.callback;
          break;
        case kFile:
          file = s.file;
          needDefault = !file && !s.defaultFailed;
          break;
        default:
          return;
      }
    }
    if (callback != nullptr) {
      callback(category, subType, level, text);
      return;
    }
    if (needDefault) file = OpenDefaultFile();
    if (file) file->log(SpdLevel(level), "[{:#x}:{}] {}", category, subType, text);
  } catch (...) {
    // A log line is never worth an exception in the caller (a throwing host
    // callback, or no memory for a captured line).
  }
}

void LogSinks::Open() {
  SinkState& s = State();
  std::unique_lock<std::shared_mutex> lk(s.mu);
  if (s.opened) return;
  s.opened = true;
  if (s.kind == kNone) s.kind = kFile;
}

void LogSinks::SetCallback(VeltLogCallback cb) {
  SinkState& s = State();
  std::unique_lock<std::shared_mutex> lk(s.mu);
  s.callback = cb;
  s.kind = cb != nullptr ? kCallback : kFile;
}

bool LogSinks::SetFile(const char* path) {
  if (path == nullptr || *path == '\0') return false;
  std::shared_ptr<spdlog::logger> logger = MakeFileLogger(path);
  if (!logger) return false;
  SinkState& s = State();
  std::unique_lock<std::shared_mutex> lk(s.mu);
  s.file.swap(logger);  // the old file closes when `logger` goes, after the lock
  s.kind = kFile;
  s.defaultFailed = false;
  lk.unlock();
  return true;
}

void LogSinks::Flush() {
  SinkState& s = State();
  std::shared_ptr<spdlog::logger> file;
  {
    std::shared_lock<std::shared_mutex> lk(s.mu);
    file = s.file;
  }
  if (!file) return;
  try {
    file->flush();
  } catch (...) {
  }
}

int LogSinks::Level() { return g_level.load(std::memory_order_relaxed); }

void LogSinks::SetLevel(int level) { g_level.store(level, std::memory_order_relaxed); }

LogSinkSnapshot LogSinks::InstallCapture(LogCapture* capture) {
  SinkState& s = State();
  std::unique_lock<std::shared_mutex> lk(s.mu);
  LogSinkSnapshot previous;
  previous.kind = s.kind;
  previous.file = s.file;
  previous.callback = s.callback;
  previous.capture = s.capture;
  previous.level = g_level.exchange(Log::kDebug);
  s.kind = kCapture;
  s.capture = capture;
  return previous;
}

void LogSinks::Restore(const LogSinkSnapshot& previous) {
  SinkState& s = State();
  std::unique_lock<std::shared_mutex> lk(s.mu);
  s.kind = previous.kind;
  s.file = previous.file;
  s.callback = previous.callback;
  s.capture = previous.capture;
  g_level.store(previous.level);
}
