// Real xlsx files of the shared corpus in the all-text mode: every one converts or fails as in
// the default mode, reads alike in small pieces, and those with a 97-2003 twin give its words.
#include "ooxml/OfficeXCvt.h"
#include "platform/FileIo.h"
#include "spreadsheet/KvXlsCvt.h"
#include "support/TestPaths.h"
#include "support/TextWords.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace scv::ooxml {
namespace {

struct TOut {
  std::int32_t code;
  std::string text;
};

TOut Convert(const std::string& path, bool allText) {
  TConversionResult result;
  SetOfficeXAllText(allText);
  const std::int32_t code = XlsxToText(platform::ArgumentToWide(path), 0, result, 65001);
  SetOfficeXAllText(false);
  TOut out{code, {}};
  if (code > 0) {
    out.text.assign(reinterpret_cast<const char*>(result.Data()), static_cast<std::size_t>(code));
  }
  return out;
}

using test::Words;

TEST(CorpusWorkbookAllText, EveryFileConvertsOrFailsAsInTheDefaultMode) {
  const std::string dir = test::CorpusDir("xlsx");
  if (!std::filesystem::is_directory(dir)) {
    GTEST_SKIP() << "no corpus at " << dir;
  }
  int seen = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    SCOPED_TRACE(entry.path().filename().string());
    const TOut usual = Convert(entry.path().string(), false);
    const TOut all = Convert(entry.path().string(), true);
    EXPECT_EQ(all.code > 0, usual.code > 0);
    if (usual.code <= 0) {
      EXPECT_EQ(all.code, usual.code);
      continue;
    }
    SetOfficeXPieceSize(61);
    const TOut small = Convert(entry.path().string(), true);
    SetOfficeXPieceSize(std::size_t{1} << 20);
    EXPECT_EQ(small.code, all.code);
    EXPECT_TRUE(small.text == all.text);
    ++seen;
  }
  EXPECT_GT(seen, 10);
}

TEST(CorpusWorkbookAllText, TwinsOfThe97Format) {
  struct Case {
    const char* stem;
    const char* phrase; // in the all-text text of the .xlsx
  } cases[] = {
      {"TwoSheetsOneHidden", "Sheet1\r\nSheet1A1\r\n\r\nSheet2\r\nSheet2A1\r\n\r\n"},
      {"SimpleWithComments", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stem);
    const std::string xlsx = test::CorpusDir("xlsx") + "/" + c.stem + ".xlsx";
    const std::string xls = test::CorpusDir("xls") + "/" + c.stem + ".xls";
    if (!std::filesystem::exists(xlsx) || !std::filesystem::exists(xls)) {
      GTEST_SKIP() << "no corpus";
    }
    const TOut all = Convert(xlsx, true);
    ASSERT_GT(all.code, 0);
    TConversionResult result;
    const std::int32_t code =
        spreadsheet::ExtractSpreadsheet(platform::ArgumentToWide(xls), 0, result, 65001);
    ASSERT_GT(code, 0);
    const std::string old(reinterpret_cast<const char*>(result.Data()),
                          static_cast<std::size_t>(code));
    EXPECT_EQ(Words(all.text), Words(old));
    EXPECT_NE(all.text.find(c.phrase), std::string::npos);
  }
}

TEST(CorpusWorkbookAllText, Phrases) {
  struct Case {
    const char* file;
    const char* phrase;
  } cases[] = {
      {"Booleans.xlsx", "Sheet1\r\nTRUE\t\ttrue from f\r\nTRUE\t\ttrue from copy\r\nFALSE"},
      {"DateFormatTests.xlsx", "11-10-52\td-m-y\t11-Oct-1952 14:35:27.000\tDate\r\n"},
      {"NumberFormatTests.xlsx", "12.34\t0.00\t12.344\tBasic\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string path = test::CorpusDir("xlsx") + "/" + c.file;
    if (!std::filesystem::exists(path)) {
      GTEST_SKIP() << "no corpus";
    }
    const TOut all = Convert(path, true);
    ASSERT_GT(all.code, 0);
    EXPECT_NE(all.text.find(c.phrase), std::string::npos);
  }
}

} // namespace
} // namespace scv::ooxml
