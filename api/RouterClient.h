// The callback interfaces through which a router client (the routing-server
// side of relay mode) talks to the coordinator. This library holds the
// coordinator's side only: nothing in it calls these interfaces or adds a
// relay connection.
#pragma once
#include <cstdint>

namespace RouterClient {

// What a relay registers as; only the router client would fill it.
struct RelayDescriptor {
  uint8_t bytes[64];
};

// Receives the answers to heartbeats. Called on the router client's thread.
class IRAAHeartbeatCB {
 public:
  // status: the server's status code with its text (at most 64 characters);
  // intervalMs: the heartbeat interval the server expects, 0 when not given.
  virtual void on_heartbeat(uint32_t sequence, int32_t status, const char* text, uint32_t intervalMs) = 0;

 protected:
  ~IRAAHeartbeatCB() = default;
};

// Receives the answer to one registration request.
class IRAARegisterCB {
 public:
  // result 0: registered, with the two relay values to send in heartbeats.
  virtual void on_register(int32_t result, uint32_t relayValue1, uint32_t relayValue2) = 0;

 protected:
  virtual ~IRAARegisterCB() = default;
};

// One relay connection to a router-center server.
class IRelayConnection {
 public:
  // False when the heartbeat could not be sent.
  virtual bool SendHeartbeat(uint32_t relayValue1, uint32_t relayValue2, const RelayDescriptor* descriptor,
                             IRAAHeartbeatCB* callback, uint32_t sequence) = 0;

 protected:
  virtual ~IRelayConnection() = default;
};

}  // namespace RouterClient
