#include "api/DirectRecverAddr.h"

#include <cstring>

DirectRecverAddr& DirectRecverAddr::Global() {
  static DirectRecverAddr instance;
  return instance;
}

void DirectRecverAddr::Set(const char* ip, uint16_t port) {
  Value v;
  if (ip != nullptr) strncpy(v.ip, ip, kIpCapacity - 1);
  v.port = port;
  TzAutoLock guard(&lock_);
  value_ = v;
}

DirectRecverAddr::Value DirectRecverAddr::Get() const {
  TzAutoLock guard(&lock_);
  return value_;
}
