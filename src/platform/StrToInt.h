// The platform's string-to-integer reading, shared by the flag parser and the XML walkers.
#pragma once

#include <cstdint>
#include <string_view>

namespace scv::platform {

// Reads a 32-bit signed integer: optional leading blanks, an optional sign, then decimal
// digits, or hexadecimal digits after "$", "x", "X", "0x" or "0X". Nothing may follow.
// Hexadecimal values take all 32 bits ("$FFFFFFFF" is -1); decimal values must fit.
bool TryStrToInt(std::string_view text, std::int32_t& value);

} // namespace scv::platform
