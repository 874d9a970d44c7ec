// A loopback datagram sink: one thread drains its socket in batches and
// counts what arrives, noting when the last datagram came.
//
// Threads: its own receive thread; the accessors are safe from any thread.
#pragma once
#include <atomic>
#include <cstdint>
#include <thread>

#include "platform/socket.h"

namespace vbench {

constexpr uint32_t kLoopback = 0x7F000001;

// A non-blocking UDP socket bound to 127.0.0.1 on an ephemeral port with
// 4 MiB buffers.
plat::Socket LoopbackSocket();
uint16_t PortOf(plat::Socket s);

class Sink {
 public:
  Sink();
  ~Sink();
  Sink(const Sink&) = delete;
  Sink& operator=(const Sink&) = delete;

  uint16_t Port() const { return port_; }
  uint64_t Count() const { return count_.load(std::memory_order_acquire); }
  int64_t LastArrivalNs() const { return lastNs_.load(std::memory_order_acquire); }
  // Waits until `target` datagrams have arrived or none has come for
  // quietMs; returns the count.
  uint64_t WaitSettled(uint64_t target, int quietMs) const;

 private:
  void Run();

  plat::Socket socket_;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<uint64_t> count_{0};
  std::atomic<int64_t> lastNs_{0};
  std::thread thread_;
};

}  // namespace vbench
