// One posted TCP operation (send, header or body receive, accept, connect).
// From the private heap of its class. The TCP transport fills in what it needs
// beyond the fields the completion-port controller uses.
#pragma once
#include <cstdint>

#include "asynmodel/PerIO.h"
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
  // Accept: a 72-byte stream (the accepted socket itself comes back in the
  // overlapped block's acceptSocket).
  SptrMemStream stream;
};

}  // namespace AsynModel
