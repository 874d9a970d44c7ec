// veltrane-bench: the library against hand-written and third-party
// baselines, side by side in one process and one run.
//   veltrane-bench [--pairs N] [--scale X] [--only a,b,...]
// Names for --only: road, dispatch, reliable, secure, alloc, timers.
// Every socket is on 127.0.0.1.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "comparisons.h"
#include "harness.h"

namespace {

std::string FirstLineWith(const char* path, const char* prefix) {
  std::ifstream f(path);
  std::string line;
  while (std::getline(f, line)) {
    if (prefix == nullptr || line.compare(0, std::strlen(prefix), prefix) == 0) return line;
  }
  return "?";
}

bool Wanted(const std::string& only, const char* name) {
  return only.empty() || ("," + only + ",").find(std::string(",") + name + ",") != std::string::npos;
}

}  // namespace

int main(int argc, char** argv) {
  vbench::Options o;
  std::string only;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--pairs" && i + 1 < argc) {
      o.pairs = std::atoi(argv[++i]);
    } else if (a == "--scale" && i + 1 < argc) {
      o.scale = std::atof(argv[++i]);
    } else if (a == "--only" && i + 1 < argc) {
      only = argv[++i];
    } else {
      std::fprintf(stderr, "usage: %s [--pairs N] [--scale X] [--only road,dispatch,reliable,secure,alloc,timers]\n",
                   argv[0]);
      return 2;
    }
  }
  if (o.pairs < 1) o.pairs = 1;
  if (o.scale <= 0) o.scale = 1;
  std::printf("veltrane-bench: %d pairs, scale %.2f, %u processors, %s\n", o.pairs, o.scale,
              std::thread::hardware_concurrency(), FirstLineWith("/proc/cpuinfo", "model name").c_str());
  std::printf("load average at start: %s\n", FirstLineWith("/proc/loadavg", nullptr).c_str());
  // Before anything writes the receiver file, which would take the
  // secured packets away from the QoS server.
  if (Wanted(only, "secure")) vbench::RunSecureRoad(o);
  if (Wanted(only, "alloc")) vbench::RunAllocations(o);
  if (Wanted(only, "road")) vbench::RunPlainRoad(o);
  if (Wanted(only, "dispatch")) vbench::RunDispatch(o);
  if (Wanted(only, "reliable")) vbench::RunReliable(o);
  if (Wanted(only, "timers")) vbench::RunTimers(o);
  std::printf("load average at end: %s\n", FirstLineWith("/proc/loadavg", nullptr).c_str());
  // The library has no shut-down; its threads end with the process.
  std::fflush(stdout);
  std::_Exit(0);
}
