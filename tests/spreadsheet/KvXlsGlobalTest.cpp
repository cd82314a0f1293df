// Workbook globals and worksheet substreams: dispatch, sheet jumps, rows, bad offsets.
#include "spreadsheet/KvXlsGlobal.h"

#include "spreadsheet/KvXlsCvt.h"
#include "support/BiffBuilder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace scv::spreadsheet {
namespace {

using test::TBiffBuilder;
using test::TBiffSheet;
using test::TBodyWriter;
using test::TBytes;
using test::TWorkbookPlan;

TBiffSheet Sheet(const std::u16string& name, std::uint8_t dt = 0) {
  TBiffSheet s;
  s.name = name;
  s.dt = dt;
  return s;
}

std::string Name(const TWorkSheetData8& sheet) {
  return SheetNameUtf8(sheet.boundSheet);
}

// Rows of a sheet as "row:col,col;row:col" for compact comparisons.
std::string RowShape(const TWorkSheetData8& sheet) {
  std::string out;
  for (std::size_t r = 0; r < sheet.rows.RowCount(); ++r) {
    if (!out.empty()) {
      out += ';';
    }
    out += std::to_string(sheet.rows.Row(r).row) + ':';
    const auto cells = sheet.rows.Cells(r);
    for (std::size_t i = 0; i < cells.size(); ++i) {
      out += (i == 0 ? "" : ",") + std::to_string(cells[i].column);
    }
  }
  return out;
}

TEST(KvXlsGlobal, ReadsWorksheetsAndSkipsOtherSheetTypes) {
  TWorkbookPlan plan;
  plan.sheets = {Sheet(u"First"), Sheet(u"Chart", 2), Sheet(u"\u0394elta", 0)};
  plan.sheets[2].highByteName = true;
  plan.sheets[0].records.Record(0x0203, test::NumberBody(0, 0, 1.5));
  plan.sheets[1].records.Record(0x0203, test::NumberBody(0, 0, 9));
  plan.sheets[2].records.Record(0x027E, test::RkBody(4, 1, 0x00000006));
  plan.globalsExtra.Record(0x003C, TBytes(5, 0xAB)); // CONTINUE without SST: skipped
  plan.globalsExtra.Record(0x1234, TBytes(3, 0));
  TWorkBookData data;
  ReadWorkbookGlobals(test::BuildWorkbookStream(plan), data);
  ASSERT_EQ(data.sheets.size(), 2U);
  EXPECT_EQ(Name(data.sheets[0]), "First");
  EXPECT_EQ(Name(data.sheets[1]), "\xCE\x94"
                                  "elta");
  EXPECT_EQ(RowShape(data.sheets[0]), "0:0");
  EXPECT_EQ(RowShape(data.sheets[1]), "4:1");
  EXPECT_EQ(data.sheets[1].rows.Cells(0)[0].value, 1);
  EXPECT_FALSE(data.encrypted);
}

TEST(KvXlsGlobal, BuildsRowsFromEveryCellRecord) {
  TWorkbookPlan plan;
  plan.strings = test::SstStrings({u"s0", u"s1"});
  plan.sheets = {Sheet(u"S")};
  auto& r = plan.sheets[0].records;
  r.Record(0x00FD, test::LabelSstBody(0, 0, 1));
  r.Record(0x00BD, test::MulRkBody(0, 1, {0x00000006, 0x0000000A}));
  r.Record(0x00BE, test::MulBlankBody(3, 2, 4));
  r.Record(0x0201, test::BlankBody(3, 7));
  // FORMULA followed by its STRING record, and one with data after its rgce.
  r.Record(0x0006, test::FormulaBody(5, 0, test::FormulaSpecialValue(0, 0), 0x0009));
  r.Record(0x0207, TBodyWriter().U16(3).U8(0).Latin1("abc"));
  r.Record(0x0006,
           test::FormulaBody(5, 1, test::FormulaSpecialValue(2, 7), 0, {0x20}, TBytes(11, 0x03)));
  r.Record(0x0204, TBytes(12, 0)); // LABEL: an empty text cell at A1
  r.Record(0x0208, TBytes(16, 0)); // ROW: no cell
  r.Record(0x0203, test::NumberBody(6, 0, 2.5));
  TWorkBookData data;
  ReadWorkbookGlobals(test::BuildWorkbookStream(plan), data);
  ASSERT_EQ(data.sheets.size(), 1U);
  const auto& sheet = data.sheets[0];
  EXPECT_EQ(RowShape(sheet), "0:0,1,2,0;3:2,3,4,5,7;5:0,1;6:0");
  const auto row5 = sheet.rows.Cells(2);
  // The string result is the STRING record's text, kept with the sheet.
  EXPECT_EQ(row5[0].kind, kCellText);
  ASSERT_EQ(sheet.texts.Count(), 2U);
  EXPECT_EQ(sheet.texts.At(row5[0].Isst()), "abc");
  EXPECT_EQ(row5[0].flags, kCellAlwaysCalc | kCellSharedFormula);
  EXPECT_EQ(row5[1].kind, kCellError);
  EXPECT_EQ(row5[1].value, 7);
  EXPECT_EQ(sheet.rows.Cells(0)[2].value, 2);
  EXPECT_EQ(data.sharedStrings.Count(), 2U);
  EXPECT_EQ(data.cstUnique, 2U);
}

TEST(KvXlsGlobal, RowsOutOfOrderKeepTheSearchOutcome) {
  struct Case {
    const char* name;
    std::vector<std::uint16_t> rows;
    std::string want;
  };
  const std::vector<Case> cases = {
      {"ascending", {1, 1, 2, 7, 7}, "1:0,0;2:0;7:0,0"},
      {"5 2 2", {5, 2, 2}, "5:0;2:0;2:0"},
      {"found again after disorder", {5, 2, 5, 9, 5}, "5:0,0;2:0;9:0;5:0"},
      {"descending", {3, 2, 1, 2}, "3:0;2:0,0;1:0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TWorkbookPlan plan;
    plan.sheets = {Sheet(u"S")};
    for (const std::uint16_t rw : c.rows) {
      plan.sheets[0].records.Record(0x0201, test::BlankBody(rw, 0));
    }
    TWorkBookData data;
    ReadWorkbookGlobals(test::BuildWorkbookStream(plan), data);
    ASSERT_EQ(data.sheets.size(), 1U);
    EXPECT_EQ(RowShape(data.sheets[0]), c.want);
  }
}

TEST(KvXlsGlobal, SubstreamBoundaries) {
  // Sheet A has no EOF: it reads on, but B's BOF starts a substream of its own whose cells are
  // not A's; B is read on its own.
  TWorkbookPlan plan;
  plan.sheets = {Sheet(u"A"), Sheet(u"B")};
  plan.sheets[0].eof = false;
  plan.sheets[0].records.Record(0x0201, test::BlankBody(0, 0));
  plan.sheets[1].records.Record(0x0201, test::BlankBody(1, 1));
  TWorkBookData data;
  ReadWorkbookGlobals(test::BuildWorkbookStream(plan), data);
  ASSERT_EQ(data.sheets.size(), 2U);
  EXPECT_EQ(RowShape(data.sheets[0]), "0:0");
  EXPECT_EQ(RowShape(data.sheets[1]), "1:1");

  // No globals EOF: the loop ends at the end of the stream; the substreams that follow are
  // walked as globals records, which changes nothing.
  TWorkbookPlan noEofPlan;
  noEofPlan.globalsEof = false;
  noEofPlan.sheets = {Sheet(u"A")};
  noEofPlan.sheets[0].records.Record(0x0201, test::BlankBody(2, 0));
  TWorkBookData data2;
  ReadWorkbookGlobals(test::BuildWorkbookStream(noEofPlan), data2);
  ASSERT_EQ(data2.sheets.size(), 1U);
  EXPECT_EQ(RowShape(data2.sheets[0]), "2:0");
}

TEST(KvXlsGlobal, BadSheetOffsetsEndWithoutLooping) {
  struct Case {
    const char* name;
    std::uint32_t lbPlyPos;
    std::size_t wantRows;
  };
  const std::vector<Case> cases = {
      {"beyond the stream", 0x7FFFFFF0, 0},
      {"at the stream start", 0, 0},
      {"at its own record", 20, 0},
      {"inside a record", 23, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TBiffBuilder b;
    b.Record(0x0809, test::BofBody(5));                           // 0..19
    b.Record(0x0085, test::BoundSheet8Body(c.lbPlyPos, 0, u"X")); // 20..
    b.Record(0x000A, {});
    TWorkBookData data;
    ReadWorkbookGlobals(b.Stream(), data);
    ASSERT_EQ(data.sheets.size(), 1U);
    EXPECT_EQ(data.sheets[0].rows.RowCount(), c.wantRows);
  }
}

TEST(KvXlsGlobal, OverlappingSheetsStayWithinTheBudget) {
  // 20000 BoundSheet8 records all pointing at one sheet of 20000 cells without EOF: reading
  // each in full would create 400 million cells.
  TBiffBuilder sheetBody;
  for (int i = 0; i < 20000; ++i) {
    sheetBody.Record(0x0201, test::BlankBody(static_cast<std::uint16_t>(i), 0));
  }
  TBiffBuilder b;
  b.Record(0x0809, test::BofBody(5));
  const std::size_t first = b.Position();
  const std::size_t kRecord = 4 + test::BoundSheet8Body(0, 0, u"S").size();
  for (int i = 0; i < 20000; ++i) {
    b.Record(0x0085, test::BoundSheet8Body(0, 0, u"S"));
  }
  b.Record(0x000A, {});
  const std::uint32_t sheetPos = static_cast<std::uint32_t>(b.Position());
  for (int i = 0; i < 20000; ++i) {
    b.Patch32(first + static_cast<std::size_t>(i) * kRecord + 4, sheetPos);
  }
  b.Bytes(sheetBody.Stream());
  const auto start = std::chrono::steady_clock::now();
  TWorkBookData data;
  ReadWorkbookGlobals(b.Stream(), data);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  ASSERT_EQ(data.sheets.size(), 20000U);
  std::size_t cells = 0;
  for (const auto& s : data.sheets) {
    cells += s.rows.CellCount();
  }
  EXPECT_EQ(data.sheets[0].rows.CellCount(), 20000U);
  EXPECT_LE(cells, b.Stream().size() / 2 + TReadBudget::kSlack);
}

TEST(KvXlsGlobal, SecondSstReplacesTheFirst) {
  TBiffBuilder b;
  b.Record(0x0809, test::BofBody(5));
  b.Sst(test::SstStrings({u"old1", u"old2", u"old3"}));
  b.Sst(test::SstStrings({u"new"}));
  b.Record(0x000A, {});
  TWorkBookData data;
  ReadWorkbookGlobals(b.Stream(), data);
  ASSERT_EQ(data.sharedStrings.Count(), 1U);
  EXPECT_EQ(data.sharedStrings.At(0), "new");
}

TEST(KvXlsGlobal, FilePassStopsReading) {
  TBiffBuilder b;
  b.Record(0x0809, test::BofBody(5));
  b.Record(0x002F, TBodyWriter().U16(1).U16(1).Raw(TBytes(48, 0x11)));
  b.Record(0x0085, test::BoundSheet8Body(0, 0, u"X"));
  TWorkBookData data;
  ReadWorkbookGlobals(b.Stream(), data);
  EXPECT_TRUE(data.encrypted);
  EXPECT_TRUE(data.sheets.empty());
  std::string text = "x";
  EXPECT_EQ(ExtractWorkbookText(b.Stream(), text), kResultEncrypted);
  EXPECT_EQ(text, "x"); // nothing appended
}

TEST(KvXlsGlobal, OlderLayoutNamesAndFormats) {
  TBiffBuilder b;
  b.Record(0x0809, test::BofBody(5, 0x0500));
  b.Record(0x041E, TBodyWriter().U16(164).U8(4).Latin1("0.00"));
  b.Record(0x00E0, test::XfBody(164));
  const std::size_t patch = b.Position() + 4;
  b.Record(0x0085, TBodyWriter().U32(0).U8(0).U8(0).U8(5).Latin1("Sh\xE9"
                                                                 "et"));
  b.Record(0x000A, {});
  b.Patch32(patch, static_cast<std::uint32_t>(b.Position()));
  b.Record(0x0809, test::BofBody(0x10, 0x0500));
  b.Record(0x0203, test::NumberBody(0, 0, 2, 0));
  b.Record(0x000A, {});
  TWorkBookData data;
  ReadWorkbookGlobals(b.Stream(), data);
  ASSERT_EQ(data.sheets.size(), 1U);
  EXPECT_EQ(Name(data.sheets[0]), "Sh\xC3\xA9"
                                  "et");
  EXPECT_EQ(data.styleData.RenderNumber(2, 0), "2.00");
}

TEST(KvXlsGlobal, TruncatedRecordsAndStreams) {
  const TBytes full = [] {
    TWorkbookPlan plan;
    plan.strings = test::SstStrings({u"alpha", u"beta"});
    plan.sheets = {Sheet(u"S")};
    plan.sheets[0].records.Record(0x00FD, test::LabelSstBody(0, 0, 1));
    plan.sheets[0].records.Record(0x00BD, test::MulRkBody(1, 0, {6, 10, 14}));
    return test::BuildWorkbookStream(plan);
  }();
  // Every prefix of the stream reads without fault.
  for (std::size_t n = 0; n <= full.size(); ++n) {
    SCOPED_TRACE(n);
    TWorkBookData data;
    ReadWorkbookGlobals(std::span<const std::uint8_t>(full.data(), n), data);
    std::string text;
    EXPECT_EQ(ExtractWorkbookText(std::span<const std::uint8_t>(full.data(), n), text), 0);
  }
}

} // namespace
} // namespace scv::spreadsheet

namespace scv::spreadsheet {
namespace {

// Sheet names keep every character, whatever the system code page can represent.
TEST(KvXlsGlobal, SheetNamesKeepEveryCharacter) {
  struct Case {
    const char* name;
    TBytes body;
    std::string want;
  };
  const std::vector<Case> cases = {
      {"1-byte Latin-1", test::BoundSheet8Body(0, 0, u"Caf\u00E9"), "Caf\xC3\xA9"},
      {"2-byte CJK", test::BoundSheet8Body(0, 0, u"\u8868\u4E00", true),
       "\xE8\xA1\xA8\xE4\xB8\x80"},
      {"surrogate pair", test::BoundSheet8Body(0, 0, u"\U0001F600", true), "\xF0\x9F\x98\x80"},
      {"empty name", test::BoundSheet8Body(0, 0, u""), ""},
      {"name cut by the record end", TBodyWriter().U32(0).U8(0).U8(0).U8(5).U8(0).Latin1("ab"),
       "ab"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TBoundSheet8 sheet;
    ASSERT_TRUE(ReadBoundSheet8(c.body, TBoundSheet8::kId, sheet));
    EXPECT_EQ(SheetNameUtf8(sheet), c.want);
  }
}

// Excel 4.0 workbooks: sheets after the globals, each behind a SHEETHDR that names it and each
// with formatting of its own.
TBiffBuilder Sheet4Cells(const std::string& format, const std::string& label, double value) {
  TBiffBuilder b;
  b.Record(0x041E, test::Format4Body("General"));
  b.Record(0x041E, test::Format4Body(format));
  b.Record(0x0443, test::Xf4Body(0));
  b.Record(0x0443, test::Xf4Body(1));
  b.Record(0x0204, test::ByteLabelBody(0, 0, label));
  b.Record(0x0203, test::NumberBody(0, 1, value, 1));
  return b;
}

test::TWorkbook4Plan TwoSheets4() {
  test::TWorkbook4Plan plan;
  plan.sheets.resize(2);
  plan.sheets[0].name = "Alpha";
  plan.sheets[0].records = Sheet4Cells("0.00", "a", 2.5);
  plan.sheets[1].name = "Beta";
  plan.sheets[1].records = Sheet4Cells("0%", "b", 0.25);
  return plan;
}

constexpr const char* kTwoSheets4Text = "Alpha\r\na\t2.50\r\n\r\nBeta\r\nb\t25%\r\n\r\n";

TEST(KvXlsGlobal, Workbook4SheetsWithTheirOwnFormatting) {
  struct Case {
    const char* name;
    TBytes stream;
    std::string want;
  };
  std::vector<Case> cases;
  cases.push_back({"two worksheets", test::BuildWorkbook4Stream(TwoSheets4()), kTwoSheets4Text});
  {
    test::TWorkbook4Plan plan = TwoSheets4();
    test::TWorkbook4Sheet chart;
    chart.name = "Chart";
    chart.dt = 0x0020;
    chart.records.Record(0x0203, test::NumberBody(0, 0, 9));
    plan.sheets.insert(plan.sheets.begin() + 1, std::move(chart));
    cases.push_back({"a chart sheet between gives no sheet", test::BuildWorkbook4Stream(plan),
                     kTwoSheets4Text});
  }
  {
    // The globals' own formats and XF list serve a sheet without any; a sheet with its own
    // starts afresh (its XF 1 is its own, its format 1 its own first FORMAT but one).
    test::TWorkbook4Plan plan;
    plan.globalsExtra.Record(0x0042, TBodyWriter().U16(1251));
    plan.globalsExtra.Record(0x041E, test::Format4Body("General"));
    plan.globalsExtra.Record(0x041E, test::Format4Body("0.000"));
    plan.globalsExtra.Record(0x0443, test::Xf4Body(0));
    plan.globalsExtra.Record(0x0443, test::Xf4Body(1));
    plan.sheets.resize(2);
    plan.sheets[0].name = "\xC8\xEC\xFF"; // "Имя" in code page 1251
    plan.sheets[0].records.Record(0x0203, test::NumberBody(0, 0, 1.5, 1));
    plan.sheets[1].name = "Own";
    plan.sheets[1].records = Sheet4Cells("0.0", "x", 1.25);
    cases.push_back({"globals formatting and the workbook code page",
                     test::BuildWorkbook4Stream(plan),
                     "\xD0\x98\xD0\xBC\xD1\x8F\r\n1.500\r\n\r\nOwn\r\nx\t1.3\r\n\r\n"});
  }
  {
    test::TWorkbook4Plan plan = TwoSheets4();
    plan.sheets[0].records.Record(0x0022, TBodyWriter().U16(1));
    plan.sheets[0].records.Record(0x041E, test::Format4Body("yyyy-mm-dd"));
    plan.sheets[0].records.Record(0x0443, test::Xf4Body(2));
    plan.sheets[0].records.Record(0x0203, test::NumberBody(1, 0, 0, 2));
    // Format 2 is not written in this sheet: the built-in of that number, not the first
    // sheet's date format.
    plan.sheets[1].records.Record(0x0443, test::Xf4Body(2));
    plan.sheets[1].records.Record(0x0203, test::NumberBody(1, 0, 0, 2));
    cases.push_back({"a sheet's 1904 dates and formats stay in that sheet",
                     test::BuildWorkbook4Stream(plan),
                     "Alpha\r\na\t2.50\r\n1904-01-01\r\n\r\nBeta\r\nb\t25%\r\n0.00\r\n\r\n"});
  }
  {
    // An embedded chart inside a worksheet: its records are not the sheet's formatting.
    test::TWorkbook4Plan plan = TwoSheets4();
    TBiffBuilder& r = plan.sheets[1].records;
    r.Record(0x0409, test::Bof4Body(0x0020));
    r.Record(0x0443, test::Xf4Body(0));
    r.Record(0x000A, {});
    r.Record(0x0203, test::NumberBody(2, 0, 0.5, 1));
    cases.push_back({"an embedded chart", test::BuildWorkbook4Stream(plan),
                     "Alpha\r\na\t2.50\r\n\r\nBeta\r\nb\t25%\r\n50%\r\n\r\n"});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string text;
    ASSERT_EQ(ExtractWorkbookText(c.stream, text), 0);
    EXPECT_EQ(text, c.want);
    TWorkBookData data;
    ReadWorkbookGlobals(c.stream, data);
    EXPECT_EQ(LayoutWorkbook(data), text);
  }
}

// Hostile sheet locations: every one ends, reads each byte a bounded number of times, and keeps
// the sheets that can still be found.
TEST(KvXlsGlobal, Workbook4HostileSheetLocations) {
  struct Case {
    const char* name;
    void (*shape)(test::TWorkbook4Plan& plan);
    void (*patch)(TBytes& stream, const test::TWorkbook4Layout& at);
    std::int32_t result;
    std::string want;
  };
  const auto noPlan = [](test::TWorkbook4Plan&) {};
  const auto noPatch = [](TBytes&, const test::TWorkbook4Layout&) {};
  const auto put32 = [](TBytes& s, std::size_t at, std::uint32_t v) {
    for (std::size_t k = 0; k < 4; ++k) {
      s[at + k] = static_cast<std::uint8_t>(v >> (8 * k));
    }
  };
  static decltype(put32) put = put32;
  const std::vector<Case> cases = {
      {"sheets offset at the globals", noPlan,
       [](TBytes& s, const test::TWorkbook4Layout& at) { put(s, at.sheetsOffsetField, 0); }, 0,
       kTwoSheets4Text},
      {"sheets offset at itself", noPlan,
       [](TBytes& s, const test::TWorkbook4Layout& at) {
         put(s, at.sheetsOffsetField, static_cast<std::uint32_t>(at.sheetsOffsetField - 4));
       },
       0, kTwoSheets4Text},
      {"sheets offset beyond the file", noPlan,
       [](TBytes& s, const test::TWorkbook4Layout& at) {
         put(s, at.sheetsOffsetField, 0xFFFFFFF0);
       },
       0, kTwoSheets4Text},
      {"sheets offset at the second sheet", noPlan,
       [](TBytes& s, const test::TWorkbook4Layout& at) {
         put(s, at.sheetsOffsetField, static_cast<std::uint32_t>(at.headers[1]));
       },
       0, "Beta\r\nb\t25%\r\n\r\n"},
      {"no sheets offset", [](test::TWorkbook4Plan& p) { p.sheetsOffset = false; }, noPatch, 0,
       kTwoSheets4Text},
      {"sizes of 0", noPlan,
       [](TBytes& s, const test::TWorkbook4Layout& at) {
         put(s, at.sizeFields[0], 0);
         put(s, at.sizeFields[1], 0);
       },
       0, kTwoSheets4Text},
      {"size beyond the file", noPlan,
       [](TBytes& s, const test::TWorkbook4Layout& at) { put(s, at.sizeFields[0], 0xFFFFFFFF); }, 0,
       kTwoSheets4Text},
      {"size reaching back into the first sheet's own header", noPlan,
       [](TBytes& s, const test::TWorkbook4Layout& at) {
         // start + size wraps to the header only in 32 bits; it is never taken.
         put(s, at.sizeFields[0], static_cast<std::uint32_t>(0x100000000ULL - 13));
       },
       0, kTwoSheets4Text},
      {"first sheet without EOF", [](test::TWorkbook4Plan& p) { p.sheets[0].eof = false; }, noPatch,
       0, kTwoSheets4Text},
      {"last sheet without EOF", [](test::TWorkbook4Plan& p) { p.sheets[1].eof = false; }, noPatch,
       0, kTwoSheets4Text},
      {"globals without EOF", [](test::TWorkbook4Plan& p) { p.globalsEof = false; }, noPatch, 0,
       kTwoSheets4Text},
      {"bytes between the sheets, found by the size",
       [](test::TWorkbook4Plan& p) {
         p.sheets[0].eof = false;
         p.sheets[0].records.Record(0x000A, {});
         p.sheets[0].records.Bytes(TBytes{0xEE, 0xEE, 0xEE});
       },
       noPatch, 0, kTwoSheets4Text},
      {"two headers before one substream",
       [](test::TWorkbook4Plan& p) {
         // The first header's substream starts with the second header, not a BOF.
         p.sheets[0].name = "Lost";
         p.sheets[0].records = TBiffBuilder();
       },
       [](TBytes& s, const test::TWorkbook4Layout& at) {
         // Turn the first sheet's BOF and EOF into one unknown record of the same bytes.
         s[at.substreams[0]] = 0x34;
         s[at.substreams[0] + 1] = 0x12;
         s[at.substreams[0] + 2] = 6 + 4;
       },
       0, "Beta\r\nb\t25%\r\n\r\n"},
      {"headers only, no substream", [](test::TWorkbook4Plan& p) { p.sheets.clear(); },
       [](TBytes& s, const test::TWorkbook4Layout&) {
         s.insert(s.end(), {0x8F, 0x00, 0x05, 0x00, 0, 0, 0, 0, 0});
         s.insert(s.end(), {0x8F, 0x00, 0x05, 0x00, 0, 0, 0, 0, 0});
       },
       kResultBadFormat, ""},
      {"no sheets at all", [](test::TWorkbook4Plan& p) { p.sheets.clear(); }, noPatch,
       kResultBadFormat, ""},
      {"a sheet header cut by the end of the file", noPlan,
       [](TBytes& s, const test::TWorkbook4Layout& at) { s.resize(at.headers[1] + 6); }, 0,
       "Alpha\r\na\t2.50\r\n\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TWorkbook4Plan plan = TwoSheets4();
    c.shape(plan);
    test::TWorkbook4Layout at;
    TBytes stream = test::BuildWorkbook4Stream(plan, &at);
    c.patch(stream, at);
    std::string text;
    ASSERT_EQ(ExtractWorkbookText(stream, text), c.result);
    EXPECT_EQ(text, c.want);
    if (c.result == 0) {
      TWorkBookData data;
      ReadWorkbookGlobals(stream, data);
      EXPECT_EQ(LayoutWorkbook(data), text);
    }
  }
}

// Many sheet headers packed into each other's bytes: the walk stays within the read budget.
TEST(KvXlsGlobal, Workbook4ManyHeadersStayBounded) {
  test::TWorkbook4Plan plan;
  plan.sheets.resize(20000);
  for (auto& sheet : plan.sheets) {
    sheet.name = "s";
  }
  const TBytes stream = test::BuildWorkbook4Stream(plan);
  const auto start = std::chrono::steady_clock::now();
  std::string text;
  ASSERT_EQ(ExtractWorkbookText(stream, text), 0);
  EXPECT_EQ(text.size(), 20000U * 5);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

// Files that start with a BOF and hold no worksheet give the format error, never an empty
// success; a compound file's BIFF8 workbook without worksheets still gives no text.
TEST(KvXlsGlobal, StreamsWithoutWorksheetsAreFormatErrors) {
  struct Case {
    const char* name;
    TBiffBuilder stream;
    bool bare;
    std::int32_t want;
  };
  std::vector<Case> cases;
  const auto add = [&cases](const char* name, std::uint16_t bofId, const TBytes& bof, bool bare,
                            std::int32_t want) {
    Case c{name, {}, bare, want};
    c.stream.Record(bofId, bof);
    c.stream.Record(0x0203, test::NumberBody(0, 0, 1));
    c.stream.Record(0x000A, {});
    cases.push_back(std::move(c));
  };
  add("BIFF3 workspace", 0x0209, test::Bof4Body(0x0100), false, kResultBadFormat);
  add("BIFF4 macro sheet", 0x0409, test::Bof4Body(0x0040), false, kResultBadFormat);
  add("BIFF2 chart", 0x0009, TBodyWriter().U16(2).U16(0x0020), false, kResultBadFormat);
  add("bare BIFF8 globals without sheets", 0x0809, test::BofBody(0x0005), true, kResultBadFormat);
  add("bare BIFF5 workspace", 0x0809, test::BofBody(0x0100, 0x0500), true, kResultBadFormat);
  add("BIFF8 globals without sheets in a compound file", 0x0809, test::BofBody(0x0005), false, 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string text;
    EXPECT_EQ(ExtractWorkbookText(c.stream.Stream(), text, c.bare), c.want);
    EXPECT_EQ(text, "");
  }
}

} // namespace
} // namespace scv::spreadsheet
