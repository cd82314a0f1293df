// Turning the UTF-8 text a converter library delivers into the bytes of a target code page.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace scv::bridges {

// Decodes UTF-8 to UTF-16. Each maximal ill-formed subsequence (a stray continuation byte, a
// truncated sequence, an overlong form, a surrogate or a value above U+10FFFF) becomes one
// U+FFFD, so one bad byte from a library never costs the rest of a document.
std::u16string DecodeLibraryUtf8(std::string_view utf8);

// The closing encoding step of both bridges:
//  65001  EF BB BF and the library's bytes unchanged;
//  0      the text in the system ANSI code page;
//  1200   FF FE and the UTF-16LE code units;
//  other  ToCodePage of the code units.
// withTerminator appends one U+0000 to the decoded text before the last two steps (the PDF
// bridge keeps it; the filter bridge does not).
std::string EncodeLibraryText(std::string_view utf8, std::int32_t codePage, bool withTerminator);

} // namespace scv::bridges
