// Heap allocations after warm-up, counted on malloc itself (every thread
// of the process, every library), not on the pools' own counters: per
// record on the plain road, per local post, and per acknowledged reliable
// message. Each load is repeated at the same shape, so the pools have
// reached its high-water mark; a load deeper than any before, or one that
// follows a pool trim, takes new blocks by design.
#include <cstdio>
#include <string>

#include "acking_peer.h"
#include "asynmodel/AsynManager.h"
#include "asynmodel/PostMsgContext.h"
#include "asynmodel/Session.h"
#include "comparisons.h"
#include "harness.h"
#include "library.h"
#include "malloc_count.h"
#include "sink.h"
#include "veltrane.h"

using namespace AsynModel;

namespace vbench {

namespace {

uint64_t SinkCount(void* sink) { return static_cast<Sink*>(sink)->Count(); }

class Consumer : public Session {
 public:
  int32_t OnMessage(uint32_t, const uint8_t*, uint32_t, uint32_t, const SptrISender&) override {
    got.fetch_add(1, std::memory_order_release);
    return 0;
  }
  std::atomic<int64_t> got{0};
};

void WaitAtLeast(const std::atomic<int64_t>& v, int64_t target) {
  const int64_t deadline = NowNs() + int64_t{20} * 1000000000;
  while (v.load(std::memory_order_acquire) < target && NowNs() < deadline) WaitUntilNs(NowNs() + 200000);
}

// Runs `round` warmups times, then once counted, and prints mallocs per item.
// settleMs after each round lets what a round still holds go back first: an
// acknowledged message's records stay with its resend timer for 200 ms, so a
// round started at once would count the pools growing under the overlap.
template <typename Round>
void Count(const char* what, int64_t n, Round round, int warmups = 1, int settleMs = 0) {
  for (int i = 0; i < warmups; ++i) {
    round(n);
    WaitUntilNs(NowNs() + int64_t{settleMs} * 1000000);
  }
  const uint64_t before = MallocCalls();
  round(n);
  const double per = static_cast<double>(MallocCalls() - before) / static_cast<double>(n);
  std::printf("  %-44s %.4f mallocs per item over %lld items   goal 0\n", what, per, static_cast<long long>(n));
  std::fflush(stdout);
}

}  // namespace

void RunAllocations(const Options& o) {
  PrintHeader("allocations after warm-up (malloc calls in the whole process)");
  std::string why;
  if (!MallocCounting()) {
    std::printf("  skipped: malloc is not counted in sanitizer builds\n");
    return;
  }
  Sink sink;
  if (!StartLibrary(&why) || !AimRecordsAt(sink.Port(), &SinkCount, &sink)) {
    std::printf("  skipped: %s\n", why.empty() ? "records never reached the sink" : why.c_str());
    return;
  }
  const int64_t n = static_cast<int64_t>(20000 * o.scale) + 100;
  uint8_t record[kBody] = {};
  // Records in bursts of 500, each delivered before the next: a steady
  // load whose high-water mark the warm-up has already reached.
  Count("ReportMeetingQosInfo record, bursts of 500", n, [&](int64_t k) {
    for (int64_t done = 0; done < k; done += 500) {
      const uint64_t before = sink.Count();
      for (int64_t i = 0; i < 500 && done + i < k; ++i) ReportMeetingQosInfo(record, kBody);
      sink.WaitSettled(before + static_cast<uint64_t>(k - done < 500 ? k - done : 500), 500);
    }
  });

  Consumer* consumer = new Consumer();
  consumer->Start();
  AsynManager* mgr = AsynManager::GetInstance();
  const uint32_t sid = consumer->GetSessionID();
  Count("AsynManager::PostMsg, bursts of 1000", n, [&](int64_t k) {
    const int64_t target = consumer->got.load() + k;
    for (int64_t i = 0; i < k; ++i) {
      mgr->PostMsg(sid, 1, record, kBody, false);
      if (i % 1000 == 999) WaitAtLeast(consumer->got, target - k + i + 1);
    }
    WaitAtLeast(consumer->got, target);
  });

  Receipts* receipts = new Receipts();
  receipts->Start();
  AckingPeer peer;
  Count("reliable message, acknowledged", n / 4,
        [&](int64_t k) { SendAcknowledged(*receipts, peer.Port(), k, record, kBody); }, 5, 300);
  consumer->Terminate(Terminate_Event);
  receipts->Terminate(Terminate_Event);
}

}  // namespace vbench
