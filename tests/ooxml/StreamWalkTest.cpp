// The streaming walkers against the tree walk: for handmade quirks, generated documents and
// every part of the real packages, both give the same text (or both fail).
#include "bytes/FormatError.h"
#include "bytes/MemoryStream.h"
#include "ooxml/OfficeXCvt.h"
#include "ooxml/WalkSupport.h"
#include "platform/FileIo.h"
#include "support/TestPaths.h"
#include "xml/XMLParser.h"
#include "zip/ZipReader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace scv::ooxml {
namespace {

// A walk's result: its text, or a mark that it failed.
template <typename Walk> std::string Outcome(Walk walk) {
  try {
    return walk();
  } catch (const bytes::EFormatError& e) {
    return std::string("<failed: ") + e.what() + ">";
  }
}

std::string Joined(const TSharedStrings& strings) {
  std::string out;
  for (std::size_t i = 0; i < strings.Count(); ++i) {
    out.append(strings.At(i)).append("|");
  }
  return out;
}

// The streaming walks over the bytes as they stand (piece size 0) or read in pieces of a size
// through the tokenizer's window, against the tree walks: whole, in single bytes and in
// odd-sized pieces, so that pieces end inside tags, texts, entities, line-end pairs and
// plain rows.
void ExpectAllWalksAgree(std::string_view xml,
                         std::initializer_list<std::size_t> pieceSizes = {0, 1, 13}) {
  SCOPED_TRACE(std::string(xml.substr(0, 400)));
  TSharedStrings shared;
  shared.Add("zero");
  shared.Add("one");
  shared.Add("");
  xml::TXMLTree tree;
  const auto fromTree = [&](auto text, std::string_view preserving = {}) {
    return Outcome([&] {
      xml::LoadXMLTree(xml, tree, std::numeric_limits<std::size_t>::max(), preserving);
      return text(tree);
    });
  };
  const std::string sheet =
      fromTree([&](const xml::TXMLTree& t) { return SheetPartText(t, shared); });
  const std::string word = fromTree([](const xml::TXMLTree& t) { return WordPartText(t); });
  // Slides read their runs' spaces as preserved.
  const std::string slide =
      fromTree([](const xml::TXMLTree& t) { return SlidePartText(t); }, "a:t");
  xml::LoadXMLTree(xml, tree);
  TSharedStrings treeStrings;
  SharedStringsFromTree(tree, treeStrings);
  const std::string strings = Joined(treeStrings);
  for (const std::size_t piece : pieceSizes) {
    SCOPED_TRACE("piece size " + std::to_string(piece));
    xml::TXMLTree spare;
    EXPECT_EQ(Outcome([&] { return SheetXmlText(xml, shared, spare, piece); }), sheet);
    EXPECT_EQ(Outcome([&] { return WordXmlText(xml, spare, piece); }), word);
    EXPECT_EQ(Outcome([&] { return SlideXmlText(xml, spare, piece); }), slide);
    TSharedStrings streamed;
    SharedStringsXml(xml, streamed, spare, piece);
    EXPECT_EQ(Joined(streamed), strings);
  }
}

constexpr std::string_view kHead = R"(<?xml version="1.0"?><worksheet><dimension ref="A1:D9"/>)";

TEST(StreamWalkTest, HandmadeShapesReadAsTheTreeReadsThem) {
  const std::vector<std::string> cases = {
      // Plain rows, shared strings, gaps, an empty row, empty-element cells and rows.
      std::string(kHead) + R"(<sheetData><row r="1"><c r="A1" t="s"><v>1</v></c>)"
                           R"(<c r="C1"><v>2.5</v></c></row><row r="3"><c r="B3"/></row>)"
                           R"(<row r="4"/><row r="5"><c r="D5" t="s"><v>0</v></c></row>)"
                           R"(</sheetData></worksheet>)",
      // Formulas and inline strings beside the value; a second "v"; entities in values.
      std::string(kHead) + R"(<sheetData><row r="2"><c r="A2"><f>SUM(A1:A2)</f><v>3</v>)"
                           R"(<v>4</v></c><c r="B2" t="str"><v>a &amp;lt; b</v></c></row>)"
                           R"(</sheetData></worksheet>)",
      // Pretty-printed, with line ends, a comment and xml:space inside a row.
      std::string(kHead) + "<sheetData>\r\n  <row r=\"1\">\r\n    <c r=\"A1\"><v> x </v></c>\n"
                           "<!-- note --><c r=\"B1\" xml:space=\"preserve\"><v> y </v></c>"
                           "</row>\n</sheetData></worksheet>",
      // Rows out of order, beyond the grid, without numbers; cells out of order.
      std::string(kHead) + R"(<sheetData><row><c r="A1"><v>skipped</v></c></row>)"
                           R"(<row r="2"><c r="B2"><v>b</v></c><c r="A2"><v>a</v></c></row>)"
                           R"(<row r="1"><c r="A1"><v>late</v></c></row></sheetData></worksheet>)",
      // The dimension after the sheet data, with and without a reference; none at all.
      // NOLINTNEXTLINE(bugprone-suspicious-missing-comma): one document over two lines
      R"(<worksheet><sheetData><row r="1"><c r="A1"><v>v</v></c></row></sheetData>)"
      R"(<dimension ref="B2"/></worksheet>)",
      R"(<worksheet><sheetData><row r="1"><c r="A1"><v>v</v></c></row></sheetData>)"
      R"(<dimension/></worksheet>)",
      R"(<worksheet><sheetData><row r="1"><c r="A1"><v>v</v></c></row></sheetData></worksheet>)",
      // Attribute quirks: unquoted, repeated, empty, two spaces, a value of "".
      std::string(kHead) + R"(<sheetData><row r=1><c r="A1" r="B1"><v>1</v></c>)"
                           R"(<c  r="B1"><v>2</v></c><c r="" t=""><v>3</v></c>)"
                           R"(<c r="C1" t="s" s=""><v>0</v></c></row></sheetData></worksheet>)",
      // A row number that is no number, and a dimension to the last cell of a sheet.
      std::string(kHead) + R"(<sheetData><row r="x"><c r="A1"><v>1</v></c></row></sheetData>)"
                           R"(</worksheet>)",
      R"(<worksheet><dimension ref="A1:XFD1048576"/><sheetData><row r="1048576">)"
      R"(<c r="XFD1048576"><v>corner</v></c></row></sheetData></worksheet>)",
      // Blank names renamed by the next start tag, at the root and below it.
      R"(< a><dimension ref="A2"/><sheetData><row r="1">< ><c r="A1"><v>1</v></c></row>)"
      R"(</sheetData></ a>)",
      R"(<  ><w:p><w:t>x</w:t></w:p><w:t>y</w:t>)",
      std::string(kHead) + R"(<sheetData>< r="1"><row r="2"><c r="A2"><v>x</v></c></row>)"
                           R"(<row r="3"><c r="B3"><v>y</v></c></row></sheetData></worksheet>)",
      std::string(kHead) + R"(<sheetData>< r="1"><x r="1"><v>q</v></x><y r="B1"><v>w</v></y>)"
                           R"(</ ></sheetData></worksheet>)",
      std::string(kHead) + R"(<sheetData>< r="1"><x r="1"><v>q</v></x><y r="B1"><v>w</v></y>)"
                           R"(</ ><row r="2"><c r="A2"><v>z</v></c></row></sheetData></worksheet>)",
      std::string(kHead) + R"(<sheetData>< r="x"><e/><row r="1"><c r="A1"><v>1</v></c></row>)"
                           R"(</sheetData></worksheet>)",
      // Word: runs, breaks, tabs with and without attributes, hyphens, preserved spaces.
      R"(<w:document><w:body><w:p><w:r><w:t xml:space="preserve"> a </w:t><w:tab/>)"
      R"(<w:tab w:val="x"/><w:br/><w:noBreakHyphen/><w:t>b&amp;amp;c</w:t></w:r></w:p>)"
      R"(<w:p/></w:body></w:document>)",
      // A run whose children write text, and a root that is itself a run.
      R"(<w:body><w:t>before<w:br/>after</w:t></w:body>)",
      R"(<w:t>root text<w:tab/></w:t>)",
      R"(<w:br/><w:t>named late</w:t>)",
      // Texts joined across children (with entities decoded again on every join).
      R"(<a:p><a:t>one<x/>two &amp;amp;lt;<y/>three</a:t></a:p>)",
      // Unclosed elements, a tag without '>', a zero byte, tokens after the root.
      R"(<sst><si><t>one</t></si><si><r><t>rich</t></r></si><si/><si><t>open)",
      std::string("<sst><si><t>a\0b</t></si></sst>", 30),
      R"(<sst><si><t>a</t></si></sst><si><t>after</t></si>)",
      std::string(kHead) + R"(<sheetData><row r="1"><c r="A1"><v>1</v)",
      // CDATA, comments holding ">", instructions and a document type.
      R"(<!DOCTYPE w [<!ENTITY x "]>">]><?pi a>b?><w:p><w:t><![CDATA[ a<b> ]]>)"
      R"(<!-- > --></w:t></w:p>)",
      std::string(kHead) + R"(<sheetData><row r="1"><c r="A1" t="str"><v><![CDATA[x_x0041_]]>)"
                           R"(</v></c><!-- <c r="B1"><v>no</v></c> --><c r="C1"><v>3</v></c>)"
                           R"(</row></sheetData></worksheet>)",
      // Slide runs keep their spaces; line breaks.
      R"(<a:p><a:r><a:t> lead </a:t></a:r><a:br/><a:r><a:t>	tab </a:t></a:r></a:p>)",
      // Inline and rich strings, phonetic runs, prefixes, numbers left out.
      std::string(kHead) +
          R"(<sheetData><row><c t="inlineStr"><is><t>a</t><r><t>b</t></r>)"
          R"(<rPh><t>p</t></rPh></is></c><c/><c t="inlineStr"><is/></c>)"
          R"(<c t="inlineStr"><is><r><t>c</t></r></is><is><t>2</t></is></c>)"
          R"(</row><x:row><x:c><x:v>x</x:v></x:c></x:row></sheetData></worksheet>)",
      R"(<sst><si><t>plain</t></si><si><r><t>r1</t></r><r><rPr/><t> r2</t></r></si>)"
      R"(<si><t>lead</t><r><t>run</t></r><rPh><t>ph</t></rPh></si><x:si><x:t>pre</x:t></x:si>)"
      R"(<si><rPh><t>only</t></rPh><t>after</t></si><si><u>other</u></si><si>_x0041_</si></sst>)",
      // Plain rows back to back, read in one go, until one needs the general rules: a cell
      // that keeps its spaces, a row out of order, a row with a blank name, an entity.
      std::string(kHead) + R"(<sheetData><row r="1"><c r="A1"><v>1</v></c></row><row r="2">)"
                           R"(<c r="A2" t="s"><v>1</v></c><c r="B2"/></row><row r="3"><c r="A3">)"
                           R"(<v>3</v></c><c r="B3" xml:space="preserve"><v> 3 </v></c></row>)"
                           R"(<row><c><v>4</v></c></row><row r="2"><c><v>late</v></c></row>)"
                           R"(<row r="9"><c r="A9"><v>9</v></c></row></sheetData></worksheet>)",
      std::string(kHead) + R"(<sheetData><row r="1"><c r="A1"><v>a&amp;b</v></c></row>)"
                           R"(<row r="2" spans="1:2"><c r="B2" t="str"><v>x_x0041_</v></c></row>)"
                           R"(<row r="3"/><row r="4"><c r="A4" r="B4"><v>dup</v></c></row>)"
                           R"(< r="5"><c r="A5"><v>5</v></c></ ><row r="6" T="s"><c T="S" R="C6">)"
                           R"(<v>0</v></c></row></sheetData></worksheet>)",
      // No dimension, a dimension after the rows beyond the sheet's limits.
      R"(<worksheet><sheetData><row r="2"><c r="B2"><v>1</v></c></row></sheetData></worksheet>)",
      R"(<worksheet><sheetData><row r="1"><c r="A1"><v>1</v></c><c r="XFE1"><v>2</v></c>)"
      R"(</row></sheetData><dimension ref="A1:XFE1"/></worksheet>)",
  };
  for (const std::string& xml : cases) {
    ExpectAllWalksAgree(xml);
  }
}

TEST(StreamWalkTest, TheStreamingResultsAreTheDocumentedTexts) {
  TSharedStrings shared;
  shared.Add("zero");
  shared.Add("one");
  xml::TXMLTree tree;
  EXPECT_EQ(SheetXmlText(std::string(kHead) +
                             R"(<sheetData><row r="1"><c r="A1" t="s"><v>1</v></c>)"
                             R"(<c r="C1"><v>2.5</v></c></row><row r="3"><c r="B3" t="s">)"
                             R"(<v>0</v></c></row></sheetData></worksheet>)",
                         shared, tree),
            "one\t\t2.5\r\n\r\n\tzero\r\n");
  EXPECT_EQ(
      WordXmlText(R"(<w:body><w:p><w:t>a</w:t><w:tab/><w:t>b</w:t></w:p><w:p/></w:body>)", tree),
      "a\tb\r\n\r\n");
  EXPECT_EQ(SlideXmlText(R"(<p:sp><a:p><a:t>T</a:t></a:p></p:sp>)", tree), "T\r\n");
  EXPECT_EQ(tree.NodeCount(), 0u); // the fallback tree is left empty
}

// Documents from a small grammar of sheet, word and slide markup with the reader's quirks
// mixed in: white space and line ends between tokens, entities, xml:space, repeated and
// unquoted attributes, blank names, comments, empty elements, stray end tags, cut-off ends.
class TGenerator {
public:
  explicit TGenerator(unsigned seed) : rng_(seed) {}

  std::string Document() {
    out_.clear();
    if (Chance(10)) {
      out_ += "<?xml version=\"1.0\"?>";
    }
    if (Chance(5)) {
      out_ += Pick({"<!DOCTYPE x [<!ENTITY a \">\">]>", "<?pi x>y?>"});
    }
    Open(Pick({"worksheet", "w:document", "sst", " ", "p:sld", "x:worksheet"}));
    if (Chance(70)) {
      Empty("dimension", Pick({"ref=\"A1:E20\"", "ref=\"C3\"", "ref=\"B2\" ", "", "ref=\"A1:A1\"",
                               "ref=\"E5:\"", "Ref=\"D9\""}));
    }
    Element(0);
    const int rows = Number(12);
    if (Chance(80)) {
      Open("sheetData");
      for (int r = 0; r < rows; ++r) {
        Row(r);
      }
      Close();
    }
    if (Chance(15)) {
      Empty("dimension", "ref=\"A1:C4\"");
    }
    const int more = Number(6);
    for (int i = 0; i < more; ++i) {
      Element(1);
    }
    if (!Chance(10)) {
      Close();
    }
    if (Chance(10)) {
      out_ += Pick({"<w:t>after</w:t>", "trailing", "<x", std::string("\0<y/>", 5)});
    }
    return out_;
  }

private:
  bool Chance(int percent) { return static_cast<int>(rng_() % 100) < percent; }
  int Number(int below) { return static_cast<int>(rng_() % static_cast<unsigned>(below)); }
  std::string Pick(std::initializer_list<std::string> options) {
    auto it = options.begin();
    std::advance(it, Number(static_cast<int>(options.size())));
    return *it;
  }
  void Gap() {
    if (Chance(8)) {
      out_ += Pick({" ", "\r\n", "\n\r", "\n  ", "\t", "<!-- c -->", "<!-- a > b -->", "<?pi ?>",
                    "<![CDATA[ d ]]>"});
    }
  }
  std::string Attrs(std::string base) {
    if (Chance(10)) {
      base += Pick({" xml:space=\"preserve\"", " XML:SPACE=preserve", " s=\"\"", " t=\"s\" t=\"n\"",
                    "  s=\"1\"", " w:val=\"&amp;\"", " a=\"x y\"", " b", " c=\"\r\n\""});
    }
    return base;
  }
  void Open(const std::string& name, const std::string& attrs = "") {
    Gap();
    out_ += "<" + name + (attrs.empty() ? "" : " " + attrs) + ">";
    open_.push_back(name);
  }
  void Empty(const std::string& name, const std::string& attrs = "") {
    Gap();
    out_ += "<" + name + (attrs.empty() ? "" : " " + attrs) + "/>";
  }
  void Close() {
    Gap();
    out_ += "</" + (open_.empty() ? std::string("x") : open_.back()) + ">";
    if (!open_.empty()) {
      open_.pop_back();
    }
  }
  void Text() {
    Gap();
    out_ += Pick({"0", "1", "2", "7", "abc", " spaced ", "a &amp; b", "&amp;lt;", "x<br/>y",
                  "line\r\nend", "&lt;&gt;", "\xC3\xA9t\xC3\xA9", "3.25", "-4", "$1F", " ",
                  "&apos;q&#65;&#x42;", "_x0041__x000D_", "<![CDATA[<c>&amp;]]>"});
  }
  void Cell(int row) {
    const std::string ref =
        Pick({"A", "B", "C", "D", "E", "F", "AA", ""}) + std::to_string(row + Number(2));
    std::string attrs = Chance(85) ? "r=\"" + ref + "\"" : "";
    if (Chance(40)) {
      attrs += Pick({" t=\"s\"", " t=\"inlineStr\""});
    }
    if (Chance(30)) {
      attrs += " s=\"" + std::to_string(Number(4)) + "\"";
    }
    attrs = Attrs(attrs);
    if (Chance(10)) {
      Empty("c", attrs);
      return;
    }
    Open(Chance(5) ? Pick({" ", "is", "C", "x:c"}) : "c", attrs);
    const int children = 1 + Number(3);
    for (int i = 0; i < children; ++i) {
      const std::string name = Pick({"v", "v", "v", "f", "is", "V", " ", "x:v"});
      if (name == "is" && Chance(50)) {
        InlineString();
        continue;
      }
      if (Chance(10)) {
        Empty(name);
        continue;
      }
      Open(name, Attrs(""));
      if (Chance(90)) {
        Text();
      }
      if (Chance(5)) {
        Element(2);
        Text();
      }
      Close();
    }
    if (!Chance(3)) {
      Close();
    }
  }
  // An inline string: texts, runs and phonetic runs.
  void InlineString() {
    Open("is");
    const int parts = 1 + Number(3);
    for (int i = 0; i < parts; ++i) {
      const std::string name = Pick({"t", "r", "rPh", "x:t"});
      Open(name, Attrs(""));
      if (name == "r" || name == "rPh") {
        Open(Pick({"t", "rPr", "x:t"}));
        Text();
        Close();
      } else {
        Text();
      }
      Close();
    }
    Close();
  }
  void Row(int r) {
    std::string attrs = Chance(90)   ? "r=\"" + std::to_string(r + 1 + Number(2) - 1) + "\""
                        : Chance(50) ? "r=\"x\""
                                     : "";
    if (Chance(30)) {
      attrs += " spans=\"1:5\" ht=\"12.8\" customFormat=\"false\"";
    }
    attrs = Attrs(attrs);
    if (Chance(8)) {
      Empty("row", attrs);
      return;
    }
    Open(Chance(4) ? " " : Pick({"row", "row", "row", "x:row"}), attrs);
    const int cells = Number(6);
    for (int c = 0; c < cells; ++c) {
      Cell(r + 1);
    }
    if (Chance(5)) {
      Text();
    }
    Close();
  }
  // Word, slide or shared-string markup, nested a little (at most 4 levels deep).
  void Element(int depth) { // NOLINT(misc-no-recursion): depth < 4 bounds it
    const std::string name =
        Pick({"w:p", "w:r", "w:t", "w:t", "a:p", "a:t", "si", "t", "w:br", "w:tab",
              "w:noBreakHyphen", "x", " ", "a:br", "r", "rPh", "x:si"});
    if (Chance(30)) {
      Empty(name, Attrs(""));
      return;
    }
    Open(name, Attrs(""));
    const int parts = Number(4);
    for (int i = 0; i < parts; ++i) {
      if (depth < 4 && Chance(50)) {
        Element(depth + 1);
      } else {
        Text();
      }
    }
    Close();
  }

  std::mt19937 rng_;
  std::string out_;
  std::vector<std::string> open_;
};

TEST(StreamWalkTest, GeneratedDocumentsReadAsTheTreeReadsThem) {
  for (unsigned seed = 1; seed <= 3000; ++seed) {
    TGenerator generator(seed);
    const std::string xml = generator.Document();
    SCOPED_TRACE(seed);
    if (seed % 5 == 0) {
      ExpectAllWalksAgree(xml, {0, 1, 13});
    } else {
      ExpectAllWalksAgree(xml, {0, 13});
    }
    if (HasFailure()) {
      return; // one document with its trace is enough to go on
    }
  }
}

// Every XML part of the real packages.
TEST(StreamWalkTest, RealPackagePartsReadAsTheTreeReadsThem) {
  std::size_t parts = 0;
  for (const char* type : {"docx", "xlsx", "pptx"}) {
    const std::filesystem::path dir = test::CorpusDir(type);
    if (!std::filesystem::is_directory(dir)) {
      continue;
    }
    for (const auto& file : std::filesystem::directory_iterator(dir)) {
      zip::TZipReader zip;
      zip.SetZipName(platform::ArgumentToWide(file.path().string()));
      try {
        zip.ReadZip();
      } catch (...) {
        continue;
      }
      for (std::size_t i = 0; i < zip.Count(); ++i) {
        const std::string name = zip.Entry(i).FullName();
        if (!name.ends_with(".xml")) {
          continue;
        }
        bytes::TMemoryStream stream;
        try {
          zip.UnZipToStream(stream, name);
        } catch (...) {
          continue;
        }
        SCOPED_TRACE(file.path().string() + ": " + name);
        ExpectAllWalksAgree(
            std::string_view(reinterpret_cast<const char*>(stream.Data()), stream.Size()),
            {0, 997});
        ++parts;
      }
    }
  }
  if (parts == 0) {
    GTEST_SKIP() << "no corpus";
  }
}

} // namespace
} // namespace scv::ooxml
