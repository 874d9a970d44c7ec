#include "adjust_callbacks.h"

#include <cstring>

#include "demo_record.h"

namespace vdemo {

AdjustCallbacks& AdjustCallbacks::Instance() {
  // Deliberately leaked: see the header.
  static AdjustCallbacks* const instance = new AdjustCallbacks();
  return *instance;
}

void AdjustCallbacks::Expect(const std::vector<vpeer::AdjustNotify>& notes) {
  std::lock_guard<std::mutex> g(m_mu);
  m_expect = notes;
  m_calls.assign(notes.size(), 0);
  m_counts = CallbackCounts{};
}

void AdjustCallbacks::OnAdjust(int kind, void* record) { Instance().Handle(kind, record); }

void AdjustCallbacks::Handle(int kind, const void* record) {
  uint32_t index = 0;
  const bool named = IndexOfCallback(kind, record, &index);
  std::lock_guard<std::mutex> g(m_mu);
  ++m_counts.calls;
  if (!named || index >= m_expect.size()) {
    ++m_counts.invalid;
    return;
  }
  const vpeer::AdjustNotify& n = m_expect[index];
  const bool uplink = IsUplink(index);
  const std::vector<uint8_t> want = uplink ? ExpectedUplink(n) : ExpectedDownlink(n);
  if (kind != (uplink ? 0 : 1) || std::memcmp(want.data(), record, want.size()) != 0) {
    ++m_counts.invalid;
    return;
  }
  if (m_calls[index]++ == 0) {
    ++m_counts.distinct;
    ++(uplink ? m_counts.uplink : m_counts.downlink);
  } else {
    ++m_counts.repeats;
  }
}

CallbackCounts AdjustCallbacks::Snapshot() const {
  std::lock_guard<std::mutex> g(m_mu);
  return m_counts;
}

}  // namespace vdemo
