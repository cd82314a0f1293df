// Hostile document shapes for the resource-limit tests.
#include "support/ShapeBuilders.h"

#include "support/BiffBuilder.h"
#include "support/BitWriter.h"
#include "support/CfbBuilder.h"
#include "support/PdfBuilder.h"
#include "support/PptBuilder.h"
#include "support/ZipBuilder.h"

#include <cstdint>
#include <string>

namespace scv::test {
namespace {

std::string Repeat(const std::string& piece, std::size_t n) {
  std::string s;
  s.reserve(piece.size() * n);
  for (std::size_t i = 0; i < n; ++i) {
    s += piece;
  }
  return s;
}

std::string Str(const TBytes& b) {
  return {b.begin(), b.end()};
}

std::string U32s(std::uint32_t v) {
  std::string s(4, '\0');
  PutU32(s, 0, v);
  return s;
}

// ---- Compound files ----

// A Word document stream with a FIB that selects the piece table in "0Table" at offset 0.
std::string WordWithClx(const std::string& text, const std::string& clx) {
  std::string doc(0x400, '\0');
  PutU16(doc, 0, 0xA5EC);
  PutU16(doc, 2, 193);
  PutU32(doc, 418, 0);
  PutU32(doc, 422, static_cast<std::uint32_t>(clx.size()));
  doc += text;
  return TCfbBuilder::Make({{"WordDocument", doc}, {"0Table", clx}});
}

std::string PieceTable(const std::vector<std::uint32_t>& cps,
                       const std::vector<std::uint32_t>& fcs) {
  std::string plc;
  for (const auto cp : cps) {
    plc += U32s(cp);
  }
  for (const auto fc : fcs) {
    plc += std::string(2, '\0') + U32s(fc) + std::string(2, '\0');
  }
  return '\x02' + U32s(static_cast<std::uint32_t>(plc.size())) + plc;
}

// n pieces of one 8-bit character each.
std::string DocManyPieces(std::size_t n) {
  std::vector<std::uint32_t> cps;
  std::vector<std::uint32_t> fcs;
  for (std::uint32_t i = 0; i <= n; ++i) {
    cps.push_back(i);
    if (i < n) {
      fcs.push_back(0x40000000u | (0x400u + i) << 1);
    }
  }
  return WordWithClx(std::string(n, 'w'), PieceTable(cps, fcs));
}

// n empty property modifier blocks before a one-piece table.
std::string DocManyModifiers(std::size_t n) {
  const std::string clx =
      Repeat(std::string("\x01\x00\x00", 3), n) + PieceTable({0, 5}, {0x40000000u | 0x400u << 1});
  return WordWithClx("hello", clx);
}

// Header fields of a version 3 compound file.
constexpr std::size_t kCsectFat = 0x2C;
constexpr std::size_t kFirstDifat = 0x44;
constexpr std::size_t kCsectDifat = 0x48;

std::string CfbHugeSectorCounts(std::size_t) {
  std::string f = TCfbBuilder::Make({{"WordDocument", std::string(8192, 'x')}});
  PutU32(f, kCsectFat, 0xFFFFFFFF);
  PutU32(f, kFirstDifat, 0);
  PutU32(f, kCsectDifat, 0xFFFFFFFF);
  return f;
}

// A version 4 file whose stream states a size of nearly 2^63 bytes.
std::string CfbHugeStreamSize(std::size_t) {
  TCfbBuilder b(4);
  b.AddStream("WordDocument", std::string(8192, 'x'));
  std::string f = b.Build();
  const std::size_t entry = b.Layout().DirEntryOffset(b.Layout().streams.at("WordDocument").dirId);
  PutU32(f, entry + 0x78, 0xFFFFFFF0);
  PutU32(f, entry + 0x7C, 0x7FFFFFFF);
  return f;
}

// The stream's first sector is its own successor: a chain that never ends.
std::string CfbChainCycle(std::size_t) {
  TCfbBuilder b;
  b.AddStream("Workbook", std::string(16384, 'x'));
  std::string f = b.Build();
  const auto& chain = b.Layout().streams.at("Workbook").chain;
  PutU32(f, b.Layout().FatEntryOffset(chain[1]), chain[0]);
  return f;
}

// n streams whose directory tree is one long chain of right siblings, with the stream the
// extractor looks for at its far end.
std::string CfbSiblingChain(std::size_t n) {
  TCfbBuilder b;
  for (std::size_t i = 0; i < n; ++i) {
    b.AddStream("S" + std::to_string(i), "x");
  }
  b.AddStream("WordDocument", std::string(600, '\0'));
  std::string f = b.Build();
  const TCfbLayout& layout = b.Layout();
  std::vector<std::uint32_t> ids;
  for (std::size_t i = 0; i < n; ++i) {
    ids.push_back(layout.streams.at("S" + std::to_string(i)).dirId);
  }
  ids.push_back(layout.streams.at("WordDocument").dirId);
  PutU32(f, layout.DirEntryOffset(0) + 0x4C, ids[0]);
  for (std::size_t i = 0; i < ids.size(); ++i) {
    const std::size_t entry = layout.DirEntryOffset(ids[i]);
    PutU32(f, entry + 0x44, 0xFFFFFFFF);
    PutU32(f, entry + 0x48, i + 1 < ids.size() ? ids[i + 1] : 0xFFFFFFFF);
    PutU32(f, entry + 0x4C, 0xFFFFFFFF);
  }
  return f;
}

// ---- Workbooks ----

std::string Workbook(const TWorkbookPlan& plan) {
  return TCfbBuilder::Make({{"Workbook", Str(BuildWorkbookStream(plan))}});
}

TBiffSheet Sheet(const std::u16string& name) {
  TBiffSheet s;
  s.name = name;
  return s;
}

// A shared string table claiming four billion strings while holding one.
std::string XlsHugeSstCount(std::size_t) {
  TWorkbookPlan plan;
  TBodyWriter sst;
  sst.U32(0xFFFFFFFF).U32(0xFFFFFFFF).U16(1).U8(0).Latin1("a");
  plan.globalsExtra.Record(0x00FC, sst);
  TBiffSheet s = Sheet(u"S");
  s.records.Record(0x00FD, LabelSstBody(0, 0, 0));
  s.records.Record(0x00FD, LabelSstBody(1, 0, 0xFFFFFFF0));
  plan.sheets.push_back(std::move(s));
  return Workbook(plan);
}

// n empty records of an unknown type between the cells.
std::string XlsManyTinyRecords(std::size_t n) {
  TWorkbookPlan plan;
  TBiffSheet s = Sheet(u"S");
  s.records.Record(0x0203, NumberBody(0, 0, 1));
  for (std::size_t i = 0; i < n; ++i) {
    s.records.Record(0x0866, {});
  }
  s.records.Record(0x0203, NumberBody(1, 0, 2));
  plan.sheets.push_back(std::move(s));
  return Workbook(plan);
}

// n number cells over rows that wrap at the format's last row, eight columns wide.
std::string XlsManyCells(std::size_t n) {
  TWorkbookPlan plan;
  TBiffSheet s = Sheet(u"S");
  for (std::size_t i = 0; i < n; ++i) {
    s.records.Record(0x0203, NumberBody(static_cast<std::uint16_t>(i / 8 % 65536),
                                        static_cast<std::uint16_t>(i % 8), static_cast<double>(i)));
  }
  plan.sheets.push_back(std::move(s));
  return Workbook(plan);
}

// The far corner cell and dimensions stating the largest grid.
std::string XlsFarCell(std::size_t) {
  TWorkbookPlan plan;
  TBiffSheet s = Sheet(u"S");
  TBodyWriter dims;
  dims.U32(0).U32(0xFFFFFFFF).U16(0).U16(0xFFFF).U16(0);
  s.records.Record(0x0200, dims);
  s.records.Record(0x0203, NumberBody(0, 0, 1));
  s.records.Record(0x0203, NumberBody(65535, 255, 2));
  s.records.Record(0x00BE, MulBlankBody(65535, 0, 255));
  plan.sheets.push_back(std::move(s));
  return Workbook(plan);
}

// n sheets of one cell each.
std::string XlsManySheets(std::size_t n) {
  TWorkbookPlan plan;
  for (std::size_t i = 0; i < n; ++i) {
    TBiffSheet s = Sheet(u"S" + std::u16string(1, static_cast<char16_t>(u'A' + i % 26)));
    s.records.Record(0x0203, NumberBody(0, 0, static_cast<double>(i)));
    plan.sheets.push_back(std::move(s));
  }
  return Workbook(plan);
}

// ---- Presentations ----

std::string Deck(const std::vector<TBytes>& slideRecords) {
  TPptBuilder deck = SimpleDeck({}, {ppt::Slide(slideRecords)});
  return TCfbBuilder::Make(
      {{"PowerPoint Document", Str(deck.Stream())}, {"Current User", Str(deck.CurrentUser())}});
}

// Containers nested n deep around one text atom.
std::string PptDeepContainers(std::size_t n) {
  const TBytes atom = ppt::TextChars(u"deep");
  TBytes nested;
  nested.reserve(n * 8 + atom.size());
  for (std::size_t i = 0; i < n; ++i) {
    const auto len = static_cast<std::uint32_t>(8 * (n - 1 - i) + atom.size());
    const TBytes header = {0x0F,
                           0x00,
                           0x04,
                           0xF0,
                           static_cast<std::uint8_t>(len),
                           static_cast<std::uint8_t>(len >> 8),
                           static_cast<std::uint8_t>(len >> 16),
                           static_cast<std::uint8_t>(len >> 24)};
    nested.insert(nested.end(), header.begin(), header.end());
  }
  nested.insert(nested.end(), atom.begin(), atom.end());
  return Deck({nested});
}

// n one-character text atoms.
std::string PptManyAtoms(std::size_t n) {
  std::vector<TBytes> records;
  for (std::size_t i = 0; i < n; ++i) {
    records.push_back(ppt::TextHeader());
    records.push_back(ppt::TextBytes("x"));
  }
  return Deck(records);
}

// ---- Packages ----

constexpr const char* kWordOpen =
    "<?xml version=\"1.0\"?><w:document xmlns:w=\"http://schemas.openxmlformats.org/"
    "wordprocessingml/2006/main\"><w:body>";
constexpr const char* kWordClose = "</w:body></w:document>";

std::string Docx(const std::string& body) {
  TZipBuilder zip;
  zip.Add("word/document.xml", kWordOpen + body + kWordClose);
  return zip.Build();
}

std::string DocxDeepElements(std::size_t n) {
  return Docx(Repeat("<w:p>", n) + "<w:r><w:t>deep</w:t></w:r>" + Repeat("</w:p>", n));
}

std::string DocxUnclosedElements(std::size_t n) {
  TZipBuilder zip;
  zip.Add("word/document.xml", kWordOpen + Repeat("<w:p><w:r><w:t>x", n));
  return zip.Build();
}

std::string DocxManyRuns(std::size_t n) {
  return Docx(Repeat("<w:p><w:r><w:t>x</w:t></w:r><w:r><w:tab/></w:r></w:p>", n));
}

std::string DocxLongText(std::size_t n) {
  return Docx("<w:p><w:r><w:t>" + std::string(n, 'a') + "</w:t></w:r></w:p>");
}

std::string DocxManyAttributes(std::size_t n) {
  std::string attrs;
  for (std::size_t i = 0; i < n; ++i) {
    attrs += " a" + std::to_string(i) + "=\"v\"";
  }
  return Docx("<w:p" + attrs + "><w:r><w:t>x</w:t></w:r></w:p>");
}

// The same with one name given twice, which sends the tag through the look-up by name.
std::string DocxManyAttributesOneRepeated(std::size_t n) {
  std::string attrs = " a0=\"first\"";
  for (std::size_t i = 0; i < n; ++i) {
    attrs += " a" + std::to_string(i) + "=\"v&amp;\"";
  }
  return Docx("<w:p" + attrs + "><w:r><w:t>x</w:t></w:r></w:p>");
}

std::string DocxManyEntities(std::size_t n) {
  return Docx("<w:p><w:r><w:t>" + Repeat("&amp;&#x41;&lt;", n) + "</w:t></w:r></w:p>");
}

// A main part of n zero bytes packed about a thousandfold, stating the largest 32-bit size.
std::string DocxDeflateBomb(std::size_t n) {
  TZipBuilder zip;
  TZipItem& item = zip.Add("word/document.xml", "", 8);
  item.payload = Str(DeflateRunOfZeros(n));
  item.statedSize = 0xFFFFFFFF;
  item.crc = 0;
  return zip.Build();
}

// head, `times` copies of unit and tail, packed about 170-fold, with their true CRC and size.
TZipItem& AddRepeatedPart(TZipBuilder& zip, const std::string& name, const std::string& head,
                          const std::string& unit, std::size_t times, const std::string& tail) {
  TZipItem& item = zip.Add(name, "", 8);
  item.payload = Str(DeflateRepeat(head, unit, times, tail));
  std::string chunk;
  const std::size_t perChunk = std::max<std::size_t>(1, 65536 / unit.size());
  for (std::size_t i = 0; i < perChunk; ++i) {
    chunk += unit;
  }
  std::uint32_t crc = ReferenceCrc32Update(0, head);
  for (std::size_t done = 0; done < times; done += perChunk) {
    const std::size_t k = std::min(perChunk, times - done);
    crc = ReferenceCrc32Update(crc, std::string_view(chunk).substr(0, k * unit.size()));
  }
  item.crc = ReferenceCrc32Update(crc, tail);
  item.statedSize = head.size() + times * unit.size() + tail.size();
  return item;
}

// A workbook whose one sheet is head, `times` copies of unit and tail, packed about 170-fold.
std::string XlsxRepeatedSheet(const std::string& head, const std::string& unit, std::size_t times,
                              const std::string& tail) {
  TZipBuilder zip;
  zip.Add("[Content_Types].xml", "<Types/>");
  AddRepeatedPart(zip, "xl/worksheets/sheet1.xml", head, unit, times, tail);
  return zip.Build();
}

// A main part of about n bytes of markup that writes no text, packed about 170-fold.
std::string DocxMarkupBomb(std::size_t n) {
  TZipBuilder zip;
  AddRepeatedPart(zip, "word/document.xml",
                  std::string(kWordOpen) + "<w:p><w:r><w:t>x</w:t></w:r></w:p>", "<w:x/>", n / 6,
                  kWordClose);
  return zip.Build();
}

// One entry while the end record states the largest counts.
std::string DocxHugeEntryCount(std::size_t) {
  TZipBuilder zip;
  zip.Add("word/document.xml",
          std::string(kWordOpen) + "<w:p><w:r><w:t>x</w:t></w:r></w:p>" + kWordClose);
  zip.SetZip64End(true);
  zip.SetStatedCount(0xFFFFFFFFFFFFull);
  return zip.Build();
}

// n tiny entries before the content parts: every part looked up by name passes all of them,
// and the workbook and presentation walks look up one part per entry of the archive.
std::string PackageManyEntries(std::size_t n, const std::string& part, const std::string& xml) {
  TZipBuilder zip;
  for (std::size_t i = 0; i < n; ++i) {
    zip.Add("f/" + std::to_string(i), "");
  }
  zip.Add(part, xml);
  return zip.Build();
}

std::string XlsxSheet(const std::string& dimension, const std::string& rows) {
  return "<?xml version=\"1.0\"?><worksheet><dimension ref=\"" + dimension + "\"/><sheetData>" +
         rows + "</sheetData></worksheet>";
}

std::string Xlsx(const std::string& sheet, const std::string& shared = {}) {
  TZipBuilder zip;
  // Worksheets are looked for by number up to the archive's entry count, so the package needs
  // more entries than the one sheet, as every real package has.
  zip.Add("[Content_Types].xml", "<Types/>");
  if (!shared.empty()) {
    zip.Add("xl/sharedStrings.xml", shared);
  }
  zip.Add("xl/worksheets/sheet1.xml", sheet);
  return zip.Build();
}

std::string Cell(const std::string& ref, const std::string& value) {
  return "<c r=\"" + ref + "\"><v>" + value + "</v></c>";
}

// One row of about n bytes of cells, deflated: the cells after the first fall behind the grid
// position and place nothing, but are all read.
std::string XlsxWideRow(std::size_t n) {
  std::string cells;
  cells.reserve(n + 16);
  while (cells.size() < n) {
    cells += "<c r=\"A1\"/>";
  }
  TZipBuilder zip;
  zip.Add("[Content_Types].xml", "<Types/>");
  zip.Add("xl/worksheets/sheet1.xml",
          XlsxSheet("A1:B2", "<row r=\"1\"><c r=\"A1\"><v>7</v></c>" + cells + "</row>"), 8);
  return zip.Build();
}

// The largest grid with ten cells in its top-left corner.
std::string XlsxHugeDimension(std::size_t) {
  std::string rows;
  for (int r = 1; r <= 10; ++r) {
    rows += "<row r=\"" + std::to_string(r) + "\">" +
            Cell(std::string(1, static_cast<char>('A' + r - 1)) + std::to_string(r), "1") +
            "</row>";
  }
  return Xlsx(XlsxSheet("A1:XFD1048576", rows));
}

// The largest grid with cells in its four corners: the text holds every line end in between.
std::string XlsxCornerCells(std::size_t) {
  const std::string rows = "<row r=\"1\">" + Cell("A1", "1") + Cell("XFD1", "2") + "</row>" +
                           "<row r=\"1048576\">" + Cell("A1048576", "3") + Cell("XFD1048576", "4") +
                           "</row>";
  return Xlsx(XlsxSheet("A1:XFD1048576", rows));
}

// n shared strings, the sheet naming the last one.
std::string XlsxManySharedStrings(std::size_t n) {
  const std::string shared =
      "<?xml version=\"1.0\"?><sst>" + Repeat("<si><t>s</t></si>", n) + "</sst>";
  const std::string rows =
      "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>" + std::to_string(n - 1) + "</v></c></row>";
  return Xlsx(XlsxSheet("A1:A1", rows), shared);
}

// ---- RTF ----

std::string RtfDeepGroups(std::size_t n) {
  return "{\\rtf1 " + std::string(n, '{') + "deep" + std::string(n, '}') + "}";
}
std::string RtfUnclosedGroups(std::size_t n) {
  return "{\\rtf1 " + Repeat("{x", n);
}
std::string RtfManyGroups(std::size_t n) {
  return "{\\rtf1 " + Repeat("{\\b x}\\par ", n) + "}";
}
std::string RtfLongRun(std::size_t n) {
  return "{\\rtf1 " + std::string(n, 'a') + "}";
}
std::string RtfLongControlWord(std::size_t n) {
  return "{\\rtf1 \\" + std::string(n, 'a') + " x\\par\\" + std::string(n, 'b') + "-" +
         std::string(n, '9') + " y}";
}
std::string RtfHugeParameters(std::size_t) {
  return "{\\rtf1 \\uc2147483647 \\u65 a\\uc-5 \\u-99999999999 b\\bin99999999999 x"
         "\\bin-2147483648 y\\fs99999999999999999999 \\'zz\\'4}";
}
std::string RtfManyEscapes(std::size_t n) {
  return "{\\rtf1 " + Repeat("\\'e9\\u233?\\~", n) + "}";
}
// n fonts, each used once: font lookups must not walk the whole table every time.
std::string RtfManyFonts(std::size_t n) {
  std::string s = "{\\rtf1\\ansi{\\fonttbl";
  for (std::size_t i = 0; i < n; ++i) {
    s += "{\\f" + std::to_string(i) + "\\fcharset" + (i % 2 == 0 ? "0" : "128") + " F;}";
  }
  s += "}";
  for (std::size_t i = 0; i < n; ++i) {
    s += "\\f" + std::to_string(n - 1 - i) + " x\\'82";
  }
  return s + "}";
}
std::string RtfDeepDestinations(std::size_t n) {
  return "{\\rtf1 " + Repeat("{\\*\\unknown ", n) + "x" + std::string(n, '}') + "}";
}

// ---- HTML ----

std::string HtmDeepElements(std::size_t n) {
  return "<html><body>" + Repeat("<div>", n) + "deep" + Repeat("</div>", n) + "</body></html>";
}
std::string HtmUnclosedElements(std::size_t n) {
  return "<html><body>" + Repeat("<p><b><i>x", n);
}
std::string HtmManyTags(std::size_t n) {
  return "<html><body>" + Repeat("<b>x</b><br>", n);
}
std::string HtmLongRun(std::size_t n) {
  return "<html><body>" + std::string(n, 'a');
}
std::string HtmManyEntities(std::size_t n) {
  return "<html><body><p>" + Repeat("&amp;&eacute;&#x10FFFF;&#99999999;", n);
}
std::string HtmDeepTables(std::size_t n) {
  return "<html><body>" + Repeat("<table><tr><td>", n) + "x" + Repeat("</td></tr></table>", n);
}
std::string HtmManyCells(std::size_t n) {
  return "<html><body><table>" + Repeat("<tr><td>a<td>b<td>c", n) + "</table>";
}

// ---- PDF ----

// A one-page document with the given content stream and an extra object, cross-reference
// table computed.
std::string Pdf(const std::string& content, const std::string& extra) {
  constexpr const char* kPage =
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R /Resources << /Font "
      "<< /F1 << /Type /Font /Subtype /Type1 /BaseFont /Helvetica >> >> >> >>";
  const std::vector<std::string> objects = {"<< /Type /Catalog /Pages 2 0 R /Extra 5 0 R >>",
                                            "<< /Type /Pages /Kids [3 0 R] /Count 1 >>", kPage,
                                            "<< /Length " + std::to_string(content.size()) +
                                                " >>\nstream\n" + content + "\nendstream",
                                            extra};
  return BuildPdf(objects);
}

std::string PdfDeepArrays(std::size_t n) {
  return Pdf("BT /F1 12 Tf 72 720 Td (deep) Tj ET", std::string(n, '[') + std::string(n, ']'));
}
std::string PdfManySaves(std::size_t n) {
  return Pdf(Repeat("q ", n) + "BT /F1 12 Tf 72 720 Td (saved) Tj ET", "null");
}
std::string PdfManyTextRuns(std::size_t n) {
  return Pdf("BT /F1 12 Tf 72 720 Td " + Repeat("(x) Tj 1 0 Td ", n) + "ET", "null");
}

// The PDF engine keeps a full copy of the graphics state for every unmatched save operator:
// about 1.3 KB for each two input bytes. Known and reported; bounded here so it cannot grow.
constexpr long kPdfStateBytes = 1024;

// A part that inflates far beyond the input is read a piece at a time: its peak stays well
// below its inflated size (24 MB), so these shapes get only this much room over the baseline.
constexpr long kUnpackedSlackKb = long{16} * 1024;

// Packages for the all-text mode: references and stories by the thousand.
std::string StoryRel(const std::string& id, const std::string& type, const std::string& target) {
  return "<Relationship Id=\"" + id +
         "\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/" + type +
         "\" Target=\"" + target + "\"/>";
}

std::string StoryRels(const std::string& items) {
  return "<Relationships>" + items + "</Relationships>";
}

// n header references of their own ids, every other one to the one header there is, the
// rest to parts that are missing.
std::string DocxManyReferences(std::size_t n) {
  std::string refs;
  std::string rels;
  for (std::size_t i = 0; i < n; ++i) {
    const std::string id = "r" + std::to_string(i);
    refs += "<w:headerReference r:id=\"" + id + "\"/>";
    rels += StoryRel(id, "header", i % 2 == 0 ? "header1.xml" : "h" + std::to_string(i) + ".xml");
  }
  TZipBuilder zip;
  zip.Add("word/document.xml",
          "<w:document><w:body><w:p><w:r><w:t>x</w:t></w:r></w:p><w:sectPr>" + refs +
              "</w:sectPr></w:body></w:document>",
          8);
  zip.Add("word/_rels/document.xml.rels", StoryRels(rels), 8);
  zip.Add("word/header1.xml", "<w:hdr><w:p><w:r><w:t>h</w:t></w:r></w:p></w:hdr>", 8);
  return zip.Build();
}

// n sections, each with a header part of its own, and n footnotes and comments.
std::string DocxManyStories(std::size_t n) {
  TZipBuilder zip;
  std::string body;
  std::string rels =
      StoryRel("f", "footnotes", "footnotes.xml") + StoryRel("c", "comments", "comments.xml");
  for (std::size_t i = 0; i < n; ++i) {
    const std::string id = "h" + std::to_string(i);
    body += "<w:p><w:pPr><w:sectPr><w:headerReference r:id=\"" + id +
            "\"/></w:sectPr></w:pPr><w:r><w:t>x</w:t></w:r></w:p>";
    rels += StoryRel(id, "header", "header" + std::to_string(i) + ".xml");
    zip.Add("word/header" + std::to_string(i) + ".xml",
            "<w:hdr><w:p><w:r><w:t>h</w:t></w:r></w:p></w:hdr>", 8);
  }
  zip.Add("word/document.xml", "<w:document><w:body>" + body + "</w:body></w:document>", 8);
  zip.Add("word/_rels/document.xml.rels", StoryRels(rels), 8);
  zip.Add("word/footnotes.xml",
          "<w:footnotes>" +
              Repeat("<w:footnote w:id=\"1\"><w:p><w:r><w:t>f</w:t></w:r></w:p></w:footnote>", n) +
              "</w:footnotes>",
          8);
  zip.Add("word/comments.xml",
          "<w:comments>" +
              Repeat("<w:comment w:id=\"0\"><w:p><w:r><w:t>c</w:t></w:r></w:p></w:comment>", n) +
              "</w:comments>",
          8);
  return zip.Build();
}

// n slides listed in the reverse of their part names' order, each with its notes page.
std::string PptxManySlidesWithNotes(std::size_t n) {
  TZipBuilder zip;
  std::string ids;
  std::string rels;
  for (std::size_t i = 0; i < n; ++i) {
    const std::string k = std::to_string(n - i);
    ids += "<p:sldId r:id=\"s" + k + "\"/>";
    rels += StoryRel("s" + k, "slide", "slides/slide" + k + ".xml");
    zip.Add("ppt/slides/slide" + k + ".xml", "<p:sld><a:p><a:t>s</a:t></a:p></p:sld>", 8);
    zip.Add("ppt/slides/_rels/slide" + k + ".xml.rels",
            StoryRels(StoryRel("n", "notesSlide", "../notesSlides/notesSlide" + k + ".xml")), 8);
    zip.Add("ppt/notesSlides/notesSlide" + k + ".xml",
            "<p:notes><p:sp><a:p><a:t>n</a:t></a:p></p:sp></p:notes>", 8);
  }
  zip.Add("ppt/presentation.xml",
          "<p:presentation><p:sldIdLst>" + ids + "</p:sldIdLst></p:presentation>", 8);
  zip.Add("ppt/_rels/presentation.xml.rels", StoryRels(rels), 8);
  return zip.Build();
}

// n slide ids, every other one naming the one slide there is, the rest naming nothing.
std::string PptxManySlideIds(std::size_t n) {
  std::string ids;
  for (std::size_t i = 0; i < n; ++i) {
    ids += "<p:sldId r:id=\"" + (i % 2 == 0 ? std::string("s") : "x" + std::to_string(i)) + "\"/>";
  }
  TZipBuilder zip;
  zip.Add("ppt/presentation.xml",
          "<p:presentation><p:sldIdLst>" + ids + "</p:sldIdLst></p:presentation>", 8);
  zip.Add("ppt/_rels/presentation.xml.rels", StoryRels(StoryRel("s", "slide", "slides/slide1.xml")),
          8);
  zip.Add("ppt/slides/slide1.xml", "<p:sld><a:p><a:t>s</a:t></a:p></p:sld>", 8);
  return zip.Build();
}

} // namespace

const std::vector<TShape>& HostileShapes() {
  static const std::vector<TShape> shapes = {
      {"doc-many-pieces", "doc", DocManyPieces, 100000, true},
      {"doc-many-modifiers", "doc", DocManyModifiers, 300000, true},
      {"cfb-huge-sector-counts", "doc", CfbHugeSectorCounts, 1, false},
      {"cfb-huge-stream-size", "doc", CfbHugeStreamSize, 1, false},
      {"cfb-chain-cycle", "xls", CfbChainCycle, 1, false},
      {"cfb-sibling-chain", "doc", CfbSiblingChain, 5000, true},
      {"xls-huge-sst-count", "xls", XlsHugeSstCount, 1, false},
      {"xls-many-tiny-records", "xls", XlsManyTinyRecords, 300000, true},
      {"xls-many-cells", "xls", XlsManyCells, 100000, true},
      {"xls-far-cell", "xls", XlsFarCell, 1, false},
      {"xls-many-sheets", "xls", XlsManySheets, 2000, true},
      {"ppt-deep-containers", "ppt", PptDeepContainers, 50000, true},
      {"ppt-many-atoms", "ppt", PptManyAtoms, 50000, true},
      {"docx-deep-elements", "docx", DocxDeepElements, 100000, true},
      {"docx-unclosed-elements", "docx", DocxUnclosedElements, 100000, false},
      {"docx-many-runs", "docx", DocxManyRuns, 100000, true},
      {"docx-long-text", "docx", DocxLongText, 4000000, true},
      {"docx-many-attributes", "docx", DocxManyAttributes, 50000, true},
      {"docx-many-attributes-one-repeated", "docx", DocxManyAttributesOneRepeated, 50000, true},
      {"docx-many-entities", "docx", DocxManyEntities, 100000, true},
      {"docx-deflate-bomb", "docx", DocxDeflateBomb, 64u << 20, false, 0, kUnpackedSlackKb},
      {"docx-markup-bomb", "docx", DocxMarkupBomb, 24u << 20, false, 0, kUnpackedSlackKb},
      // Text outside any run, in tokens between empty elements: none of it is gathered.
      {"docx-loose-text-bomb", "docx",
       [](std::size_t n) {
         TZipBuilder zip;
         AddRepeatedPart(zip, "word/document.xml", kWordOpen, std::string(1000, 'x') + "<a/>",
                         n / 1004, kWordClose);
         return zip.Build();
       },
       24u << 20, false, 0, kUnpackedSlackKb},
      // Elements opened and never closed, 3 bytes each: the open elements stop at a ceiling
      // (about 64 MB of them for so small a package) instead of costing 40 times the markup.
      {"docx-deep-bomb", "docx",
       [](std::size_t n) {
         TZipBuilder zip;
         AddRepeatedPart(zip, "word/document.xml", kWordOpen, "<a>", n / 3, "");
         return zip.Build();
       },
       32u << 20, false, 0, 12 * kUnpackedSlackKb},
      // One tag that never ends: the token stops at a ceiling (64 MB for so small a package).
      {"docx-endless-tag-bomb", "docx",
       [](std::size_t n) {
         TZipBuilder zip;
         AddRepeatedPart(zip, "word/document.xml", std::string(kWordOpen) + "<a b=\"", "y", n,
                         "\"/>");
         return zip.Build();
       },
       96u << 20, false, 0, 12 * kUnpackedSlackKb},
      {"docx-huge-entry-count", "docx", DocxHugeEntryCount, 1, false},
      {"docx-many-entries", "docx",
       [](std::size_t n) {
         return PackageManyEntries(n, "word/document.xml",
                                   std::string(kWordOpen) + "<w:p><w:r><w:t>x</w:t></w:r></w:p>" +
                                       kWordClose);
       },
       3000, true},
      {"xlsx-many-entries", "xlsx",
       [](std::size_t n) {
         return PackageManyEntries(
             n, "xl/worksheets/sheet1.xml",
             XlsxSheet("A1:A1", "<row r=\"1\">" + Cell("A1", "7") + "</row>"));
       },
       3000, true},
      {"pptx-many-entries", "pptx",
       [](std::size_t n) {
         return PackageManyEntries(n, "ppt/slides/slide1.xml", "<p:sld><a:t>x</a:t></p:sld>");
       },
       3000, true},
      {"xlsx-huge-dimension", "xlsx", XlsxHugeDimension, 1, false},
      {"xlsx-wide-row", "xlsx", XlsxWideRow, 16u << 20, false, 0, kUnpackedSlackKb},
      {"xlsx-markup-bomb", "xlsx",
       [](std::size_t n) {
         return XlsxRepeatedSheet("<?xml version=\"1.0\"?><worksheet><dimension ref=\"A1:B2\"/>"
                                  "<sheetData><row r=\"1\"><c r=\"A1\"><v>7</v></c>",
                                  "<c r=\"A1\"/>", n / 11, "</row></sheetData></worksheet>");
       },
       24u << 20, false, 0, kUnpackedSlackKb},
      // Empty shared strings, 5 bytes of markup each and 16 bytes in the list: the list stops
      // at its ceiling (64 MB for so small a package; its growth by doubling and the
      // sanitizer's quarantine of the old blocks come on top), where the whole list of these
      // 64 MB of markup would take over 200 MB.
      {"xlsx-shared-strings-bomb", "xlsx",
       [](std::size_t n) {
         TZipBuilder zip;
         zip.Add("[Content_Types].xml", "<Types/>");
         AddRepeatedPart(zip, "xl/sharedStrings.xml", "<sst>", "<si/>", n / 5, "</sst>");
         zip.Add("xl/worksheets/sheet1.xml",
                 XlsxSheet("A1:A1", "<row r=\"1\">" + Cell("A1", "7") + "</row>"));
         return zip.Build();
       },
       64u << 20, false, 0, 12 * kUnpackedSlackKb},
      // A dimension after the rows that would show a row left out sends the sheet to the tree
      // walk, which reads a part whole only up to a ceiling (16 MB for so small a package).
      {"xlsx-late-dimension-bomb", "xlsx",
       [](std::size_t n) {
         return XlsxRepeatedSheet("<?xml version=\"1.0\"?><worksheet><sheetData><row r=\"1\">"
                                  "<c r=\"A1\"><v>7</v></c></row><row r=\"1048577\"/>"
                                  "</sheetData><dimension ref=\"A1:B1048577\"/>",
                                  "<x/>", n / 4, "</worksheet>");
       },
       64u << 20, false, 0, 2 * kUnpackedSlackKb},
      // Rows and cells without numbers, each the one after the previous.
      {"xlsx-rows-without-numbers", "xlsx",
       [](std::size_t n) {
         return XlsxRepeatedSheet("<?xml version=\"1.0\"?><worksheet><sheetData>",
                                  "<row><c><v>1</v></c><c><v>2</v></c></row>", n,
                                  "</sheetData></worksheet>");
       },
       1000000, false, 0, kUnpackedSlackKb},
      // A CDATA section that never ends: it is text, and text stops at the token ceiling.
      {"docx-endless-cdata-bomb", "docx",
       [](std::size_t n) {
         TZipBuilder zip;
         AddRepeatedPart(zip, "word/document.xml",
                         std::string(kWordOpen) + "<w:p><w:r><w:t><![CDATA[", "y]>", n / 3, "");
         return zip.Build();
       },
       96u << 20, false, 0, 12 * kUnpackedSlackKb},
      // A comment of 100 MB holding ">" everywhere: it is not held whole.
      {"docx-huge-comment", "docx",
       [](std::size_t n) {
         TZipBuilder zip;
         AddRepeatedPart(zip, "word/document.xml", std::string(kWordOpen) + "<!--", "->", n / 2,
                         "--><w:p><w:r><w:t>after</w:t></w:r></w:p>" + std::string(kWordClose));
         return zip.Build();
       },
       100u << 20, false, 0, kUnpackedSlackKb},
      // A million character references in one run.
      {"docx-many-character-references", "docx",
       [](std::size_t n) {
         TZipBuilder zip;
         AddRepeatedPart(zip, "word/document.xml", std::string(kWordOpen) + "<w:p><w:r><w:t>",
                         "&#x41;&#233;", n, "</w:t></w:r></w:p>" + std::string(kWordClose));
         return zip.Build();
       },
       1000000, false, 0, kUnpackedSlackKb},
      {"xlsx-corner-cells", "xlsx", XlsxCornerCells, 1, false},
      {"xlsx-many-shared-strings", "xlsx", XlsxManySharedStrings, 100000, true},
      {"rtf-deep-groups", "rtf", RtfDeepGroups, 200000, true},
      {"rtf-unclosed-groups", "rtf", RtfUnclosedGroups, 200000, false},
      {"rtf-many-groups", "rtf", RtfManyGroups, 100000, true},
      {"rtf-long-run", "rtf", RtfLongRun, 4000000, true},
      {"rtf-long-control-word", "rtf", RtfLongControlWord, 1000000, true},
      {"rtf-huge-parameters", "rtf", RtfHugeParameters, 1, false},
      {"rtf-many-escapes", "rtf", RtfManyEscapes, 100000, true},
      {"rtf-many-fonts", "rtf", RtfManyFonts, 20000, true},
      {"rtf-deep-destinations", "rtf", RtfDeepDestinations, 100000, true},
      {"htm-deep-elements", "htm", HtmDeepElements, 50000, true},
      {"htm-unclosed-elements", "htm", HtmUnclosedElements, 50000, false},
      {"htm-many-tags", "htm", HtmManyTags, 100000, true},
      {"htm-long-run", "htm", HtmLongRun, 4000000, true},
      {"htm-many-entities", "htm", HtmManyEntities, 50000, true},
      {"htm-deep-tables", "htm", HtmDeepTables, 5000, true},
      {"htm-many-cells", "htm", HtmManyCells, 50000, true},
      {"pdf-deep-arrays", "pdf", PdfDeepArrays, 100000, false},
      {"pdf-many-saves", "pdf", PdfManySaves, 100000, true, kPdfStateBytes},
      {"pdf-many-text-runs", "pdf", PdfManyTextRuns, 20000, true},
      // The all-text mode (run with --all-text); the one-story package gives the fixed cost
      // of a run that the sizes are compared against.
      {"alltext-docx-one-story", "docx", DocxManyStories, 1, false, 0, 0, true},
      {"alltext-docx-many-references", "docx", DocxManyReferences, 20000, true, 0, 0, true},
      {"alltext-docx-many-stories", "docx", DocxManyStories, 1000, true, 0, 0, true},
      {"alltext-pptx-many-slides-with-notes", "pptx", PptxManySlidesWithNotes, 1500, true, 0, 0,
       true},
      {"alltext-pptx-many-slide-ids", "pptx", PptxManySlideIds, 100000, true, 0, 0, true},
  };
  return shapes;
}

} // namespace scv::test
