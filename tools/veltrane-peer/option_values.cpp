#include "option_values.h"

#include <cerrno>
#include <cstdlib>

namespace vpeer {

bool ParseUnsigned(const std::string& text, uint64_t maxValue, uint64_t* out) {
  if (text.empty() || text[0] < '0' || text[0] > '9') return false;
  errno = 0;
  char* end = nullptr;
  const unsigned long long v = std::strtoull(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v > maxValue) return false;
  *out = v;
  return true;
}

bool ParseU32(const std::string& text, uint64_t maxValue, uint32_t* out) {
  uint64_t v = 0;
  if (maxValue > 0xFFFFFFFFull) maxValue = 0xFFFFFFFFull;
  if (!ParseUnsigned(text, maxValue, &v)) return false;
  *out = static_cast<uint32_t>(v);
  return true;
}

bool ParsePercent(const std::string& text, double* out) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (errno != 0 || *end != '\0' || !(v >= 0.0 && v <= 100.0)) return false;
  *out = v;
  return true;
}

bool ParseDelay(const std::string& text, uint64_t maxMs, uint32_t* ms, bool* random) {
  static const std::string kRand = "rand:";
  const bool isRandom = text.compare(0, kRand.size(), kRand) == 0;
  uint32_t v = 0;
  if (!ParseU32(isRandom ? text.substr(kRand.size()) : text, maxMs, &v)) return false;
  *ms = v;
  *random = isRandom;
  return true;
}

}  // namespace vpeer
