// BSD sockets behind a small surface: IPv4 only, non-blocking, with errors
// mapped to one set of codes here rather than compared all over the library.
//
// Switching off connection-reset reporting on UDP sockets (a Windows control
// code) has no counterpart here and no call: a UDP socket that is not
// connected never receives ICMP errors on this system, so a port-unreachable
// reply cannot fail a later receive in the first place.
//
// Threads: every function may be called from any thread. A socket that is
// associated with a CompletionPort must be closed through the port
// (CompletionPort::CloseSocket), never through CloseSocket below.
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
// Every system error is sorted into one of these in a single place.
enum SocketError : int {
  kSockOk = 0,
  kSockIoPending = 997,
  kSockAccess = 10013,
  kSockInvalidArg = 10022,
  kSockTooManyFiles = 10024,
  kSockWouldBlock = 10035,
  kSockAlready = 10037,
  kSockNotSocket = 10038,
  kSockMsgSize = 10040,
  kSockAfNotSupported = 10047,
  kSockAddrInUse = 10048,
  kSockAddrNotAvail = 10049,
  kSockNetUnreach = 10051,
  kSockConnAborted = 10053,
  kSockConnReset = 10054,
  kSockNoBufs = 10055,
  kSockIsConn = 10056,
  kSockNotConn = 10057,
  kSockTimedOut = 10060,
  kSockConnRefused = 10061,
  kSockHostUnreach = 10065,
  kSockOther = -1,
};
// Whether err refused one send for its destination (the address or route, not
// the socket): such a send fails alone and the socket stays in use. Every
// other send error means the socket itself is unusable.
bool IsDestinationError(int err);

// The calling thread's last error: set by a failed call below, by a failed
// CompletionPort start, and by a CompletionPort::Get that hands out a failed
// operation (as a failed dequeue sets the last error on Windows).
int LastSocketError();
void SetLastSocketError(int err);

Socket UdpSocket();  // non-blocking, close-on-exec; kInvalidSocket on failure
Socket TcpSocket();  // non-blocking, close-on-exec; kInvalidSocket on failure
bool BindSocket(Socket s, const SockAddrIn& addr);
bool GetSockName(Socket s, SockAddrIn* out);
bool GetPeerName(Socket s, SockAddrIn* out);
// Asks for both buffer sizes. The system may grant less than asked (it caps
// unprivileged requests); only a refused call counts as failure.
bool SetSocketBuffers(Socket s, int sendBytes, int recvBytes);
bool SetReuseAddr(Socket s);
bool SetNoDelay(Socket s);  // TCP: send small frames at once (no Nagle delay)
bool ListenSocket(Socket s, int backlog);
void CloseSocket(Socket s);  // for sockets not associated with a port

// Interface address the system would use to reach destIp (a UDP connect to
// port 0; nothing is sent). Writes dotted text into a zeroed 128-byte buffer;
// false (buffer left empty) when destIp does not parse or has no route.
bool GetLocalIpToward(const char* destIp, char* buf128);
// Address of the interface carrying the default route (host order). On a
// machine without a default route this is 127.0.0.1 (see socket.cpp).
uint32_t PrimaryLocalIp();

// Direct datagram calls for sockets that are NOT associated with a
// CompletionPort (benchmark baselines and stand-in peers); they never wait.
// SendToNow: the bytes handed to the system, or -1 (LastSocketError set).
// RecvFromNow: the datagram's real size (above cap: only cap bytes were
// stored), or -1 (kSockWouldBlock when nothing is waiting). from may be null.
int32_t SendToNow(Socket s, const void* buf, uint32_t len, const SockAddrIn& to);
int32_t RecvFromNow(Socket s, void* buf, uint32_t cap, SockAddrIn* from);

}  // namespace plat
