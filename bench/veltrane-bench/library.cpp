#include "library.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "peer.h"
#include "veltrane.h"

namespace vbench {

namespace {

std::string g_dir;
vpeer::Peer* g_peer = nullptr;  // lives until the process ends

}  // namespace

const std::string& ScratchDir() { return g_dir; }
vpeer::Peer* LibraryPeer() { return g_peer; }

bool StartLibrary(std::string* why) {
  if (!g_dir.empty()) return true;
  std::random_device rd;
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("veltrane-bench-" + std::to_string(rd()));
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec) {
    *why = "cannot create " + dir.string();
    return false;
  }
  g_dir = dir.string();
  VELT_SetLogFile((dir / "veltrane.log").string().c_str());
  VELT_SetLogLevel(3);
  VELT_SetQueueLimit(1048576);  // a burst waits rather than being refused
  g_peer = new vpeer::Peer(vpeer::PeerConfig());
  if (!g_peer->Start(why)) return false;
  const int32_t rc = InitVeltrane(0, 0, "127.0.0.1", 0, 0, 0, "127.0.0.1", g_peer->StprcPorts()[0]);
  if (rc != 0) {
    *why = "InitVeltrane returned " + std::to_string(rc);
    return false;
  }
  return true;
}

bool AimRecordsAt(uint16_t port, uint64_t (*arrived)(void*), void* ctx) {
  {
    std::ofstream f(g_dir + "/qosRecverIP.txt", std::ios::trunc);
    f << "127.0.0.1:" << port << "\n";
  }
  SetVeltraneDir(g_dir.c_str());
  const uint64_t before = arrived(ctx);
  uint8_t record[16] = {};
  for (int i = 0; i < 500; ++i) {  // the file is read on the session's thread
    ReportMeetingQosInfo(record, sizeof record);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (arrived(ctx) > before) return true;
  }
  return false;
}

}  // namespace vbench
