// Helpers shared by the peer tests: a UDP socket playing the client, a
// bounded wait, and a strict JSON syntax check.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "codec.h"
#include "endpoint.h"
#include "udp_socket.h"

namespace vpeer_test {

constexpr uint32_t kLoopback = 0x7F000001;
// A session id of the kind a client's long-lived session has.
constexpr uint32_t kClientSid = 0xFFFFD7FF;

// Polls `pred` every millisecond until it holds or `limitMs` pass.
inline bool WaitFor(const std::function<bool()>& pred, int limitMs = 5000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  while (std::chrono::steady_clock::now() < end) {
    if (pred()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return pred();
}

class TestClient {
 public:
  TestClient() {
    std::string err;
    m_ok = m_sock.Open(vpeer::Endpoint{kLoopback, 0}, &err);
  }
  bool Ok() const { return m_ok; }
  vpeer::Endpoint Local() const { return m_sock.Local(); }

  bool SendRaw(const vpeer::Endpoint& to, const std::vector<uint8_t>& bytes) {
    return m_sock.SendTo(to, bytes.data(), bytes.size());
  }
  bool Send(const vpeer::Endpoint& to, uint32_t msgId, const std::vector<uint8_t>& body,
            bool reliable = false, uint32_t sn = 0, uint32_t destSid = 0) {
    vpeer::MsgHeader h;
    h.msgId = msgId;
    h.srcSid = kClientSid;
    h.destSid = destSid;
    std::vector<uint8_t> bytes;
    vpeer::EncodeData(h, body.data(), body.size(), reliable, sn, &bytes);
    return SendRaw(to, bytes);
  }

  // Next datagram within `limitMs`, or false.
  bool Receive(std::vector<uint8_t>* out, int limitMs = 3000, vpeer::Endpoint* from = nullptr) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    std::vector<uint8_t> buf(65536);
    for (;;) {
      vpeer::Endpoint src;
      const long n = m_sock.RecvFrom(buf.data(), buf.size(), &src);
      if (n >= 0) {
        out->assign(buf.begin(), buf.begin() + n);
        if (from != nullptr) *from = src;
        return true;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            end - std::chrono::steady_clock::now())
                            .count();
      if (left <= 0) return false;
      const int fd = m_sock.Fd();
      bool ready = false;
      vpeer::PollReadable(&fd, &ready, 1, static_cast<int>(left));
    }
  }

  // Next datagram, parsed; fails the caller's expectation through the result.
  bool ReceiveParsed(vpeer::Datagram* d, std::vector<uint8_t>* storage, int limitMs = 3000) {
    return Receive(storage, limitMs) &&
           vpeer::ParseDatagram(storage->data(), storage->size(), d) == vpeer::Verdict::kOk;
  }

 private:
  vpeer::UdpSocket m_sock;
  bool m_ok = false;
};

// True when `text` is exactly one JSON value (objects, arrays, strings,
// numbers, true/false/null), surrounded by nothing but white space.
class JsonChecker {
 public:
  static bool Valid(const std::string& text) {
    JsonChecker c(text);
    c.Ws();
    return c.Value() && (c.Ws(), c.m_pos == text.size());
  }

 private:
  explicit JsonChecker(const std::string& t) : m_t(t) {}
  void Ws() {
    while (m_pos < m_t.size() && (m_t[m_pos] == ' ' || m_t[m_pos] == '\n' ||
                                  m_t[m_pos] == '\t' || m_t[m_pos] == '\r')) {
      ++m_pos;
    }
  }
  bool Eat(char c) {
    Ws();
    if (m_pos < m_t.size() && m_t[m_pos] == c) {
      ++m_pos;
      return true;
    }
    return false;
  }
  bool Value() {
    Ws();
    if (m_pos >= m_t.size()) return false;
    const char c = m_t[m_pos];
    if (c == '{') return Object();
    if (c == '[') return Array();
    if (c == '"') return String();
    if (c == '-' || (c >= '0' && c <= '9')) return Number();
    for (const char* word : {"true", "false", "null"}) {
      const std::string w(word);
      if (m_t.compare(m_pos, w.size(), w) == 0) {
        m_pos += w.size();
        return true;
      }
    }
    return false;
  }
  bool Object() {
    ++m_pos;
    if (Eat('}')) return true;
    do {
      Ws();
      if (!String() || !Eat(':') || !Value()) return false;
    } while (Eat(','));
    return Eat('}');
  }
  bool Array() {
    ++m_pos;
    if (Eat(']')) return true;
    do {
      if (!Value()) return false;
    } while (Eat(','));
    return Eat(']');
  }
  bool String() {
    if (m_pos >= m_t.size() || m_t[m_pos] != '"') return false;
    for (++m_pos; m_pos < m_t.size(); ++m_pos) {
      const unsigned char c = static_cast<unsigned char>(m_t[m_pos]);
      if (c == '"') {
        ++m_pos;
        return true;
      }
      if (c < 0x20) return false;
      if (c == '\\') ++m_pos;  // the escaped character is taken as is
    }
    return false;
  }
  bool Number() {
    const size_t start = m_pos;
    if (m_t[m_pos] == '-') ++m_pos;
    while (m_pos < m_t.size() &&
           ((m_t[m_pos] >= '0' && m_t[m_pos] <= '9') || m_t[m_pos] == '.' ||
            m_t[m_pos] == 'e' || m_t[m_pos] == 'E' || m_t[m_pos] == '+' || m_t[m_pos] == '-')) {
      ++m_pos;
    }
    return m_pos > start + (m_t[start] == '-' ? 1 : 0);
  }

  const std::string& m_t;
  size_t m_pos = 0;
};

}  // namespace vpeer_test
