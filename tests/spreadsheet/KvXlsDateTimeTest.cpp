// Date and time format renderer: tokens, decoding, nesting and the output limit.
#include "spreadsheet/KvXlsDateTime.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

namespace scv::spreadsheet {
namespace {

const platform::TLocaleFormat& EnUs() {
  static const platform::TLocaleFormat locale = platform::EnUsLocaleFormat();
  return locale;
}

std::string Render(std::string_view format, double value) {
  return FormatDateTimeText(format, value, EnUs());
}

TEST(KvXlsDateTime, Tokens) {
  struct Case {
    const char* name;
    const char* format;
    double value;
    const char* want;
  };
  const Case cases[] = {
      {"built-in 14", "mm-dd-yy", 45000, "03-15-23"},
      {"12-hour with designator", "h:mm AM/PM", 45000.75, "6:00 PM"},
      {"24-hour", "h:mm", 45000.75, "18:00"},
      {"designator keeps case", "h:mm:ss am/pm", 0.5, "12:00:00 pm"},
      {"minutes only after an hour", "mm:ss", 45000.5, "03:00"},
      {"built-in 46", ":mm:ss", 45000.5, ":03:00"},
      {"short month name", "d-mmm-yy", 45000, "15-Mar-23"},
      {"long month name", "mmmmm", 45000, "March"},
      {"day names", "ddd dddd", 45000, "Wed Wednesday"},
      {"short date level", "ddddd", 45000, "3/15/2023"},
      {"long date level", "dddddd", 45000, "Wednesday, March 15, 2023"},
      {"day 1", "m/d/yyyy", 1, "12/31/1899"},
      {"day 0 is a Saturday", "dddd d mmm yyyy", 0, "Saturday 30 Dec 1899"},
      {"c without time", "c", 45000, "3/15/2023"},
      {"c with time", "c", 45000.75, "3/15/2023 6:00:00 PM"},
      {"empty format is c", "", 45000.5, "3/15/2023 12:00:00 PM"},
      {"year digits", "y yy yyy yyyy", 45000, "23 23 2023 2023"},
      {"leading zeros", "d dd m mm", 44929, "3 03 1 01"},
      {"hours 12-hour midnight", "hh AM/PM", 45000, "12 AM"},
      {"A/P", "h a/p", 45000.75, "6 p"},
      {"A/P upper", "h A/P", 45000.25, "6 A"},
      {"AMPM from the locale", "h AMPM", 45000.75, "6 PM"},
      {"aaa and aaaa", "aaa aaaa", 45000, "Wed Wednesday"},
      {"lone a", "a", 45000, "a"},
      {"seconds and milliseconds", "h:nn:ss.zzz", 0.5 + 1.5 / 86400, "12:00:01.500"},
      {"z count", "z zz zzzz", 0.5 + 0.007 / 86400, "7 07 007"},
      {"n count capped", "nnnn", 0.5 + 60.0 / 86400, "01"},
      {"short time", "t", 45000.75, "6:00 PM"},
      {"long time", "tt", 45000.75, "6:00:00 PM"},
      {"quoted literals", "yyyy\" year \"'m'", 45000, "2023 year m"},
      {"unterminated quote", "d\"mm", 45000, "15mm"},
      {"other letters copied", "dBxQ", 45000, "15BxQ"},
      {"capital tokens", "DDMMYYYY HH:MM", 45000.75, "15032023 18:00"},
      {"UTF-8 literal", "d\xE6\x97\xA5", 45000, "15\xE6\x97\xA5"},
      {"separators", "m/d h:n", 45000.75, "3/15 18:0"},
      {"era", "g gg e ee eee", 45000, "A.D. A.D. 23 23 2023"},
      {"era year count 1 drops zero", "e", 39000, "6"},
      {"M after H is minutes, then month", "h:mm:mm", 45000.75, "18:00:03"},
      {"look-ahead only for its hour", "h h AM/PM", 45000.75, "18 6 PM"},
      {"designator turns the clock for later hours", "AM/PM h", 45000.75, "PM 6"},
      {"quoted designator does not count", "h \"AM/PM\"", 45000.75, "18 AM/PM"},
      {"next hour stops the look-ahead", "h'x' h", 45000.75, "18x 18"},
      {"rounding to the next day", "m/d h:nn:ss", 45000.9999999999, "3/16 0:00:00"},
      {"negative value: days toward zero, time from |value|", "yyyy-mm-dd hh:nn", -1.25,
       "1899-12-29 06:00"},
      {"far past, proleptic", "yyyy-mm-dd", -693593, "0001-01-01"},
      {"far future", "yyyy-mm-dd", 2958465, "9999-12-31"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Render(c.format, c.value), c.want);
  }
}

TEST(KvXlsDateTime, LocaleTexts) {
  platform::TLocaleFormat locale = platform::EnUsLocaleFormat();
  locale.dateSeparator = ".";
  locale.timeSeparator = ""; // a NUL separator writes nothing
  locale.amDesignator = "vorm.";
  locale.pmDesignator = "nachm.";
  locale.shortMonthNames[2] = "M\xC3\xA4r";
  locale.shortDateFormat = "dd/mm/yyyy";
  locale.longTimeFormat = "hh:nn:ss";
  EXPECT_EQ(FormatDateTimeText("d/mmm h:n AMPM", 45000.75, locale), "15.M\xC3\xA4r 60 nachm.");
  EXPECT_EQ(FormatDateTimeText("c", 45000.75, locale), "15.03.2023 180000");

  // Nested levels stop at two: a locale format that itself asks for a locale format writes
  // nothing for the inner request.
  locale.shortDateFormat = "d ddddd|";
  locale.longTimeFormat = "ss dddddd";
  EXPECT_EQ(FormatDateTimeText("ddddd tt", 45000, locale), "15 | 00 ");
  EXPECT_EQ(FormatDateTimeText("[c]", 45000.5, locale), "[15 | 00 ]");
}

TEST(KvXlsDateTime, OutputLimit) {
  // 300 literal bytes are cut to 256.
  const std::string longFormat = "\"" + std::string(300, 'x') + "\"";
  EXPECT_EQ(Render(longFormat, 45000), std::string(256, 'x'));
  // The cut never splits a UTF-8 character: 255 bytes then a 3-byte character.
  const std::string utf8Format = "\"" + std::string(255, 'x') + "\xE2\x82\xAC\"";
  EXPECT_EQ(Render(utf8Format, 45000), std::string(255, 'x'));
  // Long runs of tokens stop early and stay bounded.
  EXPECT_EQ(Render(std::string(100000, 'T'), 45000.75).size(), 10u); // one long time format
  EXPECT_LE(Render(std::string(5000, 'c') + "dddddd", 45000.75).size(), 256u);
  // Appending keeps earlier text and limits only this call's part.
  std::string out(1000, '-');
  AppendDateTimeText(out, longFormat, 45000);
  EXPECT_EQ(out.size(), 1256u);
}

TEST(KvXlsDateTime, NonFiniteAndHugeValues) {
  EXPECT_EQ(Render("yyyy", std::numeric_limits<double>::quiet_NaN()), "NAN");
  EXPECT_EQ(Render("yyyy", std::numeric_limits<double>::infinity()), "INF");
  EXPECT_EQ(Render("yyyy", 1e300), "1E300");
  EXPECT_FALSE(Render("yyyy-mm-dd ggg e", 9e10).empty());
  EXPECT_FALSE(Render("yyyy-mm-dd ggg e", -9e10).empty());
}

} // namespace
} // namespace scv::spreadsheet
