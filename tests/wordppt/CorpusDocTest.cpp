// Real Word documents: every file converts with its expected result, with known phrases.
#include "platform/FileIo.h"
#include "support/ProcessRunner.h"
#include "support/TestPaths.h"
#include "wordppt/KvDocCvt.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

namespace scv::wordppt {
namespace {

struct TExpectation {
  std::int32_t code;                // 0 = converts (a positive byte count)
  std::vector<std::string> phrases; // UTF-8, found in the output
};

// Files not listed must still convert with a positive count.
const std::map<std::string, TExpectation>& Expectations() {
  static const std::map<std::string, TExpectation> kExpect = {
      {"53379.doc", {0, {"MEDICINES CONTROL AGENCY", "WORKSHOP ON PHASE I"}}},
      // Word 95, Russian, fast-saved twice: Cyrillic text, and the edits of the fast saves (the
      // run from fcMin to fcMac still holds the older "хочеться").
      {"Bug50955.doc",
       {0,
        {"\xD0\x9E\xD0\x9F\xD0\x95\xD0\xA0\xD0\x90\xD0\xA6\xD0\x98\xD0\xAF "
         "\"\xD0\xA5\xD0\x90\xD0\x9E\xD0\xA1\"", // ОПЕРАЦИЯ "ХАОС"
         "\xD1\x85\xD0\xBE\xD1\x82\xD0\xB5\xD1\x82\xD1\x8C\xD1\x81\xD1\x8F."}}}, // хотеться.
      {"Bug33519.doc",
       {0,
        {"\xD0\xA0\xD0\xA3\xD0\xA1\xD0\x95\xD0\x9D\xD0\xA1\xD0\x9A\xD0\x98", // РУСЕНСКИ
         "biala_zvezda@abv.bg"}}},
      {"Bug47731.doc", {0, {"EMBED Word.Document.8"}}},
      {"DiffFirstPageHeadFoot.doc",
       {0, {"This is a sample word document. It has two pages.", "HEADING TEXT"}}},
      {"HeaderFooterUnicode.doc",
       {0, {"EUR - \xE2\x82\xAC", "Moli\xC3\xA8re", "we\xE2\x80\x99ll"}}},
      {"Lists.doc", {0, {"Heading Level 1", "Ordered list 1\r\nOL 2\r\nOL 3"}}},
      {"PasswordProtected.doc", {-11, {}}},
      {"password_password_cryptoapi.doc", {-11, {}}},
      {"password_tika_binaryrc4.doc", {-11, {}}},
      {"TestChineseProperties.doc",
       {0, {"\xE4\xB8\x96\xE7\x95\x8C\xE9\x9B\x85\xE8\x99\x8E"}}}, // 世界雅虎
      {"TestShiftJIS.doc", {0, {"File Agent Server Administration Tool Summary"}}},
      {"Word6.doc", {0, {"The quick brown fox jumps over the lazy dog\r\n"}}},
      {"Word95.doc", {0, {"Paragraph 3. Has some RED text and some BLUE BOLD text in it."}}},
      {"Word6_sections.doc", {0, {"This is a new section."}}},
      {"endingnote.doc", {0, {"Text, text , text.", "Ending note text"}}},
      {"footnote.doc", {0, {"TestFootnote", "TestComment", "TestEndnote"}}},
      {"hyperlink.doc",
       {0, {"Before text;   HYPERLINK \"http://testuri.org/\"  Hyperlink text ; after text"}}},
      {"innertable.doc", {0, {"A\tB\tC\t\tD\tE"}}},
      {"o_kurs.doc",
       {0,
        {"\xD0\x9C\xD0\x98\xD0\x9D\xD0\x98\xD0\xA1\xD0\xA2\xD0\x95\xD0\xA0\xD0\xA1\xD0\xA2\xD0\x92"
         "\xD0\x9E"}}}, // МИНИСТЕРСТВО
      {"page-break.doc", {0, {"Line 1", "Line 2"}}},
      {"raw_text.doc", {0, {"I love word documents.", "HYPERLINK \"http://hipsum.co\""}}},
      {"simple-table.doc",
       {0, {"Word 97 \xE2\x80\x93 SR2", "Cell 1,1\tCell 1,2\tCell 1,3\t\tCell 2,1"}}},
      {"standardized_text.doc", {0, {"the quick brown fox jumps over the lazy dog"}}},
      {"test-fields.doc",
       {0, {"CREATEDATE   \\* MERGEFORMAT  19/11/2010", "19/11/2010 14:49:00", "Fridrich Strba"}}},
      {"test-ole-file.doc", {0, {"Test OLE file, saved as Word 97-2003 Document."}}},
      {"watermark.doc",
       {0, {"An ever-so-important Master Services Agreement", "1.1 Termination."}}},
  };
  return kExpect;
}

std::vector<std::string> CorpusFiles() {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(test::CorpusDir("doc"))) {
    if (e.path().extension() == ".doc") {
      names.push_back(e.path().filename().string());
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(CorpusDoc, EveryFileConvertsWithItsExpectedResult) {
  const auto names = CorpusFiles();
  ASSERT_GE(names.size(), Expectations().size());
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    const auto it = Expectations().find(name);
    const TExpectation want = it != Expectations().end() ? it->second : TExpectation{0, {}};
    TConversionResult result;
    const std::string path = test::CorpusDir("doc") + "/" + name;
    const std::int32_t code = DocToText(platform::ArgumentToWide(path), 0, result, 65001, 0, 0);
    if (want.code != 0) {
      EXPECT_EQ(code, want.code);
      continue;
    }
    ASSERT_GT(code, 0);
    const auto bytes = result.Bytes(static_cast<std::size_t>(code));
    const std::string text(bytes.begin(), bytes.end());
    EXPECT_EQ(text.substr(0, 3), "\xEF\xBB\xBF");
    EXPECT_EQ(text.back(), '\0');
    for (const std::string& phrase : want.phrases) {
      EXPECT_NE(text.find(phrase), std::string::npos) << phrase;
    }
  }
  // Every expectation names a file that exists.
  for (const auto& [name, want] : Expectations()) {
    EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;
  }
}

TEST(CorpusDoc, ProgramRunsOnRealFiles) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    int exitCode;
    std::string phrase; // in standard output
  };
  const std::string dir = test::CorpusDir("doc") + "/";
  const Case cases[] = {
      {"to standard output, UTF-8", {"-c65001", dir + "Word95.doc", "*"}, 0, "Paragraph 2\r\n"},
      {"to standard output, 1252",
       {"-c1252", dir + "HeaderFooterUnicode.doc", "*"},
       0,
       "EUR - \x80"},
      {"encrypted", {dir + "PasswordProtected.doc", "*"}, 245, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const test::TRunResult r = test::RunScvcmd(c.args);
    EXPECT_EQ(r.exitCode, c.exitCode);
    EXPECT_NE(r.out.find(c.phrase), std::string::npos);
  }
}

} // namespace
} // namespace scv::wordppt
