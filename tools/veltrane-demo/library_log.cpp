#include "library_log.h"

#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdlib>
#include <cstring>

#include "veltrane.h"

namespace vdemo {

namespace {

// The library's own texts for the moments the demo reports.
const char kDiscoveredLine[] = "[Kelvarn]STP发送来的地址为:";
const char kBoundLine[] = "[Kelvarn][IPRESET]重新设置默认UDP地址成功, addr:";
const char kBindFailedLine[] = "[Kelvarn][IPRESET]重新设置默认UDP地址失败";
const char kLineEnd[] = "！！";
const char kFlowLine[] = "[Kelvarn][flow][meetId:";
const char kFlowIn[] = "收到的客户端postmsg传来的记录:";
const char kFlowOut[] = "postmsg出去的记录:";

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The text after `prefix` up to `end` (or the end of the line).
std::string After(const char* text, const char* prefix, const char* end) {
  std::string rest(text + std::strlen(prefix));
  const size_t cut = end != nullptr ? rest.find(end) : std::string::npos;
  return cut == std::string::npos ? rest : rest.substr(0, cut);
}

bool StartsWith(const char* text, const char* prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// The decimal number right after `label` in `text`; 0 when absent.
uint64_t NumberAfter(const char* text, const char* label) {
  const char* p = std::strstr(text, label);
  if (p == nullptr) return 0;
  return std::strtoull(p + std::strlen(label), nullptr, 10);
}

}  // namespace

LibraryLog& LibraryLog::Instance() {
  // Deliberately leaked: see the header.
  static LibraryLog* const instance = new LibraryLog();
  return *instance;
}

bool LibraryLog::Install(const std::string& path, std::string* err) {
  {
    std::lock_guard<std::mutex> g(m_mu);
    m_startMs = NowMs();
    if (!path.empty()) {
      m_file = std::fopen(path.c_str(), "a");
      if (m_file == nullptr) {
        *err = "cannot open log file " + path + ": " + std::strerror(errno);
        return false;
      }
    }
  }
  VELT_SetLogCallback(&LibraryLog::OnLine);
  return true;
}

void LibraryLog::OnLine(uint64_t category, uint32_t subType, int level, const char* text) {
  Instance().Handle(category, subType, level, text != nullptr ? text : "");
}

void LibraryLog::Handle(uint64_t category, uint32_t subType, int level, const char* text) {
  std::lock_guard<std::mutex> g(m_mu);
  ++m_counts.lines;
  if (level == 3) ++m_counts.warnings;
  if (level >= 4) ++m_counts.errors;
  if (StartsWith(text, kFlowLine)) {
    ++m_counts.flowLines;
    m_counts.flowIn += NumberAfter(text, kFlowIn);
    m_counts.flowOut += NumberAfter(text, kFlowOut);
  } else if (StartsWith(text, kDiscoveredLine)) {
    m_discovered = After(text, kDiscoveredLine, kLineEnd);
    m_notes.push_back("library: QoS server " + m_discovered + " learnt from STPRC");
  } else if (StartsWith(text, kBoundLine)) {
    m_bound = After(text, kBoundLine, nullptr);
    m_notes.push_back("library: bound " + m_bound);
  } else if (StartsWith(text, kBindFailedLine) && !m_bindFailureNoted) {
    // A failed pass repeats at once; one note says enough.
    m_bindFailureNoted = true;
    m_notes.push_back(std::string("library: ") + text);
  }
  if (m_file != nullptr) {
    const int64_t ms = NowMs() - m_startMs;
    std::fprintf(m_file, "%7" PRId64 ".%03d L%d %016" PRIx64 "/%u %s\n", ms / 1000,
                 static_cast<int>(ms % 1000), level, category, subType, text);
  }
}

LogCounts LibraryLog::Counts() const {
  std::lock_guard<std::mutex> g(m_mu);
  return m_counts;
}

std::string LibraryLog::Discovered() const {
  std::lock_guard<std::mutex> g(m_mu);
  return m_discovered;
}

std::string LibraryLog::Bound() const {
  std::lock_guard<std::mutex> g(m_mu);
  return m_bound;
}

std::vector<std::string> LibraryLog::TakeNotes() {
  std::lock_guard<std::mutex> g(m_mu);
  std::vector<std::string> out;
  out.swap(m_notes);
  return out;
}

void LibraryLog::Flush() {
  std::lock_guard<std::mutex> g(m_mu);
  if (m_file != nullptr) std::fflush(m_file);
}

}  // namespace vdemo
