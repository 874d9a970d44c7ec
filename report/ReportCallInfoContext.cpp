#include "report/ReportCallInfoContext.h"

#include <atomic>
#include <cstring>

#include "tzhelper/TzRandom.h"

namespace {
std::atomic<uint32_t> g_guidCounter{0};
}  // namespace

uint64_t ReportCallInfoContext::NewGuid() {
  const uint32_t counter = g_guidCounter.fetch_add(1) + 1;
  uint64_t random = 0;
  for (int i = 0; i < 8; ++i) random = random * 10 + TzRandom(0, 9);
  const int64_t widened = static_cast<int32_t>(counter);
  return static_cast<uint64_t>(widened) | (random << 32);
}

TzSptr<ReportCallInfoContext> ReportCallInfoContext::Make(const char* text, uint32_t length) {
  if (length > kMaxText || (text == nullptr && length != 0)) return nullptr;
  TzSptr<ReportCallInfoContext> ctx(new ReportCallInfoContext());
  if (!ctx) return nullptr;
  if (length != 0) memcpy(ctx->text, text, length);
  ctx->text_len = length;
  return ctx;
}

int ReportCallInfoContext::WriteCommand(uint8_t* out, size_t cap) const {
  report::ReportCmdFields f;
  f.version = version;
  f.name = name;
  f.text = reinterpret_cast<const uint8_t*>(text);
  f.textLen = text_len;
  f.attempt = attempt;
  f.log_index = log_index;
  f.elapsed = elapsed;
  f.guid = guid_copy;
  return report::WriteReportCmd(f, out, cap);
}

bool ReportCallInfoContext::BracketKey(const char** key, uint32_t* keyLength) const {
  const char* open = static_cast<const char*>(memchr(text, '[', text_len));
  if (open == nullptr) return false;
  const char* from = open + 1;
  const size_t rest = text_len - static_cast<size_t>(from - text);
  const char* close = static_cast<const char*>(memchr(from, ']', rest));
  if (close == nullptr || close == from) return false;
  *key = from;
  *keyLength = static_cast<uint32_t>(close - from);
  return true;
}
