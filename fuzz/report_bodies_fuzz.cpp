// Every reader of a report command body, on any bytes: the first byte picks
// the reader, the rest is the body. Where a writer exists the oracle is a
// round trip: what was read, written back and read again must give the same
// bytes as the first write (and, for bodies without free text, the same
// bytes that came in).
#include <cstring>
#include <vector>

#include "fuzz_check.h"
#include "report/AdjustCommands.h"
#include "report/LocalCommands.h"
#include "report/ReportLogCommands.h"
#include "report/SecureCommands.h"
#include "report/StprcCommands.h"

using namespace report;

namespace {

bool Terminated(const char* field, size_t cap) { return memchr(field, 0, cap) != nullptr; }

void StpAddr(const uint8_t* b, size_t n) {
  StpAddrResp r;
  if (ReadStpAddrResp(b, n, &r) != 0) {
    FUZZ_CHECK(n < kStpAddrRespBytes);
    return;
  }
  FUZZ_CHECK(Terminated(r.ip, sizeof(r.ip)));
  uint8_t once[kStpAddrRespBytes], twice[kStpAddrRespBytes];
  FUZZ_CHECK(WriteStpAddrResp(r, once, sizeof(once)) == static_cast<int>(kStpAddrRespBytes));
  StpAddrResp again;
  FUZZ_CHECK(ReadStpAddrResp(once, sizeof(once), &again) == 0);
  FUZZ_CHECK(WriteStpAddrResp(again, twice, sizeof(twice)) == static_cast<int>(kStpAddrRespBytes));
  FUZZ_CHECK(memcmp(once, twice, sizeof(once)) == 0);
  FUZZ_CHECK(memcmp(once + 16, b + 16, 6) == 0);  // port and result unchanged
}

void Adjust(const uint8_t* b, size_t n) {
  AdjustNotify r;
  if (ReadAdjustNotify(b, n, &r) != 0) {
    FUZZ_CHECK(n < kAdjustNotifyBytes);
    return;
  }
  uint8_t once[kAdjustNotifyBytes], twice[kAdjustNotifyBytes];
  FUZZ_CHECK(WriteAdjustNotify(r, once, sizeof(once)) == static_cast<int>(kAdjustNotifyBytes));
  AdjustNotify again;
  FUZZ_CHECK(ReadAdjustNotify(once, sizeof(once), &again) == 0);
  FUZZ_CHECK(WriteAdjustNotify(again, twice, sizeof(twice)) == static_cast<int>(kAdjustNotifyBytes));
  FUZZ_CHECK(memcmp(once, twice, sizeof(once)) == 0);
  uint8_t ack[kAdjustAckBytes];
  FUZZ_CHECK(WriteAdjustAck(r, ack, sizeof(ack)) == static_cast<int>(kAdjustAckBytes));
  AdjustAck a;
  FUZZ_CHECK(ReadAdjustAck(ack, sizeof(ack), &a) == 0 && a.words[0] == r.Dialog && a.words[4] == r.speakId);
  AdjustUplinkInfo up;
  AdjustDownlinkInfo down;
  FillAdjustUplinkInfo(r, &up);
  FillAdjustDownlinkInfo(r, &down);
}

void RcAddr(const uint8_t* b, size_t n) {
  RcAddrGroups g;
  const uint32_t count = ReadRcAddrCmd(b, n, &g);
  FUZZ_CHECK(count == n / kStprcGroupBytes);
  FUZZ_CHECK(g.groupsUsed <= MAX_STPRC_GROUP_NUM && g.groupsUsed <= count);
  for (uint32_t i = 0; i < g.groupsUsed; ++i) {
    FUZZ_CHECK(g.entryCount[i] <= MAX_STPRC_NUM);
    for (uint32_t e = 0; e < g.entryCount[i]; ++e) {
      FUZZ_CHECK(Terminated(g.table[i][e].udp_ip, sizeof(g.table[i][e].udp_ip)));
      FUZZ_CHECK(g.table[i][e].udp_port != 0);
    }
  }
}

void Trailer(const uint8_t* b, size_t n) {
  DestTrailer t;
  if (!ReadDestTrailer(b, n, &t)) {
    FUZZ_CHECK(n < kDestTrailerBytes);
    return;
  }
  FUZZ_CHECK(Terminated(t.ip, sizeof(t.ip)));
  uint8_t once[kDestTrailerBytes], twice[kDestTrailerBytes];
  WriteDestTrailer(t.ip, t.port, once);
  DestTrailer again;
  FUZZ_CHECK(ReadDestTrailer(once, sizeof(once), &again));
  WriteDestTrailer(again.ip, again.port, twice);
  FUZZ_CHECK(memcmp(once, twice, sizeof(once)) == 0);
  FUZZ_CHECK(memcmp(once + 16, b + n - 2, 2) == 0);
}

void Secure(const uint8_t* b, size_t n) {
  CombinedPacketHeader h;
  if (ReadCombinedPacketHeader(b, n, &h) == 0) {
    size_t offset = kCombinedHeaderBytes;
    CombinedPacketEntry e;
    while (ReadCombinedPacketEntry(b, n, &offset, &e) == 0) {
      FUZZ_CHECK(offset <= n && e.payload >= b && e.payload + e.payloadLen <= b + n);
    }
  } else {
    FUZZ_CHECK(n < kCombinedHeaderBytes);
  }
  BlockHeader bh;
  FUZZ_CHECK((ReadBlockHeader(b, n, &bh) == 0) == (n >= kBlockHeaderBytes));
  // 1120: the serial list written back is the body without its partial word.
  const size_t count = SerialCount(b, n);
  FUZZ_CHECK(count == n / 4);
  std::vector<uint32_t> serials(count);
  for (size_t i = 0; i < count; ++i) serials[i] = SerialAt(b, n, i);
  FUZZ_CHECK(SerialAt(b, n, count) == 0);
  std::vector<uint8_t> out(count * 4 + 1);
  FUZZ_CHECK(WriteSerialList(serials.data(), count, out.data(), out.size()) == static_cast<int>(count * 4));
  FUZZ_CHECK(count == 0 || memcmp(out.data(), b, count * 4) == 0);
}

void ReportLog(const uint8_t* b, size_t n) {
  ReportResp r;
  const int rc = ReadReportResp(b, n, &r);
  if (rc == -2) {
    FUZZ_CHECK(n < kReportRespBytes);
  } else {
    uint8_t once[kReportRespBytes];
    FUZZ_CHECK(WriteReportResp(r, once, sizeof(once)) == static_cast<int>(kReportRespBytes));
    FUZZ_CHECK(memcmp(once, b, kReportRespBytes) == 0);
  }
  ReceiversResp rr;
  const int got = ReadReceiversResp(b, n, &rr);
  if (got > 0) {
    FUZZ_CHECK(static_cast<size_t>(got) <= n && rr.kept <= kMaxReceivers && rr.kept <= rr.count);
    for (uint32_t i = 0; i < rr.kept; ++i) {
      FUZZ_CHECK(Terminated(rr.entries[i].udp_ip, 16) && Terminated(rr.entries[i].tcp_ip, 16));
    }
  } else {
    FUZZ_CHECK(rr.kept == 0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // A copy of exactly the body, so a read past its end is caught.
  std::vector<uint8_t> body(data + 1, data + size);
  const uint8_t* b = body.empty() ? nullptr : body.data();
  const size_t n = body.size();
  switch (data[0] % 6) {
    case 0: StpAddr(b, n); break;
    case 1: Adjust(b, n); break;
    case 2: RcAddr(b, n); break;
    case 3: if (b) Trailer(b, n); break;
    case 4: Secure(b, n); break;
    default: ReportLog(b, n); break;
  }
  return 0;
}
