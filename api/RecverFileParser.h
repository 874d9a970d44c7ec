// Reading the fixed receiver address from "<config dir>/qosRecverIP.txt".
// The file's first whitespace-delimited token is "ip:port"; anything after
// the first whitespace is not read.
//
// Thread contract: plain functions without state; LoadRecverFile runs on the
// host thread of SetVeltraneDir and takes only the target's own lock.
#pragma once
#include <cstddef>
#include <cstdint>

#include "api/DirectRecverAddr.h"

namespace RecverFile {

// Token buffer: at most 63 characters and the NUL.
constexpr size_t kTokenCapacity = 64;

// Appended to the configuration directory.
extern const char* const kFileName;  // "/qosRecverIP.txt"

// Splits a token at its first ':': the text before it becomes ip (at most
// 63 characters, NUL-terminated), the decimal number at the start of the
// text after it the port (atoi semantics; 0 when there is no number or it is
// not 1..65535). A token without ':' is taken whole as the ip, and
// the number at its start as the port ("10.1.2.3" gives port 10).
void ParseToken(const char* token, char* ip /* kTokenCapacity */, uint16_t* port);

// Reads the first token of the file at path into token (kTokenCapacity
// bytes): leading whitespace is skipped, then at most 63 characters are
// taken. The rest of a longer token is left unread: the token is its first
// 63 characters. An empty file gives an empty token. False when the file
// cannot be opened or read, a directory included (token is then empty).
bool ReadFirstToken(const char* path, char* token /* kTokenCapacity */);

// The configuration-file step of SetVeltraneDir: forms the path, logs it,
// reads the token and stores ip and port into target, logging the result.
// When the file cannot be opened it logs that and target keeps its value;
// returns false then. A null directory does nothing and returns false.
bool LoadRecverFile(const char* directory, DirectRecverAddr* target);

}  // namespace RecverFile
