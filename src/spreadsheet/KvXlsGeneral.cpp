// Decimal digits of a double, and the general rendering of number cells: at most 15 significant
// digits with the locale's decimal separator.
#include "spreadsheet/KvXlsRender.h"
#include "spreadsheet/KvXlsStyle.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

namespace scv::spreadsheet {

const platform::TLocaleFormat& UserLocale() {
  static const platform::TLocaleFormat& locale = platform::UserLocaleFormat();
  return locale;
}

// ---------------------------------------------------------------------------------------------
// Decimal digits of a double.

namespace {

void ParseScientific(std::string_view text, TDecimal& dec) {
  // Layout: d[.ddd]e(+|-)xx
  std::size_t e = 0;
  while (e < text.size() && text[e] != 'e') {
    if (text[e] != '.') {
      dec.digits[dec.count++] = text[e];
    }
    ++e;
  }
  int exponent = 0;
  std::size_t p = e + 1;
  const bool negative = p < text.size() && text[p] == '-';
  p += p < text.size() && (text[p] == '-' || text[p] == '+') ? 1 : 0;
  for (; p < text.size(); ++p) {
    exponent = exponent * 10 + (text[p] - '0');
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
  std::array<char, 24> buf;
  dec.count = static_cast<int>(ToChars(buf, static_cast<std::uint64_t>(v)));
  dec.exp10 = dec.count;
  std::memcpy(dec.digits, buf.data(), static_cast<std::size_t>(dec.count));
  while (dec.count > 0 && dec.digits[dec.count - 1] == '0') {
    --dec.count;
  }
  return true;
}

} // namespace

// Converts |value| (finite, non-zero) to `precision` significant digits, correctly rounded.
TDecimal ToDecimal(double value, int precision) {
  TDecimal dec;
  std::array<char, 64> buf;
  const std::size_t len =
      ToChars(buf, std::fabs(value), std::chars_format::scientific, precision - 1);
  ParseScientific(std::string_view(buf.data(), len), dec);
  return dec;
}

// Digits of a whole number n, as dec with `fracDigits` of them after the point.
void IntegerDecimal(std::uint64_t n, int fracDigits, TDecimal& dec) {
  dec = TDecimal{};
  if (n == 0) {
    return;
  }
  std::array<char, 24> buf;
  int len = static_cast<int>(ToChars(buf, n));
  dec.exp10 = len - fracDigits;
  while (len > 0 && buf[static_cast<std::size_t>(len - 1)] == '0') {
    --len;
  }
  std::memcpy(dec.digits, buf.data(), static_cast<std::size_t>(len));
  dec.count = len;
}

namespace {

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

} // namespace

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
  std::array<char, 64> buf;
  const std::size_t len = ToChars(buf, v, std::chars_format::scientific);
  ParseScientific(std::string_view(buf.data(), len), dec);
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
// General rendering.

void AppendGeneral(std::string& out, double value, std::string_view decimalSeparator) {
  if (!std::isfinite(value)) {
    AppendNonFinite(out, value);
    return;
  }
  const double v = std::fabs(value);
  std::array<char, 48> buf;
  const std::span<char> bufSpan(buf);
  std::size_t len = 0;
  if (value < 0) {
    buf[len++] = '-';
  }
  // Whole numbers up to 15 digits are their own digits (zero included, without a sign). Below
  // 1e15 the conversion to an integer is exact for them and drops the fraction of any other.
  const auto whole = static_cast<std::uint64_t>(v < 1e15 ? v : 0.0);
  if (v < 1e15 && static_cast<double>(whole) == v) {
    if (v == 0) {
      len = 0;
    }
    len += ToChars(bufSpan.subspan(len), whole);
    out.append(buf.data(), len);
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
  const std::span<const char> digits(dec.digits);
  const int e = dec.exp10;
  if (e >= -3 && e <= 15) {
    if (e <= 0) {
      buf[len++] = '0';
      out.append(buf.data(), len);
      out += decimalSeparator;
      out.append(static_cast<std::size_t>(-e), '0');
      out.append(dec.digits, count);
      return;
    }
    const auto intDigits = static_cast<std::size_t>(e);
    if (count <= intDigits) {
      std::memcpy(bufSpan.subspan(len).data(), dec.digits, count);
      len += count;
      std::memset(bufSpan.subspan(len).data(), '0', intDigits - count);
      len += intDigits - count;
      out.append(buf.data(), len);
      return;
    }
    std::memcpy(bufSpan.subspan(len).data(), dec.digits, intDigits);
    len += intDigits;
    out.append(buf.data(), len);
    out += decimalSeparator;
    out.append(digits.subspan(intDigits).data(), count - intDigits);
    return;
  }
  buf[len++] = dec.digits[0];
  out.append(buf.data(), len);
  if (count > 1) {
    out += decimalSeparator;
    out.append(digits.subspan(1).data(), count - 1);
  }
  len = 0;
  buf[len++] = 'E';
  int exponent = e - 1;
  if (exponent < 0) {
    buf[len++] = '-';
    exponent = -exponent;
  }
  len += ToChars(bufSpan.subspan(len), exponent);
  out.append(buf.data(), len);
}

void AppendGeneral(std::string& out, double value) {
  AppendGeneral(out, value, UserLocale().decimalSeparator);
}

std::string FormatGeneral(double value) {
  std::string out;
  AppendGeneral(out, value);
  return out;
}

} // namespace scv::spreadsheet
