// Byte searches and the entity table shared by the XML reader's units: the tokenizers, the
// attribute splitting and the entity decoding.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <string_view>

namespace scv::xml {

constexpr std::array<unsigned char, 256> MakeFoldTable() {
  std::array<unsigned char, 256> t{};
  for (int i = 0; i < 256; ++i) {
    t[static_cast<std::size_t>(i)] =
        static_cast<unsigned char>(i >= 'a' && i <= 'z' ? i - 'a' + 'A' : i);
  }
  return t;
}
inline constexpr auto kFold = MakeFoldTable();

inline unsigned char UByte(char c) {
  return static_cast<unsigned char>(c);
}

// Searches look at the first bytes with a plain loop, which costs less than a library call
// when the byte is near (names, short texts), and hand longer rests to the vector search.
inline constexpr std::size_t kLongScan = 48;

// Position of the first c in s[from, to), or npos; from <= to <= s.size(). One library search
// and no checks: the tokenizers' scans for '>', '<', a zero byte or a line end run for every
// token.
inline std::size_t FindIn(std::string_view s, std::size_t from, std::size_t to, char c) {
  const void* hit = std::memchr(s.data() + from, c, to - from);
  return hit == nullptr ? std::string_view::npos
                        : static_cast<std::size_t>(static_cast<const char*>(hit) - s.data());
}

// s[from, from + n) without a check: from + n <= s.size(). Every token is cut out this way.
inline std::string_view SliceOf(std::string_view s, std::size_t from, std::size_t n) {
  return {s.data() + from, n};
}

// Position of the first c at or after from, or npos: a plain loop over the near bytes, then
// one library search (see kLongScan).
inline std::size_t Find(std::string_view s, char c, std::size_t from = 0) {
  const std::size_t near =
      s.size() - std::min(s.size(), from) > kLongScan ? from + kLongScan : s.size();
  for (std::size_t i = from; i < near; ++i) {
    if (s[i] == c) {
      return i;
    }
  }
  return near == s.size() ? std::string_view::npos : FindIn(s, near, s.size(), c);
}

// The named entities a decoding pass replaces, all starting with a character that occurs nowhere
// else in any of them (nor in a character reference); so occurrences never overlap and one
// pass replaces them all at once.
struct TEntity {
  std::string_view from;
  std::string_view to;
};
inline constexpr std::array<TEntity, 6> kEntities{{{"<br/>", "\r\n"},
                                                   {"&lt;", "<"},
                                                   {"&gt;", ">"},
                                                   {"&quot;", "\""},
                                                   {"&amp;", "&"},
                                                   {"&apos;", "'"}}};

// The reference starting at text[i] ('&' or '<'): a named entity or a character reference
// ("&#NNN;", "&#xHHHH;" naming a character other than 0 or a surrogate, up to U+10FFFF).
// Returns its length (0 when there is none there) and puts its replacement into `to` (for a
// character reference, its UTF-8 bytes in buf).
std::size_t ReferenceAt(std::string_view text, std::size_t i, char (&buf)[4], std::string_view& to);

// Position of the first '&' or '<' at or after from, or npos.
std::size_t FindEntityStart(std::string_view text, std::size_t from);

} // namespace scv::xml
