// The UDP transport tests' fixture: a running framework with a default
// socket on 127.0.0.1 and recording sessions; the far side is a udptest::Peer.
#pragma once
#include <cstdint>
#include <cstring>
#include <string>
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
#include "recording_session.h"
#include "udp_peer.h"

namespace udptest {

using namespace AsynModel;
using support::Receipt;
using support::Received;
using support::RecordingSession;

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
    session_ = new RecordingSession();
    held_ = TzSptr<RecordingSession>(session_);
    session_->keepSenders = true;
    ASSERT_EQ(session_->Start(), 0);
  }

  void TearDown() override {
    if (held_) held_->Terminate(Terminate_Event);
    held_ = nullptr;
    session_ = nullptr;
    if (mgr_ && mgr_->GetState() == Running) mgr_->Stop();
    if (mgr_) mgr_->Destroy();
  }

  PeerAddress To(const Peer& peer) const {
    PeerAddress a;
    a.SetUdp("127.0.0.1", peer.Port());
    return a;
  }

  // Unreliable or reliable send from the session to the peer, from the
  // default address.
  uint32_t SendTo(const Peer& peer, uint32_t msgId, const std::string& body, uint8_t reliable = 0,
                  uint32_t limitMs = kNoTimeLimit, uint32_t receiptMode = Receipt_None) {
    return session_->PostMsg(To(peer), 0, msgId, body.data(), static_cast<uint32_t>(body.size()),
                             reliable, limitMs, receiptMode, 3, nullptr, 0, 0);
  }

  AsynManager* mgr_ = nullptr;
  UDPIOProcess* udp_ = nullptr;
  uint32_t defaultIp_ = 0;
  uint16_t defaultPort_ = 0;
  RecordingSession* session_ = nullptr;  // held_ keeps it
  TzSptr<RecordingSession> held_;
};

}  // namespace udptest
