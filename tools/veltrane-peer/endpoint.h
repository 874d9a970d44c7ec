// An IPv4 address and port as the peer handles them: both in host order, so
// comparisons and printing need no conversion. Only udp_socket.cpp turns them
// into socket addresses.
#pragma once

#include <cstdint>
#include <string>

namespace vpeer {

struct Endpoint {
  uint32_t ip = 0;    // host order: 127.0.0.1 is 0x7F000001
  uint16_t port = 0;  // host order

  bool operator==(const Endpoint& o) const { return ip == o.ip && port == o.port; }
  bool operator!=(const Endpoint& o) const { return !(*this == o); }
  bool operator<(const Endpoint& o) const {
    return ip != o.ip ? ip < o.ip : port < o.port;
  }
  bool Empty() const { return ip == 0 && port == 0; }

  // "a.b.c.d:port"
  std::string ToString() const;
};

// Dotted text "a.b.c.d" (exactly four decimal parts of 0..255) into a host
// order address. Returns false for anything else.
bool ParseIp(const std::string& text, uint32_t* ip);

// "a.b.c.d:port" with port 0..65535. Returns false for anything else.
bool ParseEndpoint(const std::string& text, Endpoint* out);

// "a.b.c.d"
std::string IpToString(uint32_t ip);

// 127.0.0.0/8: the only addresses the peer talks to unless told otherwise,
// so that a test run can never put a datagram on a real network.
inline bool IsLoopback(uint32_t ip) { return (ip >> 24) == 127; }

}  // namespace vpeer
