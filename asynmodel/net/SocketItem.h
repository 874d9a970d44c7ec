// A socket owned by one of the processors. The completion key of a socket
// bound to the port is its item. Valid while the handle is not invalid.
#pragma once
#include <atomic>
#include <cstdint>

#include "platform/socket.h"

namespace plat {
class CompletionPort;
}
#include "tzhelper/TzRefCounter.h"
#include "tzhelper/TzToken.h"

namespace AsynModel {

class SOCKET_ITEM {
 public:
  void AddRef() { m_refCount.fetch_add(1, std::memory_order_relaxed); }
  uint32_t Release() {
    uint32_t n = m_refCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (n == 0) delete this;
    return n;
  }
  bool IsValid() const { return m_socket.load() != plat::kInvalidSocket; }

  std::atomic<plat::Socket> m_socket{plat::kInvalidSocket};
  uint32_t m_sn = 0;                        // unique among the items of its kind
  std::atomic<uint32_t> m_lastUse{0};       // seconds since 1970
  uint8_t m_isUdp = 0;
  TzToken m_token;                          // guards the handle around socket calls
  uint32_t m_localIp = 0;                   // host order
  uint16_t m_localPort = 0;                 // host order

 protected:
  SOCKET_ITEM() = default;
  virtual ~SOCKET_ITEM() = default;
  // Closes the handle once (false when it was already closed), under the
  // token so no socket call is half way through it. The port closes sockets
  // it does not know as plain ones, so a socket whose association failed is
  // closed correctly too; without a port it is a plain close.
  bool CloseHandle(plat::CompletionPort* port);

 private:
  std::atomic<uint32_t> m_refCount{0};
};
typedef TzSptr<SOCKET_ITEM> SptrSocketItem;

// The next entry sn: one process-wide counter for UDP and TCP entries alike,
// so a log line's sn names one socket whatever its kind. Any thread.
uint32_t NextSocketItemSn();

}  // namespace AsynModel
