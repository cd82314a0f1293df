// Code page conversions standing in for MultiByteToWideChar / WideCharToMultiByte.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace scv::platform {

inline constexpr std::int32_t kCpUtf8 = 65001;
inline constexpr std::int32_t kCpUtf16Le = 1200;
inline constexpr std::int32_t kCpWindows1252 = 1252;

// True when conversions to and from the code page can be served (built-in table, UTF-8,
// UTF-16LE, or a multi-byte page the C library's iconv knows).
bool IsCodePageUsable(std::int32_t codePage);

// Decodes bytes of a code page to UTF-16 (flags 0). Invalid UTF-8 decodes to U+FFFD; bytes a
// single-byte page leaves undefined decode to U+FFFD too, except the five 1252 quirks.
// An unusable code page yields empty text.
std::u16string MultiByteToWide(std::int32_t codePage, std::string_view bytes);

// Encodes UTF-16 to a code page (flags 0): characters without a mapping become "?", a
// surrogate pair is one character. An unusable code page yields empty text.
std::string WideToMultiByte(std::int32_t codePage, std::u16string_view text);

// UTF-8 <-> UTF-16 helpers used everywhere text crosses between the two.
std::u16string Utf8ToWide(std::string_view utf8);
std::string WideToUtf8(std::u16string_view text);

// Byte for byte Latin-1 widening (compressed UTF-16 of the binary Office formats).
std::u16string Latin1ToWide(std::string_view bytes);

// OemToCharA: decodes with the OEM code page and encodes to the ANSI code page.
std::string OemToAnsi(std::string_view bytes);

} // namespace scv::platform
