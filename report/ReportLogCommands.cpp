#include "report/ReportLogCommands.h"

#include <climits>
#include <cstring>

#include "tzhelper/TzWireBytes.h"

namespace report {

namespace {

// Sequential writer over a bounded buffer; the first field that does not
// fit marks it failed and nothing more is written.
class BoundedWriter {
 public:
  BoundedWriter(uint8_t* out, size_t cap) : out_(out), cap_(cap) {}
  bool Fits(size_t n) {
    if (failed_ || cap_ - pos_ < n) failed_ = true;
    return !failed_;
  }
  void U8(uint8_t v) {
    if (Fits(1)) out_[pos_++] = v;
  }
  void U32(uint32_t v) {
    if (Fits(4)) { wire::PutU32(out_ + pos_, v); pos_ += 4; }
  }
  void U64(uint64_t v) {
    if (Fits(8)) { wire::PutU64(out_ + pos_, v); pos_ += 8; }
  }
  void Bytes(const void* p, size_t n) {
    if (n == 0) return;
    if (Fits(n)) { memcpy(out_ + pos_, p, n); pos_ += n; }
  }
  bool failed() const { return failed_; }
  size_t pos() const { return pos_; }

 private:
  uint8_t* out_;
  size_t cap_;
  size_t pos_ = 0;
  bool failed_ = false;
};

}  // namespace

int WriteReportCmd(const ReportCmdFields& f, uint8_t* out, size_t cap) {
  if (f.version != kReportCmdVersion || out == nullptr) return -1;
  if (f.text == nullptr && f.textLen > 0) return -1;
  const size_t nameLen = f.name != nullptr ? strnlen(f.name, kMaxReportNameChars) : 0;
  // The check is in 64 bits so that a huge textLen cannot wrap it.
  if (static_cast<uint64_t>(cap) < static_cast<uint64_t>(nameLen) + f.textLen + 34) return -1;

  BoundedWriter w(out, cap);
  w.U8(f.version);
  w.U32(static_cast<uint32_t>(nameLen + 1));
  w.Bytes(f.name, nameLen);
  w.U8(0);
  w.U32(f.textLen);
  w.Bytes(f.text, f.textLen);
  w.U32(f.attempt);
  w.U32(f.log_index);
  w.U32(f.elapsed);
  w.U64(f.guid);
  if (w.failed() || w.pos() > INT_MAX) return -2;
  return static_cast<int>(w.pos());
}

int ReadReportResp(const uint8_t* body, size_t len, ReportResp* out) {
  if (body == nullptr || out == nullptr || len < kReportRespBytes) return -2;
  out->version = body[0];
  out->succ = body[1];
  out->reserved = wire::GetU32(body + 2);
  out->guid = wire::GetU64(body + 6);
  if (out->version != kReportCmdVersion) return -1;
  return static_cast<int>(kReportRespBytes);
}

int WriteReportResp(const ReportResp& in, uint8_t* out, size_t cap) {
  if (out == nullptr || cap < kReportRespBytes) return -1;
  out[0] = in.version;
  out[1] = in.succ;
  wire::PutU32(out + 2, in.reserved);
  wire::PutU64(out + 6, in.guid);
  return static_cast<int>(kReportRespBytes);
}

int ReadReceiversResp(const uint8_t* body, size_t len, ReceiversResp* out) {
  if (out == nullptr) return -1;
  *out = ReceiversResp();
  if (body == nullptr || len == 0) return -1;
  if (body[0] != kReportCmdVersion) return -2;
  if (len < 5) return -3;
  const uint32_t count = wire::GetU32(body + 1);
  // Every announced entry must be inside the body; 64-bit arithmetic keeps a
  // hostile count from wrapping the comparison.
  const uint64_t need = 5 + static_cast<uint64_t>(kReceiverEntryBytes) * count;
  if (need > len || need > INT_MAX) return -3;

  out->version = body[0];
  out->count = count;
  out->kept = count < kMaxReceivers ? count : kMaxReceivers;
  for (uint32_t i = 0; i < out->kept; ++i) {
    const uint8_t* e = body + 5 + kReceiverEntryBytes * i;
    AsynModel::PeerAddress& a = out->entries[i];
    wire::GetIpField(e, a.tcp_ip);
    a.tcp_port = wire::GetU16(e + 16);
    wire::GetIpField(e + 18, a.udp_ip);
    a.udp_port = wire::GetU16(e + 34);
  }
  return static_cast<int>(need);
}

}  // namespace report
