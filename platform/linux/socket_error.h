// Linux-side helpers shared by socket.cpp and completion_port.cpp: the one
// place where errno values become SocketError codes, and conversions between
// SockAddrIn and the system's sockaddr_in.
#pragma once
#include <netinet/in.h>

#include <cstring>

#include "platform/socket.h"

namespace plat {
namespace linux_detail {

// Sorts an errno value into the SocketError the library expects.
int SocketErrorFromErrno(int e);

// Records errno (mapped) as the thread's last error and returns the code.
int SetLastFromErrno(int e);

static_assert(sizeof(sockaddr_in) == sizeof(SockAddrIn), "SockAddrIn must match sockaddr_in");

inline sockaddr_in ToSys(const SockAddrIn& a) {
  sockaddr_in s;
  std::memcpy(&s, &a, sizeof s);
  return s;
}

inline SockAddrIn FromSys(const sockaddr_in& s) {
  SockAddrIn a;
  std::memcpy(&a, &s, sizeof a);
  return a;
}

}  // namespace linux_detail
}  // namespace plat
