// What the report session and the secure channel need from the coordinator
// that owns them. The coordinator lives in the layer above and implements
// this; the session and SecureTransfer get it at construction, so this layer
// never names the coordinator.
//
// Threads: every method may be called from any thread; each takes the lock
// of what it reads. ReportSecurePacket runs inside SecureTransfer's send pass
// with SecureTransfer's lock held, and takes the coordinator lock after it.
#pragma once
#include <cstddef>
#include <cstdint>

#include "asynmodel/PeerAddress.h"

class SecureTransfer;

namespace report {

// The fixed receiver address of the configuration file.
struct FixedRecverAddr {
  // The file's token is at most 63 characters, so is the ip text.
  static constexpr size_t kIpCapacity = 64;
  char ip[kIpCapacity] = {};  // NUL-terminated; empty: not set
  uint16_t port = 0;          // 0: not set
};

}  // namespace report

class IReportCoordinator {
 public:
  // The configuration file's receiver address (port 0: none).
  virtual report::FixedRecverAddr GetFixedRecverAddr() = 0;
  // The conversion map's entry for ip:port; false when it has none.
  virtual bool GetCovertRecverAddr(const char* ip, int32_t port, AsynModel::PeerAddress* out) = 0;
  // The default UDP address (host order), the local end of the session's sends.
  virtual void GetDefaultAddr(uint32_t* ip, uint16_t* port) = 0;
  // The secure channel the session paces and acknowledges.
  virtual SecureTransfer& Secure() = 0;
  // Hands a finished secured packet (bytes and DestTrailer) to the report
  // session; copies the bytes. 0, or the posting refusal.
  virtual int32_t ReportSecurePacket(const void* data, uint32_t length) = 0;

 protected:
  ~IReportCoordinator() = default;  // never deleted through this face
};
