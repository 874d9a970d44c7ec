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
  const int64_t now = (result == 0 ? ok : failed).fetch_add(1) + 1;
  if (result != 0 || now >= wakeAt_.load()) {
    std::lock_guard<std::mutex> lk(mu_);  // the waiter is either before its check or asleep
    cv_.notify_all();
  }
  return 0;
}

void Receipts::WaitFor(int64_t target, int64_t deadlineNs) {
  const int64_t failedBefore = failed.load();
  std::unique_lock<std::mutex> lk(mu_);
  wakeAt_.store(target);
  while (ok.load() < target && failed.load() == failedBefore && NowNs() < deadlineNs) {
    cv_.wait_for(lk, std::chrono::milliseconds(5));
  }
  wakeAt_.store(INT64_MAX);
}

bool SendAcknowledged(Receipts& s, uint16_t port, int64_t n, const void* body, uint32_t bytes) {
  PeerAddress dest;
  dest.SetUdp("127.0.0.1", port);
  const int64_t base = s.ok.load();
  const int64_t failedBefore = s.failed.load();
  const int64_t deadline = NowNs() + int64_t{20} * 1000000000;
  auto failed = [&] { return s.failed.load(std::memory_order_acquire) != failedBefore; };
  const plat::SockAddrIn to = plat::MakeAddr(0x7F000001, port);
  UDPIOProcess* udp = AsynManager::GetInstance()->GetUDPProcessor();
  for (int64_t i = 0; i < n; ++i) {
    // As many in flight as the peer's window takes (read, as a host cannot,
    // so that no send is built only to be refused); when it is full, the
    // next receipt (its slot is given back before the receipt leaves) makes
    // room. A send refused all the same waits for the next receipt.
    // A full window is waited out until half of it is free, so the thread
    // wakes once per half window, not once per receipt.
    const int64_t window = udp->FlightQuota().Window(to);
    if (i - (s.ok.load() - base) >= window) {
      s.WaitFor(base + i - window / 2, deadline);
      if (failed() || NowNs() > deadline) return false;
    }
    for (;;) {
      const int64_t acked = s.ok.load();
      const int32_t rc = s.PostMsg(dest, 0, 1119, body, bytes, 1, kNoTimeLimit, Receipt_Both, 3, nullptr, 0, 0);
      if (rc == 0) break;
      if (rc != Udp_PeerBusy) return false;
      s.WaitFor(acked + 1, deadline);
      if (failed() || NowNs() > deadline) return false;
    }
  }
  s.WaitFor(base + n, deadline);
  return s.ok.load() - base >= n && !failed();
}

}  // namespace vbench
