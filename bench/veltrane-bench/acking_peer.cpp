#include "acking_peer.h"

#include "asynmodel/AsynManager.h"
#include "asynmodel/PostMsgContext.h"
#include "asynmodel/net/UDPIOProcess.h"
#include "asynmodel/net/UdpDatagram.h"
#include "harness.h"

#include "sink.h"

using namespace AsynModel;

namespace vbench {

AckingPeer::AckingPeer() : recv_(LoopbackSocket()), send_(LoopbackSocket()) {
  port_ = PortOf(recv_);
  cp_.Open();
  cp_.Associate(recv_, 1);
  thread_ = std::thread([this] { Run(); });
}

AckingPeer::~AckingPeer() {
  cp_.Close();  // wakes Get with "port closed"
  thread_.join();
  cp_.CloseSocket(recv_);
  plat::CloseSocket(send_);
}

void AckingPeer::Run() {
  uint8_t buf[2048];
  for (;;) {
    plat::Overlapped ov{};
    plat::SockAddrIn from{};
    int32_t fromLen = sizeof from;
    if (cp_.StartRecvFrom(recv_, buf, sizeof buf, &from, &fromLen, &ov) != 0) return;
    uintptr_t key = 0;
    plat::Overlapped* done = nullptr;
    uint32_t bytes = 0;
    int err = 0;
    if (!cp_.Get(&key, &done, &bytes, &err)) {
      if (done == nullptr) return;  // closed
      continue;
    }
    if (bytes >= kUdpHeaderReliable && bytes <= sizeof buf && buf[kUdpOffReliable] == 1 && buf[kUdpOffAck] == 0) {
      seen_.fetch_add(1);
      uint8_t ack[kUdpAckLength];
      WriteAck(ack, wire::GetU32(buf + kUdpOffSn));
      plat::SendToNow(send_, ack, sizeof ack, from);
    }
  }
}

int32_t Receipts::OnSendResult(int16_t result, uint16_t, uint32_t, const uint8_t*, uint32_t, uint32_t, uint32_t,
                               const PeerAddress*, ISender*, UserDataInfo*, uint32_t, uint16_t, uint8_t) {
  if (result == 0) {
    ok.Add();
  } else {
    failed.fetch_add(1);
    ok.Interrupt();
  }
  return 0;
}

bool SendAcknowledged(Receipts& s, uint16_t port, int64_t n, const void* body, uint32_t bytes) {
  PeerAddress dest;
  dest.SetUdp("127.0.0.1", port);
  const int64_t base = s.ok.Load();
  const int64_t failedBefore = s.failed.load();
  const int64_t deadline = NowNs() + int64_t{20} * 1000000000;
  auto failed = [&] { return s.failed.load(std::memory_order_acquire) != failedBefore; };
  const plat::SockAddrIn to = plat::MakeAddr(0x7F000001, port);
  UDPIOProcess* udp = AsynManager::GetInstance()->GetUDPProcessor();
  for (int64_t i = 0; i < n; ++i) {
    // As many in flight as the peer's window takes (read, as a host cannot,
    // so that no send is built only to be refused). A full window is waited
    // out until half of it is free, so the thread wakes once per half window,
    // not once per receipt; a send refused all the same (the receipt can
    // leave a moment before its slot is given back) waits for one more.
    const int64_t window = udp->FlightQuota().Window(to);
    if (i - (s.ok.Load() - base) >= window) {
      s.ok.WaitFor(base + i - window / 2, deadline);
      if (failed() || NowNs() > deadline) return false;
    }
    for (;;) {
      const int64_t acked = s.ok.Load();
      const int32_t rc = s.PostMsg(dest, 0, 1119, body, bytes, 1, kNoTimeLimit, Receipt_Both, 3, nullptr, 0, 0);
      if (rc == 0) break;
      if (rc != Udp_PeerBusy) return false;
      s.ok.WaitFor(acked + 1, deadline);
      if (failed() || NowNs() > deadline) return false;
    }
  }
  s.ok.WaitFor(base + n, deadline);
  return s.ok.Load() - base >= n && !failed();
}

}  // namespace vbench
