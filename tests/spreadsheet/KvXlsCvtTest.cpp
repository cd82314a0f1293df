// Worksheet layout as text and the closing encoding step.
#include "spreadsheet/KvXlsCvt.h"

#include "spreadsheet/KvXlsGlobal.h"
#include "support/BiffBuilder.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace scv::spreadsheet {
namespace {

using test::TBiffSheet;
using test::TBytes;
using test::TWorkbookPlan;

TBiffSheet Sheet(const std::u16string& name) {
  TBiffSheet s;
  s.name = name;
  return s;
}

std::string Text(const TWorkbookPlan& plan) {
  std::string text;
  EXPECT_EQ(ExtractWorkbookText(test::BuildWorkbookStream(plan), text), 0);
  return text;
}

std::string Stored(std::string_view text, std::int32_t codePage, std::int32_t* code = nullptr) {
  TConversionResult result;
  const std::int32_t n = StoreWorkbookText(text, codePage, result);
  if (code != nullptr) {
    *code = n;
  }
  if (n < 0) {
    return {};
  }
  const auto bytes = result.Bytes(static_cast<std::size_t>(n));
  return std::string(bytes.begin(), bytes.end());
}

TEST(KvXlsCvt, LaysOutSheetsRowsAndColumns) {
  struct Case {
    const char* name;
    TWorkbookPlan plan;
    std::string want;
  };
  std::vector<Case> cases;
  {
    Case c{"text, TABs and a General number", {}, "S\r\nx\t\t5\r\n\r\n"};
    c.plan.strings = test::SstStrings({u"x"});
    c.plan.globalsExtra.Record(0x00E0, test::XfBody(0));
    c.plan.sheets = {Sheet(u"S")};
    c.plan.sheets[0].records.Record(0x00FD, test::LabelSstBody(0, 0, 0));
    c.plan.sheets[0].records.Record(0x0203, test::NumberBody(0, 2, 5));
    cases.push_back(std::move(c));
  }
  {
    Case c{"rows without cells give no line", {}, "S\r\n\tx\r\n\t\t\ty\r\n\r\n"};
    c.plan.strings = test::SstStrings({u"x", u"y"});
    c.plan.sheets = {Sheet(u"S")};
    c.plan.sheets[0].records.Record(0x00FD, test::LabelSstBody(1, 1, 0));
    c.plan.sheets[0].records.Record(0x00FD, test::LabelSstBody(3, 3, 1));
    cases.push_back(std::move(c));
  }
  {
    Case c{"trailing blanks and a missing string keep their TABs",
           {},
           "S\r\na\t\t\t\r\n\t\tb\r\n\r\n"};
    c.plan.strings = test::SstStrings({u"a", u"b"});
    c.plan.sheets = {Sheet(u"S")};
    c.plan.sheets[0].records.Record(0x00FD, test::LabelSstBody(0, 0, 0));
    c.plan.sheets[0].records.Record(0x00BE, test::MulBlankBody(0, 2, 2));
    c.plan.sheets[0].records.Record(0x00FD, test::LabelSstBody(1, 1, 99));
    c.plan.sheets[0].records.Record(0x00FD, test::LabelSstBody(1, 2, 1));
    cases.push_back(std::move(c));
  }
  {
    Case c{"formula shows through its number format", {}, "S\r\n50%\t0.5\t50%\r\n\r\n"};
    c.plan.globalsExtra.Record(0x00E0, test::XfBody(0));
    c.plan.globalsExtra.Record(0x00E0, test::XfBody(9));
    c.plan.sheets = {Sheet(u"S")};
    c.plan.sheets[0].records.Record(
        0x0006, test::FormulaBody(0, 0, test::FormulaNumberValue(0.5), 0, {0x1E, 0, 0}, {}, 1));
    c.plan.sheets[0].records.Record(0x027E, test::RkBody(0, 1, 0x3FE00000, 0));
    c.plan.sheets[0].records.Record(0x027E, test::RkBody(0, 2, 0x3FE00000, 1));
    cases.push_back(std::move(c));
  }
  {
    Case c{"two sheets, a chart between", {}, "P\r\n1\r\n\r\nQ\r\n\r\n"};
    c.plan.sheets = {Sheet(u"P"), Sheet(u"C"), Sheet(u"Q")};
    c.plan.sheets[1].dt = 2;
    c.plan.sheets[0].records.Record(0x027E, test::RkBody(0, 0, 6));
    c.plan.sheets[1].records.Record(0x027E, test::RkBody(0, 0, 10));
    cases.push_back(std::move(c));
  }
  {
    Case c{"only chart sheets", {}, ""};
    c.plan.sheets = {Sheet(u"C")};
    c.plan.sheets[0].dt = 2;
    cases.push_back(std::move(c));
  }
  {
    Case c{"cell at a column not above the counter", {}, "\r\n\t\tab\r\n\r\n"};
    c.plan.strings = test::SstStrings({u"a", u"b"});
    c.plan.sheets = {Sheet(u"")};
    c.plan.sheets[0].records.Record(0x00FD, test::LabelSstBody(0, 2, 0));
    c.plan.sheets[0].records.Record(0x00FD, test::LabelSstBody(0, 1, 1));
    cases.push_back(std::move(c));
  }
  {
    // A string result without its STRING record is an empty cell.
    Case c{"formula results", {}, "S\r\n\tTRUE\t#DIV/0!\t1E-5\t-1234567.25\r\n\r\n"};
    c.plan.sheets = {Sheet(u"S")};
    auto& r = c.plan.sheets[0].records;
    r.Record(0x0006, test::FormulaBody(0, 0, test::FormulaSpecialValue(0, 0)));
    r.Record(0x0006, test::FormulaBody(0, 1, test::FormulaSpecialValue(1, 1)));
    r.Record(0x0006, test::FormulaBody(0, 2, test::FormulaSpecialValue(2, 7)));
    r.Record(0x0006, test::FormulaBody(0, 3, test::FormulaNumberValue(0.00001)));
    r.Record(0x0006, test::FormulaBody(0, 4, test::FormulaNumberValue(-1234567.25)));
    cases.push_back(std::move(c));
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Text(c.plan), c.want);
  }
}

TEST(KvXlsCvt, EncodesForTheTargetCodePage) {
  struct Case {
    const char* name;
    std::string text;
    std::int32_t codePage;
    std::int32_t wantCode;
    std::string want;
  };
  const std::string abc = "S\r\na\nb\r\n";
  const std::vector<Case> cases = {
      {"UTF-8", abc, 65001, 12, "\xEF\xBB\xBFS\r\na\r\nb\r\n"},
      {"UTF-8, empty", "", 65001, 3, "\xEF\xBB\xBF"},
      {"UTF-16LE", "a\xC3\xA9", 1200, 8,
       std::string("\xFF\xFE"
                   "a\0\xE9\0\0\0",
                   8)},
      {"UTF-16LE, empty", "", 1200, 4, std::string("\xFF\xFE\0\0", 4)},
      {"UTF-16LE, surrogate pair", "\xF0\x9F\x98\x80", 1200, 8,
       std::string("\xFF\xFE\x3D\xD8\x00\xDE\0\0", 8)},
      {"1252", "caf\xC3\xA9\n", 1252, 8, std::string("caf\xE9\r\n\0\0", 8)},
      {"1252, empty", "", 1252, 2, std::string("\0\0", 2)},
      {"cut lead byte", "ab\xC3", 1200, kResultBadUtf8, ""},
      {"bad continuation", "a\xE2\x82x", 1252, kResultBadUtf8, ""},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", 1200, kResultBadUtf8, ""},
      {"stray continuation byte as lead",
       "\x80"
       "a",
       1200, kResultBadUtf8, ""},
      {"line ends: lone CR, lone LF, CR CR LF", "a\rb\nc\r\r\nd", 65001, 15,
       "\xEF\xBB\xBF"
       "a\r\nb\r\nc\r\n\r\nd"},
      {"line ends: LF first, CR last", "\nx\r", 65001, 8, "\xEF\xBB\xBF\r\nx\r\n"},
      {"line ends: LF LF", "\n\n", 1252, 6, std::string("\r\n\r\n\0\0", 6)},
      {"line ends: CR LF kept", "p\r\nq\r\n", 65001, 9, "\xEF\xBB\xBFp\r\nq\r\n"},
      {"invalid bytes pass unchanged for UTF-8", "ab\xC3", 65001, 6,
       "\xEF\xBB\xBF"
       "ab\xC3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::int32_t code = 0;
    const std::string got = Stored(c.text, c.codePage, &code);
    EXPECT_EQ(code, c.wantCode);
    EXPECT_EQ(got, c.want);
  }
}

TEST(KvXlsCvt, SharedStringLineFeedBecomesALineEnd) {
  TWorkbookPlan plan;
  plan.strings = test::SstStrings({u"one\ntwo"});
  plan.sheets = {Sheet(u"S")};
  plan.sheets[0].records.Record(0x00FD, test::LabelSstBody(0, 1, 0));
  EXPECT_EQ(Stored(Text(plan), 65001), "\xEF\xBB\xBFS\r\n\tone\r\ntwo\r\n\r\n");
}

} // namespace
} // namespace scv::spreadsheet

namespace scv::spreadsheet {
namespace {

// Written as read (the extractor's way) and laid out from fully read workbook data must agree,
// whatever order the rows come in and however the substreams overlap.
TEST(KvXlsCvt, WritingWhileReadingMatchesTheRowListLayout) {
  std::mt19937 rng(777);
  for (int trial = 0; trial < 150; ++trial) {
    SCOPED_TRACE(trial);
    TWorkbookPlan plan;
    plan.strings = test::SstStrings({u"a", u"bb", u"line\nbreak"});
    const int sheets = 1 + static_cast<int>(rng() % 3);
    for (int s = 0; s < sheets; ++s) {
      TBiffSheet sheet = Sheet(std::u16string(1, static_cast<char16_t>(u'A' + s)));
      sheet.eof = rng() % 4 != 0;
      sheet.dt = rng() % 6 == 0 ? 2 : 0;
      std::uint16_t row = 0;
      const int records = static_cast<int>(rng() % 40);
      for (int k = 0; k < records; ++k) {
        if (rng() % 3 == 0) {
          row = static_cast<std::uint16_t>(rng() % 5 == 0 ? rng() % 10 : row + rng() % 3);
        }
        const auto col = static_cast<std::uint16_t>(rng() % 6);
        switch (rng() % 5) {
        case 0:
          sheet.records.Record(0x00FD, test::LabelSstBody(row, col, rng() % 4));
          break;
        case 1:
          sheet.records.Record(0x027E, test::RkBody(row, col, static_cast<std::uint32_t>(rng())));
          break;
        case 2:
          sheet.records.Record(0x00BD, test::MulRkBody(row, col, {6, 10, 14}));
          break;
        case 3:
          sheet.records.Record(0x00BE, test::MulBlankBody(row, col, 1 + rng() % 3));
          break;
        default:
          sheet.records.Record(0x0006, test::FormulaBody(row, col, test::FormulaNumberValue(k)));
          break;
        }
      }
      plan.sheets.push_back(std::move(sheet));
    }
    const TBytes stream = test::BuildWorkbookStream(plan);
    TWorkBookData data;
    ReadWorkbookGlobals(stream, data);
    std::string written;
    ASSERT_EQ(ExtractWorkbookText(stream, written), 0);
    EXPECT_EQ(written, LayoutWorkbook(data));
  }
}

} // namespace
} // namespace scv::spreadsheet
