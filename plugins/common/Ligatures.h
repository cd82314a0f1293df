// Typographic ligatures as the letters they stand for. Fonts and PDF text carry ff, fi, fl,
// ffi, ffl and st as single characters (U+FB00-U+FB06); in plain text they are written as
// their letters, so that a search for "office" finds "o\uFB03ce".
#pragma once

#include <cstddef>
#include <string_view>

namespace scv::plugin {

// The letters of the ligature c, or an empty view for any other character.
constexpr std::string_view LigatureLetters(char32_t c) {
  switch (c) {
  case 0xFB00:
    return "ff";
  case 0xFB01:
    return "fi";
  case 0xFB02:
    return "fl";
  case 0xFB03:
    return "ffi";
  case 0xFB04:
    return "ffl";
  case 0xFB05: // long s + t
  case 0xFB06:
    return "st";
  default:
    return {};
  }
}

// The letters of the ligature whose UTF-8 form (EF AC 80 to EF AC 86) starts at text[i], or
// an empty view when none does.
constexpr std::string_view LigatureAt(std::string_view text, std::size_t i) {
  if (i >= text.size() || text.size() - i < 3 || text[i] != '\xEF' || text[i + 1] != '\xAC') {
    return {};
  }
  const auto last = static_cast<unsigned char>(text[i + 2]);
  return last >= 0x80 && last <= 0x86 ? LigatureLetters(0xFB00u + (last - 0x80u))
                                      : std::string_view{};
}

} // namespace scv::plugin
