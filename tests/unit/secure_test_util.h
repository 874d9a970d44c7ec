// Shared pieces of the SecureTransfer tests: a sink that captures every
// packet a send pass posts, a block builder, and a reader of combined packets
// written from their layout (not with the library's own readers): serialnum,
// the first block's 28-byte header, then per block its record word, a u16
// payload length and the payload, then the 18-byte destination trailer.
#pragma once
#include <cstdint>
#include <mutex>
#include <vector>

#include <gtest/gtest.h>

#include "platform/log.h"
#include "report/SecureTransfer.h"
#include "tzhelper/TzWireBytes.h"

namespace securetest {

using Bytes = std::vector<uint8_t>;

// Collects posted packets; safe from any thread.
class PacketCapture {
 public:
  SecureTransfer::PacketSink Sink() {
    return [this](const uint8_t* data, uint32_t length) {
      std::lock_guard<std::mutex> g(mu_);
      packets_.emplace_back(data, data + length);
    };
  }
  std::vector<Bytes> Take() {
    std::lock_guard<std::mutex> g(mu_);
    std::vector<Bytes> out;
    out.swap(packets_);
    return out;
  }

 private:
  std::mutex mu_;
  std::vector<Bytes> packets_;
};

// A block of len bytes (len >= 32): header h0, roletype, h2..h5 = h0+2..h0+5,
// the record word, then a payload whose first u32 is index and whose other
// bytes are fill.
inline Bytes Block(uint32_t len, uint32_t h0, uint8_t roletype, uint32_t recordWord, uint32_t index,
                   uint8_t fill = 0xAB) {
  Bytes b(len, fill);
  wire::PutU32(&b[0], h0);
  b[4] = roletype;
  b[5] = b[6] = b[7] = 0;
  for (uint32_t i = 0; i < 4; ++i) wire::PutU32(&b[8 + 4 * i], h0 + 2 + i);
  wire::PutU32(&b[24], recordWord);
  wire::PutU32(&b[28], index);
  return b;
}

struct Packet {
  uint32_t serial = 0;
  uint32_t h0 = 0;                    // of the first block
  std::vector<uint32_t> recordWords;  // one per block
  std::vector<uint32_t> indexes;      // first u32 of each payload
};

inline Packet Read(const Bytes& pkt) {
  Packet p;
  EXPECT_GE(pkt.size(), 4u + 28u + 18u);
  if (pkt.size() < 4 + 28 + 18) return p;
  p.serial = wire::GetU32(pkt.data());
  p.h0 = wire::GetU32(pkt.data() + 4);
  const size_t end = pkt.size() - 18;
  size_t off = 32;
  while (off + 6 <= end) {
    const size_t len = wire::GetU16(pkt.data() + off + 4);
    EXPECT_LE(off + 6 + len, end);
    p.recordWords.push_back(wire::GetU32(pkt.data() + off));
    p.indexes.push_back(len >= 4 ? wire::GetU32(pkt.data() + off + 6) : 0);
    off += 6 + len;
  }
  EXPECT_EQ(end, off) << "blocks must fill the body exactly";
  return p;
}

// A SecureTransfer whose packets go to `cap`.
class SecureFixture : public ::testing::Test {
 protected:
  // Sets the bandwidth and the cache size (MiB) and returns a first key.
  SecureTransferKey Init(uint32_t bandwidth, uint32_t cacheMiB = 8) {
    st.InitParams(nullptr, 0, bandwidth, cacheMiB);
    return NewKey();
  }
  SecureTransferKey NewKey() { return st.CreateKey(1, 2, 3, 4, 5); }
  int32_t Post(SecureTransferKey key, const Bytes& b) {
    return st.PostPacket(key, b.data(), static_cast<int32_t>(b.size()), nullptr, 0);
  }

  PacketCapture cap;
  SecureTransfer st{cap.Sink()};
};

}  // namespace securetest
