// Helpers shared by the peer tests: a UDP socket playing the client and a
// bounded wait.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "codec.h"
#include "endpoint.h"
#include "udp_socket.h"

namespace vpeer_test {

constexpr uint32_t kLoopback = 0x7F000001;
// A session id of the kind a client's long-lived session has.
constexpr uint32_t kClientSid = 0xFFFFD7FF;

// Polls `pred` every millisecond until it holds or `limitMs` pass.
inline bool WaitFor(const std::function<bool()>& pred, int limitMs = 5000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  while (std::chrono::steady_clock::now() < end) {
    if (pred()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return pred();
}

class TestClient {
 public:
  TestClient() {
    std::string err;
    m_ok = m_sock.Open(vpeer::Endpoint{kLoopback, 0}, &err);
  }
  bool Ok() const { return m_ok; }
  vpeer::Endpoint Local() const { return m_sock.Local(); }

  bool SendRaw(const vpeer::Endpoint& to, const std::vector<uint8_t>& bytes) {
    return m_sock.SendTo(to, bytes.data(), bytes.size());
  }
  bool Send(const vpeer::Endpoint& to, uint32_t msgId, const std::vector<uint8_t>& body,
            bool reliable = false, uint32_t sn = 0, uint32_t destSid = 0) {
    vpeer::MsgHeader h;
    h.msgId = msgId;
    h.srcSid = kClientSid;
    h.destSid = destSid;
    std::vector<uint8_t> bytes;
    vpeer::EncodeData(h, body.data(), body.size(), reliable, sn, &bytes);
    return SendRaw(to, bytes);
  }

  // Next datagram within `limitMs`, or false.
  bool Receive(std::vector<uint8_t>* out, int limitMs = 3000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    std::vector<uint8_t> buf(65536);
    for (;;) {
      vpeer::Endpoint src;
      const long n = m_sock.RecvFrom(buf.data(), buf.size(), &src);
      if (n >= 0) {
        out->assign(buf.begin(), buf.begin() + n);
        return true;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            end - std::chrono::steady_clock::now())
                            .count();
      if (left <= 0) return false;
      const vpeer::NativeSocket fd = m_sock.Fd();
      bool ready = false;
      vpeer::PollReadable(&fd, &ready, 1, static_cast<int>(left));
    }
  }

 private:
  vpeer::UdpSocket m_sock;
  bool m_ok = false;
};

}  // namespace vpeer_test
