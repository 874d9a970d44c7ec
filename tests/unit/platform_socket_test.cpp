// The socket layer: address helpers, socket flags, the error mapping and the
// local-address probes. Real sockets on 127.0.0.1 only.
#if defined(__linux__)
#include <fcntl.h>
#endif

#include <cstring>

#include <gtest/gtest.h>

#include "platform/socket.h"

namespace {

using plat::Socket;

Socket BoundUdp(uint32_t ipHost, uint16_t port) {
  Socket s = plat::UdpSocket();
  EXPECT_NE(s, plat::kInvalidSocket);
  EXPECT_TRUE(plat::BindSocket(s, plat::MakeAddr(ipHost, port)));
  return s;
}

constexpr uint32_t kLoopback = 0x7F000001u;

TEST(PlatformSocketAddress, ParsesAndPrintsLikeTheSocketLibrary) {
  EXPECT_EQ(plat::InetAddr("127.0.0.1"), plat::HostToNet32(kLoopback));
  EXPECT_EQ(plat::InetAddr("10.1.2.3"), plat::HostToNet32(0x0A010203u));
  EXPECT_EQ(plat::InetAddr("not an address"), plat::kInaddrNone);
  EXPECT_EQ(plat::InetAddr(nullptr), plat::kInaddrNone);
  EXPECT_EQ(plat::InetAddr(""), plat::kInaddrNone);
  // inet_addr cannot tell the broadcast address from a parse failure.
  EXPECT_EQ(plat::InetAddr("255.255.255.255"), plat::kInaddrNone);

  char text[16];
  EXPECT_STREQ(plat::InetNtoa(plat::HostToNet32(0xC0A80001u), text), "192.168.0.1");

  plat::SockAddrIn a = plat::MakeAddr(kLoopback, 6801);
  EXPECT_EQ(plat::NetToHost16(a.portBe), 6801);
  EXPECT_EQ(plat::NetToHost32(a.addrBe), kLoopback);
  const uint8_t* raw = reinterpret_cast<const uint8_t*>(&a);
  EXPECT_EQ(raw[2], 6801 >> 8);  // port in network order
  EXPECT_EQ(raw[4], 127);        // address in network order
  for (uint8_t z : a.zero) EXPECT_EQ(z, 0);
}

TEST(PlatformSocketCreate, NonBlockingCloseOnExecSocketsBindAnEphemeralPort) {
  for (Socket s : {plat::UdpSocket(), plat::TcpSocket()}) {
    ASSERT_NE(s, plat::kInvalidSocket);
#if defined(__linux__)  // descriptor flags; Windows has no query for FIONBIO
    int fd = static_cast<int>(s);
    EXPECT_NE(fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
    EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
#endif
    plat::CloseSocket(s);
  }
  Socket s = BoundUdp(kLoopback, 0);
  plat::SockAddrIn local{};
  ASSERT_TRUE(plat::GetSockName(s, &local));
  EXPECT_NE(plat::NetToHost16(local.portBe), 0);
  EXPECT_EQ(plat::NetToHost32(local.addrBe), kLoopback);
  EXPECT_TRUE(plat::SetSocketBuffers(s, 2 * 1024 * 1024, 2 * 1024 * 1024));
  plat::CloseSocket(s);

  Socket t = plat::TcpSocket();
  EXPECT_TRUE(plat::SetReuseAddr(t));
  EXPECT_TRUE(plat::BindSocket(t, plat::MakeAddr(kLoopback, 0)));
  EXPECT_TRUE(plat::ListenSocket(t, 8));
  plat::SockAddrIn peer{};
  EXPECT_FALSE(plat::GetPeerName(t, &peer));  // a listener has no peer
  EXPECT_EQ(plat::LastSocketError(), plat::kSockNotConn);
  plat::CloseSocket(t);
}

TEST(PlatformSocketErrors, FailuresMapToSocketErrorCodes) {
  Socket a = BoundUdp(kLoopback, 0);
  plat::SockAddrIn taken{};
  ASSERT_TRUE(plat::GetSockName(a, &taken));
  Socket b = plat::UdpSocket();
  EXPECT_FALSE(plat::BindSocket(b, taken));
  EXPECT_EQ(plat::LastSocketError(), plat::kSockAddrInUse);
#if !defined(_WIN32)  // Wine lets such a bind succeed (Windows refuses it as Linux does)
  // 203.0.113.0/24 is a documentation range that no interface here carries.
  EXPECT_FALSE(plat::BindSocket(b, plat::MakeAddr(0xCB00714Du, 0)));
  EXPECT_EQ(plat::LastSocketError(), plat::kSockAddrNotAvail);
#endif
  plat::CloseSocket(a);
  plat::CloseSocket(b);

  plat::SockAddrIn out{};
  EXPECT_FALSE(plat::GetSockName(plat::kInvalidSocket, &out));
  EXPECT_EQ(plat::LastSocketError(), plat::kSockNotSocket);
  const Socket neverOpened = 1000000;
  EXPECT_FALSE(plat::BindSocket(neverOpened, plat::MakeAddr(kLoopback, 0)));
  EXPECT_EQ(plat::LastSocketError(), plat::kSockNotSocket);

}

TEST(PlatformSocketLocalIp, ResultLeavesTheRestOfTheBufferZeroedAndThePrimaryAddressIsBindable) {
  char buf[128];
  std::memset(buf, 'x', sizeof buf);
  ASSERT_TRUE(plat::GetLocalIpToward("127.0.0.1", buf));
  EXPECT_STREQ(buf, "127.0.0.1");
  for (size_t i = std::strlen(buf); i < sizeof buf; ++i) ASSERT_EQ(buf[i], 0) << i;
  for (const char* bad : {"", "nonsense", "255.255.255.255"}) {
    std::memset(buf, 'x', sizeof buf);
    EXPECT_FALSE(plat::GetLocalIpToward(bad, buf)) << bad;
    for (char c : buf) ASSERT_EQ(c, 0) << bad;
  }
  EXPECT_FALSE(plat::GetLocalIpToward(nullptr, buf));

  // The primary address is local and bindable.
  const uint32_t ip = plat::PrimaryLocalIp();
  ASSERT_NE(ip, 0u);
  Socket s = BoundUdp(ip, 0);
  plat::SockAddrIn local{};
  ASSERT_TRUE(plat::GetSockName(s, &local));
  EXPECT_EQ(plat::NetToHost32(local.addrBe), ip);
  plat::CloseSocket(s);
}

}  // namespace
