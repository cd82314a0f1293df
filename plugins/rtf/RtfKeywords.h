// The control words the RTF reader acts on, with what each one does.
#pragma once

#include <cstdint>
#include <string_view>

namespace scv::rtf {

enum class TKeywordKind : std::uint8_t {
  kSkipDest,     // destination whose text is not document text
  kKeepDest,     // destination whose text is kept (allowed after \*)
  kFootnote,     // \footnote: text collected after the body
  kFontTable,    // \fonttbl: font numbers and their character sets
  kUpr,          // \upr: an ANSI text with a Unicode twin in \ud
  kUd,           // \ud: the Unicode twin inside \upr
  kChar,         // a special character: value is its code point
  kBreak,        // \par, \line, \sect, \page: a line break
  kTab,          // \tab
  kCell,         // \cell, \nestcell: cell separator
  kRow,          // \row, \nestrow: end of a table row
  kFont,         // \f
  kFontCharset,  // \fcharset
  kFontCodePage, // \cpg
  kAnsiCodePage, // \ansicpg
  kDefaultFont,  // \deff
  kUnicodeSkip,  // \uc
  kUnicode,      // \u
  kBinary,       // \bin
  kHidden,       // \v: hidden text
  kDeleted,      // \deleted: tracked deletion
  kPlain,        // \plain: character formatting back to the defaults
  kCharsetMac,   // \mac
  kCharsetPc,    // \pc
  kCharsetPca,   // \pca
};

struct TKeyword {
  std::string_view name;
  TKeywordKind kind;
  char32_t value = 0;
};

// The entry for a control word name (letters only), or nullptr for a word without effect.
const TKeyword* FindKeyword(std::string_view name);

} // namespace scv::rtf
