// Destination record of Session::PostMsg: UDP and TCP address text and ports.
#pragma once
#include <cstdint>
#include <cstring>

namespace AsynModel {

struct PeerAddress {
  uint32_t kind = 0;      // 0: a network address; anything else is refused
  char udp_ip[16] = {};   // dotted IPv4 text, NUL-terminated within the field
  char tcp_ip[16] = {};
  uint16_t udp_port = 0;  // host order
  uint16_t tcp_port = 0;
  uint32_t reserved[4] = {0, 0, 0, 0};  // always zero; copied, never read

  // Usable: kind 0 and a non-empty udp_ip shorter than 16 characters with a
  // non-zero udp_port, or the same for the TCP fields.
  bool Usable() const {
    if (kind != 0) return false;
    if (udp_ip[0] != 0 && memchr(udp_ip, 0, sizeof(udp_ip)) != nullptr && udp_port != 0) return true;
    return tcp_ip[0] != 0 && memchr(tcp_ip, 0, sizeof(tcp_ip)) != nullptr && tcp_port != 0;
  }
  // Copies at most 15 characters of ip into udp_ip (always NUL-terminated).
  void SetUdp(const char* ip, uint16_t port) {
    memset(udp_ip, 0, sizeof(udp_ip));
    if (ip) memcpy(udp_ip, ip, strnlen(ip, sizeof(udp_ip) - 1));
    udp_port = port;
  }
};

}  // namespace AsynModel
