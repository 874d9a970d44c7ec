// Reliable delivery: Session::PostMsg with the reliable flag to a peer that
// acknowledges every datagram, counted when the session's receipt is back,
// against ENet reliable packets of the same size counted when the ENet
// server has received them. ENet queues a whole run at once; the library
// keeps as many in flight as the peer's window allows (it starts at 16 and
// grows with every ACK).
#include <enet/enet.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "acking_peer.h"
#include "asynmodel/AsynManager.h"
#include "asynmodel/PostMsgContext.h"
#include "asynmodel/Session.h"
#include "comparisons.h"
#include "harness.h"
#include "library.h"

using namespace AsynModel;

namespace vbench {

namespace {

double Library(Receipts& s, AckingPeer& peer, int64_t n) {
  char body[kBody] = {};
  const int64_t t0 = NowNs();
  if (!SendAcknowledged(s, peer.Port(), n, body, kBody)) return 0;
  return static_cast<double>(n) * 1e9 / static_cast<double>(NowNs() - t0);
}

// An ENet server on 127.0.0.1 serviced by its own thread, and one
// connected client serviced by the measuring thread.
struct EnetPair {
  ENetHost* server = nullptr;
  ENetHost* client = nullptr;
  ENetPeer* peer = nullptr;
  std::atomic<int64_t> received{0};
  std::atomic<bool> stop{false};
  std::thread thread;

  bool Open() {
    ENetAddress addr{};
    enet_address_set_host_ip(&addr, "127.0.0.1");
    addr.port = 0;
    server = enet_host_create(&addr, 1, 1, 0, 0);
    client = enet_host_create(nullptr, 1, 1, 0, 0);
    if (server == nullptr || client == nullptr) return false;
    thread = std::thread([this] { Serve(); });
    ENetAddress to = server->address;
    enet_address_set_host_ip(&to, "127.0.0.1");
    peer = enet_host_connect(client, &to, 1, 0);
    ENetEvent ev;
    for (int i = 0; peer != nullptr && i < 500; ++i) {
      if (enet_host_service(client, &ev, 10) > 0 && ev.type == ENET_EVENT_TYPE_CONNECT) return true;
    }
    return false;
  }
  void Serve() {
    ENetEvent ev;
    while (!stop.load()) {
      if (enet_host_service(server, &ev, 5) <= 0) continue;
      do {
        if (ev.type == ENET_EVENT_TYPE_RECEIVE) {
          received.fetch_add(1, std::memory_order_release);
          enet_packet_destroy(ev.packet);
        }
      } while (enet_host_check_events(server, &ev) > 0);
    }
  }
  ~EnetPair() {
    stop.store(true);
    if (thread.joinable()) thread.join();
    if (client) enet_host_destroy(client);
    if (server) enet_host_destroy(server);
  }
};

double Enet(EnetPair& e, int64_t n) {
  uint8_t body[kBody] = {};
  const int64_t target = e.received.load() + n;
  const int64_t t0 = NowNs();
  for (int64_t i = 0; i < n; ++i) {
    enet_peer_send(e.peer, 0, enet_packet_create(body, kBody, ENET_PACKET_FLAG_RELIABLE));
  }
  ENetEvent ev;
  const int64_t deadline = t0 + 20000000000LL;
  while (e.received.load(std::memory_order_acquire) < target && NowNs() < deadline) {
    enet_host_service(e.client, &ev, 1);
  }
  if (e.received.load() < target) return 0;
  return static_cast<double>(n) * 1e9 / static_cast<double>(NowNs() - t0);
}

}  // namespace

void RunReliable(const Options& o) {
  PrintHeader("reliable: Session::PostMsg acknowledged (A) against ENet reliable (B), 200 bytes, as fast as each allows");
  std::string why;
  if (!StartLibrary(&why) || enet_initialize() != 0) {
    std::printf("  skipped: %s\n", why.empty() ? "enet_initialize failed" : why.c_str());
    return;
  }
  Receipts* session = new Receipts();
  session->Start();
  AckingPeer peer;
  EnetPair enet;
  if (!enet.Open()) {
    std::printf("  skipped: ENet could not connect on 127.0.0.1\n");
    return;
  }
  const int64_t n = static_cast<int64_t>(20000 * o.scale) + 64;
  const int64_t seenBefore = peer.Seen();
  int64_t posted = 0;
  auto lib = [&] {
    posted += n;
    return Library(*session, peer, n);
  };
  PrintPairs("acknowledged messages", "msg/s", RunPairs(o.pairs, lib, [&] { return Enet(enet, n); }), ">= 1.0");
  std::printf("  datagrams sent per reliable message (1.00: nothing resent): %.2f\n",
              posted > 0 ? static_cast<double>(peer.Seen() - seenBefore) / static_cast<double>(posted) : 0.0);
  session->Terminate(Terminate_Event);
  enet_deinitialize();
}

}  // namespace vbench
