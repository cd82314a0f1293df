// The workbook's style table: FORMAT records, the built-in formats, the classification of a
// format text into a kind, the XF list, and number cells rendered through their XF's format.
#include "spreadsheet/KvXlsStyle.h"

#include "bytes/ByteCursor.h"
#include "platform/CodePage.h"
#include "spreadsheet/KvXlsDateTime.h"
#include "spreadsheet/KvXlsRender.h"

#include <cstring>
#include <string>
#include <string_view>

namespace scv::spreadsheet {

namespace {

// ---------------------------------------------------------------------------------------------
// Built-in formats.

struct TBuiltIn {
  std::uint16_t ifmt;
  const char* text;
};

constexpr TBuiltIn kBuiltIns[] = {
    {0, ""},
    {1, "0"},
    {2, "0.00"},
    {3, "#,##0"},
    {4, "#,##0.00"},
    {5, "($#,##0_);($#,##0)"},
    {6, "($#,##0_);[Red]($#,##0)"},
    {7, "($#,##0.00_);($#,##0.00)"},
    {8, "($#,##0.00_);[Red]($#,##0.00)"},
    {9, "0%"},
    {10, "0.00%"},
    {11, "0.00E+00"},
    {12, "# ?/?"},
    {13, "# ?\?/??"},
    {14, "mm-dd-yy"},
    {15, "d-mmm-yy"},
    {16, "d-mmm"},
    {17, "mmm-yy"},
    {18, "h:mm AM/PM"},
    {19, "h:mm:ss AM/PM"},
    {20, "h:mm"},
    {21, "h:mm:ss"},
    {22, "m/d/yy h:mm"},
    {37, "(#,##0_);(#,##0)"},
    {38, "(#,##0_);[Red](#,##0)"},
    {39, "(#,##0.00_);(#,##0.00)"},
    {40, "(#,##0.00_);[Red](#,##0.00)"},
    {41, "_(* #,##0_);_(* (#,##0);_(* \"-\"_);_(@_)"},
    {42, "_($* #,##0_);_($* (#,##0);_($* \"-\"_);_(@_)"},
    {43, "_(* #,##0.00_);_(* (#,##0.00);_(* \"-\"??_);_(@_)"},
    {44, "_($* #,##0.00_);_($* (#,##0.00);_($* \"-\"??_);_(@_)"},
    {45, "mm:ss"},
    {46, "[h]:mm:ss"},
    {47, "mm:ss.0"},
    {48, "##0.0E+0"},
    {49, "@"},
};

void EraseAll(std::string& s, std::string_view chars) {
  std::size_t w = 0;
  for (const char c : s) {
    if (chars.find(c) == std::string_view::npos) {
      s[w++] = c;
    }
  }
  s.resize(w);
}

bool ContainsGeneral(std::string_view s) {
  constexpr std::string_view kGeneral = "general";
  for (std::size_t i = 0; i + kGeneral.size() <= s.size(); ++i) {
    std::size_t k = 0;
    while (k < kGeneral.size() && (s[i + k] | 0x20) == kGeneral[k]) {
      ++k;
    }
    if (k == kGeneral.size()) {
      return true;
    }
  }
  return false;
}

// True for a first section that has date or time letters (d y h s m, either case) outside
// quotes and no digit placeholder: the number formatter would never show its value.
bool IsDateWithoutLowerM(std::string_view s) {
  bool dateLetter = false;
  char quote = 0;
  for (const char c : s) {
    if (quote != 0) {
      quote = c == quote ? '\0' : quote;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == ';') {
      break;
    } else if (c == '0' || c == '#') {
      return false;
    } else {
      switch (c | 0x20) {
      case 'd':
      case 'y':
      case 'h':
      case 's':
      case 'm':
        dateLetter = true;
        break;
      default:
        break;
      }
    }
  }
  return dateLetter;
}

void CutAtSemicolon(std::string& s) {
  const auto pos = s.find(';');
  if (pos != std::string::npos) {
    s.resize(pos);
  }
}

bool IsBlank(std::string_view s) {
  for (const char c : s) {
    if (static_cast<unsigned char>(c) > 0x20) {
      return false;
    }
  }
  return true;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// FORMAT records and the style table.

TFormat ParseFormat(std::span<const std::uint8_t> body) {
  bytes::TByteCursor cur(body);
  TFormat fmt;
  fmt.ifmt = cur.ReadU16();
  const std::uint16_t cch = cur.ReadU16();
  const std::uint8_t fHighByte = cur.ReadU8();
  const std::size_t width = fHighByte == 0 ? 1 : 2;
  std::size_t count = cch;
  if (count > cur.Remaining() / width) {
    count = cur.Remaining() / width;
  }
  const auto bytes = cur.Take(count * width);
  fmt.text.reserve(count * (width == 1 ? 2 : 3));
  if (width == 1) {
    // Compressed UTF-16: each byte is the low byte of a code unit (Latin-1).
    for (const std::uint8_t b : bytes) {
      platform::AppendUtf8(fmt.text, b);
    }
    return fmt;
  }
  for (std::size_t i = 0; i < count; ++i) {
    char32_t unit = static_cast<char32_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < count) {
      const char32_t low = static_cast<char32_t>(bytes[2 * i + 2] | bytes[2 * i + 3] << 8);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    if (unit >= 0xD800 && unit <= 0xDFFF) {
      unit = 0xFFFD; // unpaired surrogate
    }
    platform::AppendUtf8(fmt.text, unit);
  }
  return fmt;
}

TStyleData::TStyleData() : compiled_(kFormatTableSize) {
  for (const auto& b : kBuiltIns) {
    ClassifyFormat(b.ifmt, b.text);
  }
}

void TStyleData::AppendXF(std::uint16_t ifmt) {
  xfFormats_.push_back(ifmt);
}

void TStyleData::HandleFormat(std::span<const std::uint8_t> body) {
  const TFormat fmt = ParseFormat(body);
  ClassifyFormat(fmt.ifmt, fmt.text);
}

void TStyleData::ClassifyFormat(std::uint16_t ifmt, std::string_view utf8Text) {
  if (ifmt >= kFormatTableSize) {
    return;
  }
  // Format codes are case-insensitive: "GENERAL" written in capitals is the general format too,
  // not a literal that would replace every number with the word.
  if (ContainsGeneral(utf8Text)) {
    return;
  }
  std::string text(utf8Text);
  // Bracketed parts (colours, conditions, locale tags, elapsed-time units) go; a "[" without a
  // "]" after it takes the rest of the text with it.
  for (auto open = text.find('['); open != std::string::npos; open = text.find('[', open)) {
    const auto close = text.find(']', open + 1);
    if (close == std::string::npos) {
      text.resize(open);
      break;
    }
    text.erase(open, close - open + 1);
  }
  EraseAll(text, "*@()\\?");
  for (char& c : text) {
    if (c == '_') {
      c = ' ';
    }
  }
  if (IsBlank(text)) {
    return;
  }
  TFmtCode& entry = formats_[ifmt];
  // Date and time formats: those with a lowercase m; else those with a lowercase a, read as d
  // ("aaaa" for the day's name); else those with date parts in capitals ("DDMMYYYY", "HH:MM")
  // or without a month ("yyyy"), which as a number format would print their letters instead
  // of the value.
  const bool lowerM = text.find('m') != std::string::npos;
  const bool lowerA = !lowerM && text.find('a') != std::string::npos;
  if (lowerM || lowerA || IsDateWithoutLowerM(text)) {
    CutAtSemicolon(text);
    EraseAll(text, "\"");
    if (lowerA) {
      for (char& c : text) {
        if (c == 'a') {
          c = 'd';
        }
      }
    }
    entry.kind = kFmtDateTime;
  } else {
    EraseAll(text, "/");
    entry.kind = text.find('%') != std::string::npos ? kFmtPercent : kFmtNumber;
  }
  entry.text = std::move(text);
  compiled_[ifmt] = entry.kind == kFmtDateTime ? TNumberFormat{} : CompileNumberFormat(entry.text);
}

const TFmtCode& TStyleData::Format(std::uint16_t ifmt) const {
  static const TFmtCode kNone;
  return ifmt < kFormatTableSize ? formats_[ifmt] : kNone;
}

void TStyleData::AppendNumber(std::string& out, double value, std::uint16_t ixfe) const {
  if (ixfe >= xfFormats_.size()) {
    AppendGeneral(out, value);
    return;
  }
  const std::uint16_t ifmt = xfFormats_[ixfe];
  if (ifmt == 0 || ifmt >= kFormatTableSize) {
    AppendGeneral(out, value);
    return;
  }
  const TFmtCode& entry = formats_[ifmt];
  switch (entry.kind) {
  case kFmtNumber:
    AppendNumberFormat(out, value, compiled_[ifmt], UserLocale());
    break;
  case kFmtPercent:
    AppendNumberFormat(out, value * 100.0, compiled_[ifmt], UserLocale());
    break;
  case kFmtDateTime:
    AppendDateTimeText(out, entry.text, value);
    break;
  default:
    AppendGeneral(out, value);
    break;
  }
}

std::string TStyleData::RenderNumber(double value, std::uint16_t ixfe) const {
  std::string out;
  try {
    AppendNumber(out, value, ixfe);
  } catch (...) {
    out.clear(); // memory exhaustion only; a cell without text is the least harm
  }
  return out;
}

} // namespace scv::spreadsheet
