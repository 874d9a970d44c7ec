// Completion-port stand-in: an epoll set, an eventfd and a FIFO of finished
// completions. Every started operation either fails at once (no completion
// will come) or completes exactly once through Get, also when it could have
// finished immediately, as a Windows completion port behaves.
#pragma once
#include <cstdint>

#include "platform/socket.h"

namespace plat {

// First member of every PerIO; the record comes back from Get as it went in.
// The fields below belong to the port while an operation is pending.
struct Overlapped {
  Overlapped* next;      // FIFO / pending-list link
  Socket socket;         // socket of the pending operation
  uint32_t op;           // internal operation code
  uint32_t bytes;        // bytes transferred
  int error;             // 0 or a SocketError
  void* buffer;          // operation buffer
  uint32_t length;       // its length
  SockAddrIn* addr;      // peer address (send-to target / recv-from source)
  int32_t* addrLen;      // in/out for recv-from
  Socket acceptSocket;   // accept: the accepted socket
  uintptr_t key;         // completion key of the socket
};

class CompletionPort {
 public:
  CompletionPort();
  ~CompletionPort();
  CompletionPort(const CompletionPort&) = delete;
  CompletionPort& operator=(const CompletionPort&) = delete;

  bool Open();      // false if the system objects cannot be made
  void Close();     // wakes every Get with "port closed"
  bool IsOpen() const;

  bool Associate(Socket s, uintptr_t key);
  // Like PostQueuedCompletionStatus.
  bool Post(uintptr_t key, Overlapped* ov, uint32_t bytes);
  // Blocks. true: ov completed successfully. false + *ov null: port closed.
  // false + *ov set: that operation completed with *err.
  bool Get(uintptr_t* key, Overlapped** ov, uint32_t* bytes, int* err);

  // 0: a completion will come; else a SocketError and none will.
  int StartSendTo(Socket s, const void* buf, uint32_t len, const SockAddrIn& to, Overlapped* ov);
  int StartRecvFrom(Socket s, void* buf, uint32_t len, SockAddrIn* from, int32_t* fromLen, Overlapped* ov);
  int StartSend(Socket s, const void* buf, uint32_t len, Overlapped* ov);
  int StartRecv(Socket s, void* buf, uint32_t len, Overlapped* ov);
  int StartConnect(Socket s, const SockAddrIn& to, Overlapped* ov);
  int StartAccept(Socket listenSocket, Overlapped* ov);  // result in ov->acceptSocket

  // Closes a socket; its pending operations complete with kSockConnReset.
  void CloseSocket(Socket s);

 private:
  struct Impl;
  Impl* impl_;
};

}  // namespace plat
