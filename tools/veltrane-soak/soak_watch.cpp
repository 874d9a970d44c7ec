#include "soak_watch.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

namespace soak {

namespace {

uint64_t StatusField(const std::string& text, const char* name) {
  const size_t at = text.find(name);
  return at == std::string::npos ? 0 : std::stoull(text.substr(at + strlen(name)));
}

uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

constexpr size_t kCombinedHeader = 4 + 28;  // serialnum, the first block's header
constexpr size_t kEntryHead = 6;            // record word, u16 payload length

}  // namespace

ProcessFigures ReadProcessFigures() {
  ProcessFigures f;
  std::ifstream in("/proc/self/status");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  f.rssKiB = StatusField(text, "VmRSS:");
  f.threads = static_cast<uint32_t>(StatusField(text, "Threads:"));
  std::error_code ec;
  for (auto it = std::filesystem::directory_iterator("/proc/self/fd", ec);
       !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
    ++f.fds;
  return f;
}

LogWatch& LogWatch::Get() {
  static LogWatch* watch = new LogWatch();  // library threads may log after main
  return *watch;
}

void LogWatch::Callback(uint64_t, uint32_t, int level, const char* text) {
  if (text != nullptr) Get().OnLine(level, text);
}

void LogWatch::OnLine(int level, const char* text) {
  if (level >= 4) m_errors.fetch_add(1);
  if (strstr(text, "[Kelvarn][flow][meetId:") != nullptr) {
    m_flowLines.fetch_add(1);
    std::lock_guard<std::mutex> g(m_mu);
    const Clock::time_point now = Clock::now();
    if (m_flowLines.load() > 1)
      m_maxFlowGap = std::max(m_maxFlowGap, std::chrono::duration<double>(now - m_lastFlow).count());
    m_lastFlow = now;
  } else if (const char* r = strstr(text, "[Kelvarn][flow]队列已满拒绝的客户端记录:")) {
    m_refused.fetch_add(std::stoull(r + strlen("[Kelvarn][flow]队列已满拒绝的客户端记录:")));
  } else if (strstr(text, "[Kelvarn][stprc] 收到STPRC地址") != nullptr) {
    std::lock_guard<std::mutex> g(m_mu);
    if (m_listsApplied < m_listTimes.size()) {
      const double lag = std::chrono::duration<double>(Clock::now() - m_listTimes[m_listsApplied]).count();
      m_maxListLag = std::max(m_maxListLag, lag);
    }
    ++m_listsApplied;
  }
}

void LogWatch::NoteListPosted() {
  std::lock_guard<std::mutex> g(m_mu);
  m_listTimes.push_back(Clock::now());
}

uint64_t LogWatch::ListsPosted() {
  std::lock_guard<std::mutex> g(m_mu);
  return m_listTimes.size();
}

uint64_t LogWatch::ListsApplied() {
  std::lock_guard<std::mutex> g(m_mu);
  return m_listsApplied;
}

double LogWatch::MaxFlowGapSec() {
  std::lock_guard<std::mutex> g(m_mu);
  return std::max(m_maxFlowGap, std::chrono::duration<double>(Clock::now() - m_lastFlow).count());
}

double LogWatch::MaxListLagSec() {
  std::lock_guard<std::mutex> g(m_mu);
  double lag = m_maxListLag;
  if (m_listsApplied < m_listTimes.size())  // the oldest list still waiting
    lag = std::max(lag, std::chrono::duration<double>(Clock::now() - m_listTimes[m_listsApplied]).count());
  return lag;
}

SecureLedger::SecureLedger(uint32_t threads) : m_state(threads) {}

void SecureLedger::NotePosted(uint32_t thread, uint32_t seq) {
  std::lock_guard<std::mutex> g(m_mu);
  std::vector<uint8_t>& s = m_state.at(thread);
  if (s.size() <= seq) s.resize(seq + 1, 0);
  if (s[seq] == 0) s[seq] = 1;
  ++m_posted;
}

void SecureLedger::NotePacket(uint32_t serialnum, const uint8_t* body, size_t len) {
  std::lock_guard<std::mutex> g(m_mu);
  if (m_serials.size() <= serialnum / 8) m_serials.resize(serialnum / 8 + 4096, 0);
  uint8_t& bit = m_serials[serialnum / 8];
  if (bit & (1u << (serialnum % 8))) return;
  bit = static_cast<uint8_t>(bit | (1u << (serialnum % 8)));
  ++m_packets;
  for (size_t off = kCombinedHeader; off + kEntryHead <= len;) {
    const size_t payload = static_cast<size_t>(body[off + 4]) | static_cast<size_t>(body[off + 5]) << 8;
    if (off + kEntryHead + payload > len || payload < 8) break;
    const uint32_t thread = Le32(body + off + kEntryHead);
    const uint32_t seq = Le32(body + off + kEntryHead + 4);
    off += kEntryHead + payload;
    if (thread >= m_state.size()) continue;
    std::vector<uint8_t>& s = m_state[thread];
    if (s.size() <= seq) s.resize(seq + 1, 0);
    if (s[seq] == 2) {
      s[seq] = 3;
      ++m_twice;
    } else if (s[seq] != 3) {
      s[seq] = 2;  // also when the post has not been noted yet
      ++m_once;
    }
  }
}

uint64_t SecureLedger::Posted() {
  std::lock_guard<std::mutex> g(m_mu);
  return m_posted;
}
uint64_t SecureLedger::DeliveredOnce() {
  std::lock_guard<std::mutex> g(m_mu);
  return m_once - m_twice;
}
uint64_t SecureLedger::DeliveredTwice() {
  std::lock_guard<std::mutex> g(m_mu);
  return m_twice;
}
uint64_t SecureLedger::Packets() {
  std::lock_guard<std::mutex> g(m_mu);
  return m_packets;
}

}  // namespace soak
