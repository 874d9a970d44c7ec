#include "api/RecverFileParser.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "report/ReportLog.h"

namespace RecverFile {

const char* const kFileName = "/qosRecverIP.txt";

namespace {

// The decimal number at the start of text (as atoi reads it), when it is a
// port (1..65535); 0 otherwise, so that a number out of range never becomes
// some other port by truncation.
uint16_t PortFromText(const char* text) {
  const long v = strtol(text, nullptr, 10);
  return v >= 1 && v <= 65535 ? static_cast<uint16_t>(v) : 0;
}

}  // namespace

void ParseToken(const char* token, char* ip, uint16_t* port) {
  memset(ip, 0, kTokenCapacity);
  *port = 0;
  if (token == nullptr) return;
  const size_t len = strnlen(token, kTokenCapacity - 1);
  const char* colon = static_cast<const char*>(memchr(token, ':', len));
  if (colon != nullptr) {
    memcpy(ip, token, static_cast<size_t>(colon - token));
    // The port text ends at the token's end; copy it so that strtol never
    // reads past the 63 characters taken.
    char portText[kTokenCapacity] = {};
    memcpy(portText, colon + 1, len - static_cast<size_t>(colon - token) - 1);
    *port = PortFromText(portText);
  } else {
    memcpy(ip, token, len);
    *port = PortFromText(ip);
  }
}

bool ReadFirstToken(const char* path, char* token) {
  memset(token, 0, kTokenCapacity);
  if (path == nullptr) return false;
  FILE* f = fopen(path, "rb");
  if (f == nullptr) return false;
  // %63s: skips leading whitespace and stops at the next, writing at most
  // 63 characters and the NUL. EOF (an empty file) leaves the token empty;
  // a read error (the path is a directory, say) counts as not opened.
  if (fscanf(f, "%63s", token) != 1) token[0] = 0;
  const bool failed = ferror(f) != 0;
  fclose(f);
  if (failed) token[0] = 0;
  return !failed;
}

bool LoadRecverFile(const char* directory, DirectRecverAddr* target) {
  if (directory == nullptr || target == nullptr) return false;
  const std::string path = std::string(directory) + kFileName;
  REPORT_LOG_WARN("[Kelvarn]从配置文件解析服务器地址,直发文件的路径:%s", path.c_str());

  char token[kTokenCapacity];
  if (!ReadFirstToken(path.c_str(), token)) {
    REPORT_LOG_WARN("[Kelvarn]从配置文件解析服务器地址,打开直发文件失败");
    return false;
  }
  char ip[kTokenCapacity];
  uint16_t port = 0;
  ParseToken(token, ip, &port);
  target->Set(ip, port);
  REPORT_LOG_WARN("[Kelvarn]从配置文件解析服务器地址 ip:%s,port:%d", ip, port);
  return true;
}

}  // namespace RecverFile
