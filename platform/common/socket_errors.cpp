// How the transport sorts a failed send: the codes are the platform layer's
// own (each system's errors are mapped onto them where they arise), so one
// table serves every system.
#include "platform/socket.h"

namespace plat {

bool IsDestinationError(int err) {
  switch (err) {
    case kSockAccess:          // broadcast without permission, firewall refusal
    case kSockInvalidArg:      // port 0 or an address the family cannot use
    case kSockAddrNotAvail:    // no local address can reach it
    case kSockAfNotSupported:
    case kSockNetUnreach:
    case kSockHostUnreach:
    case kSockConnRefused:     // an ICMP answer about an earlier datagram
    case kSockMsgSize:         // this datagram only
      return true;
    default:
      return false;
  }
}

}  // namespace plat
