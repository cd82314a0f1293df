// Number formats of a workbook and number cells rendered as text through them.
#pragma once

#include "platform/LocaleFormat.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace scv::spreadsheet {

// Format kinds of a table entry.
inline constexpr std::uint8_t kFmtGeneral = 0;  // no usable format: general rendering
inline constexpr std::uint8_t kFmtNumber = 2;   // number formatter
inline constexpr std::uint8_t kFmtPercent = 3;  // number formatter on value x 100
inline constexpr std::uint8_t kFmtDateTime = 5; // date/time renderer

// Number of format numbers the table holds; higher numbers are never stored or looked up.
inline constexpr std::size_t kFormatTableSize = 400;

// Longest format text (bytes) the number formatter applies; longer texts render in the
// general rendering.
inline constexpr std::size_t kMaxNumberFormatBytes = 224;

// One entry of the format table: kind and cleaned format text (UTF-8).
struct TFmtCode {
  std::uint8_t kind = 0;
  std::string text;
};

// FORMAT record (0x041E), BIFF8 layout: ifmt (2), cch (2), fHighByte (1), rgb.
struct TFormat {
  static constexpr std::uint16_t kId = 0x041E;
  std::uint16_t ifmt = 0;
  std::string text; // UTF-8
};

// One section of a number format, compiled for the formatter.
struct TNumberSection {
  enum TItemKind : std::uint8_t {
    kLiteral,
    kIntDigit,
    kPoint,
    kFracDigit,
    kExponent,
    kFraction // numerator "/" denominator; the section's fraction fields describe it
  };
  struct TItem {
    TItemKind kind = kLiteral;
    bool zero = false;        // "0" placeholder (always a digit); exponent: "E+" (always a sign)
    std::uint16_t offset = 0; // literal: bytes in literals
    std::uint16_t length = 0; // literal: byte count; exponent: minimum digit count
  };
  // Comparison of a [condition] that selects the section.
  enum TCondition : std::uint8_t {
    kNoCondition,
    kLess,
    kLessEqual,
    kGreater,
    kGreaterEqual,
    kEqual,
    kNotEqual
  };
  std::vector<TItem> items;
  std::string literals;
  bool grouping = false;
  bool scientific = false;
  bool hasPoint = false;
  bool upperE = true;
  int intPlaceholders = 0;
  int minIntDigits = 0; // integer placeholders from the first "0" on
  int fracPlaceholders = 0;
  int minFracDigits = 0;     // fraction placeholders up to the last "0"
  bool intContiguous = true; // no literal between the integer placeholders
  int percent = 0;           // "%" signs outside literals: the value is shown times 100 each
  TCondition condition = kNoCondition;
  double conditionValue = 0;
  // Fractions: the denominator is fixedDenominator when non-zero, otherwise the best one of at
  // most denominatorDigits digits. fractionWhole: integer placeholders before the numerator
  // take the whole part; without them the whole value is the fraction.
  bool fraction = false;
  bool fractionWhole = false;
  int denominatorDigits = 0;
  std::uint32_t fixedDenominator = 0;
  // A construct this formatter cannot show exactly (text "@", date or time letters, an
  // unclosed bracket): the value is written in the general rendering instead.
  bool unsupported = false;
  // Plain layout: literal, integer placeholders, point, fraction placeholders, literal (each
  // part optional, no scientific notation); such sections have a fast path.
  bool plain = false;
  std::string_view Prefix() const { return std::string_view(literals).substr(0, prefixLength); }
  std::string_view Suffix() const { return std::string_view(literals).substr(suffixOffset); }
  std::uint16_t prefixLength = 0;
  std::uint16_t suffixOffset = 0;
  bool emptyText = false; // the section's text is empty (it falls back to the first)
  bool Empty() const { return emptyText; }
};

struct TNumberFormat {
  std::vector<TNumberSection> sections; // one to three (a fourth, for text, is not kept)
  bool tooLong = false;                 // over the byte limit: general rendering
  bool conditional = false;             // a section has a [condition]
};

TNumberFormat CompileNumberFormat(std::string_view format);
void AppendNumberFormat(std::string& out, double value, const TNumberFormat& format,
                        const platform::TLocaleFormat& locale);

// Decodes a FORMAT record body. Missing bytes of the fixed fields read as zero; the text is cut
// to the bytes that exist. 1-byte characters are compressed UTF-16 (Latin-1), except in a
// workbook of a double-byte code page (932, 936, 949, 950), whose writers put the text of that
// code page there.
TFormat ParseFormat(std::span<const std::uint8_t> body, std::int32_t codePage = 1200);

// The workbook's number formats and XF list.
class TStyleData {
public:
  // Format table with the built-in formats classified, empty XF list.
  TStyleData();

  // XF record: ifmt is the XF's number format index (bytes 2-3 of the body).
  void AppendXF(std::uint16_t ifmt);
  // Empties the XF list (a sheet that brings its own XF records starts a list of its own).
  void ClearXFs() { xfFormats_.clear(); }

  // FORMAT record body; numbers of 400 or more are ignored. codePage: the workbook's (the
  // CODEPAGE record), for the 1-byte form.
  void HandleFormat(std::span<const std::uint8_t> body, std::int32_t codePage = 1200);

  // DATEMODE: serial numbers count days from 1904-01-01 instead of 1899-12-31.
  void SetDate1904(bool date1904) { date1904_ = date1904; }

  // Makes entry ifmt (below 400) the general format. The numbers of BIFF2-4 formats are their
  // order in the file, so a built-in entry of the same number must not survive there.
  void ResetFormat(std::uint16_t ifmt);

  // Reduces a format text to a kind and a cleaned text and stores it under ifmt (when ifmt is
  // below 400 and the text classifies to a kind).
  void ClassifyFormat(std::uint16_t ifmt, std::string_view utf8Text);

  // Text (UTF-8) of a number cell with XF index ixfe. Never throws.
  std::string RenderNumber(double value, std::uint16_t ixfe) const;

  // Same as RenderNumber, appending to out (avoids a string per cell).
  void AppendNumber(std::string& out, double value, std::uint16_t ixfe) const;

  // Table entry of a format number; numbers of 400 or more give an empty kind 0 entry.
  const TFmtCode& Format(std::uint16_t ifmt) const;

  std::size_t XFCount() const { return xfFormats_.size(); }

private:
  // A date cell's text as rendered before, by format number and value: the date columns of a
  // sheet repeat few distinct values, and the cached text is what rendering them again gives.
  struct TDateText {
    std::uint64_t valueBits = 0;
    std::uint16_t ifmt = kFormatTableSize; // none
    std::string text;
  };
  static constexpr std::size_t kDateCacheSize = 4096; // a power of two
  void AppendDate(std::string& out, double value, std::uint16_t ifmt) const;
  // Changing a format entry empties the cache, so no text of the old format survives.
  void ForgetDates() { dateCache_.clear(); }

  std::array<TFmtCode, kFormatTableSize> formats_;
  std::vector<TNumberFormat> compiled_;      // per format number, for kinds 2 and 3
  mutable std::vector<TDateText> dateCache_; // kDateCacheSize entries once a date is shown
  std::vector<std::uint16_t> xfFormats_;
  bool date1904_ = false;
};

// General rendering: at most 15 significant digits, the locale's decimal separator.
std::string FormatGeneral(double value);
void AppendGeneral(std::string& out, double value);
void AppendGeneral(std::string& out, double value, std::string_view decimalSeparator);

// Number formatter (kinds 2 and 3) with the given cleaned format text; appends to out.
// A text over 224 bytes, a non-finite value, or a value too large for the chosen section falls
// back to the general rendering.
void AppendNumberFormat(std::string& out, double value, std::string_view format);
std::string FormatNumber(double value, std::string_view format);
void AppendNumberFormat(std::string& out, double value, std::string_view format,
                        const platform::TLocaleFormat& locale);

} // namespace scv::spreadsheet
