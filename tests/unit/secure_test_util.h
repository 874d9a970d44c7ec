// Shared pieces of the SecureTransfer tests: a sink that captures every
// packet a send pass posts, a block builder and a packet decoder built on the
// command readers.
#pragma once
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/log.h"
#include "report/LocalCommands.h"
#include "report/SecureCommands.h"
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
  size_t Count() {
    std::lock_guard<std::mutex> g(mu_);
    return packets_.size();
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

struct Entry {
  uint32_t recordWord;
  Bytes payload;
};

struct Packet {
  report::CombinedPacketHeader header;
  std::vector<Entry> entries;
  Bytes trailer;
};

// Decodes a posted packet: body, then exactly an 18-byte trailer.
inline Packet Decode(const Bytes& pkt) {
  Packet out;
  EXPECT_GE(pkt.size(), report::kCombinedHeaderBytes + report::kDestTrailerBytes);
  if (pkt.size() < report::kCombinedHeaderBytes + report::kDestTrailerBytes) return out;
  const size_t bodyLen = pkt.size() - report::kDestTrailerBytes;
  EXPECT_EQ(0, report::ReadCombinedPacketHeader(pkt.data(), bodyLen, &out.header));
  size_t off = report::kCombinedHeaderBytes;
  report::CombinedPacketEntry e;
  while (report::ReadCombinedPacketEntry(pkt.data(), bodyLen, &off, &e) == 0)
    out.entries.push_back(Entry{e.recordWord, Bytes(e.payload, e.payload + e.payloadLen)});
  EXPECT_EQ(bodyLen, off) << "entries must fill the body exactly";
  out.trailer.assign(pkt.begin() + static_cast<std::ptrdiff_t>(bodyLen), pkt.end());
  return out;
}

// Lines whose text is exactly text.
inline size_t CountExact(const LogCapture& log, const std::string& text) {
  size_t n = 0;
  for (const LogLine& l : log.Lines()) n += l.text == text ? 1 : 0;
  return n;
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

  PacketCapture cap;
  SecureTransfer st{cap.Sink()};
};

inline int32_t Post(SecureTransfer& st, SecureTransferKey key, const Bytes& b) {
  static const char kNoDestination[16] = {};
  return st.PostPacket(key, b.data(), static_cast<int32_t>(b.size()), kNoDestination, 0);
}

}  // namespace securetest
