// One posted TCP operation (send, header or body receive, accept, connect).
// From the private heap of its class.
//
// Ownership: a send record waiting in a connection's queue belongs to that
// entry; once its send is started it belongs to the port until a worker
// hands it to the TCP processor. Receive, accept and connect records belong
// to the port while in flight.
#pragma once
#include <cstdint>

#include "asynmodel/PerIO.h"
#include "asynmodel/PostMsgContext.h"
#include "asynmodel/net/MemStream.h"

namespace AsynModel {

// PerIO::operation of a TCPIOData (m_type).
enum TcpIoType : uint32_t {
  TCP_IO_SEND = 0,
  TCP_IO_RECV_H = 1,  // frame header
  TCP_IO_RECV_B = 2,  // frame body
  TCP_IO_ACCEPT = 3,
  TCP_IO_CONNECT = 4,
};

struct TCPIOData : public PerIO, public TzPooled<TCPIOData, TzPrivateHeapMemAllocMethod> {
  // kind PerIO_TCP
  uint32_t transferred = 0;  // bytes of the completed transfer
  // One-entry buffer descriptor of the last send or receive.
  uint32_t bufLength = 0;
  uint8_t* bufPointer = nullptr;
  // Send: the whole frame; receives: the header or body being filled;
  // accept: a 72-byte stream (the accepted socket itself comes back in the
  // overlapped block's acceptSocket).
  SptrMemStream stream;
  uint32_t done = 0;              // bytes of the stream sent or received so far
  SptrPostMsgContext context;     // send: the message's context
  uint32_t seq = 0;               // send: the connection's sequence number
  uint8_t receiptGiven = 0;       // send: set under the entry's lock
  TCPIOData* next = nullptr;      // send: link in the entry's queue
};

}  // namespace AsynModel
