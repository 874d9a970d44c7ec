// The library as a host starts it, for the comparisons that go through the
// exported functions: started once per process against a simulated STPRC
// server whose QoS server (the same peer) acknowledges secured packets;
// records can be pointed at a sink through the receiver file.
#pragma once
#include <cstdint>
#include <string>

namespace vpeer {
class Peer;
}

namespace vbench {

// Starts the library (once) with its log in a scratch folder at warning
// level. False with *why when it cannot start.
bool StartLibrary(std::string* why);
// The simulated STPRC / QoS server (null before StartLibrary).
vpeer::Peer* LibraryPeer();
// Points every later record (and secured packet) at 127.0.0.1:port and waits until one arrives
// through `arrived` (a counter that grows on delivery). False on time-out.
bool AimRecordsAt(uint16_t port, uint64_t (*arrived)(void*), void* ctx);
// The scratch folder (created by StartLibrary).
const std::string& ScratchDir();

}  // namespace vbench
