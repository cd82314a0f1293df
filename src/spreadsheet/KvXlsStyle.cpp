// The workbook's style table: FORMAT records, the built-in formats, the classification of a
// format text into a kind, the XF list, and number cells rendered through their XF's format.
#include "spreadsheet/KvXlsStyle.h"

#include "bytes/ByteCursor.h"
#include "platform/CodePage.h"
#include "spreadsheet/KvXlsCellText.h"
#include "spreadsheet/KvXlsDateTime.h"
#include "spreadsheet/KvXlsFormatText.h"
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
    // 5-8 and 37-40 as the spreadsheet applies them: the opening parenthesis belongs to the
    // negative section only.
    {5, "$#,##0_);($#,##0)"},
    {6, "$#,##0_);[Red]($#,##0)"},
    {7, "$#,##0.00_);($#,##0.00)"},
    {8, "$#,##0.00_);[Red]($#,##0.00)"},
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
    {37, "#,##0_);(#,##0)"},
    {38, "#,##0_);[Red](#,##0)"},
    {39, "#,##0.00_);(#,##0.00)"},
    {40, "#,##0.00_);[Red](#,##0.00)"},
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

TFormat ParseFormat(std::span<const std::uint8_t> body, std::int32_t codePage) {
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
  if (width == 1 && IsDoubleByteCodePage(codePage)) {
    AppendCodePageText(fmt.text, bytes, codePage);
    return fmt;
  }
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

void TStyleData::HandleFormat(std::span<const std::uint8_t> body, std::int32_t codePage) {
  const TFormat fmt = ParseFormat(body, codePage);
  ClassifyFormat(fmt.ifmt, fmt.text);
}

namespace {

// True when the format shows nothing but spaces: after bracketed parts, the characters
// * @ ( ) \\ ? and padding are taken away, nothing but blanks and control characters is left.
// Such a text (a text format "@", a colour alone) leaves the table entry as it was.
bool ShowsNothing(std::string_view utf8Text) {
  std::string text(utf8Text);
  for (auto open = text.find('['); open != std::string::npos; open = text.find('[', open)) {
    const auto close = text.find(']', open + 1);
    if (close == std::string::npos) {
      text.resize(open);
      break;
    }
    text.erase(open, close - open + 1);
  }
  EraseAll(text, "*@()\\?_");
  return IsBlank(text);
}

} // namespace

void TStyleData::ResetFormat(std::uint16_t ifmt) {
  if (ifmt < kFormatTableSize) {
    ForgetDates();
    formats_[ifmt] = TFmtCode{};
    compiled_[ifmt] = TNumberFormat{};
  }
}

void TStyleData::ClassifyFormat(std::uint16_t ifmt, std::string_view utf8Text) {
  if (ifmt >= kFormatTableSize) {
    return;
  }
  // Format codes are case-insensitive: "GENERAL" written in capitals is the general format too,
  // not a literal that would replace every number with the word.
  if (ContainsGeneral(utf8Text) || ShowsNothing(utf8Text)) {
    return;
  }
  ForgetDates();
  TFmtCode& entry = formats_[ifmt];
  // A format is a date or time format when its first section has date or time tokens outside
  // quoted text and escapes; the date renderer then takes that section alone. Every other
  // format is compiled whole for the number formatter, which reads its own syntax.
  const std::vector<std::string_view> sections = SplitFormatSections(utf8Text);
  if (IsDateSection(sections.front())) {
    entry.kind = kFmtDateTime;
    entry.text = DateSectionText(sections.front());
    compiled_[ifmt] = TNumberFormat{};
    return;
  }
  entry.text = std::string(utf8Text);
  compiled_[ifmt] = CompileNumberFormat(entry.text);
  const auto& first = compiled_[ifmt].sections;
  entry.kind = !first.empty() && first.front().percent > 0 ? kFmtPercent : kFmtNumber;
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
  case kFmtPercent: // each section scales by its own "%" signs
    AppendNumberFormat(out, value, compiled_[ifmt], UserLocale());
    break;
  case kFmtDateTime:
    // 1904-01-01 is day 1462 of the 1900 date system.
    AppendDate(out, date1904_ ? value + 1462.0 : value, ifmt);
    break;
  default:
    AppendGeneral(out, value);
    break;
  }
}

void TStyleData::AppendDate(std::string& out, double value, std::uint16_t ifmt) const {
  std::uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  if (dateCache_.empty()) {
    dateCache_.resize(kDateCacheSize);
  }
  // Fibonacci hashing of the value's bits, with the format number mixed in.
  const std::size_t slot =
      static_cast<std::size_t>(((bits ^ ifmt) * 0x9E3779B97F4A7C15ULL) >> 52) % kDateCacheSize;
  TDateText& cached = dateCache_[slot];
  if (cached.ifmt == ifmt && cached.valueBits == bits) {
    out.append(cached.text);
    return;
  }
  const std::size_t start = out.size();
  AppendDateTimeText(out, formats_[ifmt].text, value);
  cached.text.assign(out, start);
  cached.valueBits = bits;
  cached.ifmt = ifmt;
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
