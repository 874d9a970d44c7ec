// IPv4 address text as every destination and local address is checked before
// use. The system's inet_addr accepts more than a reader expects ("1",
// "0x7f.1", "127.1") and answers all ones for text it cannot read, which is
// indistinguishable from the limited broadcast address; these helpers accept
// exactly the dotted form and nothing else. Pure functions, any thread.
#pragma once
#include <cstddef>
#include <cstdint>

namespace tzip {

// Exactly four decimal parts of one to three digits, each 0..255 and without
// a leading zero (which the system reads as octal), separated by
// single dots, ending at a NUL or at maxLen characters; nothing before, after
// or between. *hostOrder (may be null) gets the address in host order.
bool ParseDottedIpv4(const char* text, size_t maxLen, uint32_t* hostOrder);

// A dotted address that can name one peer: ParseDottedIpv4, and neither
// 0.0.0.0 nor the limited broadcast 255.255.255.255.
bool ParseUnicastIpv4(const char* text, size_t maxLen, uint32_t* hostOrder);

}  // namespace tzip
