// In-memory log sink for tests. Lines arrive from any thread; readers copy
// or count under the capture's own lock.
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/common/log_sinks.h"
#include "platform/log.h"

struct LogCapture::State {
  mutable std::mutex mu;
  mutable std::condition_variable cv;
  std::vector<LogLine> lines;
  LogSinkSnapshot previous;

  size_t CountLocked(const std::string& needle) const {
    size_t n = 0;
    for (const LogLine& l : lines) {
      if (l.text.find(needle) != std::string::npos) ++n;
    }
    return n;
  }
};

LogCapture::LogCapture() : state_(new State()) { state_->previous = LogSinks::InstallCapture(this); }

LogCapture::~LogCapture() {
  // Restore takes the sink lock exclusively, so no line is still being
  // appended to this capture once it returns.
  LogSinks::Restore(state_->previous);
}

void LogCapture::Append(uint64_t category, uint32_t subType, int level, const char* text) {
  {
    std::lock_guard<std::mutex> g(state_->mu);
    state_->lines.push_back(LogLine{category, subType, level, text});
  }
  state_->cv.notify_all();
}

std::vector<LogLine> LogCapture::Lines() const {
  std::lock_guard<std::mutex> g(state_->mu);
  return state_->lines;
}

size_t LogCapture::Count(const std::string& needle) const {
  std::lock_guard<std::mutex> g(state_->mu);
  return state_->CountLocked(needle);
}

void LogCapture::Clear() {
  std::lock_guard<std::mutex> g(state_->mu);
  state_->lines.clear();
}

bool LogCapture::WaitFor(const std::string& needle, size_t n, int timeoutMs) const {
  // Real time on purpose: a test that moves the virtual clock must not make
  // this give up early.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  std::unique_lock<std::mutex> lk(state_->mu);
  return state_->cv.wait_until(lk, deadline, [&] { return state_->CountLocked(needle) >= n; });
}
