// The receiver file: its first token through the token parser, and the IP
// text it gives through the dotted-address check every destination passes.
// Oracles: a parsed ip:port written back as "ip:port" parses to the same
// pair; the port is 0 or 1..65535; an accepted dotted address printed back
// is the same text (there is one way to write each address).
#include <cstdio>
#include <cstring>
#include <string>

#include "api/RecverFileParser.h"
#include "fuzz_check.h"
#include "tzhelper/TzIpText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  char token[RecverFile::kTokenCapacity] = {};
  memcpy(token, data, size < sizeof(token) - 1 ? size : sizeof(token) - 1);

  char ip[RecverFile::kTokenCapacity];
  uint16_t port = 7;
  RecverFile::ParseToken(token, ip, &port);
  FUZZ_CHECK(strnlen(ip, sizeof(ip)) < sizeof(ip));
  const char* colon = strchr(token, ':');
  if (colon != nullptr && port != 0) {
    char again[RecverFile::kTokenCapacity];
    uint16_t againPort = 0;
    const std::string rewritten = std::string(ip) + ":" + std::to_string(port);
    RecverFile::ParseToken(rewritten.c_str(), again, &againPort);
    FUZZ_CHECK(strcmp(ip, again) == 0 && againPort == port);
  }

  uint32_t value = 0;
  if (tzip::ParseDottedIpv4(ip, 16, &value)) {
    char printed[16];
    snprintf(printed, sizeof(printed), "%u.%u.%u.%u", value >> 24, (value >> 16) & 255, (value >> 8) & 255,
             value & 255);
    FUZZ_CHECK(strncmp(printed, ip, 16) == 0);
    FUZZ_CHECK(tzip::ParseUnicastIpv4(ip, 16, nullptr) == (value != 0 && value != 0xFFFFFFFFu));
  } else {
    FUZZ_CHECK(!tzip::ParseUnicastIpv4(ip, 16, nullptr));
  }
  return 0;
}
