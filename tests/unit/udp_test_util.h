// Shared pieces of the UDP transport tests: a running framework with a
// default socket on 127.0.0.1, a session that records what reaches it, and a
// plain OS socket on 127.0.0.1 that plays the remote peer.
#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "asynmodel/AsynManager.h"
#include "asynmodel/PostMsgContext.h"
#include "asynmodel/Session.h"
#include "asynmodel/net/UDPIOProcess.h"
#include "asynmodel/net/UdpDatagram.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/socket.h"

namespace udptest {

using namespace AsynModel;

// A remote peer: a plain UDP socket on 127.0.0.1, not tied to any port.
class Peer {
 public:
  Peer() : s_(plat::UdpSocket()) {
    plat::BindSocket(s_, plat::MakeAddr(kLoopback, 0));
    plat::SockAddrIn a{};
    plat::GetSockName(s_, &a);
    port_ = plat::NetToHost16(a.portBe);
    plat::SetSocketBuffers(s_, 4 << 20, 4 << 20);
  }
  ~Peer() { plat::CloseSocket(s_); }
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  uint16_t Port() const { return port_; }

  void SendTo(uint16_t port, const std::vector<uint8_t>& bytes) const {
    plat::SendToNow(s_, bytes.data(), static_cast<uint32_t>(bytes.size()), plat::MakeAddr(kLoopback, port));
  }

  // One datagram within timeoutMs of real time; false when none came.
  bool Recv(std::vector<uint8_t>* out, int timeoutMs, uint16_t* fromPort = nullptr) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::vector<uint8_t> buf(70000);
    plat::SockAddrIn from{};
    for (;;) {
      const int32_t n = plat::RecvFromNow(s_, buf.data(), static_cast<uint32_t>(buf.size()), &from);
      if (n >= 0) {
        out->assign(buf.begin(), buf.begin() + n);
        if (fromPort) *fromPort = plat::NetToHost16(from.portBe);
        return true;
      }
      if (plat::LastSocketError() != plat::kSockWouldBlock || std::chrono::steady_clock::now() >= deadline) {
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }

 private:
  static constexpr uint32_t kLoopback = 0x7F000001;
  plat::Socket s_;
  uint16_t port_ = 0;
};

// A port that was free a moment ago (for sockets that must not take the
// default's port through the (ip, 0) substitution).
inline uint16_t FreeUdpPort() {
  Peer probe;
  return probe.Port();
}

// Datagram images written independently of the library's builder.
inline void PutLe16(std::vector<uint8_t>* v, uint16_t x) {
  v->push_back(static_cast<uint8_t>(x));
  v->push_back(static_cast<uint8_t>(x >> 8));
}
inline void PutLe32(std::vector<uint8_t>* v, uint32_t x) {
  for (int i = 0; i < 4; ++i) v->push_back(static_cast<uint8_t>(x >> (8 * i)));
}
inline uint32_t GetLe32(const std::vector<uint8_t>& v, size_t at) {
  return static_cast<uint32_t>(v[at]) | (static_cast<uint32_t>(v[at + 1]) << 8) |
         (static_cast<uint32_t>(v[at + 2]) << 16) | (static_cast<uint32_t>(v[at + 3]) << 24);
}

// A data datagram: reliable with sn when `reliable`, else the 8-byte header
// with `flag6` at offset 6.
inline std::vector<uint8_t> DataDatagram(uint32_t msgId, uint32_t srcSid, uint32_t destSid,
                                         const std::string& body, bool reliable = false,
                                         uint32_t sn = 0, uint8_t flag6 = 0) {
  const uint32_t header = reliable ? 12 : 8;
  std::vector<uint8_t> v;
  PutLe16(&v, 1);
  PutLe16(&v, static_cast<uint16_t>(header + 16 + body.size()));
  PutLe16(&v, 0);
  v.push_back(reliable ? 1 : flag6);
  v.push_back(0);
  if (reliable) PutLe32(&v, sn);
  PutLe32(&v, 1);
  PutLe32(&v, msgId);
  PutLe32(&v, srcSid);
  PutLe32(&v, destSid);
  v.insert(v.end(), body.begin(), body.end());
  return v;
}

inline std::vector<uint8_t> AckDatagram(uint32_t sn) {
  std::vector<uint8_t> v;
  PutLe16(&v, 1);
  PutLe16(&v, 12);
  PutLe16(&v, 0);
  v.push_back(1);
  v.push_back(1);
  PutLe32(&v, sn);
  return v;
}

struct Received {
  uint32_t msgId;
  std::string body;
  uint32_t srcSid;
  SptrISender sender;
};

struct Receipt {
  int16_t result;
  uint16_t transport;
  uint32_t msgId;
  std::string body;
  uint8_t reliable;
  int64_t atMs;  // framework clock when it arrived
};

// Records messages and send results; waits are bounded in real time.
class RecordingSession : public Session {
 public:
  int32_t OnMessage(uint32_t msgId, const uint8_t* data, uint32_t length, uint32_t srcSid,
                    const SptrISender& sender) override {
    std::lock_guard<std::mutex> g(mu_);
    messages_.push_back(Received{msgId, std::string(reinterpret_cast<const char*>(data), data ? length : 0),
                                 srcSid, sender});
    cv_.notify_all();
    return 0;
  }
  int32_t OnSendResult(int16_t result, uint16_t transport, uint32_t msgId, const uint8_t* body,
                       uint32_t bodyLength, uint32_t, uint32_t, const PeerAddress*, ISender*,
                       UserDataInfo*, uint32_t, uint16_t, uint8_t reliable) override {
    std::lock_guard<std::mutex> g(mu_);
    receipts_.push_back(Receipt{result, transport, msgId,
                                std::string(reinterpret_cast<const char*>(body), body ? bodyLength : 0),
                                reliable, plat::NowMs()});
    cv_.notify_all();
    return 0;
  }

  bool WaitMessages(size_t n, int timeoutMs = 5000) {
    std::unique_lock<std::mutex> lk(mu_);
    return cv_.wait_for(lk, std::chrono::milliseconds(timeoutMs), [&] { return messages_.size() >= n; });
  }
  bool WaitReceipts(size_t n, int timeoutMs = 5000) {
    std::unique_lock<std::mutex> lk(mu_);
    return cv_.wait_for(lk, std::chrono::milliseconds(timeoutMs), [&] { return receipts_.size() >= n; });
  }
  std::vector<Received> Messages() {
    std::lock_guard<std::mutex> g(mu_);
    return messages_;
  }
  std::vector<Receipt> Receipts() {
    std::lock_guard<std::mutex> g(mu_);
    return receipts_;
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  std::vector<Received> messages_;
  std::vector<Receipt> receipts_;
};

// A running framework with one worker, a default socket on 127.0.0.1 with a
// system-chosen port, and one started recording session.
class UdpFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    mgr_ = AsynManager::GetInstance();
    ASSERT_NE(mgr_, nullptr);
    ASSERT_EQ(mgr_->Init(1), 0u);
    ASSERT_EQ(mgr_->Start(), 0u);
    udp_ = mgr_->GetUDPProcessor();
    ASSERT_EQ(mgr_->SetDefaultUDPAddr("127.0.0.1", 0), 0u);
    udp_->GetDefault(&defaultIp_, &defaultPort_, nullptr);
    ASSERT_EQ(defaultIp_, 0x7F000001u);
    ASSERT_NE(defaultPort_, 0);
    session_ = NewSession();
  }

  void TearDown() override {
    for (auto& s : sessions_) s->Terminate(Terminate_Event);
    sessions_.clear();
    session_ = nullptr;
    if (mgr_ && mgr_->GetState() == Running) mgr_->Stop();
    if (mgr_) mgr_->Destroy();
  }

  RecordingSession* NewSession() {
    auto* s = new RecordingSession();
    sessions_.push_back(TzSptr<RecordingSession>(s));
    EXPECT_EQ(s->Start(), 0);
    return s;
  }

  PeerAddress To(const Peer& peer) const {
    PeerAddress a;
    a.SetUdp("127.0.0.1", peer.Port());
    return a;
  }

  // Unreliable or reliable send from the session to the peer, from the
  // default address.
  uint32_t SendTo(const Peer& peer, uint32_t msgId, const std::string& body, uint8_t reliable = 0,
                  uint32_t limitMs = kNoTimeLimit, uint32_t receiptMode = Receipt_None,
                  RecordingSession* from = nullptr) {
    RecordingSession* s = from ? from : session_;
    return s->PostMsg(To(peer), 0, msgId, body.data(), static_cast<uint32_t>(body.size()), reliable,
                      limitMs, receiptMode, 3, nullptr, 0, 0);
  }

  AsynManager* mgr_ = nullptr;
  UDPIOProcess* udp_ = nullptr;
  uint32_t defaultIp_ = 0;
  uint16_t defaultPort_ = 0;
  RecordingSession* session_ = nullptr;
  std::vector<TzSptr<RecordingSession>> sessions_;
};

}  // namespace udptest
