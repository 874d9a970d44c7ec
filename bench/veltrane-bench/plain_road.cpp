// The plain road: ReportMeetingQosInfo of 200-byte records from host
// threads to a loopback sink, against a hand-written non-blocking sendto
// loop (and a sendmmsg loop) of datagrams of the same size.
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "asynmodel/net/UdpDatagram.h"
#include "comparisons.h"
#include "harness.h"
#include "library.h"
#include "platform/socket_batch.h"
#include "sink.h"
#include "veltrane.h"

namespace vbench {

namespace {

// What the library puts on the wire for one record: header, Msg image, body.
constexpr uint32_t kWire = AsynModel::kUdpHeaderUnreliable + 16 + kBody;
constexpr uint32_t kMmsgBatch = 32;

// Delivered per second: what reached the sink over the time from the first
// send to the last arrival.
double Delivered(const Sink& sink, uint64_t before, uint64_t n, int64_t t0) {
  const uint64_t got = sink.WaitSettled(before + n, 200) - before;
  const int64_t span = sink.LastArrivalNs() - t0;
  return span > 0 ? static_cast<double>(got) * 1e9 / static_cast<double>(span) : 0;
}

double RawSendTo(Sink& sink, plat::Socket raw, uint64_t n) {
  static uint8_t datagram[kWire] = {};
  const plat::SockAddrIn to = plat::MakeAddr(kLoopback, sink.Port());
  const uint64_t before = sink.Count();
  const int64_t t0 = NowNs();
  for (uint64_t i = 0; i < n; ++i) plat::SendToNow(raw, datagram, kWire, to);
  return Delivered(sink, before, n, t0);
}

double Sendmmsg(Sink& sink, plat::Socket raw, uint64_t n) {
  static uint8_t datagram[kWire] = {};
  const void* bufs[kMmsgBatch];
  uint32_t lens[kMmsgBatch];
  for (uint32_t i = 0; i < kMmsgBatch; ++i) {
    bufs[i] = datagram;
    lens[i] = kWire;
  }
  const plat::SockAddrIn to = plat::MakeAddr(kLoopback, sink.Port());
  const uint64_t before = sink.Count();
  const int64_t t0 = NowNs();
  for (uint64_t i = 0; i < n; i += kMmsgBatch) plat::SendBatchNow(raw, bufs, lens, kMmsgBatch, to);
  return Delivered(sink, before, n, t0);
}

double Library(Sink& sink, uint64_t n, int threads) {
  const uint64_t before = sink.Count();
  const int64_t t0 = NowNs();
  std::vector<std::thread> hosts;
  for (int t = 0; t < threads; ++t) {
    hosts.emplace_back([n, threads] {
      uint8_t record[kBody] = {};
      for (uint64_t i = 0; i < n / static_cast<uint64_t>(threads); ++i) ReportMeetingQosInfo(record, kBody);
    });
  }
  for (auto& h : hosts) h.join();
  return Delivered(sink, before, n, t0);
}

uint64_t SinkCount(void* sink) { return static_cast<Sink*>(sink)->Count(); }

}  // namespace

void RunPlainRoad(const Options& o) {
  PrintHeader("plain road: ReportMeetingQosInfo (A) against a raw loop (B), 200-byte records, delivered/s");
  std::string why;
  Sink sink;
  if (!StartLibrary(&why) || !AimRecordsAt(sink.Port(), &SinkCount, &sink)) {
    std::printf("  skipped: %s\n", why.empty() ? "records never reached the sink" : why.c_str());
    return;
  }
  plat::Socket raw = LoopbackSocket();
  const uint64_t n = static_cast<uint64_t>(100000 * o.scale) / 32 * 32 + 32;
  auto lib1 = [&] { return Library(sink, n, 1); };
  auto lib4 = [&] { return Library(sink, n, 4); };
  auto sendto = [&] { return RawSendTo(sink, raw, n); };
  auto mmsg = [&] { return Sendmmsg(sink, raw, n); };
  PrintPairs("1 host thread vs sendto loop", "rec/s", RunPairs(o.pairs, lib1, sendto), ">= 1.0");
  PrintPairs("1 host thread vs sendmmsg(32) loop", "rec/s", RunPairs(o.pairs, lib1, mmsg), ">= 0.8 (stretch)");
  PrintPairs("4 host threads vs sendto loop", "rec/s", RunPairs(o.pairs, lib4, sendto), "(context)");
  plat::CloseSocket(raw);
}

}  // namespace vbench
