// Guessing the legacy encoding of an HTML document that declares none.
#pragma once

#include <cstdint>
#include <string_view>

namespace scv::htm {

// The code page the charset detector (libuchardet) reads the bytes in (65001 for UTF-8), when
// it names one the platform can decode; 0 when it names none, or one we cannot serve. Meant for
// documents without a byte-order mark or usable declaration whose bytes are not UTF-8; the cost is
// one pass of the detector over the bytes.
std::int32_t GuessCodePage(std::string_view bytes);

// The code page of a name the detector gives ("WINDOWS-1251", "SHIFT_JIS", "IBM855", ...),
// or 0. Names it shares with the web's encoding labels resolve as those do.
std::int32_t CodePageFromDetectorName(std::string_view name);

} // namespace scv::htm
