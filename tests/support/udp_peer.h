// The far side of the unit tests' UDP traffic: a plain socket on 127.0.0.1
// with a system-chosen port, and datagram images written independently of
// the library's builder. One thread uses a Peer at a time.
#pragma once
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"

namespace udptest {

class Peer {
 public:
  Peer() : s_(plat::UdpSocket()) {
    plat::BindSocket(s_, plat::MakeAddr(kLoopback, 0));
    plat::SockAddrIn a{};
    plat::GetSockName(s_, &a);
    port_ = plat::NetToHost16(a.portBe);
    plat::SetSocketBuffers(s_, 4 << 20, 4 << 20);
  }
  ~Peer() { plat::CloseSocket(s_); }
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  uint16_t Port() const { return port_; }

  void SendTo(uint16_t port, const std::vector<uint8_t>& bytes) const {
    plat::SendToNow(s_, bytes.data(), static_cast<uint32_t>(bytes.size()), plat::MakeAddr(kLoopback, port));
  }

  // One datagram within timeoutMs of real time; false when none came.
  bool Recv(std::vector<uint8_t>* out, int timeoutMs, uint16_t* fromPort = nullptr) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::vector<uint8_t> buf(70000);
    plat::SockAddrIn from{};
    for (;;) {
      const int32_t n = plat::RecvFromNow(s_, buf.data(), static_cast<uint32_t>(buf.size()), &from);
      if (n >= 0) {
        out->assign(buf.begin(), buf.begin() + n);
        if (fromPort) *fromPort = plat::NetToHost16(from.portBe);
        return true;
      }
      if (plat::LastSocketError() != plat::kSockWouldBlock || std::chrono::steady_clock::now() >= deadline) {
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }

 private:
  static constexpr uint32_t kLoopback = 0x7F000001;
  plat::Socket s_;
  uint16_t port_ = 0;
};

// A port that was free a moment ago (for sockets that must not take the
// default's port through the (ip, 0) substitution).
inline uint16_t FreeUdpPort() {
  Peer probe;
  return probe.Port();
}

inline void PutLe16(std::vector<uint8_t>* v, uint16_t x) {
  v->push_back(static_cast<uint8_t>(x));
  v->push_back(static_cast<uint8_t>(x >> 8));
}
inline void PutLe32(std::vector<uint8_t>* v, uint32_t x) {
  for (int i = 0; i < 4; ++i) v->push_back(static_cast<uint8_t>(x >> (8 * i)));
}
inline uint32_t GetLe32(const std::vector<uint8_t>& v, size_t at) {
  return static_cast<uint32_t>(v[at]) | (static_cast<uint32_t>(v[at + 1]) << 8) |
         (static_cast<uint32_t>(v[at + 2]) << 16) | (static_cast<uint32_t>(v[at + 3]) << 24);
}

// A data datagram: reliable with sn when `reliable`, else the 8-byte header
// with `flag6` at offset 6.
inline std::vector<uint8_t> DataDatagram(uint32_t msgId, uint32_t srcSid, uint32_t destSid,
                                         const std::string& body, bool reliable = false,
                                         uint32_t sn = 0, uint8_t flag6 = 0) {
  const uint32_t header = reliable ? 12 : 8;
  std::vector<uint8_t> v;
  PutLe16(&v, 1);
  PutLe16(&v, static_cast<uint16_t>(header + 16 + body.size()));
  PutLe16(&v, 0);
  v.push_back(reliable ? 1 : flag6);
  v.push_back(0);
  if (reliable) PutLe32(&v, sn);
  PutLe32(&v, 1);
  PutLe32(&v, msgId);
  PutLe32(&v, srcSid);
  PutLe32(&v, destSid);
  v.insert(v.end(), body.begin(), body.end());
  return v;
}

inline std::vector<uint8_t> AckDatagram(uint32_t sn) {
  std::vector<uint8_t> v;
  PutLe16(&v, 1);
  PutLe16(&v, 12);
  PutLe16(&v, 0);
  v.push_back(1);
  v.push_back(1);
  PutLe32(&v, sn);
  return v;
}

}  // namespace udptest
