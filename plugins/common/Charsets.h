// Windows character-set numbers (of fonts and documents) to code pages, for the converter
// libraries that read them.
#pragma once

#include <cstdint>

namespace scv::plugin {

// The code page of a Windows character set, or 0 for the sets without one of their own
// (ANSI, default, symbol and unknown sets).
inline std::int32_t WindowsCharsetCodePage(std::uint32_t charset) {
  switch (charset) {
  case 128:
    return 932; // Shift JIS
  case 129:
    return 949; // Hangul
  case 134:
    return 936; // GB 2312
  case 136:
    return 950; // Big5
  case 161:
    return 1253; // Greek
  case 162:
    return 1254; // Turkish
  case 163:
    return 1258; // Vietnamese
  case 177:
    return 1255; // Hebrew
  case 178:
    return 1256; // Arabic
  case 186:
    return 1257; // Baltic
  case 204:
    return 1251; // Cyrillic
  case 222:
    return 874; // Thai
  case 238:
    return 1250; // Central European
  default:
    return 0;
  }
}

} // namespace scv::plugin
