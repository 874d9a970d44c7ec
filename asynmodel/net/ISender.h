// Senders: where a message goes, or where a reply to a received message goes.
// Shared by counted references; the last Release destroys the sender.
#pragma once
#include <atomic>
#include <cstdint>

#include "tzhelper/TzRefCounter.h"

namespace AsynModel {

enum SenderTransport : uint32_t { Transport_Local = 0, Transport_UDP = 1, Transport_TCP = 2 };

class ISender {
 public:
  // Reserved for a future use; -1 for local and UDP senders, 0 for TCP.
  virtual int32_t Reserved(void* a, void* b) = 0;
  // Host byte order. A LocalSender leaves both untouched.
  virtual void GetLocalAddr(uint32_t* ip, uint16_t* port) = 0;
  virtual void GetRemoteAddr(uint32_t* ip, uint16_t* port) = 0;
  virtual void AddRef() = 0;
  virtual uint32_t Release() = 0;
  virtual uint32_t TransportType() = 0;
  virtual bool IsValid() = 0;

 protected:
  virtual ~ISender() = default;
};
typedef TzSptr<ISender> SptrISender;

// Reference counting shared by the concrete senders.
class BaseSender : public ISender {
 public:
  void AddRef() override { m_refCount.fetch_add(1, std::memory_order_relaxed); }
  uint32_t Release() override {
    uint32_t n = m_refCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (n == 0) delete this;
    return n;
  }

 protected:
  BaseSender() = default;
  ~BaseSender() override = default;

 private:
  std::atomic<uint32_t> m_refCount{0};
};

}  // namespace AsynModel
