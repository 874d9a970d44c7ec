#include "endpoint.h"

#include <cstdio>

namespace vpeer {

namespace {

// Reads a decimal number of at most `maxDigits` digits starting at *pos and
// no larger than `maxValue`; advances *pos past it.
bool ReadNumber(const std::string& text, size_t* pos, size_t maxDigits, uint32_t maxValue,
                uint32_t* out) {
  size_t i = *pos;
  uint32_t value = 0;
  size_t digits = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    if (++digits > maxDigits) return false;
    value = value * 10 + static_cast<uint32_t>(text[i] - '0');
    ++i;
  }
  if (digits == 0 || value > maxValue) return false;
  *pos = i;
  *out = value;
  return true;
}

bool ParseIpAt(const std::string& text, size_t* pos, uint32_t* ip) {
  uint32_t result = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (*pos >= text.size() || text[*pos] != '.') return false;
      ++*pos;
    }
    uint32_t octet = 0;
    if (!ReadNumber(text, pos, 3, 255, &octet)) return false;
    result = (result << 8) | octet;
  }
  *ip = result;
  return true;
}

}  // namespace

std::string IpToString(uint32_t ip) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", (ip >> 24) & 0xFFu, (ip >> 16) & 0xFFu,
                (ip >> 8) & 0xFFu, ip & 0xFFu);
  return buf;
}

std::string Endpoint::ToString() const {
  return IpToString(ip) + ":" + std::to_string(port);
}

bool ParseIp(const std::string& text, uint32_t* ip) {
  size_t pos = 0;
  uint32_t value = 0;
  if (!ParseIpAt(text, &pos, &value) || pos != text.size()) return false;
  *ip = value;
  return true;
}

bool ParseEndpoint(const std::string& text, Endpoint* out) {
  size_t pos = 0;
  uint32_t ip = 0;
  uint32_t port = 0;
  if (!ParseIpAt(text, &pos, &ip)) return false;
  if (pos >= text.size() || text[pos] != ':') return false;
  ++pos;
  if (!ReadNumber(text, &pos, 5, 65535, &port) || pos != text.size()) return false;
  out->ip = ip;
  out->port = static_cast<uint16_t>(port);
  return true;
}

}  // namespace vpeer
