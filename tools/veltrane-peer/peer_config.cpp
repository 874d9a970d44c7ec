#include "peer_config.h"

namespace vpeer {

namespace {

bool CheckOne(const char* what, const std::string& text, bool withPort, bool allowRemote,
              std::string* err) {
  uint32_t ip = 0;
  bool ok = false;
  if (withPort) {
    Endpoint e;
    ok = ParseEndpoint(text, &e);
    ip = e.ip;
  } else {
    ok = ParseIp(text, &ip);
  }
  if (!ok) {
    *err = std::string(what) + " '" + text + "' is not " +
           (withPort ? "an IPv4 address:port" : "an IPv4 address");
    return false;
  }
  if (!allowRemote && !IsLoopback(ip)) {
    *err = std::string(what) + " '" + text +
           "' is outside 127.0.0.0/8; refusing it without --allow-remote";
    return false;
  }
  return true;
}

}  // namespace

bool CheckPeerAddresses(const PeerConfig& cfg, std::string* err) {
  if (!CheckOne("bind address", cfg.bindIp, false, cfg.allowRemote, err)) return false;
  if (!cfg.qosAnnounce.empty() &&
      !CheckOne("announced QoS address", cfg.qosAnnounce, true, cfg.allowRemote, err)) {
    return false;
  }
  if (!cfg.adjustTarget.empty() &&
      !CheckOne("adjust target", cfg.adjustTarget, true, cfg.allowRemote, err)) {
    return false;
  }
  if (cfg.stprc.empty()) {
    *err = "at least one STPRC socket is needed";
    return false;
  }
  return true;
}

}  // namespace vpeer
