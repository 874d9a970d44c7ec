// Runs the minimal host example (examples/minimal.c) against the simulated
// peer: the example must exit 0 within the time limit, and the peer must have
// been asked for the QoS server and have received exactly the example's one
// record, byte for byte. Usage: run_minimal_example PATH_TO_EXAMPLE
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "peer.h"

namespace {

// What examples/minimal.c reports.
const std::string kRecord = "minimal example record";

bool Fail(const std::string& why) {
  std::fprintf(stderr, "FAIL: %s\n", why.c_str());
  return false;
}

// Runs `path ip port` through the command processor, which under Wine knows
// the example by its name in the working folder. On Linux coreutils' timeout
// ends it after 30 s; on Windows the test's own time limit stands in.
bool RunExample(const char* path, const std::string& ip, const std::string& port) {
#if defined(_WIN32)
  const std::string limit;
#else
  const std::string limit = "timeout -s KILL 30 ";
#endif
  return std::system((limit + "\"" + path + "\" " + ip + " " + port).c_str()) == 0;
}

bool Check(const char* example) {
  std::mutex mu;
  std::vector<std::string> bodies;
  vpeer::PeerConfig cfg;  // 127.0.0.1, ephemeral ports
  cfg.on1116 = [&](const vpeer::QosRecord& r) {
    std::lock_guard<std::mutex> g(mu);
    bodies.emplace_back(reinterpret_cast<const char*>(r.body), r.len);
  };
  vpeer::Peer peer(cfg);
  std::string err;
  if (!peer.Start(&err)) return Fail("peer: " + err);
  const vpeer::Endpoint stprc = peer.StprcEndpoint(0);

  if (!RunExample(example, vpeer::IpToString(stprc.ip), std::to_string(stprc.port))) {
    return Fail("the example did not exit with 0 within its limit");
  }
  // The example waits for its record to leave before exiting; the last
  // hundreds of milliseconds cover the peer's own thread.
  for (int i = 0; i < 50 && peer.Stats().records1116 == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  peer.Stop();
  const vpeer::PeerStats s = peer.Stats();
  if (s.stprcRequests.empty() || s.stprcRequests[0] == 0) return Fail("the peer was never asked for the QoS server");
  if (s.records1116 != 1) return Fail("the peer counted " + std::to_string(s.records1116) + " records, not 1");
  if (bodies.size() != 1 || bodies[0] != kRecord) return Fail("the record arrived changed");
  if (s.malformed != 0) return Fail("the peer refused a datagram: " + s.lastProblem);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: run_minimal_example PATH_TO_EXAMPLE\n");
    return 2;
  }
  if (!Check(argv[1])) return 1;
  std::printf("PASS: the example's one record reached the peer\n");
  return 0;
}
