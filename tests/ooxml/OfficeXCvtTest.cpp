// OOXML extraction: walkers, the worksheet grid, numbers and references, encodings, and the
// driver on archives built in the test.
#include "ooxml/OfficeXCvt.h"

#include "bytes/FormatError.h"
#include "bytes/MemoryStream.h"
#include "ooxml/SheetLayout.h"
#include "platform/FileIo.h"
#include "support/BitWriter.h"
#include "support/CfbBuilder.h"
#include "support/ProcessRunner.h"
#include "support/TestPaths.h"
#include "support/ZipBuilder.h"
#include "xml/XMLParser.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace scv::ooxml {
namespace {

std::string Word(std::string_view xml) {
  xml::TXMLTree tree;
  xml::LoadXMLTree(xml, tree);
  return WordPartText(tree);
}
std::string Slide(std::string_view xml) {
  xml::TXMLTree tree;
  xml::LoadXMLTree(xml, tree);
  return SlidePartText(tree);
}
TSharedStrings Shared(std::initializer_list<std::string_view> items) {
  TSharedStrings s;
  for (const auto item : items) {
    s.Add(item);
  }
  return s;
}
std::string Sheet(std::string_view xml, const TSharedStrings& shared = {}) {
  xml::TXMLTree tree;
  xml::LoadXMLTree(xml, tree);
  return SheetPartText(tree, shared);
}

TEST(OfficeXCvt, WordParts) {
  struct Case {
    const char* name;
    const char* xml;
    const char* want;
  } cases[] = {
      {"tab between runs",
       "<w:document><w:body><w:p><w:r><w:t>one</w:t></w:r><w:r><w:tab/><w:t>two</w:t></w:r>"
       "</w:p></w:body></w:document>",
       "one\ttwo\r\n"},
      {"tab with attributes, hyphen, page break",
       "<w:p><w:pPr><w:tabs><w:tab w:val=\"left\" w:pos=\"720\"/></w:tabs></w:pPr>"
       "<w:r><w:t>a</w:t><w:noBreakHyphen/><w:t>b</w:t><w:br w:type=\"page\"/><w:t>c</w:t>"
       "</w:r></w:p>",
       "a-b\r\nc\r\n"},
      {"deleted text and field codes are dropped",
       "<w:p><w:del><w:r><w:delText>gone</w:delText></w:r></w:del><w:r><w:instrText>PAGE"
       "</w:instrText></w:r><w:ins><w:r><w:t>new</w:t></w:r></w:ins></w:p>",
       "new\r\n"},
      {"names are exact", "<w:p><W:T>x</W:T><w:t>y</w:t></w:p>", "y\r\n"},
      {"spaces kept only when preserved",
       "<w:p><w:r><w:t>  a </w:t><w:t xml:space=\"preserve\"> b </w:t></w:r></w:p>", "a b \r\n"},
      {"table cells join directly",
       "<w:tbl><w:tr><w:tc><w:p><w:t>1</w:t></w:p></w:tc><w:tc><w:p><w:t>2</w:t></w:p></w:tc>"
       "</w:tr></w:tbl>",
       "1\r\n2\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Word(c.xml), c.want);
  }
  EXPECT_EQ(WordPartText(static_cast<const xml::TXMLItem*>(nullptr)), "");
}

TEST(OfficeXCvt, SlideParts) {
  EXPECT_EQ(Slide("<p:sld><p:sp><a:p><a:r><a:t>Title</a:t></a:r></a:p><a:p><a:r><a:t>one"
                  "</a:t></a:r><a:br/><a:r><a:t>two</a:t></a:r></a:p></p:sp></p:sld>"),
            "Title\r\none\r\ntwo\r\n");
  EXPECT_EQ(Slide("<p:sld/>"), "");
}

// Slide runs keep their spaces (as if xml:space="preserve" were set), tabs and line ends at
// their ends still go; a line break element is a line end in any DrawingML paragraph.
TEST(OfficeXCvt, SlideRunsKeepTheirSpaces) {
  const struct {
    const char* xml;
    const char* want;
  } cases[] = {
      {"<a:p><a:r><a:t>Rajiv </a:t></a:r><a:r><a:t>Kumar</a:t></a:r></a:p>", "Rajiv Kumar\r\n"},
      {"<a:p><a:r><a:t>  two  </a:t></a:r><a:r><a:t> x</a:t></a:r></a:p>", "  two   x\r\n"},
      {"<a:p><a:t>\r\n\tline </a:t></a:p>", "line \r\n"},
      {"<p:graphicFrame><a:tbl><a:tc><a:txBody><a:p><a:t>a</a:t><a:br/><a:t>b</a:t></a:p>"
       "</a:txBody></a:tc></a:tbl></p:graphicFrame>",
       "a\r\nb\r\n"},
      {"<a:p><a:br/></a:p>", "\r\n\r\n"},
      {"<w:p><w:t> word </w:t></w:p>", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.xml);
    xml::TXMLTree tree;
    EXPECT_EQ(SlideXmlText(c.xml, tree), c.want);
    EXPECT_EQ(SlideXmlText(c.xml, tree, 3), c.want);
  }
  // Word runs keep the exact rule: spaces only with xml:space="preserve".
  EXPECT_EQ(Word("<w:p><w:t> a </w:t></w:p>"), "a\r\n");
}

TEST(OfficeXCvt, SheetGrid) {
  const TSharedStrings shared = Shared({"a", "b", "", "d", "e"});
  struct Case {
    const char* name;
    const char* xml;
    const char* want;
  } cases[] = {
      {"shared string, gap, number; empty row 2 trimmed",
       "<worksheet><dimension ref=\"A1:C2\"/><sheetData><row r=\"1\"><c r=\"A1\" t=\"s\">"
       "<v>0</v></c><c r=\"C1\"><v>5</v></c></row></sheetData></worksheet>",
       "a\t\t5\r\n"},
      {"first row 3 gives two empty lines",
       "<worksheet><dimension ref=\"A1:A3\"/><sheetData><row r=\"3\"><c r=\"A3\"><v>x</v></c>"
       "</row></sheetData></worksheet>",
       "\r\n\r\nx\r\n"},
      {"no dimension and no sheet data", "<worksheet/>", ""},
      {"dimension without ref and no sheet data", "<worksheet><dimension x=\"A1\"/></worksheet>",
       ""},
      {"no dimension: the cells present",
       "<worksheet><sheetData><row r=\"2\"><c r=\"B2\">"
       "<v>1</v></c></row></sheetData></worksheet>",
       "\r\n\t1\r\n"},
      {"empty sheet data without a dimension", "<worksheet><sheetData/></worksheet>", "\r\n"},
      {"cells and rows beyond a too small dimension shown",
       "<worksheet><dimension ref=\"A1:B1\"/><sheetData><row r=\"1\"><c r=\"A1\"><v>1</v></c>"
       "<c r=\"B1\"><v>2</v></c><c r=\"C1\"><v>3</v></c></row><row r=\"3\"><c r=\"D3\">"
       "<v>4</v></c></row></sheetData></worksheet>",
       "1\t2\t3\r\n\r\n\t\t\t4\r\n"},
      {"dimension without ref",
       "<worksheet><dimension/><sheetData><row r=\"1\"><c r=\"A1\">"
       "<v>1</v></c></row></sheetData></worksheet>",
       "1\r\n"},
      {"beyond the sheet's largest row and column not shown",
       "<worksheet><sheetData><row r=\"1\"><c r=\"A1\"><v>1</v></c><c r=\"XFE1\"><v>2</v>"
       "</c></row><row r=\"1048577\"><c r=\"A1048577\"><v>3</v></c></row></sheetData>"
       "</worksheet>",
       "1\r\n"},
      {"shared index out of range, not a number, negative",
       "<worksheet><dimension ref=\"D1\"/><sheetData><row r=\"1\"><c r=\"A1\" t=\"s\"><v>7</v>"
       "</c><c r=\"B1\" t=\"s\"><v>x</v></c><c r=\"C1\" t=\"s\"><v>-1</v></c><c r=\"D1\" T=\"S\">"
       "<v>$4</v></c></row></sheetData></worksheet>",
       "\t\t\te\r\n"},
      {"inline strings show their text",
       "<worksheet><dimension ref=\"B1\"/><sheetData><row r=\"1\">"
       "<c r=\"A1\" t=\"inlineStr\"><is><t>x</t></is></c><c r=\"B1\"><v>2</v></c>"
       "<c r=\"C1\" t=\"inlineStr\"><is><t>a</t><r><rPr/><t xml:space=\"preserve\"> b</t></r>"
       "<rPh><t>no</t></rPh><r><t>c</t></r></is></c>"
       "<c r=\"D1\" t=\"inlineStr\"><v>7</v></c><c r=\"E1\" T=\"INLINESTR\"><is><t>e</t></is>"
       "</c><c r=\"F1\"><is><t>not inline</t></is></c></row></sheetData></worksheet>",
       "x\t2\ta bc\t7\te\r\n"},
      {"prefixed names",
       "<x:worksheet><x:dimension ref=\"A1\"/><x:sheetData><x:row r=\"1\">"
       "<x:c r=\"A1\" t=\"s\"><x:v>0</x:v></x:c><x:c r=\"B1\" t=\"inlineStr\"><x:is><x:t>i"
       "</x:t></x:is></x:c><x:c r=\"C1\"><x:v>3</x:v></x:c></x:row></x:sheetData></x:worksheet>",
       "a\ti\t3\r\n"},
      {"escapes in values and inline strings",
       "<worksheet><sheetData><row r=\"1\"><c r=\"A1\" t=\"str\"><v>ABC_x000D_DEF</v></c>"
       "<c r=\"B1\" t=\"inlineStr\"><is><t>_x005F_x0041_ _x0041_</t></is></c></row>"
       "</sheetData></worksheet>",
       "ABC\rDEF\t_x0041_ A\r\n"},
      {"dimension written by other tools",
       "<worksheet><dimension ref=\"B2\" /><sheetData>"
       "<row r=\"2\"><c r=\"B2\"><v>9</v></c></row></sheetData></worksheet>",
       "\r\n\t9\r\n"},
      {"row out of order ends the sheet",
       "<worksheet><dimension ref=\"A3\"/><sheetData><row r=\"2\"><c r=\"A2\"><v>2</v></c>"
       "</row><row r=\"1\"><c r=\"A1\"><v>1</v></c></row><row r=\"3\"><c r=\"A3\"><v>3</v></c>"
       "</row></sheetData></worksheet>",
       "\r\n2\r\n"},
      {"rows and cells without r follow the previous ones",
       "<worksheet><dimension ref=\"B2\"/><sheetData><row><c><v>a</v></c><c><v>b</v></c>"
       "<c r=\"D1\"><v>d</v></c><c><v>e</v></c></row><row><c r=\"B2\"><v>f</v></c></row>"
       "<row r=\"4\"><c><v>g</v></c></row><row><c><v>h</v></c></row></sheetData></worksheet>",
       "a\tb\t\td\te\r\n\tf\r\n\r\ng\r\nh\r\n"},
      {"elements other than rows and cells without r are passed over",
       "<worksheet><sheetData><x/><row><extLst/><c><v>1</v></c></row></sheetData></worksheet>",
       "1\r\n"},
      {"trailing empty values trimmed with their TABs",
       "<worksheet><dimension ref=\"C2\"/><sheetData><row r=\"1\"><c r=\"A1\"><v>1</v></c>"
       "<c r=\"C1\" t=\"s\"><v>2</v></c></row><row r=\"2\"><c r=\"B2\"><v>z</v></c></row>"
       "</sheetData></worksheet>",
       "1\r\n\tz\r\n"},
      {"value with its own line end at the end",
       "<worksheet><dimension ref=\"A1\"/><sheetData>"
       "<row r=\"1\"><c r=\"A1\"><v>a&lt;br/&gt;</v></c></row></sheetData></worksheet>",
       "a<br/>\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Sheet(c.xml, shared), c.want);
  }
}

// A shared-string item gives its "t" text and the "t" texts of its runs, phonetic runs left
// out; an item with neither gives its first child's text; escapes are decoded.
TEST(OfficeXCvt, SharedStringEntries) {
  const std::string sst =
      "<sst><si><t>plain</t></si><si><r><rPr><b/></rPr><t>bold</t></r><r><t xml:space="
      "\"preserve\"> and plain</t></r></si><si><t xml:space=\"preserve\">lead "
      "</t><r><t>run</t></r><rPh sb=\"0\">"
      "<t>phonetic</t></rPh><phoneticPr fontId=\"1\"/></si><x:si><x:r><x:t>pre</x:t></x:r>"
      "<x:t>fixed</x:t></x:si><si><rPh><t>p</t></rPh><t>after</t></si><si><u>first</u></si>"
      "<si/><si><t>A_x0042_C_x000a_D_xD83D__xDE00__x0000__xD800_</t></si></sst>";
  for (const std::size_t piece : {std::size_t{0}, std::size_t{5}}) {
    TSharedStrings strings;
    xml::TXMLTree tree;
    SharedStringsXml(sst, strings, tree, piece);
    ASSERT_EQ(strings.Count(), 8u);
    EXPECT_EQ(strings.At(0), "plain");
    EXPECT_EQ(strings.At(1), "bold and plain");
    EXPECT_EQ(strings.At(2), "lead run");
    EXPECT_EQ(strings.At(3), "prefixed");
    EXPECT_EQ(strings.At(4), "after");
    EXPECT_EQ(strings.At(5), "first");
    EXPECT_EQ(strings.At(6), "");
    EXPECT_EQ(strings.At(7), "ABC\nD\xF0\x9F\x98\x80_x0000__xD800_");
  }
}

TEST(OfficeXCvt, SheetEscapes) {
  const struct {
    const char* in;
    const char* want;
  } cases[] = {
      {"ABC_x000D_DEF", "ABC\rDEF"},
      {"_x005F_", "_"},
      {"_x005F_x0041_", "_x0041_"},
      {"_x00e9__x00E9_", "\xC3\xA9\xC3\xA9"},
      {"_xD83D__xDE00_", "\xF0\x9F\x98\x80"},
      {"_xDE00__xD83D_", "_xDE00__xD83D_"},
      {"_xD83D_x", "_xD83D_x"},
      {"_x0000_", "_x0000_"},
      {"_x41_ _x00411_ _X0041_ _x004G_", "_x41_ _x00411_ _X0041_ _x004G_"},
      {"__x0041_", "_A"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    std::string out;
    if (DecodeSheetEscapes(c.in, out)) {
      EXPECT_EQ(out, c.want);
    } else {
      EXPECT_EQ(std::string(c.in), c.want);
    }
  }
}

// The grid walked as literally as it is defined: every grid row and column, cursors that stay
// on a row or cell until it matches. The grid reaches the dimension's last cell or the last
// row and column present, whichever is further; a row or cell without a number is the one after
// the previous. Small sheets only.
std::string LiteralSheet(const xml::TXMLItem& root, const TSharedStrings& shared) {
  std::string text;
  std::int32_t lastRow = 0;
  std::int32_t lastCol = 0;
  const std::ptrdiff_t di = root.IndexOfName("dimension");
  if (di >= 0 && root.SubItems(static_cast<std::size_t>(di))->Params().IndexOfName("ref") >= 0) {
    std::string ref(root.SubItems(static_cast<std::size_t>(di))->Params().Value("ref"));
    if (const auto colon = ref.find(':'); colon != std::string::npos) {
      ref = ref.substr(colon + 1);
    }
    CellRefToRowCol(ref, lastRow, lastCol);
  }
  const std::ptrdiff_t si = root.IndexOfName("sheetData");
  const xml::TXMLItem* data = si < 0 ? nullptr : root.SubItems(static_cast<std::size_t>(si));
  if (data == nullptr && di < 0) {
    return text;
  }
  // Numbers of the rows and cells, given or implied.
  std::vector<std::int32_t> rowNumbers;
  std::vector<std::vector<std::int32_t>> colNumbers;
  std::int32_t previousRow = 0;
  for (std::size_t j = 0; data != nullptr && j < data->Count(); ++j) {
    const xml::TXMLItem* row = data->SubItems(j);
    std::int32_t n = previousRow + 1;
    if (row->Params().IndexOfName("r") >= 0 && !StrToInt32(row->Params().Value("r"), n)) {
      n = -1;
    }
    previousRow = n;
    rowNumbers.push_back(n);
    lastRow = std::max(lastRow, n);
    std::vector<std::int32_t> cols;
    std::int32_t previousCol = 0;
    for (std::size_t i = 0; i < row->Count(); ++i) {
      const xml::TXMLItem* cell = row->SubItems(i);
      std::int32_t cc = previousCol + 1;
      if (cell->Params().IndexOfName("r") >= 0) {
        std::int32_t cr = 0;
        CellRefToRowCol(cell->Params().Value("r"), cr, cc);
      }
      previousCol = cc;
      cols.push_back(cc);
      lastCol = std::max(lastCol, cc);
    }
    colNumbers.push_back(cols);
  }
  std::size_t j = 0;
  for (std::int32_t r = 1; r <= lastRow; ++r) {
    const xml::TXMLItem* row = data != nullptr && j < data->Count() ? data->SubItems(j) : nullptr;
    if (row != nullptr && rowNumbers[j] != r) {
      TrimTrailingTabs(text);
      text += "\r\n";
      continue;
    }
    if (row != nullptr) {
      std::size_t i = 0;
      for (std::int32_t k = 1; k <= lastCol; ++k) {
        if (i < row->Count()) {
          const xml::TXMLItem* cell = row->SubItems(i);
          if (colNumbers[j][i] == k) {
            for (std::size_t v = 0; v < cell->Count(); ++v) {
              if (cell->SubItems(v)->Name() == "v") {
                text += cell->Params().IndexOf("t=s") >= 0
                            ? std::string(SharedStringAt(shared, cell->SubItems(v)->Text()))
                            : cell->SubItems(v)->Text();
                break;
              }
            }
            ++i;
          }
        }
        text += '\t';
      }
      ++j;
    }
    TrimTrailingTabs(text);
    text += "\r\n";
  }
  TrimTrailingLineEnds(text);
  text += "\r\n";
  return text;
}

TEST(OfficeXCvt, SheetGridEqualsLiteralWalk) {
  std::mt19937 rng(3);
  const TSharedStrings shared = Shared({"s0", "", "s2\t", "\t"});
  const char* values[] = {"1", "", "x", "0", "2", "3", "\t"};
  for (int round = 0; round < 3000; ++round) {
    const int lastRow = static_cast<int>(rng() % 6);
    const int lastCol = static_cast<int>(rng() % 5);
    std::string xml = "<worksheet><dimension ref=\"A1:";
    xml += static_cast<char>('A' + (lastCol == 0 ? 0 : lastCol - 1));
    xml += std::to_string(lastRow) + "\"/><sheetData>";
    const int rows = static_cast<int>(rng() % 6);
    for (int r = 0; r < rows; ++r) {
      const bool withR = rng() % 8 != 0;
      xml += withR ? "<row r=\"" + std::to_string(1 + rng() % 7) + "\">" : "<row>";
      const int cells = static_cast<int>(rng() % 5);
      for (int c = 0; c < cells; ++c) {
        xml += "<c";
        if (rng() % 8 != 0) {
          xml += " r=\"";
          xml += static_cast<char>('A' + rng() % 6);
          xml += "1\"";
        }
        if (rng() % 3 == 0) {
          xml += " t=\"s\"";
        }
        xml += ">";
        if (rng() % 6 != 0) {
          xml += std::string("<v>") + values[rng() % std::size(values)] + "</v>";
        }
        xml += "</c>";
      }
      xml += "</row>";
    }
    xml += "</sheetData></worksheet>";
    xml::TXMLParser doc;
    bytes::TMemoryStream stream;
    stream.Write(xml.data(), xml.size());
    stream.SetPosition(0);
    doc.LoadFromStream(stream);
    const std::string literal = LiteralSheet(doc.RootItem(), shared);
    ASSERT_EQ(Sheet(xml, shared), literal) << xml;
    ASSERT_EQ(SheetPartText(&doc.RootItem(), shared), literal) << xml;
  }
}

TEST(OfficeXCvt, HugeDimensionCostsOnlyTheCellsPresent) {
  std::string xml = "<worksheet><dimension ref=\"A1:XFD1048576\"/><sheetData>";
  for (int r = 1; r <= 10; ++r) {
    xml += "<row r=\"" + std::to_string(r * 1000) + "\"><c r=\"C" + std::to_string(r * 1000) +
           "\"><v>" + std::to_string(r) + "</v></c></row>";
  }
  xml += "</sheetData></worksheet>";
  const auto start = std::chrono::steady_clock::now();
  const std::string text = Sheet(xml);
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 2.0);
  // One line end per grid row up to the last with text; "\t\t1" .. "\t\t9", "\t\t10".
  EXPECT_EQ(text.size(), 10000u * 2 + 9 * 3 + 4);
  EXPECT_TRUE(text.ends_with("\r\n\t\t10\r\n"));
}

TEST(OfficeXCvt, NumbersAndReferences) {
  struct IntCase {
    const char* text;
    bool ok;
    std::int32_t value;
  } ints[] = {
      {"12", true, 12},
      {"  7", true, 7},
      {"-3", true, -3},
      {"+4", true, 4},
      {"$1F", true, 31},
      {"0x10", true, 16},
      {"X10", true, 16},
      {"-$10", true, -16},
      {"$FFFFFFFF", true, -1},
      {"2147483647", true, 2147483647},
      {"-2147483648", true, INT32_MIN},
      {"2147483648", false, 0},
      {"7 ", false, 0},
      {"", false, 0},
      {"$", false, 0},
      {"1.5", false, 0},
      {"\t1", false, 0},
  };
  for (const IntCase& c : ints) {
    SCOPED_TRACE(c.text);
    std::int32_t v = 0;
    EXPECT_EQ(StrToInt32(c.text, v), c.ok);
    if (c.ok) {
      EXPECT_EQ(v, c.value);
    }
  }
  struct RefCase {
    const char* ref;
    std::int32_t row;
    std::int32_t col;
  } refs[] = {
      {"A1", 1, 1},
      {"Z9", 9, 26},
      {"AA1", 1, 27},
      {"AZ1", 1, 52},
      {"BA1", 1, 53},
      {"XFD1048576", 1048576, 16384},
      {"12", 0, 0},
      {"AB", 0, 0},
      {"", 0, 0},
      {"B2\" ", 2, 2},
      {"C 4x", 4, 3 * 26 - 32},
  };
  for (const RefCase& c : refs) {
    SCOPED_TRACE(c.ref);
    std::int32_t row = -1;
    std::int32_t col = -1;
    CellRefToRowCol(c.ref, row, col);
    EXPECT_EQ(row, c.row);
    EXPECT_EQ(col, c.col);
  }
  std::int32_t row = 0;
  std::int32_t col = 0;
  EXPECT_THROW(CellRefToRowCol("A99999999999", row, col), bytes::EFormatError);

  const TSharedStrings shared = Shared({"a", "b"});
  EXPECT_EQ(SharedStringAt(shared, "1"), "b");
  EXPECT_EQ(SharedStringAt(shared, " $1"), "b");
  EXPECT_EQ(SharedStringAt(shared, "2"), "");
  EXPECT_EQ(SharedStringAt(shared, "-1"), "");
  EXPECT_EQ(SharedStringAt(shared, "1x"), "");

  std::string t = "a\t\r\n\t\t";
  TrimTrailingTabs(t);
  EXPECT_EQ(t, "a\t\r\n");
  TrimTrailingLineEnds(t);
  EXPECT_EQ(t, "a\t");
}

TEST(OfficeXCvt, Encodings) {
  struct Case {
    const char* name;
    std::string text;
    std::int32_t codePage;
    bool ok;
    std::string want;
  } cases[] = {
      {"utf-8 passes unchanged", "a\xF0\x9F\x98\x80", 65001, true,
       "\xEF\xBB\xBF"
       "a\xF0\x9F\x98\x80"},
      {"utf-8 keeps broken bytes", "a\xC3", 65001, true,
       "\xEF\xBB\xBF"
       "a\xC3"},
      {"utf-16 with terminator", "a\xC3\xA9", 1200, true,
       std::string("\xFF\xFE"
                   "a\0\xE9\0\0\0",
                   8)},
      {"surrogate pair", "\xF0\x9F\x98\x80", 1200, true,
       std::string("\xFF\xFE\x3D\xD8\x00\xDE\0\0", 8)},
      {"1252 ends with two zero bytes", "a\xE2\x82\xAC", 1252, true, std::string("a\x80\0\0", 4)},
      {"missing continuation", "a\xC3", 1200, false, ""},
      {"wrong continuation", "\xE2\x82x", 1252, false, ""},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", 1200, false, ""},
      {"three-byte value keeps its low 16 bits", "\xED\xA0\x80", 1200, true,
       std::string("\xFF\xFE\x00\xD8\0\0", 6)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string out;
    EXPECT_EQ(EncodeOfficeXText(c.text, c.codePage, out), c.ok);
    if (c.ok) {
      EXPECT_EQ(out, c.want);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// The driver on archives

struct TRun {
  std::int32_t code;
  std::string bytes;
};

TRun Extract(const std::string& path, std::int32_t kind, std::int32_t codePage = 65001) {
  TConversionResult result;
  const std::u16string name = platform::ArgumentToWide(path);
  std::int32_t code = 0;
  switch (kind) {
  case kPackageDocument:
    code = DocxToText(name, 0, result, codePage);
    break;
  case kPackageWorkbook:
    code = XlsxToText(name, 0, result, codePage);
    break;
  default:
    code = PptxToText(name, 0, result, codePage);
  }
  TRun run{code, {}};
  if (code > 0) {
    run.bytes.assign(reinterpret_cast<const char*>(result.Data()), static_cast<std::size_t>(code));
  }
  return run;
}

std::string Zip(const std::vector<std::pair<std::string, std::string>>& entries) {
  test::TZipBuilder zip;
  for (const auto& [name, data] : entries) {
    zip.Add(name, data, 8);
  }
  return zip.Build();
}

const std::string kBom = "\xEF\xBB\xBF";
const std::string kDoc = "<w:document><w:body><w:p><w:r><w:t>Hello</w:t></w:r></w:p></w:body>"
                         "</w:document>";

std::string SheetXml(const std::string& ref, const std::string& cells) {
  return "<worksheet><dimension ref=\"" + ref + "\"/><sheetData><row r=\"1\">" + cells +
         "</row></sheetData></worksheet>";
}

TEST(OfficeXCvt, DriverResults) {
  test::TTempDir dir;
  const std::string utf16Part("<\0w\0:\0t\0>\0x\0<\0/\0w\0:\0t\0>\0", 20);
  struct Case {
    const char* name;
    std::string archive; // empty: no file written
    std::int32_t kind;
    std::int32_t codePage;
    std::int32_t code;
    std::string want;
  } cases[] = {
      {"document part", Zip({{"word/document.xml", kDoc}}), kPackageDocument, 65001, 0,
       kBom + "Hello\r\n"},
      {"second document name", Zip({{"Word/WordDocument.xml", kDoc}}), kPackageDocument, 65001, 0,
       kBom + "Hello\r\n"},
      {"no document part", Zip({{"word/other.xml", kDoc}}), kPackageDocument, 65001, -5, ""},
      {"lone line ends normalised", Zip({{"word/document.xml", "<w:t>a\nb\rc</w:t>"}}),
       kPackageDocument, 65001, 0, kBom + "a\r\nb\r\nc"},
      {"empty document part", Zip({{"word/document.xml", ""}}), kPackageDocument, 65001, 3, kBom},
      {"part stored as UTF-16 gives no text", Zip({{"word/document.xml", utf16Part}}),
       kPackageDocument, 65001, 3, kBom},
      {"plain text file", "just text", kPackageDocument, 65001, -5, ""},
      {"empty file", "\x01", kPackageWorkbook, 65001, -5, ""},
      {"sheets 1 and 3 in order",
       Zip({{"xl/worksheets/sheet3.xml", SheetXml("A1", "<c r=\"A1\"><v>3</v></c>")},
            {"xl/sharedStrings.xml", "<sst><si><t>a</t></si><si/><si><r><t>rich</t></r></si>"
                                     "<si><t>d</t></si></sst>"},
            {"filler", ""},
            {"xl/worksheets/sheet1.xml",
             SheetXml("D1", "<c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\" t=\"s\"><v>1</v></c>"
                            "<c r=\"C1\" t=\"s\"><v>2</v></c><c r=\"D1\" t=\"s\"><v>3</v></c>")}}),
       kPackageWorkbook, 65001, 0, kBom + "sheet1:\r\na\t\trich\td\r\nsheet3:\r\n3\r\n"},
      {"sheet numbered beyond the entry count is never read",
       Zip({{"xl/worksheets/sheet1.xml", SheetXml("A1", "<c r=\"A1\"><v>1</v></c>")},
            {"xl/worksheets/sheet7.xml", SheetXml("A1", "<c r=\"A1\"><v>7</v></c>")},
            {"a", ""},
            {"b", ""},
            {"c", ""}}),
       kPackageWorkbook, 65001, 0, kBom + "sheet1:\r\n1\r\n"},
      {"only numbers below the entry count are tried, then every worksheet part",
       Zip({{"xl/worksheets/sheet1.xml", SheetXml("A1", "<c r=\"A1\"><v>1</v></c>")}}),
       kPackageWorkbook, 65001, 0, kBom + "sheet1:\r\n1\r\n"},
      {"worksheets under other names, in name order",
       Zip({{"xl/worksheets/Zeta.XML", SheetXml("A1", "<c r=\"A1\"><v>z</v></c>")},
            {"xl/worksheets/_rels/a.xml", "<x/>"},
            {"xl/worksheets/alpha.xml", SheetXml("A1", "<c r=\"A1\"><v>a</v></c>")},
            {"xl/worksheets/beta.xml", ""},
            {"xl/worksheets/gamma.xml", SheetXml("A1", "<c r=\"A1\"><v>g</v></c>")},
            {"xl/worksheets/notes.txt", "<x/>"},
            {"xl/worksheet.xml", "<x/>"}}),
       kPackageWorkbook, 65001, 0, kBom + "sheet1:\r\na\r\nsheet3:\r\ng\r\nsheet4:\r\nz\r\n"},
      {"a numbered worksheet keeps other names unread",
       Zip({{"xl/worksheets/sheet1.xml", SheetXml("A1", "<c r=\"A1\"><v>1</v></c>")},
            {"xl/worksheets/other.xml", SheetXml("A1", "<c r=\"A1\"><v>2</v></c>")}}),
       kPackageWorkbook, 65001, 0, kBom + "sheet1:\r\n1\r\n"},
      {"no worksheet part at all", Zip({{"xl/worksheets/sheet.txt", "<x/>"}}), kPackageWorkbook,
       65001, -5, ""},
      {"password-protected package",
       test::TCfbBuilder::Make({{"EncryptionInfo", "info"}, {"EncryptedPackage", "data"}}),
       kPackageDocument, 65001, -11, ""},
      {"password-protected workbook", test::TCfbBuilder::Make({{"EncryptedPackage", "x"}}),
       kPackageWorkbook, 65001, -11, ""},
      {"other compound file", test::TCfbBuilder::Make({{"WordDocument", "x"}}), kPackageDocument,
       65001, -5, ""},
      {"compound file header only",
       std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(100, '\0'),
       kPackagePresentation, 65001, -5, ""},
      {"sheet 0 is tried", Zip({{"xl/worksheets/sheet0.xml", SheetXml("A1", "")}}),
       kPackageWorkbook, 65001, 0, kBom + "sheet0:\r\n\r\n"},
      {"empty sheet clears Missing but adds nothing",
       Zip({{"xl/worksheets/sheet1.xml", ""}, {"filler", ""}}), kPackageWorkbook, 65001, 3, kBom},
      {"no sheets", Zip({{"xl/workbook.xml", "<workbook/>"}}), kPackageWorkbook, 65001, -5, ""},
      {"row number that is none",
       Zip({{"xl/worksheets/sheet1.xml", "<worksheet><dimension ref=\"A1\"/><sheetData>"
                                         "<row r=\"x\"/></sheetData></worksheet>"}}),
       kPackageWorkbook, 65001, -5, ""},
      {"slides",
       Zip({{"ppt/slides/slide2.xml", "<p:sld><a:p><a:t>B</a:t></a:p></p:sld>"},
            {"filler", ""},
            {"ppt/slides/slide1.xml",
             "<p:sld><a:p><a:t>A</a:t></a:p><a:p><a:t>A2</a:t></a:p></p:sld>"}}),
       kPackagePresentation, 65001, 0, kBom + "slide1:\r\nA\r\nA2\r\nslide2:\r\nB\r\n"},
      {"no slides", Zip({{"ppt/presentation.xml", "<p/>"}}), kPackagePresentation, 65001, -5, ""},
      {"utf-16 output", Zip({{"word/document.xml", kDoc}}), kPackageDocument, 1200, 0,
       std::string("\xFF\xFEH\0e\0l\0l\0o\0\r\0\n\0\0\0", 18)},
      {"1252 output", Zip({{"word/document.xml", kDoc}}), kPackageDocument, 1252, 0,
       std::string("Hello\r\n\0\0", 9)},
      {"broken UTF-8 for 1252", Zip({{"word/document.xml", "<w:t>a\xC3</w:t>"}}), kPackageDocument,
       1252, -15, ""},
      {"broken UTF-8 passes for 65001", Zip({{"word/document.xml", "<w:t>a\xC3</w:t>"}}),
       kPackageDocument, 65001, 0, kBom + "a\xC3"},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.Write("f" + std::to_string(n++) + ".zip", c.archive);
    const TRun run = Extract(path, c.kind, c.codePage);
    const std::int32_t want = c.code == 0 ? static_cast<std::int32_t>(c.want.size()) : c.code;
    EXPECT_EQ(run.code, want);
    if (run.code > 0) {
      EXPECT_EQ(run.bytes, c.want);
    }
  }
  EXPECT_EQ(Extract(dir.File("missing.docx"), kPackageDocument).code, -2);
  EXPECT_EQ(Extract(dir.Path(), kPackageDocument).code, -2);
}

TEST(OfficeXCvt, DamagedEntries) {
  test::TTempDir dir;
  // A bad CRC makes the part absent, although its bytes reached the stream.
  test::TZipBuilder badCrc;
  badCrc.Add("word/document.xml", kDoc).crc = 1;
  EXPECT_EQ(Extract(dir.Write("crc.docx", badCrc.Build()), kPackageDocument).code, -5);
  // The first name fails its CRC, the second is extracted behind it into the same stream.
  test::TZipBuilder both;
  both.Add("word/document.xml", "<w:p><w:t>bad</w:t></w:p>").crc = 1;
  both.Add("word/wordDocument.xml", kDoc);
  EXPECT_EQ(Extract(dir.Write("both.docx", both.Build()), kPackageDocument).bytes,
            kBom + "bad\r\n");
  // A stored entry whose data ends early ends the extraction.
  test::TZipBuilder cut;
  cut.Add("word/document.xml", kDoc).statedCompressed = 5000;
  const std::int32_t code = Extract(dir.Write("cut.docx", cut.Build()), kPackageDocument).code;
  EXPECT_TRUE(code == -5 || code == -4) << code;
}

TEST(OfficeXCvt, SheetLayoutLimitFailsCleanly) {
  test::TTempDir dir;
  SetOfficeXTextLimit(1 << 20);
  const std::string path = dir.Write(
      "big.xlsx", Zip({{"xl/worksheets/sheet1.xml",
                        "<worksheet><dimension ref=\"A2000000\"/><sheetData><row r=\"1999999\">"
                        "<c r=\"A1999999\"><v>1</v></c></row></sheetData></worksheet>"},
                       {"filler", ""}}));
  EXPECT_EQ(Extract(path, kPackageWorkbook).code, -5);
  SetOfficeXTextLimit(kDefaultOfficeXTextLimit);
  EXPECT_EQ(Extract(path, kPackageWorkbook).code, 3 + 9 + 1999998 * 2 + 3);
}

// A part the streaming walk hands to the tree walk (here: its dimension comes after its rows)
// is read whole, up to a ceiling of 16 MB (or 16 bytes per archive byte); beyond it a part
// that is found fails the conversion, and one that is not found is passed over as ever.
TEST(OfficeXCvt, PartsReadWholeHaveACeiling) {
  test::TTempDir dir;
  // A dimension after the rows that would show a row left out: only the tree can tell.
  const std::string head = "<worksheet><sheetData><row r=\"1\"><c r=\"A1\"><v>5</v></c></row>"
                           "<row r=\"1048577\"/></sheetData><dimension ref=\"A1:A1048577\"/>";
  const std::string sheet2 = SheetXml("A1", "<c r=\"A1\"><v>2</v></c>");
  const auto package = [&](std::size_t filler, std::optional<std::uint32_t> crc) {
    test::TZipBuilder zip;
    test::TZipItem& item = zip.Add("xl/worksheets/sheet1.xml", "", 8);
    const std::string tail = "</worksheet>";
    const std::vector<std::uint8_t> packed = test::DeflateRepeat(head, "<x/>", filler, tail);
    item.payload = std::string(packed.begin(), packed.end());
    std::string xml = head;
    for (std::size_t i = 0; i < filler; ++i) {
      xml += "<x/>";
    }
    xml += tail;
    item.crc = crc.value_or(test::ReferenceCrc32(xml));
    item.statedSize = xml.size();
    zip.Add("xl/worksheets/sheet2.xml", sheet2, 8);
    zip.Add("filler", ""); // sheets are looked for by numbers below the entry count
    return zip.Build();
  };
  const std::size_t big = (std::size_t{17} << 20) / 4;
  EXPECT_EQ(Extract(dir.Write("small.xlsx", package(1000, {})), kPackageWorkbook).bytes,
            kBom + "sheet1:\r\n5\r\nsheet2:\r\n2\r\n");
  EXPECT_EQ(Extract(dir.Write("big.xlsx", package(big, {})), kPackageWorkbook).code, -5);
  EXPECT_EQ(Extract(dir.Write("bad.xlsx", package(big, 1)), kPackageWorkbook).bytes,
            kBom + "sheet2:\r\n2\r\n");
}

// A walk that fails (here: text beyond the limit) fails the conversion only for a part that
// is found; a part whose CRC fails is passed over before and after its walk alike.
TEST(OfficeXCvt, WalkFailuresOfPartsNotFoundAreIgnored) {
  test::TTempDir dir;
  SetOfficeXTextLimit(1 << 20);
  const std::string tall = "<worksheet><dimension ref=\"A2000000\"/><sheetData><row r=\"1999999\">"
                           "<c r=\"A1999999\"><v>1</v></c></row></sheetData></worksheet>";
  for (const bool found : {true, false}) {
    test::TZipBuilder zip;
    test::TZipItem& item = zip.Add("xl/worksheets/sheet1.xml", tall, 8);
    if (!found) {
      item.crc = 1;
    }
    zip.Add("xl/worksheets/sheet2.xml", SheetXml("A1", "<c r=\"A1\"><v>2</v></c>"), 8);
    zip.Add("filler", "");
    const TRun run = Extract(dir.Write("tall.xlsx", zip.Build()), kPackageWorkbook);
    if (found) {
      EXPECT_EQ(run.code, -5);
    } else {
      EXPECT_EQ(run.bytes, kBom + "sheet2:\r\n2\r\n");
    }
  }
  SetOfficeXTextLimit(kDefaultOfficeXTextLimit);
}

TEST(OfficeXCvt, FuzzRegressionsConvertOrFail) {
  // Inputs that once failed the whole-path fuzz target: each kind and code page must return
  // a byte count or one of the extractor's codes.
  const std::filesystem::path dir = test::SourceDir() + "/fuzz/regressions/ooxml";
  if (!std::filesystem::is_directory(dir)) {
    return;
  }
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    SCOPED_TRACE(entry.path().filename().string());
    for (const std::int32_t kind : {kPackageDocument, kPackageWorkbook, kPackagePresentation}) {
      for (const std::int32_t codePage : {65001, 1200, 1252}) {
        const std::int32_t code = Extract(entry.path().string(), kind, codePage).code;
        EXPECT_TRUE(code >= 0 || code == -2 || code == -4 || code == -5 || code == -15) << code;
      }
    }
  }
}

} // namespace
} // namespace scv::ooxml
