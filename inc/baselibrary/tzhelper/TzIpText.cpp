#include "tzhelper/TzIpText.h"

namespace tzip {

bool ParseDottedIpv4(const char* text, size_t maxLen, uint32_t* hostOrder) {
  if (text == nullptr) return false;
  uint32_t value = 0;
  size_t i = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (i >= maxLen || text[i] != '.') return false;
      ++i;
    }
    uint32_t number = 0;
    size_t digits = 0;
    while (i < maxLen && text[i] >= '0' && text[i] <= '9' && digits < 4) {
      number = number * 10 + static_cast<uint32_t>(text[i] - '0');
      ++digits;
      ++i;
    }
    if (digits == 0 || digits > 3 || number > 255) return false;
    // "010" is octal to the system parser and decimal to a reader: refused.
    if (digits > 1 && text[i - digits] == '0') return false;
    value = (value << 8) | number;
  }
  if (i < maxLen && text[i] != '\0') return false;
  if (hostOrder != nullptr) *hostOrder = value;
  return true;
}

bool ParseUnicastIpv4(const char* text, size_t maxLen, uint32_t* hostOrder) {
  uint32_t value = 0;
  if (!ParseDottedIpv4(text, maxLen, &value)) return false;
  if (value == 0 || value == 0xFFFFFFFFu) return false;
  if (hostOrder != nullptr) *hostOrder = value;
  return true;
}

}  // namespace tzip
