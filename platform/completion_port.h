// Completion port: the system's own on Windows; on Linux a stand-in made of an
// epoll set, an eventfd and a FIFO of finished completions. Every started
// operation either fails at once (no completion will come) or completes
// exactly once through Get, also when it could have finished immediately, as
// a Windows completion port behaves.
//
// Threads: every method may be called from any thread, except that Close (and
// the destructor) must not run on a thread that is itself blocked in Get.
// Any number of threads may block in Get; each completion goes to exactly one.
#pragma once
#include <cstdint>

#include "platform/socket.h"

namespace plat {

// *err of a Get that returns because the port was closed (the Windows
// ERROR_ABANDONED_WAIT_0).
constexpr int kPortClosedError = 735;

// First member of every PerIO; the record comes back from Get as it went in.
// The fields below belong to the port while an operation is pending; the
// caller zeroes the block before each operation.
struct Overlapped {
  Overlapped* next;      // FIFO / pending-list link
  Socket socket;         // socket of the pending operation
  uint32_t op;           // internal operation code
  uint32_t bytes;        // bytes transferred (see StartRecvFrom for datagrams)
  int error;             // 0 or a SocketError
  void* buffer;          // operation buffer
  uint32_t length;       // its length
  SockAddrIn* addr;      // recv-from: where the source address goes
  int32_t* addrLen;      // recv-from: in/out length of *addr
  SockAddrIn peer;       // send-to / connect: copy of the target
  Socket acceptSocket;   // accept: the accepted socket
  uintptr_t key;         // completion key of the socket
  // The system's own per-operation block (Windows: the OVERLAPPED, then the
  // address area of an accept); unused on Linux.
  alignas(8) unsigned char system[96];
};

class CompletionPort {
 public:
  CompletionPort();
  ~CompletionPort();  // Close
  CompletionPort(const CompletionPort&) = delete;
  CompletionPort& operator=(const CompletionPort&) = delete;

  // False if the system objects cannot be made. Opening an open port is a
  // no-op that answers true; a closed port may be opened again.
  bool Open();
  // Wakes every Get with "port closed" and forgets every association (the
  // sockets themselves stay open). Completions still queued and operations
  // still pending are abandoned, as with a closed Windows port: the caller
  // drains them before closing.
  void Close();
  bool IsOpen() const;

  // Binds a socket with its completion key. False when the port is closed,
  // the socket is invalid or already associated.
  bool Associate(Socket s, uintptr_t key);
  // Like PostQueuedCompletionStatus; ov must not be null. False when closed.
  bool Post(uintptr_t key, Overlapped* ov, uint32_t bytes);
  // Blocks. true: ov completed successfully. false + *ov null: port closed
  // (*err = kPortClosedError). false + *ov set: that operation completed with
  // *err, which also becomes the thread's LastSocketError.
  bool Get(uintptr_t* key, Overlapped** ov, uint32_t* bytes, int* err);

  // 0: a completion will come; else a SocketError and none will (the error
  // is also the thread's LastSocketError). The socket must be associated; one
  // that is not (or was closed through CloseSocket) fails with kSockNotSocket.
  // The buffer must stay valid until the completion has been taken by Get.
  int StartSendTo(Socket s, const void* buf, uint32_t len, const SockAddrIn& to, Overlapped* ov);
  // Datagrams: a completion's byte count above len means the datagram did
  // not fit and only its first len bytes were stored: the caller drops it.
  // Never read past len. The count is then the datagram's real size on
  // Linux; Windows does not tell it and reports len + 1.
  int StartRecvFrom(Socket s, void* buf, uint32_t len, SockAddrIn* from, int32_t* fromLen, Overlapped* ov);
  // Completes when all len bytes were handed to the system, or with an error
  // (bytes then tells how many went out before it).
  int StartSend(Socket s, const void* buf, uint32_t len, Overlapped* ov);
  // Completes with the bytes received (1..len), or 0 when the peer closed.
  int StartRecv(Socket s, void* buf, uint32_t len, Overlapped* ov);
  int StartConnect(Socket s, const SockAddrIn& to, Overlapped* ov);
  // The accepted socket (non-blocking, close-on-exec, not yet associated)
  // comes back in ov->acceptSocket and belongs to the caller.
  int StartAccept(Socket listenSocket, Overlapped* ov);

  // Closes an associated socket; its pending operations complete with
  // kSockConnReset. Safe against a concurrent start or completion on the
  // same socket: each operation still completes exactly once.
  void CloseSocket(Socket s);

 private:
  struct Impl;
  Impl* impl_;
};

}  // namespace plat
