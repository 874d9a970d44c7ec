// A non-blocking IPv4 UDP socket that closes itself. The only file of the
// peer that includes socket headers. The peer program is a Linux one; the
// Windows branch exists so that a Windows test suite can play the far side
// in process with the same code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "endpoint.h"

namespace vpeer {

// A file descriptor on Linux, a SOCKET on Windows.
using NativeSocket = intptr_t;
constexpr NativeSocket kNoSocket = -1;

class UdpSocket {
 public:
  UdpSocket() = default;
  ~UdpSocket();
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;
  UdpSocket(UdpSocket&& o) noexcept;
  UdpSocket& operator=(UdpSocket&& o) noexcept;

  // Binds to `local` (port 0: the system picks one). On failure returns false
  // and describes the reason in *err.
  bool Open(const Endpoint& local, std::string* err);
  void Close();

  bool IsOpen() const { return m_fd != kNoSocket; }
  NativeSocket Fd() const { return m_fd; }
  // The address actually bound (its port is the real one after port 0).
  const Endpoint& Local() const { return m_local; }

  // Safe to call from several threads at once (one system call each).
  // Returns true when the whole datagram was handed to the system.
  bool SendTo(const Endpoint& to, const uint8_t* data, size_t len) const;

  // Returns the datagram's size (it may be larger than `cap`, then it was cut;
  // Windows does not tell the real size and cap + 1 stands for it), 0 for an
  // empty datagram, or -1 when nothing is waiting or on error.
  long RecvFrom(uint8_t* buf, size_t cap, Endpoint* from) const;

 private:
  NativeSocket m_fd = kNoSocket;
  Endpoint m_local;
};

// A pipe that wakes a poll() from another thread. Windows polls sockets only:
// there it is a loopback UDP socket that sends itself one byte per wake.
class WakePipe {
 public:
  WakePipe() = default;
  ~WakePipe();
  WakePipe(const WakePipe&) = delete;
  WakePipe& operator=(const WakePipe&) = delete;

  bool Open(std::string* err);
  void Close();
  NativeSocket ReadFd() const { return m_fds[0]; }
  void Wake() const;   // any thread
  void Drain() const;  // the polling thread

 private:
  NativeSocket m_fds[2] = {kNoSocket, kNoSocket};
  UdpSocket m_self;  // Windows: the socket behind both ends
};

// Waits up to `timeoutMs` for any of `fds` to become readable; sets
// ready[i] for each readable fd. Returns false on a poll failure other than
// an interrupted call.
bool PollReadable(const NativeSocket* fds, bool* ready, size_t count, int timeoutMs);

}  // namespace vpeer
