// AsynManager::PostMsg into a serial ordered session against Boost.Asio's
// io_context::post, each with one consuming thread, in the same process:
//   BM_PostMsgThroughput   batches of 1000 copied 200-byte messages, each
//                          batch timed until its last OnMessage has run
//   BM_PostMsgLatency      one message at a time, post-to-OnMessage latency
//                          (median and p99 in the counters)
//   BM_AsioPostThroughput  the same batches as handlers carrying a copy of
//                          the 200 bytes, run by one thread in io_context::run
//   BM_AsioPostLatency     the same ping through io_context::post
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>

#include "asynmodel/AsynManager.h"
#include "asynmodel/Session.h"
#include "platform/log.h"

using namespace AsynModel;

namespace {

constexpr uint32_t kBody = 200;
constexpr int kBatch = 1000;
constexpr size_t kMaxSamples = 1 << 20;

int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Latency samples of one run, written by the consuming thread only.
struct Samples {
  std::vector<int64_t> ns = std::vector<int64_t>(kMaxSamples);
  std::atomic<int64_t> count{0};

  void Record(const uint8_t* body) {
    int64_t sent = 0;
    std::memcpy(&sent, body, sizeof(sent));
    const int64_t n = count.load(std::memory_order_relaxed);
    if (n < static_cast<int64_t>(kMaxSamples)) ns[static_cast<size_t>(n)] = NowNs() - sent;
    count.store(n + 1, std::memory_order_release);
  }
  void Report(benchmark::State& state) {
    const size_t n = std::min(static_cast<size_t>(count.load()), kMaxSamples);
    if (n == 0) return;
    std::vector<int64_t> sorted(ns.begin(), ns.begin() + static_cast<long>(n));
    std::sort(sorted.begin(), sorted.end());
    state.counters["median_ns"] = static_cast<double>(sorted[n / 2]);
    state.counters["p99_ns"] = static_cast<double>(sorted[std::min(n - 1, n * 99 / 100)]);
  }
};

class SinkSession : public Session {
 public:
  explicit SinkSession(Samples* samples) : Session(SessionProperty()), samples_(samples) {}
  int32_t OnMessage(uint32_t, const uint8_t* data, uint32_t length, uint32_t, const SptrISender&) override {
    if (data != nullptr && length == kBody) samples_->Record(data);
    return 0;
  }

 private:
  Samples* samples_;
};

// One framework for the whole program: Init(1) + Start, one serial ordered
// session (the defaults: serial, ordered, findable).
struct Framework {
  Framework() {
    Log::SetLevel(Log::kWarning);
    AsynManager* mgr = AsynManager::GetInstance();
    mgr->Init(1);
    mgr->Start();
    session = SptrSession(new SinkSession(&samples));
    session->Start();
    sid = session->GetSessionID();
  }
  Samples samples;
  SptrSession session;
  uint32_t sid = 0;
};

Framework& Fw() {
  static Framework* fw = new Framework();  // lives to process end, like the manager
  return *fw;
}

void StampedBody(std::array<uint8_t, kBody>* body) {
  const int64_t now = NowNs();
  std::memcpy(body->data(), &now, sizeof(now));
}

void BM_PostMsgThroughput(benchmark::State& state) {
  Framework& fw = Fw();
  AsynManager* mgr = AsynManager::GetInstance();
  std::array<uint8_t, kBody> body{};
  fw.samples.count.store(0);
  int64_t target = 0;
  for (auto _ : state) {
    for (int i = 0; i < kBatch; ++i) {
      StampedBody(&body);
      mgr->PostMsg(fw.sid, 1, body.data(), kBody, false);
    }
    target += kBatch;
    while (fw.samples.count.load(std::memory_order_acquire) < target) std::this_thread::yield();
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
  fw.samples.Report(state);
}
BENCHMARK(BM_PostMsgThroughput)->UseRealTime();

void BM_PostMsgLatency(benchmark::State& state) {
  Framework& fw = Fw();
  AsynManager* mgr = AsynManager::GetInstance();
  std::array<uint8_t, kBody> body{};
  fw.samples.count.store(0);
  int64_t target = 0;
  for (auto _ : state) {
    StampedBody(&body);
    mgr->PostMsg(fw.sid, 1, body.data(), kBody, false);
    ++target;
    while (fw.samples.count.load(std::memory_order_acquire) < target) {
    }
  }
  state.SetItemsProcessed(state.iterations());
  fw.samples.Report(state);
}
BENCHMARK(BM_PostMsgLatency)->UseRealTime();

// One io_context run by one thread, kept alive by a work guard.
struct AsioLoop {
  AsioLoop() : guard(boost::asio::make_work_guard(io)), thread([this] { io.run(); }) {}
  ~AsioLoop() {
    guard.reset();
    thread.join();
  }
  boost::asio::io_context io;
  boost::asio::executor_work_guard<boost::asio::io_context::executor_type> guard;
  std::thread thread;
  Samples samples;
};

void BM_AsioPostThroughput(benchmark::State& state) {
  AsioLoop loop;
  std::array<uint8_t, kBody> body{};
  int64_t target = 0;
  for (auto _ : state) {
    for (int i = 0; i < kBatch; ++i) {
      StampedBody(&body);
      boost::asio::post(loop.io, [&loop, copy = body] { loop.samples.Record(copy.data()); });
    }
    target += kBatch;
    while (loop.samples.count.load(std::memory_order_acquire) < target) std::this_thread::yield();
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
  loop.samples.Report(state);
}
BENCHMARK(BM_AsioPostThroughput)->UseRealTime();

void BM_AsioPostLatency(benchmark::State& state) {
  AsioLoop loop;
  std::array<uint8_t, kBody> body{};
  int64_t target = 0;
  for (auto _ : state) {
    StampedBody(&body);
    boost::asio::post(loop.io, [&loop, copy = body] { loop.samples.Record(copy.data()); });
    ++target;
    while (loop.samples.count.load(std::memory_order_acquire) < target) {
    }
  }
  state.SetItemsProcessed(state.iterations());
  loop.samples.Report(state);
}
BENCHMARK(BM_AsioPostLatency)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
