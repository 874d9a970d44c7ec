// BSD sockets behind a small surface: IPv4 only, non-blocking, with errors
// mapped to one set of codes here rather than compared all over the library.
#pragma once
#include <cstdint>

namespace plat {

using Socket = intptr_t;
constexpr Socket kInvalidSocket = -1;

// Same 16-byte layout as sockaddr_in: family, port and address in network order.
struct SockAddrIn {
  uint16_t family;
  uint16_t portBe;
  uint32_t addrBe;
  uint8_t zero[8];
};
static_assert(sizeof(SockAddrIn) == 16, "SockAddrIn must match sockaddr_in");

constexpr uint32_t kInaddrNone = 0xFFFFFFFFu;

// inet_addr: dotted text to a network-order address; kInaddrNone for text
// that does not parse (null parses as kInaddrNone too).
uint32_t InetAddr(const char* text);
// inet_ntoa into a caller buffer of at least 16 bytes; returns out.
char* InetNtoa(uint32_t addrBe, char* out);
uint32_t HostToNet32(uint32_t v);
uint32_t NetToHost32(uint32_t v);
uint16_t HostToNet16(uint16_t v);
uint16_t NetToHost16(uint16_t v);
SockAddrIn MakeAddr(uint32_t ipHost, uint16_t portHost);

// Error codes handed to the library (the Windows values where one exists).
enum SocketError : int {
  kSockOk = 0,
  kSockIoPending = 997,
  kSockWouldBlock = 10035,
  kSockAddrInUse = 10048,
  kSockAddrNotAvail = 10049,
  kSockConnReset = 10054,
  kSockNotSocket = 10038,
  kSockInvalidArg = 10022,
  kSockOther = -1,
};
int LastSocketError();  // of the calling thread's last failed call below

Socket UdpSocket();  // non-blocking, close-on-exec
Socket TcpSocket();  // non-blocking, close-on-exec
bool BindSocket(Socket s, const SockAddrIn& addr);
bool GetSockName(Socket s, SockAddrIn* out);
bool SetSocketBuffers(Socket s, int sendBytes, int recvBytes);
bool SetReuseAddr(Socket s);
bool ListenSocket(Socket s, int backlog);
void CloseSocket(Socket s);

// Interface address the system would use to reach destIp (a UDP connect to
// port 0; nothing is sent). Writes dotted text into a zeroed 128-byte buffer.
bool GetLocalIpToward(const char* destIp, char* buf128);
// Address of the interface carrying the default route (host order), 0 if none.
uint32_t PrimaryLocalIp();

}  // namespace plat
