// Windows-side helpers shared by socket.cpp and completion_port.cpp: the one
// place where Winsock and system error values become SocketError codes.
#pragma once
#include "platform/socket.h"

namespace plat {
namespace win_detail {

// Sorts a Winsock error (WSAGetLastError) or a system error of a finished
// overlapped operation (GetLastError after a failed dequeue) into the
// SocketError the library expects.
int SocketErrorFromSystem(int e);

// Records e (sorted) as the thread's last error and returns the code.
int SetLastFromSystem(int e);

// Winsock is started once per process before the first socket call.
bool EnsureWinsock();

}  // namespace win_detail
}  // namespace plat
