// Date and time format renderer for number cells with a date or time format.
#include "spreadsheet/KvXlsDateTime.h"

#include "spreadsheet/KvXlsFormatText.h"
#include "spreadsheet/KvXlsRender.h"
#include "spreadsheet/KvXlsStyle.h"

#include <array>
#include <cmath>
#include <cstdint>

namespace scv::spreadsheet {

namespace {

constexpr std::int64_t kMsPerDay = 86'400'000;

// Beyond this many days (about 270 million years) the milliseconds no longer fit 64 bits;
// such values are written in the general rendering.
constexpr double kMaxDays = 1e11;

// Locale formats render as nested levels; a level inside a nested one writes nothing.
constexpr int kMaxLevels = 2;

struct TDecoded {
  std::int64_t year = 0;
  int month = 1;
  int day = 1;
  int dayOfWeek = 1; // 1 = Sunday .. 7 = Saturday
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

// Proleptic Gregorian civil date of a day count relative to 1 March of year 0.
void CivilFromDays(std::int64_t z, TDecoded& d) {
  z += 719468; // days from 0000-03-01 to 1970-01-01
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  d.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  d.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  d.year = yoe + era * 400 + (d.month <= 2 ? 1 : 0);
}

class TRenderer {
public:
  TRenderer(std::string& out, double value, const platform::TLocaleFormat& locale)
      : out_(out), locale_(locale) {
    const double ms = std::nearbyint(value * static_cast<double>(kMsPerDay)); // ties to even
    const auto total = static_cast<std::int64_t>(ms);
    totalMs_ = total;
    const std::int64_t days = total / kMsPerDay; // toward zero
    std::int64_t timeMs = total % kMsPerDay;
    if (timeMs < 0) {
      timeMs = -timeMs;
    }
    // 30 December 1899 is 25569 days before 1 January 1970.
    CivilFromDays(days - 25569, d_);
    d_.dayOfWeek = static_cast<int>(((days % 7) + 7 + 6) % 7) + 1;
    d_.hour = static_cast<int>(timeMs / 3'600'000);
    d_.minute = static_cast<int>(timeMs / 60'000 % 60);
    d_.second = static_cast<int>(timeMs / 1000 % 60);
    d_.millisecond = static_cast<int>(timeMs % 1000);
  }

  // Level and RenderLevel recurse for the locale formats a format names, at most kMaxLevels
  // deep.
  void Level(std::string_view format) { // NOLINT(misc-no-recursion): bounded by kMaxLevels
    if (levels_ >= kMaxLevels) {
      return;
    }
    ++levels_;
    RenderLevel(format);
    --levels_;
  }

  // Appends the text, dropping what lies beyond the byte limit at a character boundary.
  void Finish() {
    std::size_t cut = n_;
    if (cut > kMaxDateTimeBytes) {
      cut = kMaxDateTimeBytes;
      while (cut > 0 && (static_cast<unsigned char>(buf_[cut]) & 0xC0) == 0x80) {
        --cut;
      }
    }
    out_.append(buf_, cut);
  }

private:
  // The buffer keeps a few bytes beyond the limit, so the cut can see whether the byte at the
  // limit continues a character.
  static constexpr std::size_t kCapacity = kMaxDateTimeBytes + 4;

  bool Full() const { return n_ > kMaxDateTimeBytes; }

  void Put(char c) {
    if (n_ < kCapacity) {
      buf_[n_++] = c;
    }
  }
  void Put(std::string_view s) {
    for (const char c : s) {
      if (n_ == kCapacity) {
        return;
      }
      buf_[n_++] = c;
    }
  }

  void Number(std::int64_t v, int minDigits) {
    if (v >= 0 && v < 100 && minDigits <= 2) {
      // Calendar fields: one or two digits.
      if (v >= 10 || minDigits == 2) {
        Put(static_cast<char>('0' + v / 10));
      }
      Put(static_cast<char>('0' + v % 10));
      return;
    }
    if (v < 0) {
      Put('-');
      v = -v;
    }
    std::array<char, 24> buf;
    const auto len = static_cast<int>(ToChars(buf, v));
    if (len < minDigits) {
      for (int k = len; k < minDigits; ++k) {
        Put('0');
      }
    }
    Put(std::string_view(buf.data(), static_cast<std::size_t>(len)));
  }

  static char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

  static bool StartsWithNoCase(std::string_view s, std::size_t pos, std::string_view what) {
    if (s.size() - pos < what.size()) {
      return false;
    }
    for (std::size_t i = 0; i < what.size(); ++i) {
      if (Upper(s[pos + i]) != what[i]) {
        return false;
      }
    }
    return true;
  }

  // Does a designator follow the hour token that ends before pos?
  static bool DesignatorFollows(std::string_view f, std::size_t pos) {
    bool inQuotes = false;
    for (std::size_t i = pos; i < f.size(); ++i) {
      const char c = f[i];
      if (c == '\\' && !inQuotes) {
        ++i; // an escaped character is literal
      } else if (c == '"' || c == '\'') {
        inQuotes = !inQuotes;
      } else if (c == 'H' || c == 'h') {
        return false;
      } else if ((c == 'A' || c == 'a') && !inQuotes) {
        return StartsWithNoCase(f, i, "AM/PM") || StartsWithNoCase(f, i, "A/P") ||
               StartsWithNoCase(f, i, "AMPM");
      }
    }
    return false;
  }

  void RenderLevel(std::string_view f) { // NOLINT(misc-no-recursion): bounded by kMaxLevels
    bool twelveHour = false;
    char last = ' ';
    std::size_t i = 0;
    while (i < f.size() && !Full()) {
      const char byte = f[i];
      char token = Upper(byte);
      if (token >= 'A' && token <= 'Z') {
        if (token == 'M' && last == 'H') {
          token = 'N';
        }
        last = token;
      }
      std::size_t count = 1;
      while (i + count < f.size() && f[i + count] == byte) {
        ++count;
      }
      const int n = count > 1000 ? 1000 : static_cast<int>(count);
      switch (token) {
      case 'Y':
        if (n <= 2) {
          Number(((d_.year % 100) + 100) % 100, 2);
        } else {
          Number(d_.year, 4);
        }
        i += count;
        break;
      case 'M':
        if (n <= 2) {
          Number(d_.month, n);
        } else if (n == 3) {
          Put(locale_.shortMonthNames[static_cast<std::size_t>(d_.month - 1)]);
        } else {
          Put(locale_.longMonthNames[static_cast<std::size_t>(d_.month - 1)]);
        }
        i += count;
        break;
      case 'D':
        if (n <= 2) {
          Number(d_.day, n);
        } else if (n == 3) {
          Put(locale_.shortDayNames[static_cast<std::size_t>(d_.dayOfWeek - 1)]);
        } else if (n == 4) {
          Put(locale_.longDayNames[static_cast<std::size_t>(d_.dayOfWeek - 1)]);
        } else {
          Level(n == 5 ? locale_.shortDateFormat : locale_.longDateFormat);
        }
        i += count;
        break;
      case 'N':
        Number(d_.minute, n < 2 ? n : 2);
        i += count;
        break;
      case 'S':
        Number(d_.second, n < 2 ? n : 2);
        i += count;
        break;
      case 'Z':
        Number(d_.millisecond, n < 3 ? n : 3);
        i += count;
        break;
      case 'H': {
        i += count;
        int hour = d_.hour;
        if (twelveHour || DesignatorFollows(f, i)) {
          hour = hour % 12 == 0 ? 12 : hour % 12;
        }
        Number(hour, n < 2 ? n : 2);
        break;
      }
      case 'T':
        Level(n == 1 ? locale_.shortTimeFormat : locale_.longTimeFormat);
        i += count;
        break;
      case 'C':
        Level(locale_.shortDateFormat);
        if (d_.hour != 0 || d_.minute != 0 || d_.second != 0) {
          Put(' ');
          Level(locale_.longTimeFormat);
        }
        ++i;
        break;
      case 'A':
        i += Designator(f, i, twelveHour);
        break;
      case 'G': {
        std::string era;
        if (d_.year >= -100000 && d_.year <= 100000 &&
            platform::EraName(locale_, static_cast<int>(d_.year), d_.month, d_.day, n == 1, era)) {
          Put(era);
        }
        i += count;
        break;
      }
      case 'E': {
        std::string year;
        if (d_.year >= -100000 && d_.year <= 100000 &&
            platform::EraYear(locale_, static_cast<int>(d_.year), d_.month, d_.day, n, year)) {
          Put(year);
        }
        i += count;
        break;
      }
      case '/':
        Put(locale_.dateSeparator);
        ++i;
        break;
      case ':':
        Put(locale_.timeSeparator);
        ++i;
        break;
      case '\\':
      case '[':
        i = EscapeOrElapsed(f, i, last);
        break;
      case '"':
      case '\'': {
        const auto close = f.find(byte, i + 1);
        const std::size_t end = close == std::string_view::npos ? f.size() : close;
        Put(f.substr(i + 1, end - i - 1));
        i = close == std::string_view::npos ? f.size() : close + 1;
        break;
      }
      default:
        Put(byte);
        ++i;
        break;
      }
    }
  }

  // A backslash escape (the character after it as it is, a whole UTF-8 sequence) and [h], [mm],
  // [ss] (elapsed hours, minutes or seconds; minutes after [h] are minutes) at f[i]. Returns the
  // position after them. Out of line: rare, and the token loop stays small.
  [[gnu::noinline]] std::size_t EscapeOrElapsed(std::string_view f, std::size_t i, char& last) {
    if (f[i] == '\\') {
      std::size_t end = i + 1;
      if (end < f.size()) {
        ++end;
        while (end < f.size() && (static_cast<unsigned char>(f[end]) & 0xC0) == 0x80) {
          ++end;
        }
      }
      Put(f.substr(i + 1, end - i - 1));
      return end;
    }
    const auto close = f.find(']', i + 1);
    const std::string_view content =
        close == std::string_view::npos ? std::string_view() : f.substr(i + 1, close - i - 1);
    if (!IsElapsedBracket(content)) {
      Put(f[i]);
      return i + 1;
    }
    const char unit = Upper(content[0]);
    const std::int64_t seconds = (totalMs_ < 0 ? -totalMs_ : totalMs_) / 1000;
    const std::int64_t elapsed = unit == 'H'   ? seconds / 3600
                                 : unit == 'M' ? seconds / 60
                                               : seconds;
    if (totalMs_ < 0) {
      Put('-');
    }
    Number(elapsed, static_cast<int>(content.size() < 20 ? content.size() : 20));
    last = unit;
    return close + 1;
  }

  // The A token at f[pos]; returns the bytes consumed.
  std::size_t Designator(std::string_view f, std::size_t pos, bool& twelveHour) {
    const bool am = d_.hour < 12;
    if (StartsWithNoCase(f, pos, "AM/PM")) {
      Put(f.substr(am ? pos : pos + 3, 2));
      twelveHour = true;
      return 5;
    }
    if (StartsWithNoCase(f, pos, "A/P")) {
      Put(f[am ? pos : pos + 2]);
      twelveHour = true;
      return 3;
    }
    if (StartsWithNoCase(f, pos, "AMPM")) {
      Put(am ? locale_.amDesignator : locale_.pmDesignator);
      twelveHour = true;
      return 4;
    }
    if (StartsWithNoCase(f, pos, "AAAA")) {
      Put(locale_.longDayNames[static_cast<std::size_t>(d_.dayOfWeek - 1)]);
      return 4;
    }
    if (StartsWithNoCase(f, pos, "AAA")) {
      Put(locale_.shortDayNames[static_cast<std::size_t>(d_.dayOfWeek - 1)]);
      return 3;
    }
    Put(f[pos]);
    return 1;
  }

  std::string& out_;
  char buf_[kCapacity];
  std::size_t n_ = 0;
  const platform::TLocaleFormat& locale_;
  TDecoded d_;
  std::int64_t totalMs_ = 0; // the whole value in milliseconds, for elapsed time
  int levels_ = 0;
};

void AppendDateTime(std::string& out, std::string_view format, double value,
                    const platform::TLocaleFormat& locale) {
  if (!std::isfinite(value) || std::fabs(value) >= kMaxDays) {
    AppendGeneral(out, value, locale.decimalSeparator);
    return;
  }
  TRenderer renderer(out, value, locale);
  renderer.Level(format.empty() ? std::string_view("C") : format);
  renderer.Finish();
}

} // namespace

std::string FormatDateTimeText(std::string_view format, double value,
                               const platform::TLocaleFormat& locale) {
  std::string out;
  AppendDateTime(out, format, value, locale);
  return out;
}

void AppendDateTimeText(std::string& out, std::string_view format, double value) {
  AppendDateTime(out, format, value, platform::UserLocaleFormat());
}

std::string FormatDateTimeText(std::string_view format, double value) {
  std::string out;
  AppendDateTimeText(out, format, value);
  return out;
}

} // namespace scv::spreadsheet
