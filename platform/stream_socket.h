// Direct stream calls for TCP sockets that are NOT associated with a
// CompletionPort: stand-in peers for the TCP transport. A blocking socket
// waits in them; a non-blocking one does not and fails with kSockWouldBlock.
// Failures set LastSocketError, as the calls of socket.h do.
//
// Threads: any thread, one caller per socket at a time.
#pragma once
#include <cstdint>

#include "platform/socket.h"

namespace plat {

bool SetBlocking(Socket s, bool blocking);
// One waiting connection as a non-blocking socket, or kInvalidSocket.
Socket AcceptNow(Socket listener);
// True once connected or, on a non-blocking socket, while under way.
bool ConnectSocket(Socket s, const SockAddrIn& to);
// Bytes handed over or read (0: the far side ended the stream), or -1.
// Sending to a closed connection fails; it never raises a signal.
int32_t StreamSend(Socket s, const void* buf, uint32_t len);
int32_t StreamRecv(Socket s, void* buf, uint32_t cap);
// Up to timeoutMs of real time for data, a connection to accept, the end of
// the stream or an error; false when none came.
bool WaitReadable(Socket s, int timeoutMs);
// Makes CloseSocket reset the connection instead of ending it in order.
bool SetResetOnClose(Socket s);

}  // namespace plat
