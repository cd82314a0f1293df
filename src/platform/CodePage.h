// Code page conversions standing in for MultiByteToWideChar / WideCharToMultiByte.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace scv::platform {

inline constexpr std::int32_t kCpUtf8 = 65001;
inline constexpr std::int32_t kCpUtf16Le = 1200;
inline constexpr std::int32_t kCpWindows1252 = 1252;

// True when conversions to and from the code page can be served: UTF-8, UTF-16LE, Symbol, a
// built-in table, or a page whose converter the C library has (multi-byte, EBCDIC, ISO-2022,
// HZ, UTF-7, ...). 0 and 3 stand for the ANSI page, 1 for the OEM page, 2 for Macintosh Roman.
bool IsCodePageUsable(std::int32_t codePage);

// Every code page number that IsCodePageUsable accepts besides 0-3, in ascending order.
std::vector<std::int32_t> ServedCodePages();

// Decodes bytes of a code page to UTF-16 (flags 0). Invalid UTF-8 decodes to U+FFFD; bytes a
// single-byte page leaves undefined decode to U+FFFD too, except the five 1252 quirks.
// An unusable code page yields empty text.
std::u16string MultiByteToWide(std::int32_t codePage, std::string_view bytes);

// Encodes UTF-16 to a code page (flags 0): characters without a mapping become "?", a
// surrogate pair is one character. An unusable code page yields empty text.
std::string WideToMultiByte(std::int32_t codePage, std::u16string_view text);

// Appends one character as UTF-8: 1 to 4 bytes by its value. The value is not checked (a
// surrogate is written in its 3-byte form); callers that must not write one map it first.
// Inline: the extractors call it for every character they build text from.
inline void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// UTF-8 <-> UTF-16 helpers used everywhere text crosses between the two.
std::u16string Utf8ToWide(std::string_view utf8);
std::string WideToUtf8(std::u16string_view text);

// Byte for byte Latin-1 widening (compressed UTF-16 of the binary Office formats).
std::u16string Latin1ToWide(std::string_view bytes);

// OemToCharA: decodes with the OEM code page and encodes to the ANSI code page.
std::string OemToAnsi(std::string_view bytes);

} // namespace scv::platform
