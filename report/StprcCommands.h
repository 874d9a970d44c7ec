// StpAddrResp, the STPRC server's answer (6802) naming the QoS server. The
// request (6801) has an empty body. Free functions; no state, any thread.
#pragma once
#include <cstddef>
#include <cstdint>

namespace report {

constexpr size_t kStpAddrRespBytes = 22;

struct StpAddrResp {
  char ip[16] = {};     // at most 15 characters, NUL-terminated
  uint16_t port = 0;
  uint32_t result = 0;  // 0: an address is given
};

// 0 read; -1 for a null body or one shorter than 22 bytes (out untouched).
// Bytes after the 22nd are ignored.
int ReadStpAddrResp(const uint8_t* body, size_t len, StpAddrResp* out);

// Writes the 22-byte body (ip zero-filled, at most 15 characters). Returns
// 22, or -1 when cap is smaller.
int WriteStpAddrResp(const StpAddrResp& in, uint8_t* out, size_t cap);

}  // namespace report
