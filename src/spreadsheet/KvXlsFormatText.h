// The syntax of number format texts: tokens (quoted text, escaped characters, padding, fill,
// bracketed parts), sections, and the reduction of a date or time section to the text the date
// renderer takes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace scv::spreadsheet {

struct TFormatToken {
  enum TKind : unsigned char {
    kChar,    // one character outside quotes (a UTF-8 sequence is one character)
    kQuoted,  // "text": text holds what is between the quotes
    kEscaped, // \x: text holds x
    kPad,     // _x: as wide as x, shown as one space
    kFill,    // *x: repeats x to fill the cell, shown as nothing
    kBracket, // [text]: text holds what is between the brackets
    kBadBracket
  };
  TKind kind = kChar;
  std::string_view text;
};

// The token at pos; moves pos past it. pos must be below the text's size. A "[" without "]"
// after it is a kBadBracket that takes the rest of the text.
TFormatToken NextFormatToken(std::string_view format, std::size_t& pos);

// The sections of a format, split at ";" outside quotes, escapes and brackets.
std::vector<std::string_view> SplitFormatSections(std::string_view format);

// A bracketed part [h], [hh], [mm], [ss] ...: elapsed time in hours, minutes or seconds.
bool IsElapsedBracket(std::string_view content);

// True when a section has date or time tokens outside quotes and escapes: the letters y m d h s
// (either case), AM/PM, A/P, aaa, the era letters g and e (e not as in E+), or an elapsed-time
// bracket.
bool IsDateSection(std::string_view section);

// The text the date renderer takes for a date or time section: quoted text stays quoted,
// escaped characters stay escaped where the renderer would read them as tokens ("'" is escaped
// too, as the renderer would take it for a quote), padding becomes a space, fill and "@" go,
// elapsed-time brackets stay, the symbol of a currency tag [$sym-lcid] is quoted and other
// bracketed parts (colours, conditions, locale tags) go.
std::string DateSectionText(std::string_view section);

} // namespace scv::spreadsheet
