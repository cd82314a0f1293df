// Cells with their own text, booleans, errors, formula results, embedded substreams, the 1904
// date system, the workbook code page, and the older stand-alone layouts (BIFF2-4, bare
// streams).
#include "spreadsheet/KvXlsCellText.h"

#include "spreadsheet/KvXlsCvt.h"
#include "spreadsheet/KvXlsGlobal.h"
#include "support/BiffBuilder.h"
#include "support/ProcessRunner.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace scv::spreadsheet {
namespace {

using test::TBiffBuilder;
using test::TBiffSheet;
using test::TBodyWriter;
using test::TBytes;
using test::TWorkbookPlan;

std::string Text(const TBytes& stream) {
  std::string text;
  EXPECT_EQ(ExtractWorkbookText(stream, text), 0);
  // Written as read and laid out from the stored rows must agree for every shape here.
  TWorkBookData data;
  ReadWorkbookGlobals(stream, data);
  EXPECT_EQ(text, LayoutWorkbook(data));
  return text;
}

// One BIFF8 sheet "S" with the given records.
TBytes OneSheet(const TBiffBuilder& records, const TBiffBuilder& globals = {},
                std::uint16_t vers = 0x0600) {
  TWorkbookPlan plan;
  plan.vers = vers;
  plan.globalsExtra = globals;
  TBiffSheet sheet;
  sheet.name = u"S";
  sheet.records = records;
  plan.sheets.push_back(std::move(sheet));
  return test::BuildWorkbookStream(plan);
}

TEST(KvXlsCellText, CellsWithTheirOwnValues) {
  struct Case {
    const char* name;
    TBiffBuilder records;
    std::string want; // the sheet's rows
  };
  std::vector<Case> cases;
  auto add = [&cases](const char* name, std::string want) -> TBiffBuilder& {
    cases.push_back(Case{name, {}, std::move(want)});
    return cases.back().records;
  };
  add("LABEL, 1-byte Latin-1 and 2-byte characters", "caf\xC3\xA9\t\xE8\xA1\xA8\r\n")
      .Record(0x0204, test::LabelBody(0, 0, u"caf\u00E9"))
      .Record(0x0204, test::LabelBody(0, 1, u"\u8868", true));
  add("RSTRING keeps its text, not its runs", "\tbold\tnext\r\n")
      .Record(0x00D6, test::RStringBody(0, 1, u"bold", 2))
      .Record(0x0204, test::LabelBody(0, 2, u"next"));
  {
    // 10 characters: 4 in the record, 6 continue 2 bytes wide after an option byte of 1.
    TBytes label = test::LabelBody(0, 0, u"abcd");
    label[6] = 10;
    TBytes cont = {1};
    for (const char c : std::string("efghij")) {
      cont.push_back(static_cast<std::uint8_t>(c));
      cont.push_back(0);
    }
    add("LABEL continued, width changes", "abcdefghij\tz\r\n")
        .Record(0x0204, label)
        .Record(0x003C, cont)
        .Record(0x0204, test::LabelBody(0, 1, u"z"));
  }
  add("LABEL cut by its record", "ab\r\n")
      .Record(0x0204, TBodyWriter().U16(0).U16(0).U16(0).U16(9).U8(0).Latin1("ab"));
  add("booleans", "TRUE\tFALSE\r\n")
      .Record(0x0205, test::BoolErrBody(0, 0, 1, false))
      .Record(0x0205, test::BoolErrBody(0, 1, 0, false));
  {
    TBiffBuilder& r =
        add("error codes; an undefined one writes nothing",
            "#NULL!\t#DIV/0!\t#VALUE!\t#REF!\t#NAME?\t#NUM!\t#N/A\t#GETTING_DATA\t\r\n");
    const std::uint8_t codes[] = {0x00, 0x07, 0x0F, 0x17, 0x1D, 0x24, 0x2A, 0x2B, 0x99};
    for (std::uint16_t k = 0; k < 9; ++k) {
      r.Record(0x0205, test::BoolErrBody(0, k, codes[k], true));
    }
  }
  add("formula string result from its STRING record", "total\t\xE8\xA1\xA8\r\n")
      .Record(0x0006, test::FormulaBody(0, 0, test::FormulaSpecialValue(0, 0)))
      .Record(0x0207, test::StringBody(u"total"))
      .Record(0x0006, test::FormulaBody(0, 1, test::FormulaSpecialValue(0, 0)))
      .Record(0x04BC, TBytes(10, 0)) // the shared formula comes before the STRING
      .Record(0x0207, test::StringBody(u"\u8868", true));
  add("formula string result without STRING, blank result", "\t\tx\r\n")
      .Record(0x0006, test::FormulaBody(0, 0, test::FormulaSpecialValue(0, 0)))
      .Record(0x0006, test::FormulaBody(0, 1, test::FormulaSpecialValue(3, 0)))
      .Record(0x0204, test::LabelBody(0, 2, u"x"));
  add("formula boolean and error", "FALSE\t#N/A\r\n")
      .Record(0x0006, test::FormulaBody(0, 0, test::FormulaSpecialValue(1, 0)))
      .Record(0x0006, test::FormulaBody(0, 1, test::FormulaSpecialValue(2, 0x2A)));
  {
    // A chart inside the sheet: its values are no cells, and its EOF does not end the sheet.
    TBiffBuilder& r = add("chart substream skipped", "6694\r\n\tafter\r\n");
    r.Record(0x0203, test::NumberBody(0, 0, 6694));
    r.Record(0x0809, test::BofBody(0x0020));
    r.Record(0x0203, test::NumberBody(0, 1, 0));
    r.Record(0x0809, test::BofBody(0x0020)); // nested deeper
    r.Record(0x0204, test::LabelBody(0, 2, u"inner"));
    r.Record(0x000A, {});
    r.Record(0x0204, test::LabelBody(0, 3, u"still chart"));
    r.Record(0x000A, {});
    r.Record(0x0204, test::LabelBody(1, 1, u"after"));
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Text(OneSheet(c.records)), "S\r\n" + c.want + "\r\n");
  }
}

TEST(KvXlsCellText, FormulaNumbersAndDatesThroughTheirFormat) {
  struct Case {
    const char* name;
    bool date1904;
    double value;
    std::uint16_t ifmt;
    const char* want;
  };
  const Case cases[] = {
      {"1900 date", false, 39951, 14, "05-18-09"},
      {"1904 date adds 1462 days", true, 38489, 14, "05-18-09"},
      {"1904 time of day", true, 0.75, 20, "18:00"},
      {"1904 numbers are unchanged", true, 38489, 2, "38489.00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TBiffBuilder globals;
    if (c.date1904) {
      globals.Record(0x0022, TBodyWriter().U16(1));
    }
    globals.Record(0x00E0, test::XfBody(0));
    globals.Record(0x00E0, test::XfBody(c.ifmt));
    TBiffBuilder records;
    records.Record(
        0x0006, test::FormulaBody(0, 0, test::FormulaNumberValue(c.value), 0, {0x1E, 0, 0}, {}, 1));
    records.Record(0x0203, test::NumberBody(0, 1, c.value, 1));
    const std::string want = std::string(c.want) + "\t" + c.want;
    EXPECT_EQ(Text(OneSheet(records, globals)), "S\r\n" + want + "\r\n\r\n");
  }
}

TEST(KvXlsCellText, WorkbookCodePage) {
  struct Case {
    const char* name;
    std::uint16_t vers;
    int codePage; // CODEPAGE record value, 0 for none
    TBytes cell;
    TBytes format; // a FORMAT record body for format 164, used by a NUMBER cell
    std::string want;
  };
  const std::vector<Case> cases = {
      {"BIFF5 label, 1252 without CODEPAGE",
       0x0500,
       0,
       test::ByteLabelBody(0, 0, "\x80 caf\xE9"),
       {},
       "\xE2\x82\xAC caf\xC3\xA9"},
      {"BIFF5 label in 1251",
       0x0500,
       1251,
       test::ByteLabelBody(0, 0, "\xC4\xE0"),
       {},
       "\xD0\x94\xD0\xB0"},
      {"BIFF5 label in 932",
       0x0500,
       932,
       test::ByteLabelBody(0, 0, "\x8A\xBF\x8E\x9A"),
       {},
       "\xE6\xBC\xA2\xE5\xAD\x97"},
      {"BIFF5 label, 1200 is Latin-1",
       0x0500,
       1200,
       test::ByteLabelBody(0, 0, "\xE9"),
       {},
       "\xC3\xA9"},
      {"BIFF8 1-byte FORMAT text in 932",
       0x0600,
       932,
       {},
       test::FormatBody(164, "0\"\x8C\xC2\""),
       "\xE5\x80\x8B"},
      {"BIFF8 1-byte FORMAT text is Latin-1 otherwise",
       0x0600,
       1252,
       {},
       test::FormatBody(164, "0\"\xE9\""),
       "\xC3\xA9"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TBiffBuilder globals;
    if (c.codePage != 0) {
      globals.Record(0x0042, TBodyWriter().U16(static_cast<std::uint16_t>(c.codePage)));
    }
    TBiffBuilder records;
    if (!c.format.empty()) {
      if (c.vers == 0x0600) {
        globals.Record(0x041E, c.format);
      }
      globals.Record(0x00E0, test::XfBody(164));
      records.Record(0x0203, test::NumberBody(0, 0, 7, 0));
    } else {
      records.Record(0x0204, c.cell);
    }
    const std::string text = Text(OneSheet(records, globals, c.vers));
    EXPECT_NE(text.find(c.want), std::string::npos) << text;
  }
}

// BIFF2-4 files: one worksheet substream, its own FORMAT and XF records, one sheet "Sheet1".
TEST(KvXlsCellText, OlderStandAloneWorksheets) {
  struct Case {
    const char* name;
    TBiffBuilder stream;
    std::string want;
    std::int32_t result = 0;
  };
  std::vector<Case> cases;
  {
    Case c{"BIFF2 cells", {}, "Sheet1\r\n2.50\t7\tok\tTRUE\t#REF!\r\nres\t3\r\n\r\n"};
    TBiffBuilder& b = c.stream;
    b.Record(0x0009, TBodyWriter().U16(2).U16(0x0010));
    b.Record(0x001E, TBodyWriter().U8(7).Latin1("General"));
    b.Record(0x001E, TBodyWriter().U8(4).Latin1("0.00"));
    b.Record(0x0003, TBodyWriter().Raw(test::Biff2CellHead(0, 0, 1)).F64(2.5));
    b.Record(0x0002, TBodyWriter().Raw(test::Biff2CellHead(0, 1)).U16(7));
    b.Record(0x0004, TBodyWriter().Raw(test::Biff2CellHead(0, 2)).U8(2).Latin1("ok"));
    b.Record(0x0005, TBodyWriter().Raw(test::Biff2CellHead(0, 3)).U8(1).U8(0));
    b.Record(0x0005, TBodyWriter().Raw(test::Biff2CellHead(0, 4)).U8(0x17).U8(1));
    b.Record(0x0006, TBodyWriter()
                         .Raw(test::Biff2CellHead(1, 0))
                         .Raw(test::FormulaSpecialValue(0, 0))
                         .U8(0)
                         .U8(1)
                         .U8(0x17));
    b.Record(0x0007, TBodyWriter().U8(3).Latin1("res"));
    b.Record(0x0006, TBodyWriter()
                         .Raw(test::Biff2CellHead(1, 1))
                         .Raw(test::FormulaNumberValue(3))
                         .U8(0)
                         .U8(1)
                         .U8(0x17));
    b.Record(0x000A, {});
    cases.push_back(std::move(c));
  }
  {
    // BIFF3: FORMAT records numbered in order, XF 0x0243 with ifmt in its second byte.
    Case c{"BIFF3 cells", {}, "Sheet1\r\n12.5%\tx\t1,235\r\n\r\n"};
    TBiffBuilder& b = c.stream;
    b.Record(0x0209, TBodyWriter().U16(0).U16(0x0010).U16(0));
    b.Record(0x001E, TBodyWriter().U8(7).Latin1("General"));
    b.Record(0x001E, TBodyWriter().U8(4).Latin1("0.0%"));
    b.Record(0x001E, TBodyWriter().U8(5).Latin1("#,##0"));
    b.Record(0x0243, TBytes{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    b.Record(0x0243, TBytes{0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    b.Record(0x0243, TBytes{0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    b.Record(0x0203, test::NumberBody(0, 0, 0.125, 1));
    b.Record(0x0204, test::ByteLabelBody(0, 1, "x"));
    b.Record(0x0206, TBodyWriter()
                         .U16(0)
                         .U16(2)
                         .U16(2)
                         .Raw(test::FormulaNumberValue(1234.5))
                         .U16(0)
                         .U16(1)
                         .U8(0x17));
    b.Record(0x000A, {});
    cases.push_back(std::move(c));
  }
  {
    // BIFF4: 0x041E FORMAT records, their first two bytes unused, numbered in order too.
    Case c{"BIFF4 cells", {}, "Sheet1\r\n3.00\t0.5\t1.5\r\nstr\r\n\r\n"};
    TBiffBuilder& b = c.stream;
    b.Record(0x0409, TBodyWriter().U16(0).U16(0x0010).U16(0));
    b.Record(0x041E, TBodyWriter().U16(0).U8(7).Latin1("General"));
    b.Record(0x041E, TBodyWriter().U16(0).U8(4).Latin1("0.00"));
    b.Record(0x041E, TBodyWriter().U16(0).U8(7).Latin1("@"));
    b.Record(0x0443, TBytes{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    b.Record(0x0443, TBytes{0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    // Format 2 is "@" here: the built-in "0.00" of that number does not apply.
    b.Record(0x0443, TBytes{0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    b.Record(0x027E, test::RkBody(0, 0, 0x40080000, 1));
    b.Record(0x0406, TBodyWriter()
                         .U16(0)
                         .U16(1)
                         .U16(0)
                         .Raw(test::FormulaNumberValue(0.5))
                         .U16(0)
                         .U16(1)
                         .U8(0x17));
    b.Record(0x0203, test::NumberBody(0, 2, 1.5, 2));
    b.Record(0x0406, TBodyWriter()
                         .U16(1)
                         .U16(0)
                         .U16(0)
                         .Raw(test::FormulaSpecialValue(0, 0))
                         .U16(0)
                         .U16(1)
                         .U8(0x17));
    b.Record(0x0207, TBodyWriter().U16(3).Latin1("str"));
    b.Record(0x000A, {});
    cases.push_back(std::move(c));
  }
  {
    // No worksheet to show: an honest format error, not an empty success.
    Case c{"BIFF4 chart: no sheet", {}, "", kResultBadFormat};
    c.stream.Record(0x0409, TBodyWriter().U16(0).U16(0x0020).U16(0));
    c.stream.Record(0x0203, test::NumberBody(0, 0, 1));
    c.stream.Record(0x000A, {});
    cases.push_back(std::move(c));
  }
  {
    Case c{"bare BIFF8 worksheet", {}, "Sheet1\r\nw\r\n\r\n"};
    c.stream.Record(0x0809, test::BofBody(0x0010));
    c.stream.Record(0x0204, test::LabelBody(0, 0, u"w"));
    c.stream.Record(0x000A, {});
    cases.push_back(std::move(c));
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.result != 0) {
      std::string text;
      EXPECT_EQ(ExtractWorkbookText(c.stream.Stream(), text), c.result);
      EXPECT_EQ(text, c.want);
      continue;
    }
    EXPECT_EQ(Text(c.stream.Stream()), c.want);
  }
}

// A file that is a workbook stream without a compound file around it.
TEST(KvXlsCellText, BareStreamFiles) {
  TWorkbookPlan plan;
  TBiffSheet sheet;
  sheet.name = u"Bare";
  sheet.records.Record(0x0204, test::LabelBody(0, 1, u"v"));
  plan.sheets.push_back(std::move(sheet));
  const TBytes book = test::BuildWorkbookStream(plan);
  struct Case {
    const char* name;
    std::string bytes;
    std::int32_t want;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"BIFF8 workbook stream", std::string(book.begin(), book.end()), 0,
       "\xEF\xBB\xBF"
       "Bare\r\n\tv\r\n\r\n"},
      {"text", "ID;PWXL;N;E\r\n", kResultBadFormat, ""},
      {"empty", "", kResultBadFormat, ""},
      {"BOF id with a short record", std::string("\x09\x08\x02\x00\x00\x06", 6), kResultBadFormat,
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TTempDir dir;
    const std::string path = dir.Write("bare.xls", c.bytes);
    TConversionResult result;
    const std::int32_t n =
        ExtractSpreadsheet(std::u16string(path.begin(), path.end()), 0, result, 65001);
    if (c.want != 0) {
      EXPECT_EQ(n, c.want);
      continue;
    }
    ASSERT_GT(n, 0);
    const auto bytes = result.Bytes(static_cast<std::size_t>(n));
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), c.text);
  }
}

} // namespace
} // namespace scv::spreadsheet
