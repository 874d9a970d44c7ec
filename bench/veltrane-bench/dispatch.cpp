// Dispatch: AsynManager::PostMsg of a copied 200-byte body into a serial,
// ordered session against Boost.Asio's post of a handler carrying a copy of
// the same bytes, each consumed by one thread; throughput in bursts, and the
// post-to-run latency of posts paced at 10,000 per second.
#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>

#include "asynmodel/AsynManager.h"
#include "asynmodel/Session.h"
#include "comparisons.h"
#include "harness.h"
#include "library.h"

using namespace AsynModel;

namespace vbench {

namespace {

constexpr int kBurst = 1000;
constexpr int64_t kPaceNs = 100000;  // 10,000 posts per second

// Stamps written by the poster, read back by the consumer.
struct Samples {
  std::vector<int64_t> ns;
  std::atomic<int64_t> count{0};
  bool keep = false;

  void Reset(size_t capacity, bool keepLatency) {
    ns.assign(capacity, 0);
    keep = keepLatency;
    count.store(0);
  }
  void Record(const uint8_t* body) {
    const int64_t n = count.load(std::memory_order_relaxed);
    if (keep && n < static_cast<int64_t>(ns.size())) {
      int64_t sent = 0;
      std::memcpy(&sent, body, sizeof sent);
      ns[static_cast<size_t>(n)] = NowNs() - sent;
    }
    count.store(n + 1, std::memory_order_release);
  }
  void WaitFor(int64_t target) const {
    while (count.load(std::memory_order_acquire) < target) std::this_thread::yield();
  }
  double Percentile(int pct) {
    const size_t n = std::min(ns.size(), static_cast<size_t>(count.load()));
    if (n == 0) return 0;
    std::sort(ns.begin(), ns.begin() + static_cast<long>(n));
    return static_cast<double>(ns[std::min(n - 1, n * static_cast<size_t>(pct) / 100)]);
  }
};

class SinkSession : public Session {
 public:
  explicit SinkSession(Samples* s) : Session(SessionProperty()), samples_(s) {}
  int32_t OnMessage(uint32_t, const uint8_t* data, uint32_t length, uint32_t, const SptrISender&) override {
    if (data != nullptr && length == kBody) samples_->Record(data);
    return 0;
  }

 private:
  Samples* samples_;
};

// The poster: `post` takes the stamped body.
template <typename Post>
double Throughput(Samples& s, int64_t n, Post post) {
  std::array<uint8_t, kBody> body{};
  s.Reset(0, false);
  const int64_t t0 = NowNs();
  for (int64_t done = 0; done < n; done += kBurst) {
    for (int i = 0; i < kBurst; ++i) post(body);
    s.WaitFor(done + kBurst);
  }
  return static_cast<double>(n) * 1e9 / static_cast<double>(NowNs() - t0);
}

template <typename Post>
void Paced(Samples& s, int64_t n, Post post) {
  std::array<uint8_t, kBody> body{};
  s.Reset(static_cast<size_t>(n), true);
  int64_t due = NowNs();
  for (int64_t i = 0; i < n; ++i) {
    due += kPaceNs;
    WaitUntilNs(due);
    const int64_t now = NowNs();
    std::memcpy(body.data(), &now, sizeof now);
    post(body);
  }
  s.WaitFor(n);
}

struct AsioLoop {
  AsioLoop() : guard(boost::asio::make_work_guard(io)), thread([this] { io.run(); }) {}
  ~AsioLoop() {
    guard.reset();
    thread.join();
  }
  boost::asio::io_context io;
  boost::asio::executor_work_guard<boost::asio::io_context::executor_type> guard;
  std::thread thread;
};

}  // namespace

void RunDispatch(const Options& o) {
  PrintHeader("dispatch: PostMsg to a serial session (A) against Asio post (B), 200-byte copies");
  std::string why;
  if (!StartLibrary(&why)) {
    std::printf("  skipped: %s\n", why.c_str());
    return;
  }
  AsynManager* mgr = AsynManager::GetInstance();
  Samples vs, as;
  SptrSession session(new SinkSession(&vs));
  session->Start();
  const uint32_t sid = session->GetSessionID();
  AsioLoop loop;
  auto velt = [&](const std::array<uint8_t, kBody>& b) { mgr->PostMsg(sid, 1, b.data(), kBody, false); };
  auto asio = [&](const std::array<uint8_t, kBody>& b) {
    boost::asio::post(loop.io, [&as, copy = b] { as.Record(copy.data()); });
  };
  const int64_t n = static_cast<int64_t>(200000 * o.scale) / kBurst * kBurst + kBurst;
  PrintPairs("throughput, bursts of 1000", "posts/s",
             RunPairs(o.pairs, [&] { return Throughput(vs, n, velt); }, [&] { return Throughput(as, n, asio); }),
             ">= 1.0");
  const int64_t paced = static_cast<int64_t>(5000 * o.scale) + 100;
  std::vector<double> p50a, p50b, p99a, p99b, r50, r99;
  for (int p = 0; p < o.pairs; ++p) {
    WaitForIdle(3000);
    if (p % 2 == 0) Paced(vs, paced, velt);
    Paced(as, paced, asio);
    if (p % 2 == 1) Paced(vs, paced, velt);
    p50a.push_back(vs.Percentile(50));
    p99a.push_back(vs.Percentile(99));
    p50b.push_back(as.Percentile(50));
    p99b.push_back(as.Percentile(99));
    r50.push_back(p50b.back() > 0 ? p50a.back() / p50b.back() : 0);
    r99.push_back(p99b.back() > 0 ? p99a.back() / p99b.back() : 0);
  }
  PrintSpread("latency p50, PostMsg (ns)", "", Summarize(p50a), "10,000 posts/s");
  PrintSpread("latency p50, Asio (ns)", "", Summarize(p50b), "");
  PrintSpread("latency p99, PostMsg (ns)", "", Summarize(p99a), "");
  PrintSpread("latency p99, Asio (ns)", "", Summarize(p99b), "");
  PrintSpread("ratio p50 A/B", "", Summarize(r50), "goal <= 1.0");
  PrintSpread("ratio p99 A/B", "", Summarize(r99), "(context)");
  session->Terminate(Terminate_Event);
}

}  // namespace vbench
