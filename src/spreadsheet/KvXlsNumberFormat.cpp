// The number formatter: format texts compiled into sections, and number cells rendered
// through them.
#include "spreadsheet/KvXlsFormatText.h"
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

namespace {

bool IsPlaceholder(char c) {
  return c == '0' || c == '#';
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// A [condition]: an operator (<, <=, >, >=, =, <>) and a number. False for other brackets.
bool ParseCondition(std::string_view s, TNumberSection& sec) {
  std::size_t i = 0;
  const auto op = [&](std::string_view o) {
    if (s.substr(i, o.size()) == o) {
      i += o.size();
      return true;
    }
    return false;
  };
  TNumberSection::TCondition cond = TNumberSection::kNoCondition;
  if (op("<=")) {
    cond = TNumberSection::kLessEqual;
  } else if (op(">=")) {
    cond = TNumberSection::kGreaterEqual;
  } else if (op("<>")) {
    cond = TNumberSection::kNotEqual;
  } else if (op("<")) {
    cond = TNumberSection::kLess;
  } else if (op(">")) {
    cond = TNumberSection::kGreater;
  } else if (op("=")) {
    cond = TNumberSection::kEqual;
  } else {
    return false;
  }
  const std::string_view number = s.substr(i);
  double value = 0;
  const auto res = std::from_chars(number.data(), number.data() + number.size(), value);
  if (res.ec != std::errc() || res.ptr != number.data() + number.size()) {
    return false;
  }
  sec.condition = cond;
  sec.conditionValue = value;
  return true;
}

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
    const std::size_t at = i;
    const TFormatToken token = NextFormatToken(text, i);
    switch (token.kind) {
    case TFormatToken::kQuoted:
    case TFormatToken::kEscaped:
      addLiteral(token.text);
      continue;
    case TFormatToken::kPad:
      addLiteral(" ");
      continue;
    case TFormatToken::kFill:
      continue;
    case TFormatToken::kBadBracket:
      sec.unsupported = true;
      continue;
    case TFormatToken::kBracket:
      // Colours and locale tags show nothing; a currency tag [$sym-lcid] shows its symbol.
      if (!token.text.empty() && token.text[0] == '$') {
        addLiteral(token.text.substr(1, token.text.find('-') - 1));
      } else if (IsElapsedBracket(token.text)) {
        sec.unsupported = true;
      } else {
        ParseCondition(token.text, sec);
      }
      continue;
    case TFormatToken::kChar:
      break;
    }
    const char c = text[at];
    if (token.text.size() > 1) {
      addLiteral(token.text); // a non-ASCII character
      continue;
    }
    if (c == '/' && !sec.fraction && !sec.scientific && !afterPoint && !sec.items.empty() &&
        sec.items.back().kind == TNumberSection::kIntDigit && i < text.size() &&
        (IsPlaceholder(text[i]) || text[i] == '?' || IsDigit(text[i]))) {
      // A fraction: the placeholders right before "/" are the numerator, any before them
      // (behind a literal) the whole part; after "/" the denominator's placeholders or digits.
      std::size_t numerator = 0;
      while (!sec.items.empty() && sec.items.back().kind == TNumberSection::kIntDigit) {
        sec.items.pop_back();
        ++numerator;
      }
      sec.intPlaceholders -= static_cast<int>(numerator);
      sec.minIntDigits =
          sec.minIntDigits < sec.intPlaceholders ? sec.minIntDigits : sec.intPlaceholders;
      sec.intContiguous = true;
      bool seen = false;
      for (std::size_t k = 0; k < sec.items.size(); ++k) {
        if (sec.items[k].kind == TNumberSection::kIntDigit) {
          sec.intContiguous =
              sec.intContiguous && (!seen || sec.items[k - 1].kind == TNumberSection::kIntDigit);
          seen = true;
        }
      }
      sec.fraction = true;
      sec.fractionWhole = sec.intPlaceholders > 0;
      if (IsDigit(text[i])) {
        std::uint32_t den = 0;
        while (i < text.size() && IsDigit(text[i]) && den < 100000) {
          den = den * 10 + static_cast<std::uint32_t>(text[i] - '0');
          ++i;
        }
        sec.fixedDenominator = den;
        sec.unsupported = sec.unsupported || den == 0;
      } else {
        while (i < text.size() && (IsPlaceholder(text[i]) || text[i] == '?')) {
          ++sec.denominatorDigits;
          ++i;
        }
        sec.unsupported = sec.unsupported || sec.denominatorDigits > 3;
      }
      TNumberSection::TItem item;
      item.kind = TNumberSection::kFraction;
      sec.items.push_back(item);
      continue;
    }
    if ((IsPlaceholder(c) || c == '?') && !sec.scientific) {
      if (sec.fraction) {
        sec.unsupported = true; // digits after a fraction
        continue;
      }
      // "?" stands for a digit like "#" (the space it leaves for alignment is not written).
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
      continue;
    }
    if (c == '.' && !afterPoint && !sec.scientific && !sec.fraction) {
      afterPoint = true;
      sec.hasPoint = true;
      TNumberSection::TItem item;
      item.kind = TNumberSection::kPoint;
      sec.items.push_back(item);
      continue;
    }
    if (c == ',') {
      sec.grouping = true;
      continue;
    }
    if ((c == 'E' || c == 'e') && !sec.scientific && i + 1 < text.size() &&
        (text[i] == '+' || text[i] == '-') && IsPlaceholder(text[i + 1])) {
      sec.scientific = true;
      sec.upperE = c == 'E';
      TNumberSection::TItem item;
      item.kind = TNumberSection::kExponent;
      item.zero = text[i] == '+';
      i += 1;
      int zeros = 0;
      while (i < text.size() && IsPlaceholder(text[i])) {
        zeros += text[i] == '0' ? 1 : 0;
        ++i;
      }
      item.length = static_cast<std::uint16_t>(zeros < 1 ? 1 : zeros);
      sec.items.push_back(item);
      continue;
    }
    if (c == '%') {
      ++sec.percent;
    }
    switch (c | 0x20) {
    case 'y':
    case 'm':
    case 'd':
    case 'h':
    case 's':
      sec.unsupported = true; // date or time tokens in a number section
      break;
    default:
      break;
    }
    if (c == '@') {
      sec.unsupported = true; // the text placeholder
      continue;
    }
    addLiteral(token.text);
  }
  sec.unsupported = sec.unsupported || (sec.fraction && sec.scientific);
  // Plain layout check: L? I* (P F*)? L?
  const auto& items = sec.items;
  std::size_t k = 0;
  bool plain = !sec.scientific && !sec.fraction && sec.intContiguous && sec.minIntDigits <= 20 &&
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
  sec.plain =
      plain && k == items.size() && (sec.intPlaceholders > 0 || sec.hasPoint) && !sec.unsupported;
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

void AppendGroupedDigits(TOut& out, const TDecimal& dec, int from, int to, int total, bool grouping,
                         std::string_view separator) {
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

void AppendSection(std::string& text, const TNumberSection& sec, const TDecimal& dec, int exponent,
                   bool minus, const platform::TLocaleFormat& locale) {
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
      std::array<char, 8> buf;
      const std::size_t len = ToChars(buf, e);
      if (len < item.length) {
        out.Zeros(item.length - len);
      }
      out.Put(std::string_view(buf.data(), len));
      break;
    }
    case TNumberSection::kFraction: // fraction sections have their own writer
      break;
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

// Writes n in decimal ending at position end of buf; returns the first digit's position.
std::size_t WriteDigitsBackward(std::span<char> buf, std::size_t end, std::uint64_t n) {
  do {
    buf[--end] = static_cast<char>('0' + n % 10);
    n /= 10;
  } while (n != 0);
  return end;
}

// A plain section's number, rounded: its integer digits (with the leading zeros the section
// asks for) and the fraction digits it writes.
struct TPlainDigits {
  std::array<char, 32> intBuf;
  std::size_t intStart = 0;
  std::array<char, 16> fracBuf;
  int fracWritten = 0;
  std::string_view Int() const {
    return std::string_view(intBuf.data(), intBuf.size()).substr(intStart);
  }
  std::string_view Frac() const {
    return std::string_view(fracBuf.data(), static_cast<std::size_t>(fracWritten));
  }
};

// A cell's text in a buffer of fixed size, for a writer that has checked that it fits: one
// append per cell, and no check per character.
class TFixedOut {
public:
  static constexpr std::size_t kSize = 96;
  [[gnu::always_inline]] void Put(char c) { buf_[n_++] = c; }
  [[gnu::always_inline]] void Put(std::string_view s) {
    for (const char c : s) {
      buf_[n_++] = c;
    }
  }
  std::string_view Text() const { return {buf_.data(), n_}; }

private:
  std::array<char, kSize> buf_;
  std::size_t n_ = 0;
};

// Writes sign, prefix, grouped integer digits, fraction and suffix of a plain section.
template <class TSink>
[[gnu::always_inline]] inline void WritePlain(TSink& out, const TNumberSection& sec,
                                              const TPlainDigits& d, bool minus,
                                              const platform::TLocaleFormat& locale) {
  if (minus) {
    out.Put('-');
  }
  out.Put(sec.Prefix());
  const std::string_view intDigits = d.Int();
  if (sec.grouping && intDigits.size() > 3) {
    const std::string_view separator = locale.thousandSeparator;
    const std::size_t group = intDigits.size() % 3 == 0 ? 3 : intDigits.size() % 3;
    out.Put(intDigits.substr(0, group));
    for (std::size_t k = group; k < intDigits.size(); k += 3) {
      out.Put(separator);
      out.Put(intDigits.substr(k, 3));
    }
  } else {
    out.Put(intDigits);
  }
  if (d.fracWritten > 0) {
    out.Put(locale.decimalSeparator);
    out.Put(d.Frac());
  }
  out.Put(sec.Suffix());
}

// Fast path for plain sections: round by scaling, then write prefix, grouped integer digits,
// fraction and suffix, with one append when the text fits a cell buffer (always, but for
// literals or separators of unusual length). Returns false (nothing written) where the general
// path must decide: near rounding ties, huge values, and values that round to zero. Inline: it
// runs for nearly every number cell with a format.
[[gnu::always_inline]] inline bool AppendPlainSection(std::string& text, const TNumberSection& sec,
                                                      double value, bool minus,
                                                      const platform::TLocaleFormat& locale) {
  const int fracCount = sec.fracPlaceholders;
  std::uint64_t n = 0;
  if (!RoundScaled(std::fabs(value) * kPow10[fracCount], n) || (n == 0 && value != 0)) {
    return false;
  }
  const std::uint64_t scale = kPow10Int[fracCount];
  const std::uint64_t whole = n / scale;
  std::uint64_t frac = n % scale;

  TPlainDigits d;
  const std::size_t intEnd = d.intBuf.size();
  d.intStart = whole == 0 ? intEnd : WriteDigitsBackward(d.intBuf, intEnd, whole);
  while (static_cast<int>(intEnd - d.intStart) < sec.minIntDigits) {
    d.intBuf[--d.intStart] = '0';
  }
  for (auto k = static_cast<std::size_t>(fracCount); k > 0; --k) {
    d.fracBuf[k - 1] = static_cast<char>('0' + frac % 10);
    frac /= 10;
  }
  d.fracWritten = fracCount;
  while (d.fracWritten > sec.minFracDigits &&
         d.fracBuf[static_cast<std::size_t>(d.fracWritten) - 1] == '0') {
    --d.fracWritten;
  }

  // The longest text the digits can give: a sign, the literals, up to 32 digits with a
  // separator before each, the point and up to 16 fraction digits.
  const std::size_t longest = 1 + sec.Prefix().size() + 32 * (1 + locale.thousandSeparator.size()) +
                              locale.decimalSeparator.size() + 16 + sec.Suffix().size();
  if (longest <= TFixedOut::kSize) [[likely]] {
    TFixedOut out;
    WritePlain(out, sec, d, minus, locale);
    text.append(out.Text());
  } else {
    TOut out(text);
    WritePlain(out, sec, d, minus, locale);
  }
  return true;
}

} // namespace

TNumberFormat CompileNumberFormat(std::string_view format) {
  TNumberFormat fmt;
  if (format.size() > kMaxNumberFormatBytes) {
    fmt.tooLong = true;
    return fmt;
  }
  // Sections split at ";" outside quoted text, escapes and brackets; a fourth section is for
  // text cells and is not kept.
  for (const std::string_view section : SplitFormatSections(format)) {
    if (fmt.sections.size() == 3) {
      break;
    }
    fmt.sections.push_back(CompileSection(section));
    fmt.conditional =
        fmt.conditional || fmt.sections.back().condition != TNumberSection::kNoCondition;
  }
  return fmt;
}

namespace {

bool Holds(const TNumberSection& sec, double v) {
  const double c = sec.conditionValue;
  switch (sec.condition) {
  case TNumberSection::kLess:
    return v < c;
  case TNumberSection::kLessEqual:
    return v <= c;
  case TNumberSection::kGreater:
    return v > c;
  case TNumberSection::kGreaterEqual:
    return v >= c;
  case TNumberSection::kEqual:
    return v == c;
  case TNumberSection::kNotEqual:
    return v != c;
  default:
    return true;
  }
}

// The section of a format with conditions: the first whose condition holds, a section without
// one taking what the others leave; the third takes everything else. Null when none applies.
// minus: a negative value is written with its sign unless its section is the second and says
// it is for values below (or at most) zero, whose own characters then stand for the sign.
const TNumberSection* ConditionalSection(const TNumberFormat& format, double value, bool& minus) {
  const auto& sections = format.sections;
  const TNumberSection* chosen = nullptr;
  std::size_t index = 0;
  for (; index < sections.size(); ++index) {
    const TNumberSection& sec = sections[index];
    if (index == 2 || Holds(sec, value)) {
      chosen = &sec;
      break;
    }
  }
  if (chosen == nullptr) {
    return nullptr;
  }
  const bool negativeSection = index == 1 &&
                               (chosen->condition == TNumberSection::kLess ||
                                chosen->condition == TNumberSection::kLessEqual) &&
                               chosen->conditionValue <= 0;
  minus = value < 0 && !negativeSection;
  return chosen;
}

// Fraction sections: the whole part, the literal between it and the fraction, and the
// fraction n/d whose denominator is the fixed one or, among those of at most
// denominatorDigits digits, the one closest to the fractional part (ties to the smaller
// denominator). A zero fraction shows the whole part alone, a zero whole part the fraction
// alone (unless a "0" placeholder asks for the digit). False (nothing written) for values too large
// to split exactly.
bool AppendFractionSection(std::string& text, const TNumberSection& sec, double value, bool minus,
                           const platform::TLocaleFormat& locale) {
  const double v = std::fabs(value);
  if (!(v < 1e15)) {
    return false;
  }
  double whole = sec.fractionWhole ? std::floor(v) : 0;
  const double part = v - whole;
  std::uint64_t num = 0;
  std::uint64_t den = 1;
  if (sec.fixedDenominator != 0) {
    den = sec.fixedDenominator;
    num = static_cast<std::uint64_t>(std::llround(part * static_cast<double>(den)));
  } else {
    const std::uint64_t maxDen = sec.denominatorDigits >= 3   ? 999
                                 : sec.denominatorDigits == 2 ? 99
                                                              : 9;
    const double frac = part - std::floor(part);
    const double base = std::floor(part); // whole part of a fraction without whole placeholders
    double best = 2;
    std::uint64_t bestNum = 0;
    for (std::uint64_t d = 1; d <= maxDen; ++d) {
      const double n = std::nearbyint(frac * static_cast<double>(d));
      const double err = std::fabs(frac - n / static_cast<double>(d));
      if (err < best) {
        best = err;
        bestNum = static_cast<std::uint64_t>(n);
        den = d;
      }
    }
    num = bestNum + static_cast<std::uint64_t>(base) * den;
  }
  if (sec.fractionWhole && num >= den) {
    const std::uint64_t carry = num / den;
    whole += static_cast<double>(carry);
    num %= den;
  }
  const bool showFraction = num != 0;
  const bool showWhole = whole != 0 || !showFraction || sec.minIntDigits > 0; // "0" shows 0
  TOut out(text);
  if (minus && (showFraction || whole != 0)) {
    out.Put('-');
  }
  const auto& items = sec.items;
  bool wroteWhole = false;
  for (std::size_t k = 0; k < items.size(); ++k) {
    const auto& item = items[k];
    const bool separator = sec.fractionWhole && item.kind == TNumberSection::kLiteral &&
                           k + 1 < items.size() && items[k + 1].kind == TNumberSection::kFraction;
    switch (item.kind) {
    case TNumberSection::kLiteral:
      if (!separator || (showWhole && showFraction)) {
        out.Put(std::string_view(sec.literals).substr(item.offset, item.length));
      }
      break;
    case TNumberSection::kIntDigit:
      if (!wroteWhole && showWhole) {
        TDecimal dec;
        IntegerDecimal(static_cast<std::uint64_t>(whole), 0, dec);
        const int total = dec.exp10 > 1 ? dec.exp10 : 1;
        AppendGroupedDigits(out, dec, 0, total, total, sec.grouping, locale.thousandSeparator);
      }
      wroteWhole = true;
      break;
    case TNumberSection::kFraction:
      if (showFraction || !sec.fractionWhole) {
        std::array<char, 24> buf;
        out.Put(std::string_view(buf.data(), ToChars(buf, num)));
        if (showFraction) {
          out.Put('/');
          out.Put(std::string_view(buf.data(), ToChars(buf, den)));
        }
      }
      break;
    default:
      break;
    }
  }
  return true;
}

} // namespace

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
  if (format.conditional) [[unlikely]] {
    sec = ConditionalSection(format, value, minus);
    if (sec == nullptr) {
      AppendGeneral(out, value, locale.decimalSeparator);
      return;
    }
    zeroSection = nullptr;
  } else if (value < 0) {
    if (sections.size() >= 2 && !sections[1].Empty()) {
      sec = &sections[1];
    } else {
      minus = true;
    }
  } else if (value == 0 && zeroSection != nullptr) {
    sec = zeroSection;
  }
  // The formatters write |value| (times 100 for each percent sign); minus says whether a sign
  // goes before it. Plain sections have nothing unsupported.
  const double original = value;
  if (sec->percent != 0) [[unlikely]] {
    for (int k = 0; k < sec->percent && k < 8; ++k) {
      value *= 100.0;
    }
  }
  if (sec->plain && AppendPlainSection(out, *sec, value, minus, locale)) {
    return;
  }
  if (sec->unsupported) {
    // Never a different number: what the formatter cannot show is the value itself.
    AppendGeneral(out, original, locale.decimalSeparator);
    return;
  }
  if (sec->fraction) {
    if (!AppendFractionSection(out, *sec, value, minus, locale)) {
      AppendGeneral(out, original, locale.decimalSeparator);
    }
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
  AppendNumberFormat(out, value, format, UserLocale());
}

std::string FormatNumber(double value, std::string_view format) {
  std::string out;
  AppendNumberFormat(out, value, format);
  return out;
}
} // namespace scv::spreadsheet
