// What the renderers of number cells share: the user's locale format data, and the decimal
// digits of a double that the general rendering and the number formatter round.
#pragma once

#include "platform/LocaleFormat.h"

#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace scv::spreadsheet {

// The user's locale format data, read once.
const platform::TLocaleFormat& UserLocale();

// value = 0.d1 d2 ... dn x 10^exp10, digits without trailing zeros; n == 0 for zero.
struct TDecimal {
  char digits[24] = {};
  int count = 0;
  int exp10 = 0;
};

inline constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                    1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                    1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// Below this, doubles carry fewer digits and their shortest form is no 15-digit rounding.
inline constexpr double kMinNormal = 2.2250738585072014e-308;

// Digits of a whole number n, as dec with `fracDigits` of them after the point.
void IntegerDecimal(std::uint64_t n, int fracDigits, TDecimal& dec);

// Converts |value| (finite, non-zero) to `precision` significant digits, correctly rounded.
TDecimal ToDecimal(double value, int precision);

// The shortest digits that identify |value|; exact for whole numbers. When they are 15 or
// fewer, they are also |value| rounded to 15 significant digits.
TDecimal ShortDecimal(double value, bool& exact);

// Keeps the first `keep` significant digits, rounding half away from zero.
void RoundDecimal(TDecimal& dec, int keep);

// Inline: the formatter's fast path calls it for every cell.
// Rounds x = |value| x 10^k (one rounded multiplication, so within x * 2^-53 of the exact
// product) to the nearest whole number. Refuses x at or near a tie, where the product cannot
// tell which way the exact value, or its 18-digit form, rounds; and x of 2^52 or more.
inline bool RoundScaled(double x, std::uint64_t& n) {
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

// std::to_chars into buf; returns the count of characters written (all of buf when the value
// does not fit, where std::to_chars leaves its end at the end of buf).
template <typename... TArgs> std::size_t ToChars(std::span<char> buf, TArgs... args) {
  const auto res = std::to_chars(buf.data(), std::to_address(buf.end()), args...);
  return static_cast<std::size_t>(res.ptr - buf.data());
}

// "NAN", "INF" or "-INF".
void AppendNonFinite(std::string& out, double value);

} // namespace scv::spreadsheet
