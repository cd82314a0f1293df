// Word 2003 XML saved under a .doc name: which files are recognised, and that the DOC row
// converts them as the DOCX extractor converts the same markup.
#include "api/WordXmlCvt.h"

#include "api/ExtractorTable.h"
#include "ooxml/OfficeXCvt.h"
#include "platform/FileIo.h"
#include "support/ProcessRunner.h"
#include "support/ZipBuilder.h"

#include <gtest/gtest.h>

#include <string>

namespace scv::api {
namespace {

const std::string kDecl = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)";
const std::string kProgId = R"(<?mso-application progid="Word.Document"?>)";
const std::string kRoot =
    R"(<w:wordDocument xmlns:w="http://schemas.microsoft.com/office/word/2003/wordml">)";

// A document with paragraphs, runs, a tab, a line break, an entity and non-ASCII text.
const std::string kBody =
    "<w:body><w:p><w:r><w:t>First</w:t></w:r><w:r><w:tab/><w:t>tab &amp; more</w:t></w:r></w:p>"
    "<w:p><w:r><w:t>Line</w:t><w:br/><w:t>break \xD0\x96 \xE2\x82\xAC</w:t></w:r></w:p>"
    "<w:sectPr/></w:body></w:wordDocument>";

TEST(WordXmlCvt, RecognisesTheDocumentElement) {
  struct Case {
    const char* name;
    std::string head;
    bool want;
  };
  const Case cases[] = {
      {"declaration and processing instruction", kDecl + "\r\n" + kProgId + "\r\n" + kRoot, true},
      {"byte-order mark and white space first", "\xEF\xBB\xBF \r\n" + kDecl + kRoot, true},
      {"comment and document type", kDecl + "<!-- saved -->\n<!DOCTYPE w:wordDocument>" + kRoot,
       true},
      {"document type with an internal subset",
       kDecl + "<!DOCTYPE w:wordDocument [ <!ENTITY a \"<b>\"> ]>" + kRoot, true},
      {"empty document element", kDecl + "<w:wordDocument/>", true},
      {"element name followed by a tab", kDecl + "<w:wordDocument\txmlns:w='x'>", true},
      {"no declaration", kRoot, false},
      {"another document element", kDecl + "<html><body/></html>", false},
      {"a longer name", kDecl + "<w:wordDocumentX>", false},
      {"another prefix", kDecl + "<x:wordDocument>", false},
      {"text before the element", kDecl + "junk" + kRoot, false},
      {"comment that never ends", kDecl + "<!-- " + kRoot, false},
      {"name cut at the end", kDecl + "<w:wordDocument", false},
      {"a UTF-16 byte-order mark", "\xFF\xFE" + kDecl + kRoot, false},
      {"RTF", "{\\rtf1\\ansi x}", false},
      {"empty", "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(IsWordXmlDocument(c.head), c.want);
  }
}

std::string RunRow(const TExtractorRow& row, const std::string& path, std::int32_t codePage,
                   std::int32_t& code) {
  TConversionResult result;
  code = RunExtractor(row, platform::ArgumentToWide(path), codePage, 0, result);
  if (code <= 0) {
    return {};
  }
  const auto b = result.Bytes(static_cast<std::size_t>(code));
  return {b.begin(), b.end()};
}

TEST(WordXmlCvt, DocRowConvertsWordXmlAsDocxText) {
  test::TTempDir dir;
  const std::string xml = "\xEF\xBB\xBF" + kDecl + "\n" + kProgId + "\n" + kRoot + kBody;
  const std::string doc = dir.Write("saved.doc", xml);
  // Markup that breaks off is read as far as the walker reads it in a DOCX part.
  const std::string broken = kDecl + kRoot + "<w:body><w:p><w:t>a</w:p><w:p><w:t>b";
  for (const std::string* markup : {&xml, &broken}) {
    const std::string source = dir.Write("x.doc", *markup);
    test::TZipBuilder zip;
    zip.Add("word/document.xml", markup->starts_with("\xEF") ? markup->substr(3) : *markup);
    const std::string docx = dir.Write("x.docx", zip.Build());
    for (const std::int32_t codePage : {65001, 1200, 1252, 1251, 932}) {
      SCOPED_TRACE(testing::Message() << markup->size() << " bytes, code page " << codePage);
      std::int32_t docCode = 0;
      std::int32_t docxCode = 0;
      const std::string got = RunRow(*FindExtractor("DOC"), source, codePage, docCode);
      const std::string want = RunRow(*FindExtractor("DOCX"), docx, codePage, docxCode);
      EXPECT_GT(docCode, 0);
      EXPECT_EQ(docCode, docxCode);
      EXPECT_EQ(got, want);
    }
  }
  std::int32_t code = 0;
  const std::string utf8 = RunRow(*FindExtractor("DOC"), doc, 65001, code);
  EXPECT_NE(utf8.find("First\ttab & more"), std::string::npos);
  EXPECT_NE(utf8.find("break \xD0\x96 \xE2\x82\xAC"), std::string::npos);
  // The command line reports success and writes the text.
  const test::TRunResult r = test::RunScvcmd({"-c65001", doc, "*"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, utf8);
}

TEST(WordXmlCvt, OtherFilesStayNotInTheFormat) {
  test::TTempDir dir;
  struct Case {
    const char* name;
    std::string bytes;
    std::int32_t want;
  };
  const Case cases[] = {
      {"XHTML under a .doc name", kDecl + "<html><body><p>x</p></body></html>", -5},
      {"plain text", "just text", -5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::int32_t code = 0;
    RunRow(*FindExtractor("DOC"), dir.Write("x.doc", c.bytes), 65001, code);
    EXPECT_EQ(code, c.want);
  }
  // Only the DOC row retries as Word XML.
  for (const TExtractorRow& row : ExtractorRows()) {
    SCOPED_TRACE(std::string(row.typeText));
    EXPECT_EQ((row.options & kRetryAsWordXml) != 0, row.typeText == "DOC");
  }
}

} // namespace
} // namespace scv::api
