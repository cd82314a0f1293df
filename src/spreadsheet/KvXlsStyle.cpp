// Number formats of a workbook and number cells rendered as text through them.
#include "spreadsheet/KvXlsStyle.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "spreadsheet/KvXlsDateTime.h"
#include "bytes/ByteCursor.h"

namespace scv::spreadsheet {

namespace {

const platform::TLocaleFormat& Locale() {
  static const platform::TLocaleFormat& locale = platform::UserLocaleFormat();
  return locale;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// ---------------------------------------------------------------------------------------------
// Decimal digits of a double.

// value = 0.d1 d2 ... dn x 10^exp10, digits without trailing zeros; n == 0 for zero.
struct TDecimal {
  char digits[24] = {};
  int count = 0;
  int exp10 = 0;
};

void ParseScientific(const char* buf, const char* end, TDecimal& dec) {
  // Layout: d[.ddd]e(+|-)xx
  const char* e = buf;
  while (e < end && *e != 'e') {
    if (*e != '.') {
      dec.digits[dec.count++] = *e;
    }
    ++e;
  }
  int exponent = 0;
  const char* p = e + 1;
  const bool negative = p < end && *p == '-';
  p += p < end && (*p == '-' || *p == '+') ? 1 : 0;
  for (; p < end; ++p) {
    exponent = exponent * 10 + (*p - '0');
  }
  dec.exp10 = (negative ? -exponent : exponent) + 1;
  while (dec.count > 0 && dec.digits[dec.count - 1] == '0') {
    --dec.count;
  }
}

// Whole numbers below 1e17 have exact digits without a floating-point conversion.
bool WholeDecimal(double v, TDecimal& dec) {
  if (!(v < 1e17) || v != std::floor(v)) {
    return false;
  }
  char buf[24];
  const auto res = std::to_chars(buf, buf + sizeof buf, static_cast<std::uint64_t>(v));
  dec.count = static_cast<int>(res.ptr - buf);
  dec.exp10 = dec.count;
  std::memcpy(dec.digits, buf, static_cast<std::size_t>(dec.count));
  while (dec.count > 0 && dec.digits[dec.count - 1] == '0') {
    --dec.count;
  }
  return true;
}

// Converts |value| (finite, non-zero) to `precision` significant digits, correctly rounded.
TDecimal ToDecimal(double value, int precision) {
  TDecimal dec;
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(value),
                                 std::chars_format::scientific, precision - 1);
  ParseScientific(buf, res.ptr, dec);
  return dec;
}

constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                             1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                             1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// Digits of a whole number n, as dec with `fracDigits` of them after the point.
void IntegerDecimal(std::uint64_t n, int fracDigits, TDecimal& dec) {
  dec = TDecimal{};
  if (n == 0) {
    return;
  }
  char buf[24];
  const auto res = std::to_chars(buf, buf + sizeof buf, n);
  int len = static_cast<int>(res.ptr - buf);
  dec.exp10 = len - fracDigits;
  while (len > 0 && buf[len - 1] == '0') {
    --len;
  }
  std::memcpy(dec.digits, buf, static_cast<std::size_t>(len));
  dec.count = len;
}

// Rounds x = |value| x 10^k (one rounded multiplication, so within x * 2^-53 of the exact
// product) to the nearest whole number. Refuses x at or near a tie, where the product cannot
// tell which way the exact value, or its 18-digit form, rounds; and x of 2^52 or more.
bool RoundScaled(double x, std::uint64_t& n) {
  if (!(x < 4503599627370496.0)) {
    return false;
  }
  const double whole = std::floor(x);
  const double frac = x - whole; // exact
  // The product is within x * 2^-53 (1.11e-16 x) of the exact value, and the 18-digit form
  // within half a unit of its 18th digit (at most 5e-17 x) of that: 2e-16 x covers both.
  const double margin = x * 2e-16 + 1e-300;
  if (std::fabs(frac - 0.5) <= margin) {
    return false;
  }
  n = static_cast<std::uint64_t>(whole) + (frac > 0.5 ? 1 : 0);
  return true;
}

// |value| rounded to 15 significant digits without a text conversion, for the usual range of
// the general rendering; false where the slow path must decide.
bool FastGeneralDecimal(double value, TDecimal& dec) {
  const double v = std::fabs(value);
  if (!(v >= 1e-4 && v < 1e15)) {
    return false;
  }
  // Digits before the point: v in [10^(d-1), 10^d); d from -3 to 15.
  int d = 15;
  if (v >= 1.0) {
    while (d > 1 && v < kPow10[d - 1]) {
      --d;
    }
  } else {
    d = v >= 1e-1 ? 0 : v >= 1e-2 ? -1 : v >= 1e-3 ? -2 : -3;
  }
  std::uint64_t n = 0;
  if (!RoundScaled(v * kPow10[15 - d], n)) {
    return false;
  }
  IntegerDecimal(n, 15 - d, dec);
  return true;
}

// Below this, doubles carry fewer digits and their shortest form is no 15-digit rounding.
constexpr double kMinNormal = 2.2250738585072014e-308;

// The shortest digits that identify |value|; exact for whole numbers. When they are 15 or
// fewer, they are also |value| rounded to 15 significant digits: a double lies within 2^-53 of
// them relative, far less than half a unit of the 15th digit.
TDecimal ShortDecimal(double value, bool& exact) {
  TDecimal dec;
  const double v = std::fabs(value);
  exact = true;
  if (v == 0.0 || WholeDecimal(v, dec)) {
    return dec;
  }
  exact = false;
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
  ParseScientific(buf, res.ptr, dec);
  return dec;
}

// Keeps the first `keep` significant digits, rounding half away from zero. keep may be
// negative or zero (the value then rounds to zero or to one unit of the next place).
void RoundDecimal(TDecimal& dec, int keep) {
  if (keep >= dec.count) {
    return;
  }
  if (keep < 0) {
    dec.count = 0;
    dec.exp10 = 0;
    return;
  }
  const bool up = dec.digits[keep] >= '5';
  dec.count = keep;
  if (up) {
    int i = keep - 1;
    while (i >= 0 && dec.digits[i] == '9') {
      --i;
    }
    if (i < 0) {
      dec.digits[0] = '1';
      dec.count = 1;
      ++dec.exp10;
    } else {
      ++dec.digits[i];
      dec.count = i + 1;
    }
  }
  while (dec.count > 0 && dec.digits[dec.count - 1] == '0') {
    --dec.count;
  }
  if (dec.count == 0) {
    dec.exp10 = 0;
  }
}

void AppendNonFinite(std::string& out, double value) {
  if (std::isnan(value)) {
    out += "NAN";
  } else {
    out += value < 0 ? "-INF" : "INF";
  }
}

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
      quote = c == quote ? 0 : quote;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == ';') {
      break;
    } else if (c == '0' || c == '#') {
      return false;
    } else {
      switch (c | 0x20) {
      case 'd': case 'y': case 'h': case 's': case 'm':
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
// General rendering.

void AppendGeneral(std::string& out, double value, std::string_view decimalSeparator) {
  if (!std::isfinite(value)) {
    AppendNonFinite(out, value);
    return;
  }
  const double v = std::fabs(value);
  char buf[48];
  char* p = buf;
  if (value < 0) {
    *p++ = '-';
  }
  if (v < 1e15 && v == std::floor(v)) {
    // Whole numbers up to 15 digits are their own digits (zero included, without a sign).
    if (v == 0) {
      p = buf;
    }
    p = std::to_chars(p, buf + sizeof buf, static_cast<std::uint64_t>(v)).ptr;
    out.append(buf, p);
    return;
  }
  TDecimal dec;
  if (!FastGeneralDecimal(value, dec)) {
    bool exact = false;
    dec = ShortDecimal(value, exact);
    if (dec.count > 15 || std::fabs(value) < kMinNormal) {
      dec = ToDecimal(value, 15);
    }
  }
  // dec.count is 1..15 here: zero was written above and rounding to 15 digits keeps a digit.
  const auto count = static_cast<std::size_t>(dec.count);
  const int e = dec.exp10;
  if (e >= -3 && e <= 15) {
    if (e <= 0) {
      *p++ = '0';
      out.append(buf, p);
      out += decimalSeparator;
      out.append(static_cast<std::size_t>(-e), '0');
      out.append(dec.digits, count);
      return;
    }
    const auto intDigits = static_cast<std::size_t>(e);
    if (count <= intDigits) {
      std::memcpy(p, dec.digits, count);
      p += count;
      std::memset(p, '0', intDigits - count);
      p += intDigits - count;
      out.append(buf, p);
      return;
    }
    std::memcpy(p, dec.digits, intDigits);
    p += intDigits;
    out.append(buf, p);
    out += decimalSeparator;
    out.append(dec.digits + intDigits, count - intDigits);
    return;
  }
  *p++ = dec.digits[0];
  out.append(buf, p);
  if (count > 1) {
    out += decimalSeparator;
    out.append(dec.digits + 1, count - 1);
  }
  p = buf;
  *p++ = 'E';
  int exponent = e - 1;
  if (exponent < 0) {
    *p++ = '-';
    exponent = -exponent;
  }
  p = std::to_chars(p, buf + sizeof buf, exponent).ptr;
  out.append(buf, p);
}

void AppendGeneral(std::string& out, double value) {
  AppendGeneral(out, value, Locale().decimalSeparator);
}

std::string FormatGeneral(double value) {
  std::string out;
  AppendGeneral(out, value);
  return out;
}

// ---------------------------------------------------------------------------------------------
// Number formatter.

namespace {

bool IsPlaceholder(char c) { return c == '0' || c == '#'; }

TNumberSection CompileSection(std::string_view text) {
  TNumberSection sec;
  sec.emptyText = text.empty();
  auto addLiteral = [&sec](std::string_view lit) {
    if (lit.empty()) {
      return;
    }
    auto& items = sec.items;
    if (!items.empty() && items.back().kind == TNumberSection::kLiteral) {
      items.back().length = static_cast<std::uint16_t>(items.back().length + lit.size());
    } else {
      TNumberSection::TItem item;
      item.kind = TNumberSection::kLiteral;
      item.offset = static_cast<std::uint16_t>(sec.literals.size());
      item.length = static_cast<std::uint16_t>(lit.size());
      items.push_back(item);
    }
    sec.literals += lit;
  };
  bool afterPoint = false;
  bool sawZeroInt = false;
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '"' || c == '\'') {
      const auto close = text.find(c, i + 1);
      const std::size_t end = close == std::string_view::npos ? text.size() : close;
      addLiteral(text.substr(i + 1, end - i - 1));
      i = close == std::string_view::npos ? text.size() : close + 1;
      continue;
    }
    if (IsPlaceholder(c) && !sec.scientific) {
      TNumberSection::TItem item;
      item.zero = c == '0';
      if (afterPoint) {
        item.kind = TNumberSection::kFracDigit;
        ++sec.fracPlaceholders;
        if (item.zero) {
          sec.minFracDigits = sec.fracPlaceholders;
        }
      } else {
        item.kind = TNumberSection::kIntDigit;
        if (sec.intPlaceholders > 0 && sec.items.back().kind != TNumberSection::kIntDigit) {
          sec.intContiguous = false;
        }
        ++sec.intPlaceholders;
        sawZeroInt = sawZeroInt || item.zero;
        if (sawZeroInt) {
          ++sec.minIntDigits;
        }
      }
      sec.items.push_back(item);
      ++i;
      continue;
    }
    if (c == '.' && !afterPoint && !sec.scientific) {
      afterPoint = true;
      sec.hasPoint = true;
      TNumberSection::TItem item;
      item.kind = TNumberSection::kPoint;
      sec.items.push_back(item);
      ++i;
      continue;
    }
    if (c == ',') {
      sec.grouping = true;
      ++i;
      continue;
    }
    if ((c == 'E' || c == 'e') && !sec.scientific && i + 2 < text.size() &&
        (text[i + 1] == '+' || text[i + 1] == '-') && IsPlaceholder(text[i + 2])) {
      sec.scientific = true;
      sec.upperE = c == 'E';
      TNumberSection::TItem item;
      item.kind = TNumberSection::kExponent;
      item.zero = text[i + 1] == '+';
      i += 2;
      int zeros = 0;
      while (i < text.size() && IsPlaceholder(text[i])) {
        zeros += text[i] == '0' ? 1 : 0;
        ++i;
      }
      item.length = static_cast<std::uint16_t>(zeros < 1 ? 1 : zeros);
      sec.items.push_back(item);
      continue;
    }
    addLiteral(text.substr(i, 1));
    ++i;
  }
  // Plain layout check: L? I* (P F*)? L?
  const auto& items = sec.items;
  std::size_t k = 0;
  bool plain = !sec.scientific && sec.intContiguous && sec.minIntDigits <= 20 &&
               sec.fracPlaceholders <= 15;
  if (k < items.size() && items[k].kind == TNumberSection::kLiteral) {
    sec.prefixLength = items[k].length;
    ++k;
  }
  while (k < items.size() && items[k].kind == TNumberSection::kIntDigit) {
    ++k;
  }
  if (k < items.size() && items[k].kind == TNumberSection::kPoint) {
    ++k;
    while (k < items.size() && items[k].kind == TNumberSection::kFracDigit) {
      ++k;
    }
  }
  sec.suffixOffset = static_cast<std::uint16_t>(sec.literals.size());
  if (k < items.size() && items[k].kind == TNumberSection::kLiteral && k > 0) {
    sec.suffixOffset = items[k].offset;
    ++k;
  }
  sec.plain = plain && k == items.size() && (sec.intPlaceholders > 0 || sec.hasPoint);
  return sec;
}

// Significant digits of |value| after rounding for the section. The value is taken with 18
// significant digits; its shortest digits serve instead when they have 15 or fewer and the
// rounding is no tie in them (both then round the same way). For scientific notation, exponent
// receives the power of ten the mantissa is scaled by.
TDecimal RoundForSection(double value, const TNumberSection& sec, int& exponent) {
  exponent = 0;
  if (!sec.scientific && sec.fracPlaceholders <= 15) {
    // Scaled to the last kept decimal: away from ties, the 18-digit form and the double
    // round the same way.
    std::uint64_t n = 0;
    if (RoundScaled(std::fabs(value) * kPow10[sec.fracPlaceholders], n)) {
      TDecimal dec;
      IntegerDecimal(n, sec.fracPlaceholders, dec);
      return dec;
    }
  }
  bool exact = false;
  TDecimal dec = ShortDecimal(value, exact);
  const int intDigits = sec.intPlaceholders < 1 ? 1 : sec.intPlaceholders;
  auto keepOf = [&](const TDecimal& d) {
    return sec.scientific ? intDigits + sec.fracPlaceholders : d.exp10 + sec.fracPlaceholders;
  };
  if (!exact) {
    const int keep = keepOf(dec);
    if (dec.count > 15 || std::fabs(value) < kMinNormal ||
        (keep >= 0 && keep == dec.count - 1 && dec.digits[keep] == '5')) {
      dec = ToDecimal(value, 18);
    }
  }
  exponent = 0;
  if (dec.count == 0) {
    return dec;
  }
  RoundDecimal(dec, keepOf(dec));
  if (sec.scientific && dec.count > 0) {
    exponent = dec.exp10 - intDigits;
    dec.exp10 = intDigits; // the mantissa: intDigits digits before the point
  }
  return dec;
}

// Collects a cell's text in a small buffer and appends it in pieces (one append per cell in
// practice instead of one per character).
class TOut {
public:
  explicit TOut(std::string& out) : out_(out) {}
  ~TOut() { Flush(); }
  TOut(const TOut&) = delete;
  TOut& operator=(const TOut&) = delete;
  [[gnu::always_inline]] void Put(char c) {
    if (n_ == kSize) {
      Flush();
    }
    buf_[n_++] = c;
  }
  [[gnu::always_inline]] void Put(std::string_view s) {
    if (s.size() > kSize - n_) {
      Flush();
      if (s.size() > kSize) {
        out_.append(s);
        return;
      }
    }
    // Pieces are short (digit groups, separators): a loop beats a call to memcpy.
    for (const char c : s) {
      buf_[n_++] = c;
    }
  }
  void Zeros(std::size_t count) {
    for (; count > 0; --count) {
      Put('0');
    }
  }
  void Flush() {
    out_.append(buf_, n_);
    n_ = 0;
  }

private:
  static constexpr std::size_t kSize = 128;
  std::string& out_;
  char buf_[kSize];
  std::size_t n_ = 0;
};

void AppendGroupedDigits(TOut& out, const TDecimal& dec, int from, int to, int total,
                         bool grouping, std::string_view separator) {
  // Integer digit positions are counted from the left of a `total`-digit integer whose digits
  // are dec's digits aligned so that the last one is position total - 1 (leading zeros before
  // the value's own digits).
  const int lead = total - dec.exp10; // zeros before the first significant digit
  for (int i = from; i < to; ++i) {
    const int k = i - lead;
    out.Put(k >= 0 && k < dec.count ? dec.digits[k] : '0');
    if (grouping) {
      const int fromRight = total - 1 - i;
      if (fromRight > 0 && fromRight % 3 == 0) {
        out.Put(separator);
      }
    }
  }
}

void AppendSection(std::string& text, const TNumberSection& sec, const TDecimal& dec,
                   int exponent, bool minus, const platform::TLocaleFormat& locale) {
  TOut out(text);
  if (minus) {
    out.Put('-');
  }
  const int intLen = dec.count == 0 ? 0 : (dec.exp10 > 0 ? dec.exp10 : 0);
  const int total = intLen > sec.minIntDigits ? intLen : sec.minIntDigits;
  // Fraction digits written: rounded fraction digits, trailing zeros down to minFracDigits.
  int fracWritten = 0;
  if (sec.fracPlaceholders > 0) {
    const int fracSig = dec.count - dec.exp10; // significant digits after the point
    fracWritten = fracSig > 0 ? fracSig : 0;
    if (fracWritten > sec.fracPlaceholders) {
      fracWritten = sec.fracPlaceholders;
    }
    if (fracWritten < sec.minFracDigits) {
      fracWritten = sec.minFracDigits;
    }
  }
  const std::string_view thousands = locale.thousandSeparator;
  const int placeholders = sec.intPlaceholders;
  int intIndex = 0;
  int fracIndex = 0;
  bool intDone = placeholders > 0; // placeholders write the integer digits themselves
  for (const auto& item : sec.items) {
    switch (item.kind) {
    case TNumberSection::kLiteral:
      out.Put(std::string_view(sec.literals).substr(item.offset, item.length));
      break;
    case TNumberSection::kIntDigit: {
      // Placeholder intIndex of `placeholders`: the first takes every surplus digit.
      const int surplus = total - placeholders;
      if (sec.intContiguous) {
        // One run of placeholders: all integer digits at once.
        if (intIndex == 0) {
          AppendGroupedDigits(out, dec, 0, total, total, sec.grouping, thousands);
        }
      } else if (intIndex == 0 && surplus > 0) {
        AppendGroupedDigits(out, dec, 0, surplus + 1, total, sec.grouping, thousands);
      } else {
        const int pos = intIndex + surplus; // digit position in the total-digit integer
        if (pos >= 0) {
          AppendGroupedDigits(out, dec, pos, pos + 1, total, sec.grouping, thousands);
        }
      }
      ++intIndex;
      break;
    }
    case TNumberSection::kPoint:
      if (placeholders == 0 && !intDone) {
        AppendGroupedDigits(out, dec, 0, total, total, sec.grouping, thousands);
        intDone = true;
      }
      if (fracWritten > 0) {
        out.Put(locale.decimalSeparator);
      }
      break;
    case TNumberSection::kFracDigit:
      if (fracIndex < fracWritten) {
        const int k = dec.exp10 + fracIndex;
        out.Put(k >= 0 && k < dec.count ? dec.digits[k] : '0');
      }
      ++fracIndex;
      break;
    case TNumberSection::kExponent: {
      out.Put(sec.upperE ? 'E' : 'e');
      int e = exponent;
      if (e < 0) {
        out.Put('-');
        e = -e;
      } else if (item.zero) {
        out.Put('+');
      }
      char buf[8];
      const auto res = std::to_chars(buf, buf + sizeof buf, e);
      const auto len = static_cast<std::size_t>(res.ptr - buf);
      if (len < item.length) {
        out.Zeros(item.length - len);
      }
      out.Put(std::string_view(buf, len));
      break;
    }
    }
  }
}

constexpr std::uint64_t kPow10Int[] = {1ULL,
                                       10ULL,
                                       100ULL,
                                       1000ULL,
                                       10000ULL,
                                       100000ULL,
                                       1000000ULL,
                                       10000000ULL,
                                       100000000ULL,
                                       1000000000ULL,
                                       10000000000ULL,
                                       100000000000ULL,
                                       1000000000000ULL,
                                       10000000000000ULL,
                                       100000000000000ULL,
                                       1000000000000000ULL};

// Writes n in decimal ending at end; returns the first digit's position.
char* WriteDigitsBackward(char* end, std::uint64_t n) {
  do {
    *--end = static_cast<char>('0' + n % 10);
    n /= 10;
  } while (n != 0);
  return end;
}

// Fast path for plain sections: round by scaling, then write prefix, grouped integer digits,
// fraction and suffix. Returns false (nothing written) where the general path must decide: near
// rounding ties, huge values, and values that round to zero.
bool AppendPlainSection(std::string& text, const TNumberSection& sec, double value, bool minus,
                        const platform::TLocaleFormat& locale) {
  const int fracCount = sec.fracPlaceholders;
  std::uint64_t n = 0;
  if (!RoundScaled(std::fabs(value) * kPow10[fracCount], n) || (n == 0 && value != 0)) {
    return false;
  }
  const std::uint64_t scale = kPow10Int[fracCount];
  const std::uint64_t whole = n / scale;
  std::uint64_t frac = n % scale;

  char intBuf[32];
  char* intEnd = intBuf + sizeof intBuf;
  char* intStart = whole == 0 ? intEnd : WriteDigitsBackward(intEnd, whole);
  while (intEnd - intStart < sec.minIntDigits) {
    *--intStart = '0';
  }
  char fracBuf[16];
  for (int k = fracCount - 1; k >= 0; --k) {
    fracBuf[k] = static_cast<char>('0' + frac % 10);
    frac /= 10;
  }
  int fracWritten = fracCount;
  while (fracWritten > sec.minFracDigits && fracBuf[fracWritten - 1] == '0') {
    --fracWritten;
  }

  TOut out(text);
  if (minus) {
    out.Put('-');
  }
  out.Put(sec.Prefix());
  const auto intLen = static_cast<int>(intEnd - intStart);
  if (sec.grouping && intLen > 3) {
    const std::string_view separator = locale.thousandSeparator;
    int group = intLen % 3 == 0 ? 3 : intLen % 3;
    out.Put(std::string_view(intStart, static_cast<std::size_t>(group)));
    for (const char* p = intStart + group; p < intEnd; p += 3) {
      out.Put(separator);
      out.Put(std::string_view(p, 3));
    }
  } else {
    out.Put(std::string_view(intStart, static_cast<std::size_t>(intLen)));
  }
  if (fracWritten > 0) {
    out.Put(locale.decimalSeparator);
    out.Put(std::string_view(fracBuf, static_cast<std::size_t>(fracWritten)));
  }
  out.Put(sec.Suffix());
  return true;
}

} // namespace

TNumberFormat CompileNumberFormat(std::string_view format) {
  TNumberFormat fmt;
  if (format.size() > kMaxNumberFormatBytes) {
    fmt.tooLong = true;
    return fmt;
  }
  // Sections split at ";" outside quoted literals; a fourth and later section is never used.
  std::size_t start = 0;
  char quote = 0;
  for (std::size_t i = 0; i <= format.size() && fmt.sections.size() < 3; ++i) {
    if (i < format.size()) {
      const char c = format[i];
      if (quote != 0) {
        quote = c == quote ? 0 : quote;
        continue;
      }
      if (c == '"' || c == '\'') {
        quote = c;
        continue;
      }
      if (c != ';') {
        continue;
      }
    }
    fmt.sections.push_back(CompileSection(format.substr(start, i - start)));
    start = i + 1;
  }
  return fmt;
}

void AppendNumberFormat(std::string& out, double value, const TNumberFormat& format,
                        const platform::TLocaleFormat& locale) {
  if (format.tooLong || format.sections.empty() || !std::isfinite(value)) {
    AppendGeneral(out, value, locale.decimalSeparator);
    return;
  }
  const auto& sections = format.sections;
  const TNumberSection* zeroSection =
      sections.size() >= 3 && !sections[2].Empty() ? &sections[2] : nullptr;
  const TNumberSection* sec = &sections[0];
  bool minus = false;
  if (value < 0) {
    if (sections.size() >= 2 && !sections[1].Empty()) {
      sec = &sections[1];
    } else {
      minus = true;
    }
  } else if (value == 0 && zeroSection != nullptr) {
    sec = zeroSection;
  }
  if (sec->plain && AppendPlainSection(out, *sec, value, minus, locale)) {
    return;
  }
  int exponent = 0;
  TDecimal dec = RoundForSection(value, *sec, exponent);
  if (!sec->scientific && dec.exp10 > 18) {
    AppendGeneral(out, value, locale.decimalSeparator);
    return;
  }
  if (dec.count == 0 && value != 0) {
    // Rounds to zero in its section: the zero section when there is one, else no minus sign.
    minus = false;
    if (zeroSection != nullptr && sec != zeroSection) {
      sec = zeroSection;
      dec = RoundForSection(0.0, *sec, exponent);
    }
  }
  AppendSection(out, *sec, dec, exponent, minus, locale);
}

void AppendNumberFormat(std::string& out, double value, std::string_view format,
                        const platform::TLocaleFormat& locale) {
  AppendNumberFormat(out, value, CompileNumberFormat(format), locale);
}

void AppendNumberFormat(std::string& out, double value, std::string_view format) {
  AppendNumberFormat(out, value, format, Locale());
}

std::string FormatNumber(double value, std::string_view format) {
  std::string out;
  AppendNumberFormat(out, value, format);
  return out;
}

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
      AppendUtf8(fmt.text, b);
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
    AppendUtf8(fmt.text, unit);
  }
  return fmt;
}

TStyleData::TStyleData() : compiled_(kFormatTableSize) {
  for (const auto& b : kBuiltIns) {
    ClassifyFormat(b.ifmt, b.text);
  }
}

void TStyleData::AppendXF(std::uint16_t ifmt) { xfFormats_.push_back(ifmt); }

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
  if (text.find('m') != std::string::npos) {
    CutAtSemicolon(text);
    EraseAll(text, "\"");
    entry.kind = kFmtDateTime;
  } else if (text.find('a') != std::string::npos) {
    CutAtSemicolon(text);
    EraseAll(text, "\"");
    for (char& c : text) {
      if (c == 'a') {
        c = 'd';
      }
    }
    entry.kind = kFmtDateTime;
  } else if (IsDateWithoutLowerM(text)) {
    // Date parts in capitals ("DDMMYYYY", "HH:MM") or without a month ("yyyy"): as a number
    // format the text would print its letters instead of the value.
    CutAtSemicolon(text);
    EraseAll(text, "\"");
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
    AppendNumberFormat(out, value, compiled_[ifmt], Locale());
    break;
  case kFmtPercent:
    AppendNumberFormat(out, value * 100.0, compiled_[ifmt], Locale());
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
