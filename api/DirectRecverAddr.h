// The fixed receiver address read from "/qosRecverIP.txt": when its port is
// set, every record goes there instead of the server STPRC names.
//
// Thread contract: Set runs on a host thread (SetVeltraneDir), Get on the
// report session's worker; both take lock_, so a reader never sees the ip
// of one setting with the port of another. Never held with another lock.
#pragma once
#include <cstddef>
#include <cstdint>

#include "report/ReportCoordinator.h"
#include "tzhelper/Tzautolock.h"

class DirectRecverAddr {
 public:
  using Value = report::FixedRecverAddr;
  static constexpr size_t kIpCapacity = Value::kIpCapacity;

  DirectRecverAddr() = default;
  DirectRecverAddr(const DirectRecverAddr&) = delete;
  DirectRecverAddr& operator=(const DirectRecverAddr&) = delete;

  // The process-wide instance (empty and 0 until the host names a config
  // directory holding the file).
  static DirectRecverAddr& Global();

  // Stores at most 63 characters of ip (null: empty) together with port.
  void Set(const char* ip, uint16_t port);
  // Both fields, copied together. No allocation.
  Value Get() const;

 private:
  mutable TzLock lock_;
  Value value_ TZ_GUARDED_BY(lock_);
};
