// The all-text mode of workbooks: the layout of a sheet, cell values through their formats,
// the workbook part's order and relationships, hostile parts, and the workbook the office suite
// wrote in both formats from one source.
#include "ooxml/WorkbookAllText.h"

#include "ooxml/OfficeXCvt.h"
#include "platform/FileIo.h"
#include "spreadsheet/KvXlsCvt.h"
#include "support/ProcessRunner.h"
#include "support/TestPaths.h"
#include "support/TextWords.h"
#include "support/ZipBuilder.h"
#include "xml/XMLTree.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace scv::ooxml {
namespace {

// The mode on for one scope.
class TAllTextOn {
public:
  TAllTextOn() { SetOfficeXAllText(true); }
  ~TAllTextOn() { SetOfficeXAllText(false); }
  TAllTextOn(const TAllTextOn&) = delete;
  TAllTextOn& operator=(const TAllTextOn&) = delete;
};

using TEntries = std::vector<std::pair<std::string, std::string>>;

const std::string kBom = "\xEF\xBB\xBF";

// Converts a package built from the entries; the code and the text without its mark.
std::pair<std::int32_t, std::string> Convert(const TEntries& entries, bool allText = true) {
  test::TZipBuilder zip;
  for (const auto& [name, data] : entries) {
    zip.Add(name, data, 8);
  }
  test::TTempDir dir;
  const std::string path = dir.Write("book.xlsx", zip.Build());
  TConversionResult result;
  std::int32_t code = 0;
  {
    SetOfficeXAllText(allText);
    code = XlsxToText(platform::ArgumentToWide(path), 0, result, 65001);
    SetOfficeXAllText(false);
  }
  std::string text;
  if (code > 0) {
    text.assign(reinterpret_cast<const char*>(result.Data()), static_cast<std::size_t>(code));
    if (text.starts_with(kBom)) {
      text.erase(0, kBom.size());
    }
  }
  return {code, text};
}

std::string Workbook(const std::string& sheets, const std::string& pr = "") {
  return "<workbook xmlns:r=\"rels\">" + pr + "<sheets>" + sheets + "</sheets></workbook>";
}
std::string Rels(const std::string& items) {
  return "<Relationships>" + items + "</Relationships>";
}
std::string SheetRel(const std::string& id, const std::string& target,
                     const std::string& type = "worksheet") {
  return "<Relationship Id=\"" + id + "\" Type=\"http://x/relationships/" + type + "\" Target=\"" +
         target + "\"/>";
}
std::string Rows(const std::string& rows) {
  return "<worksheet><sheetData>" + rows + "</sheetData></worksheet>";
}

// One sheet "S" holding the rows, with the styles and shared strings given.
TEntries OneSheet(const std::string& rows, const std::string& styles = "",
                  const std::string& shared = "", const std::string& pr = "") {
  TEntries e = {{"xl/workbook.xml", Workbook("<sheet name=\"S\" r:id=\"r1\"/>", pr)},
                {"xl/_rels/workbook.xml.rels", Rels(SheetRel("r1", "worksheets/a.xml"))},
                {"xl/worksheets/a.xml", Rows(rows)}};
  if (!styles.empty()) {
    e.emplace_back("xl/styles.xml", styles);
  }
  if (!shared.empty()) {
    e.emplace_back("xl/sharedStrings.xml", shared);
  }
  return e;
}

std::string Styles(const std::string& numFmts, const std::string& xfs) {
  return "<styleSheet><numFmts>" + numFmts + "</numFmts><cellXfs>" + xfs +
         "</cellXfs></styleSheet>";
}
std::string Fmt(const std::string& id, const std::string& code) {
  return "<numFmt numFmtId=\"" + id + "\" formatCode=\"" + code + "\"/>";
}
std::string Xf(const std::string& id) {
  return "<xf numFmtId=\"" + id + "\"/>";
}

TEST(WorkbookAllText, SheetLayout) {
  struct Case {
    const char* name;
    std::string rows;
    std::string want; // the sheet's rows
  } cases[] = {
      {"cells behind the TABs of their columns, none after the last",
       "<row r=\"1\"><c r=\"A1\"><v>1</v></c><c r=\"C1\"><v>3</v></c></row>", "1\t\t3\r\n"},
      {"a row without cells gives no line, whatever its number",
       "<row r=\"1\"><c r=\"A1\"><v>1</v></c></row><row r=\"2\"/><row r=\"9\">"
       "<c r=\"B9\"><v>2</v></c></row>",
       "1\r\n\t2\r\n"},
      {"formatted empty cells bring their TABs", "<row><c r=\"A1\"/><c r=\"C1\" s=\"0\"/></row>",
       "\t\t\r\n"},
      {"a cell without a reference is the one after the previous",
       "<row><c r=\"B1\"><v>1</v></c><c><v>2</v></c></row>", "\t1\t2\r\n"},
      {"a cell before the previous column comes straight after it",
       "<row><c r=\"C1\"><v>1</v></c><c r=\"A1\"><v>2</v></c></row>", "\t\t12\r\n"},
      {"rows in the order they come",
       "<row r=\"5\"><c><v>5</v></c></row><row r=\"2\"><c><v>2</v>"
       "</c></row>",
       "5\r\n2\r\n"},
      {"elements that are no rows or cells are passed over",
       "<x><c><v>1</v></c></x><row><y r=\"A1\"><v>2</v></y><c><v>3</v></c></row>", "3\r\n"},
      {"columns beyond the last a sheet has are left out",
       "<row><c r=\"XFD1\"><v>1</v></c><c r=\"XFE1\"><v>2</v></c><c><v>3</v></c></row>",
       std::string(16383, '\t') + "1\r\n"},
      {"a reference without letters counts as the next column",
       "<row><c r=\"B1\"><v>1</v></c><c r=\"77\"><v>2</v></c><c r=\"ABCD1\"><v>3</v></c></row>",
       "\t1\t2\t3\r\n"},
      {"prefixed names and a row that needs the general rules",
       "<x:row><x:c r=\"A1\"><x:v>1</x:v></x:c></x:row><row>\n<c r=\"B2\">\n<v>2</v></c></row>",
       "1\r\n\t2\r\n"},
      {"inline strings", "<row><c t=\"inlineStr\"><is><t>in</t><r><t>line</t></r></is></c></row>",
       "inline\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto [code, text] = Convert(OneSheet(c.rows));
    ASSERT_GT(code, 0);
    EXPECT_EQ(text, "S\r\n" + c.want + "\r\n");
    // Parts read in pieces of a few bytes: rows and cells cut anywhere.
    SetOfficeXPieceSize(7);
    const auto [pieceCode, pieceText] = Convert(OneSheet(c.rows));
    SetOfficeXPieceSize(std::size_t{1} << 20);
    EXPECT_EQ(pieceText, text);
    // The tree walk, which takes the shapes the streaming walk gives up on, lays out alike.
    const std::string markup = Rows(c.rows); // the tree keeps views into it
    xml::TXMLTree tree;
    xml::LoadXMLTree(markup, tree);
    const TSharedStrings shared;
    const spreadsheet::TStyleData style;
    EXPECT_EQ(AllTextSheetFromTree(tree, {shared, style, false}), c.want);
  }
}

TEST(WorkbookAllText, CellValues) {
  const std::string styles =
      Styles(Fmt("164", "yyyy\\-mm\\-dd") + Fmt("165", "0.0%") + Fmt("166", "# ?/?") +
                 Fmt("167", "&quot;EUR &quot;#,##0.00") + Fmt("168", "hh:mm") +
                 Fmt("4000000000", "0.000") + Fmt("169", std::string(2000, '0')),
             Xf("0") + Xf("164") + Xf("165") + Xf("166") + Xf("167") + Xf("168") + Xf("10") +
                 Xf("4000000000") + Xf("169") + Xf("99999"));
  const std::string shared = "<sst><si><t>zero</t></si><si><r><t>ri</t></r><r><t>ch</t></r></si>"
                             "</sst>";
  struct Case {
    const char* name;
    std::string cell; // attributes and content of one cell
    std::string want;
  } cases[] = {
      {"general number", "><v>1234.5</v>", "1234.5"},
      {"general keeps 15 digits", " s=\"0\"><v>0.1000000000000000055</v>", "0.1"},
      {"date", " s=\"1\"><v>45366</v>", "2024-03-15"},
      {"percentage", " s=\"2\"><v>0.125</v>", "12.5%"},
      {"fraction", " s=\"3\"><v>2.5</v>", "2 1/2"},
      {"literal and grouping", " s=\"4\"><v>98765.432</v>", "EUR 98,765.43"},
      {"time of day", " s=\"5\"><v>0.572916666666667</v>", "13:45"},
      {"built-in format", " s=\"6\"><v>0.5</v>", "50.00%"},
      {"a format number beyond the table takes a free place", " s=\"7\"><v>2</v>", "2.000"},
      {"a huge format code renders in general", " s=\"8\"><v>7</v>", "7"},
      {"a cell format whose number has no format is general", " s=\"9\"><v>7.5</v>", "7.5"},
      {"a style index beyond the list is general", " s=\"10\"><v>0.25</v>", "0.25"},
      {"a style index beyond 16 bits is general", " s=\"65537\"><v>0.25</v>", "0.25"},
      {"a style index that is no number is general", " s=\"x\"><v>0.25</v>", "0.25"},
      {"a date serial out of range: general", " s=\"1\"><v>1e300</v>", "1E300"},
      {"a negative date serial counts back", " s=\"1\"><v>-5</v>", "1899-12-25"},
      {"shared string", " t=\"s\"><v>1</v>", "rich"},
      {"shared string index out of range", " t=\"s\"><v>7</v>", ""},
      {"boolean", " t=\"b\"><v>1</v>", "TRUE"},
      {"boolean false", " t=\"b\" s=\"2\"><v>0</v>", "FALSE"},
      {"boolean that is no number, as stored", " t=\"b\"><v>yes</v>", "yes"},
      {"error as stored", " t=\"e\"><f>1/0</f><v>#DIV/0!</v>", "#DIV/0!"},
      {"text result of a formula, escapes decoded", " t=\"str\" s=\"2\"><f>A1</f><v>a_x0041_</v>",
       "aA"},
      {"cached number of a formula through its format", " s=\"2\"><f>A1/4</f><v>0.5</v>", "50.0%"},
      {"ISO date cell", " t=\"d\" s=\"1\"><v>2024-03-15T00:00:00</v>", "2024-03-15"},
      {"ISO time cell", " t=\"d\" s=\"5\"><v>13:45:00</v>", "13:45"},
      {"ISO date that is none, as stored", " t=\"d\"><v>2024-13-45</v>", "2024-13-45"},
      {"a number that is none, as stored", "><v>12abc</v>", "12abc"},
      {"not a number, as stored", "><v>nan</v>", "nan"},
      {"beyond the range of a double, as stored", "><v>1e999</v>", "1e999"},
      {"no value", " s=\"1\"/", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string rows = "<row><c r=\"A1\"" + c.cell + (c.cell.ends_with("/") ? ">" : "</c>") +
                             "<c r=\"B1\"><v>end</v></c></row>";
    const auto [code, text] = Convert(OneSheet(rows, styles, shared));
    ASSERT_GT(code, 0);
    EXPECT_EQ(text, "S\r\n" + c.want + "\tend\r\n\r\n");
  }
}

// Format codes, well-formed or not, show a value exactly as the 97-2003 renderer shows it
// through the same code.
TEST(WorkbookAllText, FormatsRenderAsInThe97Format) {
  const char* codes[] = {
      "0.00",
      "#,##0;[Red]-#,##0",
      "0%;-0%;\"zero\"",
      "# ?\?/??",
      "[h]:mm:ss",
      "dddd d mmmm yyyy",
      "[$-409]mmm d, yyyy",
      "\"unclosed",
      "[Red",
      ";;;",
      "0.0.0%%%",
      "@",
      "yyyy;@",
      "E+00",
      "[>=100]0;0.00",
      "\\\\\\",
      "0000000000000000000000000000000000000.0",
      "*",
  };
  const double values[] = {0, 1.5, -1234.5678, 0.001, 45366.75, 1e15, -1e-300};
  for (const char* code : codes) {
    SCOPED_TRACE(code);
    spreadsheet::TStyleData style;
    style.ClassifyFormat(164, code);
    style.AppendXF(164);
    std::string rows = "<row>";
    std::string want;
    for (const double& v : values) {
      char number[64];
      std::snprintf(number, sizeof number, "%.17g", v);
      rows += std::string("<c s=\"0\"><v>") + number + "</v></c>";
      want += (&v == values ? "" : "\t") + style.RenderNumber(v, 0);
    }
    rows += "</row>";
    std::string escaped;
    for (const char c : std::string(code)) {
      switch (c) {
      case '"':
        escaped += "&quot;";
        break;
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      default:
        escaped += c;
      }
    }
    const auto [result, text] = Convert(OneSheet(rows, Styles(Fmt("164", escaped), Xf("164"))));
    ASSERT_GT(result, 0);
    EXPECT_EQ(text, "S\r\n" + want + "\r\n\r\n");
  }
}

TEST(WorkbookAllText, DateSystems) {
  const std::string styles = Styles(Fmt("164", "yyyy\\-mm\\-dd"), Xf("164"));
  const std::string rows =
      "<row><c s=\"0\"><v>1</v></c><c s=\"0\" t=\"d\"><v>2024-03-15</v></c></row>";
  struct Case {
    const char* pr;
    const char* want;
  } cases[] = {
      {"", "1899-12-31\t2024-03-15"},
      {"<workbookPr date1904=\"false\"/>", "1899-12-31\t2024-03-15"},
      {"<workbookPr date1904=\"1\"/>", "1904-01-02\t2024-03-15"},
      {"<workbookPr date1904=\"true\"/>", "1904-01-02\t2024-03-15"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pr);
    const auto [code, text] = Convert(OneSheet(rows, styles, "", c.pr));
    ASSERT_GT(code, 0);
    EXPECT_EQ(text, std::string("S\r\n") + c.want + "\r\n\r\n");
  }
}

TEST(WorkbookAllText, SheetsInTheWorkbooksOrder) {
  const auto sheet = [](const std::string& v) {
    return Rows("<row><c><v>" + v + "</v></c></row>");
  };
  const std::string rels =
      Rels(SheetRel("a", "worksheets/sheet1.xml") + SheetRel("b", "/xl/worksheets/sheet2.xml") +
           SheetRel("c", "worksheets/../worksheets/sheet3.xml") +
           SheetRel("d", "charts/chart1.xml", "chartsheet") + SheetRel("e", "../../../etc/passwd") +
           SheetRel("f", "workbook.xml") + SheetRel("g", "worksheets/*.xml") +
           SheetRel("h", "worksheets/missing.xml"));
  const TEntries parts = {{"xl/worksheets/sheet1.xml", sheet("one")},
                          {"xl/worksheets/sheet2.xml", sheet("two")},
                          {"xl/worksheets/sheet3.xml", sheet("three")},
                          {"xl/charts/chart1.xml", sheet("chart")},
                          {"xl/_rels/workbook.xml.rels", rels}};
  struct Case {
    const char* name;
    std::string sheets;
    std::string want;
  } cases[] = {
      {"order of the workbook part, hidden sheets as any other, names with entities",
       "<sheet name=\"Third\" r:id=\"c\"/><sheet name=\"First &amp; more\" r:id=\"a\" "
       "state=\"hidden\"/><sheet name=\"Second\" x:id=\"b\" state=\"veryHidden\"/>",
       "Third\r\nthree\r\n\r\nFirst & more\r\none\r\n\r\nSecond\r\ntwo\r\n\r\n"},
      {"sheets without a worksheet part keep their names",
       "<sheet name=\"A\" r:id=\"a\"/><sheet name=\"Chart\" r:id=\"d\"/><sheet name=\"Out\" "
       "r:id=\"e\"/><sheet name=\"Self\" r:id=\"f\"/><sheet name=\"Wild\" r:id=\"g\"/><sheet "
       "name=\"Gone\" r:id=\"h\"/><sheet name=\"NoId\"/>",
       "A\r\none\r\n\r\nChart\r\n\r\nOut\r\n\r\nSelf\r\n\r\nWild\r\n\r\nGone\r\n\r\nNoId\r\n\r\n"},
      {"a part two sheets name is laid out once",
       "<sheet name=\"A\" r:id=\"a\"/><sheet name=\"Again\" r:id=\"a\"/>",
       "A\r\none\r\n\r\nAgain\r\n\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TEntries entries = parts;
    entries.emplace_back("xl/workbook.xml", Workbook(c.sheets));
    const auto [code, text] = Convert(entries);
    ASSERT_GT(code, 0);
    EXPECT_EQ(text, c.want);
  }
}

TEST(WorkbookAllText, PackagesWithoutAUsableWorkbookPart) {
  const auto sheet = [](const std::string& v) {
    return Rows("<row><c><v>" + v + "</v></c></row>");
  };
  struct Case {
    const char* name;
    TEntries entries;
    std::int32_t code; // 0: any byte count
    std::string want;
  } cases[] = {
      {"no workbook part: the worksheet parts by number, then by name",
       {{"xl/worksheets/sheet10.xml", sheet("ten")},
        {"xl/worksheets/other.xml", sheet("other")},
        {"xl/worksheets/sheet2.xml", sheet("two")}},
       0,
       "sheet1\r\ntwo\r\n\r\nsheet2\r\nten\r\n\r\nsheet3\r\nother\r\n\r\n"},
      {"a workbook part that is no XML",
       {{"xl/workbook.xml", "<workbook><sheets><sheet"}, {"xl/worksheets/sheet1.xml", sheet("1")}},
       0,
       "sheet1\r\n1\r\n\r\n"},
      {"a workbook part whose sheets have no part found",
       {{"xl/workbook.xml", Workbook("<sheet name=\"A\" r:id=\"x\"/>")},
        {"xl/_rels/workbook.xml.rels", Rels(SheetRel("x", "worksheets/none.xml"))},
        {"xl/worksheets/sheet1.xml", sheet("1")}},
       0,
       "sheet1\r\n1\r\n\r\n"},
      {"relationships that are no XML",
       {{"xl/workbook.xml", Workbook("<sheet name=\"A\" r:id=\"x\"/>")},
        {"xl/_rels/workbook.xml.rels", "<Relationships><"},
        {"xl/worksheets/sheet1.xml", sheet("1")}},
       0,
       "sheet1\r\n1\r\n\r\n"},
      {"styles that are no XML: general",
       {{"xl/styles.xml", "<styleSheet"}, {"xl/worksheets/sheet1.xml", sheet("0.5")}},
       0,
       "sheet1\r\n0.5\r\n\r\n"},
      {"no worksheet at all",
       {{"xl/workbook.xml", Workbook("<sheet name=\"A\" r:id=\"x\"/>")}},
       -5,
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto [code, text] = Convert(c.entries);
    if (c.code != 0) {
      EXPECT_EQ(code, c.code);
      continue;
    }
    ASSERT_GT(code, 0);
    EXPECT_EQ(text, c.want);
  }
}

TEST(WorkbookAllText, DefaultModeUnchanged) {
  // Without the mode: no names, no formats, the grid of the default text.
  const std::string styles = Styles(Fmt("164", "0.0%"), Xf("164"));
  const auto [code, text] = Convert(
      OneSheet("<row r=\"1\"><c r=\"B1\" s=\"0\"><v>0.5</v></c><c t=\"b\"><v>1</v></c></row>",
               styles),
      false);
  ASSERT_GT(code, 0);
  EXPECT_EQ(text, "sheet1:\r\n\t0.5\t1\r\n");
}

TEST(WorkbookAllText, ResolveTargets) {
  struct Case {
    const char* target;
    const char* want;
  } cases[] = {
      {"worksheets/sheet1.xml", "xl\\worksheets\\sheet1.xml"},
      {"/xl/worksheets/sheet1.xml", "xl\\worksheets\\sheet1.xml"},
      {"./worksheets//sheet1.xml", "xl\\worksheets\\sheet1.xml"},
      {"../other/s.xml", "other\\s.xml"},
      {"../../s.xml", ""},
      {"/../s.xml", ""},
      {"worksheets/", ""},
      {"", ""},
      {"a\\b.xml", ""},
      {"worksheets/s?.xml", ""},
      {"c:/x.xml", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target);
    EXPECT_EQ(ResolveWorkbookTarget(c.target), c.want);
  }
}

using test::Words;

// The office suite's workbook of one source (tests/fixtures/all-text/workbook.fods) as .xls
// and .xlsx: the all-text mode of the .xlsx gives the words of the .xls in the same order.
TEST(WorkbookAllText, SameWordsAsTheWorkbookOf97) {
  const std::string dir = test::SourceDir() + "/tests/fixtures/all-text/";
  TConversionResult xlsResult;
  const std::int32_t xlsCode = spreadsheet::ExtractSpreadsheet(
      platform::ArgumentToWide(dir + "workbook.xls"), 0, xlsResult, 65001);
  ASSERT_GT(xlsCode, 0);
  const std::string xls(reinterpret_cast<const char*>(xlsResult.Data()),
                        static_cast<std::size_t>(xlsCode));
  TConversionResult xlsxResult;
  std::int32_t xlsxCode = 0;
  {
    const TAllTextOn on;
    xlsxCode = XlsxToText(platform::ArgumentToWide(dir + "workbook.xlsx"), 0, xlsxResult, 65001);
  }
  ASSERT_GT(xlsxCode, 0);
  const std::string xlsx(reinterpret_cast<const char*>(xlsxResult.Data()),
                         static_cast<std::size_t>(xlsxCode));
  std::vector<std::string> want = Words(xls);
  const std::vector<std::string> got = Words(xlsx);
  // The suite's 97-2003 filter stores a formula's text result as the number 0 (no STRING
  // record follows the FORMULA record); the .xlsx keeps the text.
  const auto zero = std::find(want.begin(), want.end(), "#DIV/0!");
  ASSERT_NE(zero, want.end());
  ASSERT_EQ(*(zero + 1), "0");
  *(zero + 1) = "Apples";
  want.insert(zero + 2, {"and", "Pears"});
  EXPECT_EQ(got, want);
  // The layout is the same to the byte.
  EXPECT_NE(xlsx.find("\r\nTotal\t13:45\t100015.932\t#DIV/0!\tApples and Pears\t1.23E-04\r\n"),
            std::string::npos);
  EXPECT_NE(xls.find("\r\nTotal\t13:45\t100015.932\t#DIV/0!\t0\t1.23E-04\r\n"), std::string::npos);
}

} // namespace
} // namespace scv::ooxml
