// Observer of failures of the framework's default network endpoints.
#pragma once
#include <cstdint>

namespace AsynModel {

// ip is dotted text of at most 16 characters, valid only during the call.
// Called on a framework thread under the manager lock: an observer must not
// call back into AsynManager::RegisterEventCallBack.
class SubScribeEventCallBack {
 public:
  virtual void TCPDefaultListenPortFailureCallBack(const char* ip, uint32_t port, int32_t errorType) = 0;
  virtual void UDPDefaultPortFailureCallBack(const char* ip, uint32_t port, int32_t errorType) = 0;

 protected:
  virtual ~SubScribeEventCallBack() = default;
};

struct IPv4AddressRecord {
  uint32_t ip;    // UDP processor: host order; TCP processor: network order
  uint16_t port;  // host order
};

// What a processor reports to AsynManager::InternalEventCallBack.
struct FrameworkEventRecord {
  uint32_t kind;  // 0 TCP default listen failure, 1 UDP default port failure
  uint32_t code;  // the processor's error code (the UDP processor passes 32)
  const IPv4AddressRecord* address;
};

}  // namespace AsynModel
