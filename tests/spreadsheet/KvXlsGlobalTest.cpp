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

} // namespace
} // namespace scv::spreadsheet
