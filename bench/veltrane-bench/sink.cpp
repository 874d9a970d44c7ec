#include "sink.h"

#include <chrono>

#include "harness.h"
#include "platform/socket_batch.h"

namespace vbench {

plat::Socket LoopbackSocket() {
  plat::Socket s = plat::UdpSocket();
  plat::BindSocket(s, plat::MakeAddr(kLoopback, 0));
  plat::SetSocketBuffers(s, 4 << 20, 4 << 20);
  return s;
}

uint16_t PortOf(plat::Socket s) {
  plat::SockAddrIn a{};
  plat::GetSockName(s, &a);
  return plat::NetToHost16(a.portBe);
}

Sink::Sink() : socket_(LoopbackSocket()) {
  port_ = PortOf(socket_);
  thread_ = std::thread([this] { Run(); });
}

Sink::~Sink() {
  stop_.store(true);
  thread_.join();
  plat::CloseSocket(socket_);
}

void Sink::Run() {
  constexpr uint32_t kBatch = plat::kMaxDatagramBatch;
  constexpr uint32_t kCap = 2048;
  static thread_local uint8_t storage[kBatch][kCap];
  void* bufs[kBatch];
  uint32_t sizes[kBatch];
  for (uint32_t i = 0; i < kBatch; ++i) bufs[i] = storage[i];
  int idle = 0;
  while (!stop_.load(std::memory_order_relaxed)) {
    const int32_t n = plat::RecvBatchNow(socket_, bufs, kCap, kBatch, sizes);
    if (n > 0) {
      lastNs_.store(NowNs(), std::memory_order_relaxed);
      count_.fetch_add(static_cast<uint64_t>(n), std::memory_order_release);
      idle = 0;
    } else if (++idle < 64) {
      std::this_thread::yield();
    } else {
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
  }
}

uint64_t Sink::WaitSettled(uint64_t target, int quietMs) const {
  uint64_t seen = Count();
  int64_t lastChange = NowNs();
  while (seen < target && NowNs() - lastChange < int64_t{quietMs} * 1000000) {
    std::this_thread::sleep_for(std::chrono::microseconds(200));
    const uint64_t now = Count();
    if (now != seen) {
      seen = now;
      lastChange = NowNs();
    }
  }
  return seen;
}

}  // namespace vbench
