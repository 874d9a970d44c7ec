// Runs the minimal host example (examples/minimal.c) against the simulated
// peer: the example must exit 0 within the time limit, and the peer must have
// been asked for the QoS server and have received exactly the example's one
// record, byte for byte. Usage: run_minimal_example PATH_TO_EXAMPLE
#if !defined(_WIN32)
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#endif

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
constexpr auto kExampleLimit = std::chrono::seconds(30);

bool Fail(const std::string& why) {
  std::fprintf(stderr, "FAIL: %s\n", why.c_str());
  return false;
}

#if defined(_WIN32)
// Runs `path ip port` through the command processor; the test's own time
// limit (ctest) stands in for killing it.
bool RunExample(const char* path, const std::string& ip, const std::string& port, bool* exitedZero) {
  const std::string command = std::string("\"") + path + "\" " + ip + " " + port;
  *exitedZero = std::system(command.c_str()) == 0;
  return true;
}
#else
extern "C" char** environ;

// Spawns `path ip port` and waits for it, killing it at the limit.
bool RunExample(const char* path, const std::string& ip, const std::string& port, bool* exitedZero) {
  std::vector<std::string> args = {path, ip, port};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, path, nullptr, nullptr, argv.data(), environ);
  if (rc != 0) return Fail(std::string("cannot start ") + path + ": error " + std::to_string(rc));
  const auto deadline = std::chrono::steady_clock::now() + kExampleLimit;
  int status = 0;
  for (;;) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) {
      *exitedZero = WIFEXITED(status) && WEXITSTATUS(status) == 0;
      return true;
    }
    if (done < 0) return Fail("waitpid failed");
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return Fail("the example did not finish within the limit");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}
#endif

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

  bool exitedZero = false;
  if (!RunExample(example, vpeer::IpToString(stprc.ip), std::to_string(stprc.port), &exitedZero)) return false;
  if (!exitedZero) return Fail("the example did not exit with 0");
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
