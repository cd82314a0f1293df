// The user's locale format data for number and date rendering (the GetLocaleInfoA values).
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace scv::platform {

// All texts are UTF-8. Date and time formats are in the date renderer's token language
// (y m d h n s, AMPM, "/" and ":" for the separators, quoted literals).
struct TLocaleFormat {
  std::string decimalSeparator = ".";
  std::string thousandSeparator = ",";
  std::string dateSeparator = "/";
  std::string timeSeparator = ":";
  std::string amDesignator = "AM";
  std::string pmDesignator = "PM";
  std::array<std::string, 12> shortMonthNames;
  std::array<std::string, 12> longMonthNames;
  std::array<std::string, 7> shortDayNames; // Sunday first
  std::array<std::string, 7> longDayNames;  // Sunday first
  std::string shortDateFormat = "m/d/yyyy";
  std::string longDateFormat = "dddd, mmmm d, yyyy";
  std::string shortTimeFormat = "h:mm AMPM";
  std::string longTimeFormat = "h:mm:ss AMPM";
  // Locale name the date data came from ("" for the built-in values); eras are looked up in it.
  std::string timeLocaleName;
  bool hasEras = false; // the C library defines eras for the locale
};

// The Windows en-US values (used for C, POSIX, C.UTF-8 and every en_US locale).
TLocaleFormat EnUsLocaleFormat();

// Format data of a named locale: en-US values for C, POSIX, C.UTF-8 and en_US*, the C library's
// data otherwise; en-US values when the locale is not installed. numericName gives the
// separators, timeName the date data.
TLocaleFormat ReadLocaleFormat(const std::string& numericName, const std::string& timeName);

// The environment's locale format data, read once per process (LC_ALL > LC_NUMERIC/LC_TIME >
// LANG) and cached.
const TLocaleFormat& UserLocaleFormat();

// Translates a strftime pattern (%d %e %m %Y %y %b %h %B %a %A %H %k %I %l %M %S %p %D %T %R
// %r %F, %%, literals) into the date renderer's token language.
std::string StrftimePatternToTokens(const std::string& pattern);

// Era name (count 1: short form) and year within the era of a date, for the locale's G and E
// tokens. Without locale eras: "A.D." and the Gregorian year. Returns false when the date has
// no era (the token writes nothing).
bool EraName(const TLocaleFormat& locale, int year, int month, int day, bool shortForm,
             std::string& out);
bool EraYear(const TLocaleFormat& locale, int year, int month, int day, int count,
             std::string& out);

} // namespace scv::platform
