#include "e2e_support.h"

#include <cstring>
#include <mutex>

#include "veltrane.h"

namespace e2e {

TestServer::TestServer() {
  vpeer::Endpoint local;
  vpeer::ParseIp("127.0.0.1", &local.ip);
  std::string err;
  m_sock.Open(local, &err);
}

bool TestServer::Receive(Received* out, int timeoutMs) {
  out->bytes.assign(4096, 0);
  long n = -1;
  if (!WaitUntil([&] { return (n = m_sock.RecvFrom(out->bytes.data(), out->bytes.size(), &out->from)) >= 0; },
                 timeoutMs)) {
    return false;
  }
  out->bytes.resize(static_cast<size_t>(n));
  out->verdict = vpeer::ParseDatagram(out->bytes.data(), out->bytes.size(), &out->d);
  return true;
}

bool TestServer::ReceiveMsg(uint32_t msgId, Received* out, int timeoutMs) {
  return WaitUntil([&] {
    return Receive(out, 0) && out->verdict == vpeer::Verdict::kOk && out->d.kind != vpeer::DatagramKind::kAck &&
           out->d.msg.msgId == msgId;
  }, timeoutMs);
}

bool TestServer::Silent(int ms) {
  Received r;
  return !Receive(&r, ms);
}

void TestServer::Drain(int quietMs) {
  Received r;
  while (Receive(&r, quietMs)) {
  }
}

bool TestServer::SendData(const vpeer::Endpoint& to, uint32_t msgId, uint32_t srcSid, uint32_t destSid,
                          const std::vector<uint8_t>& body, bool reliable, uint32_t sn) {
  vpeer::MsgHeader h;
  h.msgId = msgId;
  h.srcSid = srcSid;
  h.destSid = destSid;
  std::vector<uint8_t> bytes;
  if (!vpeer::EncodeData(h, body.data(), body.size(), reliable, sn, &bytes)) return false;
  return m_sock.SendTo(to, bytes.data(), bytes.size());
}

bool TestServer::SendRaw(const vpeer::Endpoint& to, const std::vector<uint8_t>& bytes) {
  return m_sock.SendTo(to, bytes.data(), bytes.size());
}

namespace {
std::mutex g_logMu;
std::vector<std::string>* g_lines = nullptr;

void OnLine(uint64_t, uint32_t, int, const char* text) {
  std::lock_guard<std::mutex> g(g_logMu);
  if (g_lines) g_lines->push_back(text ? text : "");
}
}  // namespace

LogCollector::LogCollector(int level) {
  {
    std::lock_guard<std::mutex> g(g_logMu);
    if (!g_lines) g_lines = new std::vector<std::string>();
    g_lines->clear();
  }
  VELT_SetLogLevel(level);
  VELT_SetLogCallback(&OnLine);
}

LogCollector::~LogCollector() {
  // The library may still log from its threads: keep the callback and the
  // storage alive, only stop collecting.
  std::lock_guard<std::mutex> g(g_logMu);
  g_lines->clear();
}

size_t LogCollector::Count(const std::string& needle) const {
  std::lock_guard<std::mutex> g(g_logMu);
  size_t n = 0;
  for (const std::string& l : *g_lines)
    if (l.find(needle) != std::string::npos) ++n;
  return n;
}

bool LogCollector::WaitFor(const std::string& needle, size_t n, int timeoutMs) const {
  return WaitUntil([&] { return Count(needle) >= n; }, timeoutMs);
}

std::vector<std::string> LogCollector::Lines() const {
  std::lock_guard<std::mutex> g(g_logMu);
  return *g_lines;
}

std::vector<uint8_t> StpAddrResp(const char* ip, uint16_t port, uint32_t result) {
  std::vector<uint8_t> b(22, 0);
  memcpy(b.data(), ip, strnlen(ip, 15));
  vpeer::PutU16(b.data() + 16, port);
  vpeer::PutU32(b.data() + 18, result);
  return b;
}

}  // namespace e2e
