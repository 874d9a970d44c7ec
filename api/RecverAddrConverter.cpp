#include "api/RecverAddrConverter.h"

#include <cstdio>
#include <string_view>

std::string RecverAddrConverter::Key(const char* ip, int32_t port) {
  if (ip == nullptr) ip = "";
  const int n = snprintf(nullptr, 0, "%s:%d", ip, static_cast<int>(port));
  if (n <= 0) return std::string();
  std::string key(static_cast<size_t>(n) + 1, '\0');
  snprintf(&key[0], key.size(), "%s:%d", ip, static_cast<int>(port));
  key.resize(static_cast<size_t>(n));
  return key;
}

bool RecverAddrConverter::Add(const char* srcIp, int32_t srcPort, const char* dstIp,
                              uint32_t dstPort) {
  AsynModel::PeerAddress value;  // kind 0, everything else zero
  value.SetUdp(dstIp != nullptr ? dstIp : "", static_cast<uint16_t>(dstPort & 0xFFFFu));
  std::string key = Key(srcIp, srcPort);
  if (staging_.size() >= kMaxPairs && staging_.count(key) == 0) return false;
  staging_.emplace(std::move(key), value);  // keeps an existing key's value
  return true;
}

void RecverAddrConverter::End() {
  {
    TzAutoLock guard(&lock_);
    live_ = staging_;
  }
  staging_.clear();
}

bool RecverAddrConverter::Get(const char* ip, int32_t port, AsynModel::PeerAddress* out) const {
  if (out == nullptr) return false;
  if (ip == nullptr) ip = "";
  // The session looks up every record that names its own destination:
  // format the key on the stack, and fall back to a string only for texts
  // no dotted quad needs.
  char small[64];
  const int n = snprintf(small, sizeof(small), "%s:%d", ip, static_cast<int>(port));
  if (n < 0) return false;
  std::string large;
  std::string_view key;
  if (static_cast<size_t>(n) < sizeof(small)) {
    key = std::string_view(small, static_cast<size_t>(n));
  } else {
    large = Key(ip, port);
    key = large;
  }
  TzAutoLock guard(&lock_);
  const auto it = live_.find(key);
  if (it == live_.end()) return false;
  *out = it->second;
  return true;
}

size_t RecverAddrConverter::LiveSize() const {
  TzAutoLock guard(&lock_);
  return live_.size();
}
