// Starting the library against loopback test servers, shared by the suites.
#pragma once
#include <cstdint>
#include <vector>

#include "e2e_support.h"
#include "veltrane.h"
#include "velt_test_hooks.h"

namespace e2e {

// The library's report session as seen by a server: where its datagrams come
// from and its session id.
struct ClientAddr {
  vpeer::Endpoint ep;
  uint32_t sid = 0;
};

// Starts the library in single-port mode on 127.0.0.1 (system-chosen port)
// with one STPRC server; returns the start-up code.
int32_t StartWithStprc(const TestServer& stprc, VeltAdjustCallback cb = nullptr);

// Waits for the session's 6801 at stprc and answers it with a 6802 naming
// `qos` (result 0). Returns the client's address.
bool AnswerStprc(TestServer& stprc, const vpeer::Endpoint& qos, ClientAddr* client, uint32_t result = 0);

// Reports one record and waits for it at server as 1116; out gets its body.
bool ReportAndReceive(TestServer& server, const std::vector<uint8_t>& record, std::vector<uint8_t>* body,
                      int timeoutMs = 3000);

// Returns once the report session has handled everything handed to it
// before: a record with its own destination reaches a fresh server. Whatever
// the session sent before that is in its receivers' buffers by then.
bool SessionBarrier();

// Time stands still for the life of the object (see VELT_TestFreezeClock).
struct FrozenTime {
  FrozenTime() { VELT_TestFreezeClock(1); }
  ~FrozenTime() { VELT_TestFreezeClock(0); }
};

// With time frozen: moves it by ms and returns once the report session has
// handled whatever fell due by then. Nothing else can fall due while time
// stands still, so a server that has received nothing by then gets nothing.
bool AdvanceAndSettle(int64_t ms);
// With time frozen: moves it in 10 ms steps until server has received a
// datagram (into r); the ms it took, or -1 when none came within limitMs.
// A report session handler goes on after its datagram leaves (logging,
// arming its next timer): the session has finished it by the time this
// returns.
int MsUntilReceived(TestServer& server, Received* r, int limitMs);

std::vector<uint8_t> Pattern(size_t n, uint8_t seed);

}  // namespace e2e
