// The user's locale format data for number and date rendering (the GetLocaleInfoA values).
#include "platform/LocaleFormat.h"

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <memory>
#include <span>
#include <string_view>

namespace scv::platform {

namespace {

constexpr const char* kEnShortMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr const char* kEnLongMonths[12] = {"January",   "February", "March",    "April",
                                           "May",       "June",     "July",     "August",
                                           "September", "October",  "November", "December"};
constexpr const char* kEnShortDays[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kEnLongDays[7] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                        "Thursday", "Friday", "Saturday"};

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

// C, POSIX, C.<codeset> and every en_US locale carry the built-in en-US values.
bool UsesEnUsValues(std::string_view name) {
  return name.empty() || name == "C" || name == "POSIX" || StartsWith(name, "C.") ||
         StartsWith(name, "en_US");
}

// The environment's locale name of one category: LC_ALL, then the category's variable, then
// LANG (the order setlocale(LC_ALL, "") follows).
std::string EnvLocaleName(const char* categoryVar) {
  for (const char* var : {"LC_ALL", categoryVar, "LANG"}) {
    const char* v = std::getenv(var);
    if (v != nullptr && *v != '\0') {
      return v;
    }
  }
  return "C";
}

// Owns a locale_t.
class TLocaleHandle {
public:
  explicit TLocaleHandle(const std::string& name)
      : loc_(newlocale(LC_ALL_MASK, name.c_str(), static_cast<locale_t>(nullptr))) {}
  ~TLocaleHandle() {
    if (loc_ != static_cast<locale_t>(nullptr)) {
      freelocale(loc_);
    }
  }
  TLocaleHandle(const TLocaleHandle&) = delete;
  TLocaleHandle& operator=(const TLocaleHandle&) = delete;
  bool Ok() const { return loc_ != static_cast<locale_t>(nullptr); }
  locale_t Get() const { return loc_; }

private:
  locale_t loc_;
};

// iconv_open's failure value: (iconv_t)-1 by the C library's convention.
iconv_t FailedIconv() {
  return reinterpret_cast<iconv_t>(-1); // NOLINT(performance-no-int-to-ptr): iconv's failure value
}

// Converts texts of a locale's code set to UTF-8.
class TToUtf8 {
public:
  explicit TToUtf8(locale_t loc) {
    const char* codeset = nl_langinfo_l(CODESET, loc);
    const std::string_view cs = codeset != nullptr ? codeset : "";
    if (cs != "UTF-8" && cs != "utf8" && cs != "ANSI_X3.4-1968" && !cs.empty()) {
      cd_ = iconv_open("UTF-8", codeset);
    }
  }
  ~TToUtf8() {
    if (cd_ != FailedIconv()) {
      iconv_close(cd_);
    }
  }
  TToUtf8(const TToUtf8&) = delete;
  TToUtf8& operator=(const TToUtf8&) = delete;

  std::string operator()(const char* text) const {
    if (text == nullptr) {
      return {};
    }
    if (cd_ == FailedIconv()) {
      return text;
    }
    std::string in(text);
    std::string out;
    std::array<char, 256> buf;
    const std::span<char> input(in);
    char* inPtr = input.data();
    std::size_t inLeft = input.size();
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    while (inLeft > 0) {
      char* outPtr = buf.data();
      std::size_t outLeft = buf.size();
      const std::size_t r = iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft);
      const int err = errno; // before the append, which may change it
      out.append(buf.data(), static_cast<std::size_t>(outPtr - buf.data()));
      if (r == static_cast<std::size_t>(-1) && err != E2BIG) {
        out += '?'; // a byte the code set does not define
        --inLeft;
        inPtr = input.subspan(input.size() - inLeft).data();
      }
    }
    return out;
  }

private:
  iconv_t cd_ = FailedIconv();
};

bool IsAsciiLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

void AppendLiteral(std::string& out, char c) {
  if (IsAsciiLetter(c) || c == '\'') {
    out += '"';
    out += c;
    out += '"';
  } else if (c == '"') {
    out += "'\"'";
  } else {
    out += c;
  }
}

// Expands the composite conversions into their parts.
std::string ExpandComposites(std::string_view pattern, std::string_view ampmPattern) {
  std::string out;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] != '%' || i + 1 >= pattern.size()) {
      out += pattern[i];
      continue;
    }
    const char c = pattern[i + 1];
    switch (c) {
    case 'T':
      out += "%H:%M:%S";
      break;
    case 'R':
      out += "%H:%M";
      break;
    case 'D':
      out += "%m/%d/%y";
      break;
    case 'F':
      out += "%Y-%m-%d";
      break;
    case 'r':
      out += ampmPattern.empty() ? std::string_view("%I:%M:%S %p") : ampmPattern;
      break;
    default:
      out += '%';
      out += c;
      break;
    }
    ++i;
  }
  return out;
}

bool IsSeparatorByte(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u < 0x80 && u != '%' && !IsAsciiLetter(c) && (c < '0' || c > '9');
}

// Removes the seconds from a time pattern: with the separator that leads to them
// ("%H:%M:%S" -> "%H:%M"), or with their unit word and the spaces before them
// ("%H時%M分%S秒" -> "%H時%M分").
std::string WithoutSeconds(const std::string& pattern) {
  const auto pos = pattern.find("%S");
  if (pos == std::string::npos) {
    return pattern;
  }
  std::size_t end = pos + 2;
  while (end < pattern.size() && pattern[end] != '%') {
    ++end;
  }
  bool unitWord = false;
  for (std::size_t i = pos + 2; i < end; ++i) {
    unitWord = unitWord || !IsSeparatorByte(pattern[i]);
  }
  std::size_t start = pos;
  if (unitWord) {
    while (start > 0 && pattern[start - 1] == ' ') {
      --start;
    }
    // The unit word ends at the first space after it.
    std::size_t wordEnd = pos + 2;
    while (wordEnd < end && pattern[wordEnd] != ' ') {
      ++wordEnd;
    }
    end = wordEnd;
  } else {
    while (start > 0 && IsSeparatorByte(pattern[start - 1]) &&
           !(start >= 2 && pattern[start - 2] == '%')) {
      --start;
    }
    end = pos + 2;
  }
  return pattern.substr(0, start) + pattern.substr(end);
}

// Date order of a date pattern: 'd' day first, 'm' month first, 'y' year first.
char DateOrder(std::string_view pattern) {
  for (std::size_t i = 0; i + 1 < pattern.size(); ++i) {
    if (pattern[i] != '%') {
      continue;
    }
    std::size_t j = i + 1;
    while (j < pattern.size() && std::strchr("-_0^#EO", pattern[j]) != nullptr) {
      ++j;
    }
    if (j >= pattern.size()) {
      break;
    }
    switch (pattern[j]) {
    case 'd':
    case 'e':
      return 'd';
    case 'm':
    case 'b':
    case 'B':
    case 'h':
      return 'm';
    case 'y':
    case 'Y':
    case 'C':
      return 'y';
    default:
      break;
    }
    i = j;
  }
  return 'm';
}

// First literal separator of a pattern: the first literal run when it is punctuation or
// spaces ("." "/" "-" ". "), else "" (a unit word such as 年 is no separator).
std::string FirstSeparator(std::string_view pattern) {
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '%') {
      ++i;
      while (i < pattern.size() && std::strchr("-_0^#EO", pattern[i]) != nullptr) {
        ++i;
      }
      continue;
    }
    std::size_t j = i;
    while (j < pattern.size() && pattern[j] != '%') {
      ++j;
    }
    for (std::size_t k = i; k < j; ++k) {
      if (!IsSeparatorByte(pattern[k])) {
        return {};
      }
    }
    return std::string(pattern.substr(i, j - i));
  }
  return {};
}

} // namespace

std::string StrftimePatternToTokens(const std::string& pattern) {
  std::string out;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (c != '%') {
      AppendLiteral(out, c);
      continue;
    }
    // Flags and width: "-" drops padding, others are taken as written.
    bool noPad = false;
    std::size_t j = i + 1;
    while (j < pattern.size() && (std::strchr("-_0^#", pattern[j]) != nullptr ||
                                  (pattern[j] >= '1' && pattern[j] <= '9'))) {
      noPad = noPad || pattern[j] == '-' || pattern[j] == '_';
      ++j;
    }
    while (j < pattern.size() && (pattern[j] == 'E' || pattern[j] == 'O')) {
      ++j;
    }
    if (j >= pattern.size()) {
      break;
    }
    switch (pattern[j]) {
    case 'd':
      out += noPad ? "d" : "dd";
      break;
    case 'e':
      out += "d";
      break;
    case 'm':
      out += noPad ? "m" : "mm";
      break;
    case 'Y':
      out += "yyyy";
      break;
    case 'y':
      out += "yy";
      break;
    case 'b':
    case 'h':
      out += "mmm";
      break;
    case 'B':
      out += "mmmm";
      break;
    case 'a':
      out += "ddd";
      break;
    case 'A':
      out += "dddd";
      break;
    case 'H':
    case 'I':
      out += noPad ? "h" : "hh";
      break;
    case 'k':
    case 'l':
      out += "h";
      break;
    case 'M':
      out += "mm";
      break;
    case 'S':
      out += "ss";
      break;
    case 'p':
    case 'P':
      out += "AMPM";
      break;
    case 'n':
    case 't':
      out += ' ';
      break;
    case '%':
      out += '%';
      break;
    default:
      break; // conversions without a token (%Z, %j, ...) write nothing
    }
    i = j;
  }
  return out;
}

TLocaleFormat EnUsLocaleFormat() {
  TLocaleFormat f;
  for (int i = 0; i < 12; ++i) {
    f.shortMonthNames[i] = kEnShortMonths[i];
    f.longMonthNames[i] = kEnLongMonths[i];
  }
  for (int i = 0; i < 7; ++i) {
    f.shortDayNames[i] = kEnShortDays[i];
    f.longDayNames[i] = kEnLongDays[i];
  }
  return f;
}

TLocaleFormat ReadLocaleFormat(const std::string& numericName, const std::string& timeName) {
  TLocaleFormat f = EnUsLocaleFormat();
  if (!UsesEnUsValues(numericName)) {
    const TLocaleHandle loc(numericName);
    if (loc.Ok()) {
      const TToUtf8 conv(loc.Get());
      const std::string dec = conv(nl_langinfo_l(RADIXCHAR, loc.Get()));
      if (!dec.empty()) {
        f.decimalSeparator = dec;
      }
      f.thousandSeparator = conv(nl_langinfo_l(THOUSEP, loc.Get()));
    }
  }
  if (UsesEnUsValues(timeName)) {
    return f;
  }
  const TLocaleHandle loc(timeName);
  if (!loc.Ok()) {
    return f;
  }
  const locale_t l = loc.Get();
  const TToUtf8 conv(l);
  for (int i = 0; i < 12; ++i) {
    f.shortMonthNames[i] = conv(nl_langinfo_l(static_cast<nl_item>(ABMON_1 + i), l));
    f.longMonthNames[i] = conv(nl_langinfo_l(static_cast<nl_item>(MON_1 + i), l));
  }
  for (int i = 0; i < 7; ++i) {
    f.shortDayNames[i] = conv(nl_langinfo_l(static_cast<nl_item>(ABDAY_1 + i), l));
    f.longDayNames[i] = conv(nl_langinfo_l(static_cast<nl_item>(DAY_1 + i), l));
  }
  f.amDesignator = conv(nl_langinfo_l(AM_STR, l));
  f.pmDesignator = conv(nl_langinfo_l(PM_STR, l));
  const std::string ampm = conv(nl_langinfo_l(T_FMT_AMPM, l));
  const std::string datePattern = ExpandComposites(conv(nl_langinfo_l(D_FMT, l)), ampm);
  const std::string timePattern = ExpandComposites(conv(nl_langinfo_l(T_FMT, l)), ampm);
  f.shortDateFormat = StrftimePatternToTokens(datePattern);
  switch (DateOrder(datePattern)) {
  case 'd':
    f.longDateFormat = "dddd, d mmmm yyyy";
    break;
  case 'y':
    f.longDateFormat = "yyyy mmmm d, dddd";
    break;
  default:
    f.longDateFormat = "dddd, mmmm d, yyyy";
    break;
  }
  f.longTimeFormat = StrftimePatternToTokens(timePattern);
  f.shortTimeFormat = StrftimePatternToTokens(WithoutSeconds(timePattern));
  const std::string dateSep = FirstSeparator(datePattern);
  f.dateSeparator = dateSep.empty() ? "/" : dateSep;
  const std::string timeSep = FirstSeparator(timePattern);
  f.timeSeparator = timeSep.empty() ? ":" : timeSep;
  const char* era = nl_langinfo_l(ERA, l);
  f.hasEras = era != nullptr && *era != '\0';
  f.timeLocaleName = timeName;
  return f;
}

const TLocaleFormat& UserLocaleFormat() {
  static const TLocaleFormat format =
      ReadLocaleFormat(EnvLocaleName("LC_NUMERIC"), EnvLocaleName("LC_TIME"));
  return format;
}

namespace {

std::string TwoDigits(int v) {
  std::string s;
  v %= 100;
  s += static_cast<char>('0' + v / 10);
  s += static_cast<char>('0' + v % 10);
  return s;
}

// strftime_l of one era conversion in the locale's code set, converted to UTF-8.
bool EraStrftime(const TLocaleFormat& locale, const char* conversion, int year, int month, int day,
                 std::string& out) {
  // One conversion runs per process and its locale does not change: keep the handle.
  static std::string cachedName;
  static std::unique_ptr<TLocaleHandle> cached;
  if (!cached || cachedName != locale.timeLocaleName) {
    cached = std::make_unique<TLocaleHandle>(locale.timeLocaleName);
    cachedName = locale.timeLocaleName;
  }
  const TLocaleHandle& loc = *cached;
  if (!loc.Ok()) {
    return false;
  }
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  char buf[128];
  const std::size_t n = strftime_l(buf, sizeof buf, conversion, &tm, loc.Get());
  if (n == 0) {
    return false;
  }
  out = TToUtf8(loc.Get())(std::string(buf, n).c_str());
  return true;
}

// Number of UTF-8 characters and the byte offset of character k.
std::size_t Utf8Offset(std::string_view s, std::size_t k) {
  std::size_t chars = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) {
      if (chars == k) {
        return i;
      }
      ++chars;
    }
  }
  return s.size();
}

std::size_t Utf8Length(std::string_view s) {
  std::size_t chars = 0;
  for (const char c : s) {
    chars += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
  }
  return chars;
}

} // namespace

bool EraName(const TLocaleFormat& locale, int year, int month, int day, bool shortForm,
             std::string& out) {
  out.clear();
  if (!locale.hasEras) {
    if (year < 1) {
      return false;
    }
    out = "A.D.";
    return true;
  }
  std::string name;
  if (!EraStrftime(locale, "%EC", year, month, day, name) || name.empty()) {
    return false;
  }
  const std::string_view lang = locale.timeLocaleName;
  if (shortForm && StartsWith(lang, "ja")) {
    name.resize(Utf8Offset(name, 1));
  } else if (shortForm &&
             (StartsWith(lang, "zh_TW") || StartsWith(lang, "zh_HK") ||
              StartsWith(lang, "zh_MO")) &&
             Utf8Length(name) == 4) {
    name.erase(0, Utf8Offset(name, 2));
  }
  out = std::move(name);
  return true;
}

bool EraYear(const TLocaleFormat& locale, int year, int month, int day, int count,
             std::string& out) {
  out.clear();
  int eraYear = year;
  if (locale.hasEras) {
    std::string text;
    if (!EraStrftime(locale, "%Ey", year, month, day, text)) {
      return false;
    }
    eraYear = std::atoi(text.c_str());
  } else if (year < 1) {
    return false;
  }
  if (count >= 3) {
    out = std::to_string(eraYear);
    if (!locale.hasEras) {
      while (out.size() < 4) {
        out.insert(out.begin(), '0');
      }
    }
  } else {
    out = TwoDigits(eraYear);
    if (count == 1 && out[0] == '0') {
      out.erase(0, 1);
    }
  }
  return true;
}

} // namespace scv::platform
