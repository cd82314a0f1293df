// Number format table, classification, the number formatter and the general rendering.
#include "spreadsheet/KvXlsStyle.h"

#include "spreadsheet/KvXlsDateTime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace scv::spreadsheet {
namespace {

std::string Fmt(double value, std::string_view format) {
  std::string out;
  AppendNumberFormat(out, value, format, platform::EnUsLocaleFormat());
  return out;
}

std::vector<std::uint8_t> FormatBody(std::uint16_t ifmt, std::string_view text) {
  std::vector<std::uint8_t> body = {
      static_cast<std::uint8_t>(ifmt), static_cast<std::uint8_t>(ifmt >> 8),
      static_cast<std::uint8_t>(text.size()), static_cast<std::uint8_t>(text.size() >> 8), 0};
  body.insert(body.end(), text.begin(), text.end());
  return body;
}

TEST(KvXlsStyle, GeneralRendering) {
  struct Case {
    double value;
    const char* want;
  };
  const Case cases[] = {
      {5, "5"},
      {0.5, "0.5"},
      {1234567.25, "1234567.25"},
      {0.0001, "0.0001"},
      {0.00001, "1E-5"},
      {1e15, "1E15"},
      {123456789012345.0, "123456789012345"},
      {1.0 / 3, "0.333333333333333"},
      {0, "0"},
      {-0.0, "0"},
      {-2.5, "-2.5"},
      {0.1 + 0.2, "0.3"},          // 15 digits hide the binary error
      {999999999999999.9, "1E15"}, // rounding carries into a new digit
      {123456789012345678.0, "1.23456789012346E17"},
      {0.000123456, "0.000123456"},
      {-0.0000123, "-1.23E-5"},
      {1e-300, "1E-300"},
      {1.7976931348623157e308, "1.79769313486232E308"},
      {12345678901234567890.0, "1.23456789012346E19"},
      {8.0930907204420165e-310, "8.09309072044202E-310"}, // subnormal: fewer stored digits
      {-2.5e-320, "-2.49997216795671E-320"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.want);
    std::string out;
    AppendGeneral(out, c.value, ".");
    EXPECT_EQ(out, c.want);
  }
  std::string comma;
  AppendGeneral(comma, -1234.5, ",");
  EXPECT_EQ(comma, "-1234,5");
  std::string sci;
  AppendGeneral(sci, 1.5e20, ",");
  EXPECT_EQ(sci, "1,5E20");
  // Non-finite values still produce text.
  EXPECT_FALSE(FormatGeneral(std::numeric_limits<double>::quiet_NaN()).empty());
  EXPECT_NE(FormatGeneral(std::numeric_limits<double>::infinity()),
            FormatGeneral(-std::numeric_limits<double>::infinity()));
}

TEST(KvXlsStyle, NumberFormatter) {
  struct Case {
    const char* name;
    double value;
    const char* format;
    const char* want;
  };
  const Case cases[] = {
      {"grouping and decimals", 1234.5, "#,##0.00", "1,234.50"},
      {"percent scales", 0.25, "0.00%", "25.00%"},
      {"second section has no sign", -1234, "$#,##0 ;$#,##0", "$1,234"},
      {"first section", 1234, "$#,##0 ;$#,##0", "$1,234 "},
      {"scientific", 12345, "0.00E+00", "1.23E+04"},
      {"scientific negative exponent", 0.00012, "0.0E+0", "1.2E-4"},
      {"E- hides plus", 12345, "0E-00", "1E04"},
      {"E- keeps minus", 0.012, "0E-00", "1E-02"},
      {"lower e", 12345, "0.0e+0", "1.2e+4"},
      {"scientific zero", 0, "0.00E+00", "0.00E+00"},
      {"scientific rounding carries", 9.999, "0.00E+00", "1.00E+01"},
      {"scientific three integer digits", 12345, "##0.0E+0", "123.5E+2"},
      {"scientific no integer placeholder", 12345, ".00E+00", "1.23E+04"},
      {"single section minus", -1234.5, "#,##0.00", "-1,234.50"},
      {"zero section", 0, "0.00;(0.00);\"zero\"", "zero"},
      {"negative rounds to zero uses zero section", -0.001, "0.00;-0.00;\"nil\"", "nil"},
      {"negative rounds to zero drops minus", -0.001, "0.00", "0.00"},
      {"negative rounds to zero, own section", -0.001, "0.00;(0.00)", "(0.00)"},
      {"empty negative section falls back", -5, "0.0;;\"z\"", "-5.0"},
      {"empty zero section falls back", 0, "0.0;;", "0.0"},
      {"quoted empty negative section hides", -5, "0;\"\";0", ""},
      {"half away from zero", 0.125, "0.00", "0.13"},
      {"half away from zero negative", -0.125, "0.00", "-0.13"},
      {"half away at units", 2.5, "0", "3"},
      {"18 digits see binary value", 2.675, "0.00", "2.67"},
      {"hash drops insignificant", 0.5, "#.##", ".5"},
      {"hash fraction trims", 1.5, "0.##", "1.5"},
      {"no decimals written, no separator", 3, "0.##", "3"},
      {"min fraction digits", 1.5, "0.0#", "1.5"},
      {"min fraction digits pad", 1, "0.0#", "1.0"},
      {"leading zero placeholders", 7, "000", "007"},
      {"extra integer digits", 123456, "0", "123456"},
      {"integer digits before point", 12.5, ".00", "12.50"},
      {"integer zero, no placeholder", 0.5, ".00", ".50"},
      {"comma anywhere", 1234567, "0,", "1,234,567"},
      {"comma position irrelevant", 1234567, "#,#,#0", "1,234,567"},
      {"second point is literal", 1.5, "0.0.", "1.5."},
      {"double-quoted literal", 3, "0\" km\"", "3 km"},
      // "'" is no quote: the letters stand unquoted, s reads as seconds, and the value is
      // written as it is.
      {"single quote is a literal", 3, "0' pcs'", "3"},
      {"single quote beside digits", 3, "0'", "3'"},
      {"quoted semicolon", 3, "0\" ;\"", "3 ;"}, // the quoted ; does not split
      {"literal text only", 3, "\"n/a\"", "n/a"},
      {"digits interleaved", 12345, "00-000", "12-345"},
      {"grouping across literals", 1234567, "#,##0 \"EUR\"", "1,234,567 EUR"},
      {"long literals around grouped digits", -1234567.5,
       "\"Total for the period: \"#,##0.00\" euros and cents\"",
       "-Total for the period: 1,234,567.50 euros and cents"},
      {"dash zero section", 0, "  #,##0 ;  #,##0;  \"-\" ;  ", "  - "},
      {"rounds up to a new digit", 999.96, "#,##0.0", "1,000.0"},
      {"rounded to zero without zero section", 0.4, "#,##0", "0"},
      {"hash only, zero", 0, "#", ""},
      {"large value general", 1e19, "0", "1E19"},
      {"18 digits still formatted", 1e17, "0", "100000000000000000"},
      {"large value scientific", 1e19, "0.0E+0", "1.0E+19"},
      {"NaN general", std::numeric_limits<double>::quiet_NaN(), "0", "NAN"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Fmt(c.value, c.format), c.want);
  }
}

TEST(KvXlsStyle, NumberFormatterUsesLocaleSeparators) {
  platform::TLocaleFormat locale = platform::EnUsLocaleFormat();
  locale.decimalSeparator = ",";
  locale.thousandSeparator = "\xE2\x80\xAF"; // narrow no-break space: written whole
  std::string out;
  AppendNumberFormat(out, 1234567.891, "#,##0.00", locale);
  EXPECT_EQ(out, "1\xE2\x80\xAF"
                 "234\xE2\x80\xAF"
                 "567,89");
  out.clear();
  AppendNumberFormat(out, 1e300, "0", locale);
  EXPECT_EQ(out, "1E300");
  out.clear();
  AppendNumberFormat(out, 0.5, std::string(300, '0'), locale); // too long: general rendering
  EXPECT_EQ(out, "0,5");
}

TEST(KvXlsStyle, BuiltInFormats) {
  const TStyleData style;
  struct Case {
    std::uint16_t ifmt;
    std::uint8_t kind;
    const char* text;
  };
  const Case cases[] = {
      {0, 0, ""},
      {1, 2, "0"},
      {2, 2, "0.00"},
      {3, 2, "#,##0"},
      {4, 2, "#,##0.00"},
      {5, 2, "$#,##0_);($#,##0)"},
      {6, 2, "$#,##0_);[Red]($#,##0)"},
      {7, 2, "$#,##0.00_);($#,##0.00)"},
      {8, 2, "$#,##0.00_);[Red]($#,##0.00)"},
      {9, 3, "0%"},
      {10, 3, "0.00%"},
      {11, 2, "0.00E+00"},
      {12, 2, "# ?/?"},
      {13, 2, "# ?\?/??"},
      {14, 5, "mm-dd-yy"},
      {15, 5, "d-mmm-yy"},
      {16, 5, "d-mmm"},
      {17, 5, "mmm-yy"},
      {18, 5, "h:mm AM/PM"},
      {19, 5, "h:mm:ss AM/PM"},
      {20, 5, "h:mm"},
      {21, 5, "h:mm:ss"},
      {22, 5, "m/d/yy h:mm"},
      {23, 0, ""},
      {37, 2, "#,##0_);(#,##0)"},
      {38, 2, "#,##0_);[Red](#,##0)"},
      {39, 2, "#,##0.00_);(#,##0.00)"},
      {40, 2, "#,##0.00_);[Red](#,##0.00)"},
      {41, 2, "_(* #,##0_);_(* (#,##0);_(* \"-\"_);_(@_)"},
      {42, 2, "_($* #,##0_);_($* (#,##0);_($* \"-\"_);_(@_)"},
      {43, 2, "_(* #,##0.00_);_(* (#,##0.00);_(* \"-\"??_);_(@_)"},
      {44, 2, "_($* #,##0.00_);_($* (#,##0.00);_($* \"-\"??_);_(@_)"},
      {45, 5, "mm:ss"},
      {46, 5, "[h]:mm:ss"},
      {47, 5, "mm:ss.0"},
      {48, 2, "##0.0E+0"},
      {49, 0, ""},
      {399, 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ifmt);
    EXPECT_EQ(style.Format(c.ifmt).kind, c.kind);
    EXPECT_EQ(style.Format(c.ifmt).text, c.text);
  }
  EXPECT_EQ(style.Format(400).kind, 0);
  EXPECT_EQ(style.Format(65535).kind, 0);
  EXPECT_EQ(style.XFCount(), 0u);
}

TEST(KvXlsStyle, ClassifyFormat) {
  struct Case {
    const char* name;
    const char* text;
    std::uint8_t kind;
    const char* want;
  };
  const Case cases[] = {
      // Number formats keep their whole text for the formatter; date and time formats keep
      // their first section as the date renderer reads it.
      {"quoted unit with m stays a number", "0.0 \"km\"", 2, "0.0 \"km\""},
      {"locale tag removed", "[$-409]mmmm d, yyyy;@", 5, "mmmm d, yyyy"},
      {"colour in negative section", "#,##0.00;[Red]-#,##0.00", 2, "#,##0.00;[Red]-#,##0.00"},
      {"day names with a", "aaaa", 5, "aaaa"},
      {"quoted a is a literal", "\"a\"0;0", 2, "\"a\"0;0"},
      {"percent", "0.0%/", 3, "0.0%/"},
      {"fraction", "# ?\?/100", 2, "# ?\?/100"},
      {"escapes kept for numbers", "\\$* #,##0_)", 2, "\\$* #,##0_)"},
      {"elapsed hours kept", "[h]:mm", 5, "[h]:mm"},
      {"date: quotes kept, escapes kept where they matter, padding a space, fill gone",
       "\"At \"h:mm\\ AM/PM_)*-\\d", 5, "\"At \"h:mm AM/PM \\d"},
      {"date: single quote escaped, currency symbol kept", "d'[$\xE2\x82\xAC-407]", 5,
       "d\\'\\\xE2\x82\xAC"},
      {"date keeps first section", "dd/mm/yyyy;@", 5, "dd/mm/yyyy"},
      {"semicolon inside quotes does not split", "\"a;b\"yyyy", 5, "\"a;b\"yyyy"},
      {"non-ASCII literal kept", "#,##0 \xE2\x82\xAC", 2, "#,##0 \xE2\x82\xAC"},
      {"capital date", "DDMMYYYY", 5, "DDMMYYYY"},
      {"capital time", "HH:MM;@", 5, "HH:MM"},
      {"capital long date", "DDDD\", \"MMMM DD\", \"YYYY", 5, "DDDD\", \"MMMM DD\", \"YYYY"},
      {"year only", "yyyy", 5, "yyyy"},
      {"scientific E is no era", "0.0E+00", 2, "0.0E+00"},
      {"capital unit with placeholder stays a number", "#,##0 \"DM\"", 2, "#,##0 \"DM\""},
      {"quoted letters only stay a number", "\"TOTAL DUE\"", 2, "\"TOTAL DUE\""},
      {"no letters stay a number", "$ ", 2, "$ "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TStyleData style;
    style.ClassifyFormat(164, c.text);
    EXPECT_EQ(style.Format(164).kind, c.kind);
    EXPECT_EQ(style.Format(164).text, c.want);
  }

  // Texts that leave the entry as it was.
  const char* unchanged[] = {"General",
                             "[$-409]General",
                             "0.00 \"General\"",
                             "GENERAL",
                             "general",
                             "@",
                             "[Red]",
                             "_(",
                             "  ",
                             "",
                             "[Blue"};
  for (const char* text : unchanged) {
    SCOPED_TRACE(text);
    TStyleData style;
    style.ClassifyFormat(2, text);
    EXPECT_EQ(style.Format(2).kind, 2);
    EXPECT_EQ(style.Format(2).text, "0.00");
    style.ClassifyFormat(170, text);
    EXPECT_EQ(style.Format(170).kind, 0);
  }

  TStyleData style;
  style.ClassifyFormat(164, "0.0");
  style.ClassifyFormat(164, "yyyy-mm");
  EXPECT_EQ(style.Format(164).kind, 5);
  EXPECT_EQ(style.Format(164).text, "yyyy-mm");
  style.ClassifyFormat(400, "0.0");
  style.ClassifyFormat(65535, "0.0");
  EXPECT_EQ(style.Format(400).kind, 0);
  EXPECT_TRUE(style.Format(65535).text.empty());
}

TEST(KvXlsStyle, FormatRecords) {
  TStyleData style;
  // 1-byte characters are Latin-1: 0xA3 is the pound sign whatever the system code page.
  style.HandleFormat(FormatBody(164, "\xA3#,##0"));
  EXPECT_EQ(style.Format(164).text, "\xC2\xA3#,##0");

  // 2-byte characters: "0 €" with a surrogate pair (U+1D11E) and an unpaired surrogate.
  const std::vector<std::uint8_t> wide = {165,  0,    6,    0,    1,    '0',  0,    ' ', 0,
                                          0xAC, 0x20, 0x34, 0xD8, 0x1E, 0xDD, 0x00, 0xD8};
  style.HandleFormat(wide);
  EXPECT_EQ(style.Format(165).text, "0 \xE2\x82\xAC\xF0\x9D\x84\x9E\xEF\xBF\xBD");

  // cch beyond the record: the text is cut to the bytes present; half a code unit is dropped.
  std::vector<std::uint8_t> cut = FormatBody(166, "0.00");
  cut[2] = 200;
  style.HandleFormat(cut);
  EXPECT_EQ(style.Format(166).text, "0.00");
  const std::vector<std::uint8_t> oddWide = {167, 0, 9, 0, 1, '0', 0, '0'};
  style.HandleFormat(oddWide);
  EXPECT_EQ(style.Format(167).text, "0");

  // Records cut anywhere: missing fixed fields read as zero, the text is what is present.
  const std::vector<std::uint8_t> full = FormatBody(168, "0.0");
  for (std::size_t n = 0; n <= full.size(); ++n) {
    SCOPED_TRACE(n);
    TStyleData s;
    s.HandleFormat(std::span(full.data(), n));
    EXPECT_EQ(s.Format(168).kind, n >= 6 ? 2 : 0);
    EXPECT_EQ(s.Format(168).text, std::string("0.0").substr(0, n >= 5 ? n - 5 : 0));
  }

  // Numbers of 400 or more are ignored.
  style.HandleFormat(FormatBody(400, "0.0"));
  style.HandleFormat(FormatBody(0xFFFF, "0.0"));
  EXPECT_EQ(style.Format(400).kind, 0);
  EXPECT_EQ(style.Format(0xFFFF).kind, 0);
}

TEST(KvXlsStyle, RenderNumber) {
  TStyleData style;
  style.AppendXF(0);   // 0: general
  style.AppendXF(4);   // 1: #,##0.00
  style.AppendXF(10);  // 2: 0.00%
  style.AppendXF(14);  // 3: mm-dd-yy
  style.AppendXF(164); // 4: custom, defined below
  style.AppendXF(23);  // 5: number without an entry
  style.AppendXF(400); // 6: beyond the table
  style.AppendXF(165); // 7: over-long custom format
  style.AppendXF(49);  // 8: text format
  style.ClassifyFormat(164, "0.0 \"pcs\"");
  style.ClassifyFormat(165, std::string(230, '0'));
  EXPECT_EQ(style.XFCount(), 9u);

  struct Case {
    std::uint16_t ixfe;
    double value;
    const char* want;
  };
  const Case cases[] = {
      {0, 1234.5, "1234.5"},
      {1, 1234.5, "1,234.50"},
      {2, 0.25, "25.00%"},
      {3, 45000, "03-15-23"},
      {4, 3, "3.0 pcs"},
      {5, 0.1, "0.1"},
      {6, 0.1, "0.1"},
      {7, 2.5, "2.5"}, // an over-long format renders the cell in the general rendering
      {8, 7, "7"},
      {9, 7, "7"}, // ixfe beyond the XF list
      {65535, 8, "8"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ixfe);
    EXPECT_EQ(style.RenderNumber(c.value, c.ixfe), c.want);
  }
  std::string out = "x";
  style.AppendNumber(out, 1234.5, 1);
  EXPECT_EQ(out, "x1,234.50");
}

TEST(KvXlsStyle, DateCellsRenderedOnceShowTheirFormatsText) {
  // Date texts are kept by format number and value; what a cell shows must stay what its format
  // gives now, whatever was shown before.
  TStyleData style;
  style.AppendXF(164); // 0
  style.AppendXF(165); // 1
  style.ClassifyFormat(164, "yyyy-mm-dd");
  style.ClassifyFormat(165, "dd/mm/yyyy hh:mm");
  // More distinct values than the cache holds, each shown twice, in both formats: every text is
  // the renderer's.
  for (int pass = 0; pass < 2; ++pass) {
    for (int day = 0; day < 6000; day += 1) {
      const double value = 36000 + day + (day % 7) / 8.0;
      SCOPED_TRACE(testing::Message() << "pass " << pass << " value " << value);
      ASSERT_EQ(style.RenderNumber(value, 0), FormatDateTimeText("yyyy-mm-dd", value));
      ASSERT_EQ(style.RenderNumber(value, 1), FormatDateTimeText("dd/mm/yyyy hh:mm", value));
    }
  }
  // A format replaced after its dates were shown, by another date format, by a number format,
  // and reset to the general one.
  EXPECT_EQ(style.RenderNumber(45000, 0), FormatDateTimeText("yyyy-mm-dd", 45000));
  style.ClassifyFormat(164, "mmm d");
  EXPECT_EQ(style.RenderNumber(45000, 0), FormatDateTimeText("mmm d", 45000));
  style.ClassifyFormat(164, "0.0");
  EXPECT_EQ(style.RenderNumber(45000, 0), "45000.0");
  style.ClassifyFormat(164, "yyyy");
  EXPECT_EQ(style.RenderNumber(45000, 0), "2023");
  style.ResetFormat(164);
  EXPECT_EQ(style.RenderNumber(45000, 0), "45000");
  // The 1904 date system shifts the value the text is kept under.
  style.ClassifyFormat(165, "yyyy-mm-dd");
  const std::string in1900 = style.RenderNumber(100, 1);
  style.SetDate1904(true);
  EXPECT_EQ(style.RenderNumber(100, 1), FormatDateTimeText("yyyy-mm-dd", 1562));
  EXPECT_NE(style.RenderNumber(100, 1), in1900);
}

} // namespace
} // namespace scv::spreadsheet

namespace scv::spreadsheet {
namespace {

// Cells rendered through a format as the spreadsheet shows them: signs and parentheses of
// negative sections, literals, padding and fill, colours, locale and currency tags, conditions,
// fractions, elapsed time, and the general rendering for what cannot be shown exactly.
TEST(KvXlsStyle, FormatsShowWhatTheSpreadsheetShows) {
  struct Case {
    const char* format; // a FORMAT text, or "#n" for built-in format n
    double value;
    const char* want;
  };
  const Case cases[] = {
      {"#,##0;(#,##0)", -123456, "(123,456)"},
      {"#,##0;(#,##0)", 123456, "123,456"},
      {"#5", -1234, "($1,234)"},
      {"#5", 1234, "$1,234 "},
      {"#8", -1234.5, "($1,234.50)"},
      {"#37", -1234, "(1,234)"},
      {"#37", 1234, "1,234 "},
      {"#41", 1234, " 1,234 "},
      {"#41", -1234, " (1,234)"},
      {"#41", 0, " - "},
      {"#44", 0, " $- "},
      {"#,##0.00_);[Red](#,##0.00)", -1234.5, "(1,234.50)"},
      {"0%;(0%)", -0.25, "(25%)"},
      {"0.0?", 1.25, "1.25"},
      {"0 \"dollars and\" .00 \"cents\"", 12.34, "12 dollars and .34 cents"},
      {"\\d\\a\\y 0", 5, "day 5"},
      {"0 \"km\"", 3, "3 km"},
      {"$ -+/():!^&'~{}<>=0", 7, "$ -+/():!^&'~{}<>=7"},
      {"[Red]0.00;[Blue]-0.00", -1.5, "-1.50"},
      {"[$-409]#,##0.00", 1234.5, "1,234.50"},
      {"[$\xE2\x82\xAC-407] #,##0", 5, "\xE2\x82\xAC 5"},
      {"0;-0;\"zero\";@", 0, "zero"},
      {"[>=100]\"big\";[<10]\"small\";\"mid\"", 150, "big"},
      {"[>=100]\"big\";[<10]\"small\";\"mid\"", 5, "small"},
      {"[>=100]\"big\";[<10]\"small\";\"mid\"", 50, "mid"},
      {"[<=9999999]###-####;(###) ###-####", 5551234, "555-1234"},
      {"[<=9999999]###-####;(###) ###-####", 2125551234, "(212) 555-1234"},
      {"[>100]0", 5, "5"}, // no section applies: the value as it is
      // Fractions.
      {"#12", 2.5, "2 1/2"},
      {"#12", 3, "3"},
      {"#12", 0.5, "1/2"},
      {"#12", -2.5, "-2 1/2"},
      {"#12", 0, "0"},
      {"#12", 0.99, "1"},
      {"#13", 1.0 / 3 + 1, "1 1/3"},
      {"#13", 0.3183, "7/22"},
      {"# ??\?/???", 3.14159265, "3 16/113"},
      {"?/8", 2.5, "20/8"},
      {"# ?\?/100", 0.25, "25/100"},
      {"# ?/4", 1.75, "1 3/4"},
      {"0 ?/?", 0.5, "0 1/2"},
      // Dates and times keep their literals.
      {"\"At \"h:mm AM/PM\" on \"dddd", 45000 + 4.0 / 24 + 20.0 / 1440, "At 4:20 AM on Wednesday"},
      {"dd\\.mm\\.yyyy", 45000, "15.03.2023"},
      {"[$-F800]dddd, mmmm dd, yyyy", 45000, "Wednesday, March 15, 2023"},
      {"d'mm", 45000, "15'03"},
      {"yyyy_)*-", 45000, "2023 "},
      {"#46", 1.5, "36:00:00"},
      {"[mm]:ss", 0.5 / 24, "30:00"},
      {"[h]:mm", -0.25, "-6:00"},
      // What the formatter cannot show exactly is the value in the general rendering, with its
      // sign.
      {"0 @", 2.5, "2.5"},
      {"0.00[Red", 2.5, "2.5"},
      {"0;0 d", -5, "-5"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.format) + " / " + std::to_string(c.value));
    TStyleData style;
    const std::string_view format = c.format;
    if (format.size() > 1 && format[0] == '#' && format[1] >= '0' && format[1] <= '9') {
      style.AppendXF(static_cast<std::uint16_t>(std::stoi(std::string(format.substr(1)))));
    } else {
      style.ClassifyFormat(164, c.format);
      style.AppendXF(164);
    }
    EXPECT_EQ(style.RenderNumber(c.value, 0), c.want);
  }
}

} // namespace
} // namespace scv::spreadsheet
