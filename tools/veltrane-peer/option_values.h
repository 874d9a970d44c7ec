// Parsing of command-line values shared by the peer and the demo programs.
// All return false for anything malformed or out of range and then leave
// *out untouched.
#pragma once

#include <cstdint>
#include <string>

namespace vpeer {

// Decimal digits only, at most maxValue.
bool ParseUnsigned(const std::string& text, uint64_t maxValue, uint64_t* out);
bool ParseU32(const std::string& text, uint64_t maxValue, uint32_t* out);
// A number from 0 to 100.
bool ParsePercent(const std::string& text, double* out);
// "MS" for a fixed delay, "rand:MS" for a random one up to MS (MS <= maxMs).
bool ParseDelay(const std::string& text, uint64_t maxMs, uint32_t* ms, bool* random);

}  // namespace vpeer
