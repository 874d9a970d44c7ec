// Who may answer the report session. A 6802 names the QoS server for a day
// and a 1120 releases secured blocks for good, so an answer counts only when
// it comes from an address the session itself asked: a 6802 from an entry of
// the STPRC table, a 1120 from an address the secured packets went to.
// Messages posted inside the process (tests, local senders) are always taken.
//
// Threads: used by the serial report session only; IgnoredAnswer may be
// called from any thread.
#pragma once
#include <cstddef>
#include <cstdint>

#include "asynmodel/PeerAddress.h"
#include "asynmodel/net/ISender.h"

namespace report {

// True for a message posted inside the process (no sender, or a local one).
bool FromInsideProcess(const AsynModel::SptrISender& sender);
// True when the sender's remote address is addr's UDP address.
bool SenderIs(const AsynModel::SptrISender& sender, const AsynModel::PeerAddress& addr);
// Writes the rate-limited warning for an answer that was not taken.
void IgnoredAnswer(uint32_t msgId, const AsynModel::SptrISender& sender, const char* why);

// The last few distinct addresses that secured packets were sent to.
class SecureAckSources {
 public:
  static constexpr size_t kRemembered = 4;

  void Remember(const AsynModel::PeerAddress& dest);
  // From inside the process, or from one of the remembered addresses.
  bool Accepts(const AsynModel::SptrISender& sender) const;

 private:
  uint32_t m_ip[kRemembered] = {};    // host order
  // port 0: a free slot
  uint16_t m_port[kRemembered] = {};
  size_t m_next = 0;
};

}  // namespace report
