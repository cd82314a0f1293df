// Real docx, xlsx and pptx files from the shared corpus: every file converts or fails with its
// expected code, and selected files hold the phrases and headers they must.
#include "ooxml/AllTextParts.h"
#include "ooxml/OfficeXCvt.h"
#include "platform/FileIo.h"
#include "support/TestPaths.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <limits>
#include <map>
#include <string>

namespace scv::ooxml {
namespace {

struct TOut {
  std::int32_t code;
  std::string text;
};

TOut Convert(const std::string& type, const std::string& path, std::int32_t codePage = 65001) {
  TConversionResult result;
  const std::u16string name = platform::ArgumentToWide(path);
  std::int32_t code = 0;
  if (type == "docx") {
    code = DocxToText(name, 0, result, codePage);
  } else if (type == "xlsx") {
    code = XlsxToText(name, 0, result, codePage);
  } else {
    code = PptxToText(name, 0, result, codePage);
  }
  TOut out{code, {}};
  if (code > 0) {
    out.text.assign(reinterpret_cast<const char*>(result.Data()), static_cast<std::size_t>(code));
  }
  return out;
}

// Files that fail: password-protected packages (compound files holding an encrypted package:
// -11), an empty archive, a truncated archive without its directory, presentations without
// slides.
const std::map<std::string, std::int32_t> kFailing = {
    {"60320-protected.xlsx", -11}, {"bug53475-password-is-pass.docx", -11},
    {"extenxls_pwd123.xlsx", -11}, {"invalid.xlsx", -5},
    {"minimal.pptx", -5},          {"mst-placeholders.pptx", -5},
    {"no-slides.pptx", -5},        {"protect.xlsx", -11},
    {"protected_agile.docx", -11}, {"truncated62886.docx", -5},
};

TEST(CorpusOoxml, EveryFileConvertsOrFailsAsExpected) {
  for (const std::string type : {"docx", "xlsx", "pptx"}) {
    const std::string dir = test::CorpusDir(type);
    if (!std::filesystem::is_directory(dir)) {
      GTEST_SKIP() << "no corpus at " << dir;
    }
    int seen = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
      const std::string file = entry.path().filename().string();
      SCOPED_TRACE(file);
      const TOut out = Convert(type, entry.path().string());
      const auto failing = kFailing.find(file);
      if (failing != kFailing.end()) {
        EXPECT_EQ(out.code, failing->second);
      } else {
        ASSERT_GE(out.code, 3);
        EXPECT_TRUE(out.text.starts_with("\xEF\xBB\xBF"));
        if (type != "docx") {
          EXPECT_TRUE(out.text.substr(3).starts_with(type == "xlsx" ? "sheet" : "slide"));
        }
        // Every code page path must take the text too (or report -15 for broken UTF-8).
        const TOut wide = Convert(type, entry.path().string(), 1200);
        EXPECT_TRUE(wide.code > 0 || wide.code == -15) << wide.code;
      }
      ++seen;
    }
    EXPECT_GT(seen, 10);
  }
}

// Parts inflated in small pieces, which end anywhere in the markup, read exactly as parts
// inflated in the usual large ones.
TEST(CorpusOoxml, SmallPiecesGiveTheSameBytes) {
  int seen = 0;
  for (const std::string type : {"docx", "xlsx", "pptx"}) {
    const std::string dir = test::CorpusDir(type);
    if (!std::filesystem::is_directory(dir)) {
      GTEST_SKIP() << "no corpus at " << dir;
    }
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
      SCOPED_TRACE(entry.path().filename().string());
      const TOut usual = Convert(type, entry.path().string());
      SetOfficeXPieceSize(61);
      const TOut small = Convert(type, entry.path().string());
      SetOfficeXPieceSize(std::size_t{1} << 20);
      EXPECT_EQ(small.code, usual.code);
      EXPECT_TRUE(small.text == usual.text);
      ++seen;
    }
  }
  EXPECT_GT(seen, 30);
}

// In the all-text mode, reading the notes pages on a second thread gives the bytes reading
// them in turn gives.
TEST(CorpusOoxml, NotesReadAheadGiveTheSameBytes) {
  const std::string dir = test::CorpusDir("pptx");
  if (!std::filesystem::is_directory(dir)) {
    GTEST_SKIP() << "no corpus at " << dir;
  }
  int seen = 0;
  SetOfficeXAllText(true);
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    SCOPED_TRACE(entry.path().filename().string());
    SetOfficeXNotesAheadFrom(std::numeric_limits<std::size_t>::max());
    const TOut inTurn = Convert("pptx", entry.path().string());
    SetOfficeXNotesAheadFrom(1);
    const TOut ahead = Convert("pptx", entry.path().string());
    EXPECT_EQ(ahead.code, inTurn.code);
    EXPECT_TRUE(ahead.text == inTurn.text);
    ++seen;
  }
  SetOfficeXNotesAheadFrom(kNotesAheadFrom);
  SetOfficeXAllText(false);
  EXPECT_GT(seen, 20);
}

TEST(CorpusOoxml, Phrases) {
  struct Case {
    const char* type;
    const char* file;
    const char* phrase;
  } cases[] = {
      {"docx", "paragraphs_and_tables.docx",
       "This is the paragraph before the table. It should appear first.\r\n"},
      {"docx", "delins.docx", "Tika can be:\r\nA Nepalese name for Tilaka\r\n"},
      {"docx", "HeaderFooterUnicode.docx", "\tGBP - \xC2\xA3\r\n\tEUR - \xE2\x82\xAC\r\n"},
      {"docx", "tab-stops.docx", "Default\t\ttab\tstops\r\nAssigned\tLeft\tcenter\tright\r\n"},
      {"xlsx", "Booleans.xlsx", "sheet1:\r\n1\t\ttrue from f\r\n1\t\ttrue from copy\r\n\r\n0"},
      {"xlsx", "TwoSheetsOneHidden.xlsx", "sheet1:\r\nSheet1A1\r\nsheet2:\r\nSheet2A1\r\n"},
      {"xlsx", "InlineStrings.xlsx",
       "Numbers\tStrings\tInline Strings\tFormulas\r\n12\tA\t1st Inline String\t12\r\n"},
      {"xlsx", "raw_text.xlsx",
       "Date & Time\tYEARFRAC\tReturns the year fraction representing the number of whole days "
       "between start_date and end_date\t0\t"},
      {"xlsx", "CVLKRA-KYC_Download_File_Structure_V3.1.xlsx",
       "Format to be used is dd/mm/yyyy\r\n\r\n01/01/2011\r\n31/07/2011"},
      {"pptx", "raw_text.pptx", "I love PowerPoint. A lot.\r\n"},
      {"pptx", "ae.ac.uaeu.faculty_nafaachbili_GeomLec1.pptx", "Math 260\r\n"},
      {"xlsx", "raw_text.xlsx", "Category\tFunction\tDescription\tNew?\tHelp Topic\tHelp\r\n"},
      {"pptx", "sample.pptx", "slide1:\r\nLorem ipsum dolor sit amet\r\n"},
      {"pptx", "sample.pptx", "slide2:\r\nLorem ipsum dolor sit amet\r\nLorem\r\nipsum\r\n"},
      {"pptx", "with_japanese.pptx", "Row 1 Col 1\r\nRow 1 Col 2\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.file) + ": " + c.phrase);
    const std::string path = test::CorpusDir(c.type) + "/" + c.file;
    if (!std::filesystem::exists(path)) {
      GTEST_SKIP() << "no corpus file " << path;
    }
    const TOut out = Convert(c.type, path);
    ASSERT_GT(out.code, 0);
    EXPECT_NE(out.text.find(c.phrase), std::string::npos);
  }
}

} // namespace
} // namespace scv::ooxml
