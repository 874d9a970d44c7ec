// Support for the end-to-end suite: a plain loopback UDP socket that plays a
// server (decoding with the peer's independent codec), and a collector of the
// library's log lines through its exported log callback.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "codec.h"
#include "endpoint.h"
#include "temp_dir.h"
#include "udp_socket.h"
#include "wait_util.h"

namespace e2e {

struct Received {
  std::vector<uint8_t> bytes;  // the whole datagram
  vpeer::Verdict verdict = vpeer::Verdict::kOk;
  vpeer::Datagram d;           // d.body points into bytes
  vpeer::Endpoint from;
  std::vector<uint8_t> Body() const { return std::vector<uint8_t>(d.body, d.body + d.bodyLen); }
};

class TestServer {
 public:
  TestServer();  // binds 127.0.0.1 with a system-chosen port
  uint16_t Port() const { return m_sock.Local().port; }
  vpeer::Endpoint Local() const { return m_sock.Local(); }
  // Next datagram within timeoutMs of real time; false on timeout.
  bool Receive(Received* out, int timeoutMs = 3000);
  // Next datagram carrying msgId (others are skipped); false on timeout.
  bool ReceiveMsg(uint32_t msgId, Received* out, int timeoutMs = 3000);
  // Whether nothing at all arrives within ms.
  bool Silent(int ms);
  // Discards whatever arrives until quietMs pass without a datagram.
  void Drain(int quietMs = 100);
  bool SendData(const vpeer::Endpoint& to, uint32_t msgId, uint32_t srcSid, uint32_t destSid,
                const std::vector<uint8_t>& body, bool reliable = false, uint32_t sn = 0);
  bool SendRaw(const vpeer::Endpoint& to, const std::vector<uint8_t>& bytes);

 private:
  vpeer::UdpSocket m_sock;
};

// Every line the library logs while it is installed (VELT_SetLogCallback).
class LogCollector {
 public:
  explicit LogCollector(int level = 1);
  ~LogCollector();
  size_t Count(const std::string& needle) const;
  bool WaitFor(const std::string& needle, size_t n = 1, int timeoutMs = 5000) const;
  std::vector<std::string> Lines() const;
};

// Bytes of a StpAddrResp (6802).
std::vector<uint8_t> StpAddrResp(const char* ip, uint16_t port, uint32_t result);

}  // namespace e2e
