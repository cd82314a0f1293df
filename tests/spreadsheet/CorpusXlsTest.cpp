// Real workbooks: exit codes, shared string tables decoded whole, and spot checks of the text.
#include "spreadsheet/KvXlsCvt.h"
#include "spreadsheet/KvXlsGlobal.h"
#include "storage/TDocFile_U1.h"
#include "support/ProcessRunner.h"
#include "support/TestPaths.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace scv::spreadsheet {
namespace {

std::string Corpus(const std::string& name) {
  return test::CorpusDir("xls") + "/" + name;
}

struct TRun {
  int exitCode = -1;
  std::string text;
};

TRun Convert(const std::string& name, const std::vector<std::string>& flags = {}) {
  test::TTempDir dir;
  std::vector<std::string> args = flags;
  args.push_back("-o");
  args.push_back(Corpus(name));
  args.push_back(dir.File("out.txt"));
  const auto run = test::RunScvcmd(args);
  TRun r;
  r.exitCode = run.exitCode;
  if (std::filesystem::exists(dir.File("out.txt"))) {
    r.text = test::ReadFileBytes(dir.File("out.txt"));
  }
  return r;
}

const std::string kBom = "\xEF\xBB\xBF";

TEST(CorpusXls, EveryFileConvertsWithItsResult) {
  // Workbooks with a FILEPASS record are encrypted (-11, exit 245). The older stand-alone
  // worksheets (BIFF3, BIFF4) convert like the others.
  const std::vector<std::pair<std::string, int>> special = {
      {"password.xls", 245},
      {"xor-encryption-abc.xls", 245},
  };
  for (const auto& entry : std::filesystem::directory_iterator(test::CorpusDir("xls"))) {
    const std::string name = entry.path().filename().string();
    SCOPED_TRACE(name);
    int want = 0;
    for (const auto& s : special) {
      if (s.first == name) {
        want = s.second;
      }
    }
    const TRun r = Convert(name);
    EXPECT_EQ(r.exitCode, want);
    if (want == 0) {
      EXPECT_EQ(r.text.substr(0, 3), kBom);
    } else {
      EXPECT_TRUE(r.text.empty());
    }
  }
}

TEST(CorpusXls, SharedStringTablesDecodeWhole) {
  // One file name, in two pieces to fit the line.
  const char* const longName = "at.gv.land-oberoesterreich.www_cps_rde_xbcr_SID-4A1B954F-5C07F98E_"
                               "ooe_stat_download_bp10.xls";
  const char* names[] = {"StringContinueRecords.xls", "ContinueRecordProblem.xls",
                         "corrupted_error.xls",       "chinese-provinces.xls",
                         "45538_classic_Header.xls",  "Basic_Expense_Template_2011.xls",
                         "WORKBOOK_in_capitals.xls",  "unicodeNameRecord.xls",
                         "formula_test_sjmachin.xls", longName};
  for (const char* name : names) {
    SCOPED_TRACE(name);
    const std::string path = Corpus(name);
    const std::u16string wide(path.begin(), path.end());
    const auto storageFile = storage::OpenStorageFile(wide, storage::kStgmReadShareExclusive);
    ASSERT_TRUE(storageFile);
    auto stream = storageFile->OpenStream(u"Workbook", storage::kStgmReadShareExclusive);
    ASSERT_TRUE(stream);
    const auto bytes = stream->ReadAll();
    TWorkBookData data;
    ReadWorkbookGlobals(bytes, data);
    EXPECT_TRUE(data.sstComplete);
    // Written while read, the text equals the layout of the fully read workbook.
    std::string written;
    ASSERT_EQ(ExtractWorkbookText(bytes, written), 0);
    EXPECT_EQ(written, LayoutWorkbook(data));
    EXPECT_EQ(data.sharedStrings.Count(), data.cstUnique);
    EXPECT_GT(data.cstUnique, 0U);
  }
}

TEST(CorpusXls, SpotChecks) {
  struct Case {
    const char* file;
    std::string want;
    bool whole; // want is the whole text after the byte-order mark
  };
  const std::vector<Case> cases = {
      {"rk.xls", "Sheet1\r\n1\r\n\r\nSheet2\r\n\r\nSheet3\r\n\r\n", true},
      {"TwoSheetsOneHidden.xls", "Sheet1\r\nSheet1A1\r\n\r\nSheet2\r\nSheet2A1\r\n\r\n", true},
      {"ragged.xls",
       "Sheet1\r\na\tb\tc\r\nd\te\r\nf\r\ng\th\tI\tj\r\nk\t\t\tl\r\n\r\nSheet2\r\n\r\nSheet3\r\n\r"
       "\n",
       true},
      {"SimpleWithComments.xls",
       "Sheet1\r\n1\tone\r\n2\ttwo\r\n3\tthree\r\n\r\nSheet2\r\n\r\nSheet3\r\n\r\n", true},
      {"MissingBits.xls", "Stuff\t\t\t11\t44\t\t\t\t\t\t\t44\r\n", false},
      {"chinese-provinces.xls", "Beijing\t\xE5\x8C\x97\xE4\xBA\xAC\xE5\xB8\x82\r\n", false},
      {"empty.xls",
       "\xD0\x9B\xD0\xB8\xD1\x81\xD1\x82"
       "1\r\n\r\n",
       false},
      {"unicodeNameRecord.xls", "Sheet1\r\n\xE3\x81\x82\tb\r\n", false},
      {"formula_test_sjmachin.xls", "formula number\t0.142857142857143\r\n", false},
      {"formula_test_sjmachin.xls", "formula boolean\tTRUE\r\nformula error\t#DIV/0!\r\n", false},
      // Older stand-alone worksheets: one sheet, its own cells and formats.
      {"testEXCEL_3.xls", "Sheet1\r\nTable C-13--Lemons: Utilization of production, by State",
       false},
      {"testEXCEL_4.xls", "Sheet1\r\nTable 10 -- Examination Coverage", false},
      {"formula_test_sjmachin.xls",
       "Non-latin1 text\t\xD0\x9C\xD0\x9E\xD0\xA1\xD0\x9A\xD0\x92\xD0\x90 "
       "\xD0\x9C\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0\r\n",
       false},
      {"BOOK_in_capitals.xls", "301. exposures by cpty and agreement_301_NTTX_EXCEL.rpt\r\n",
       false},
      {"ContinueRecordProblem.xls", "Bad Worksheet\r\ndata\t", false},
      {"corrupted_error.xls",
       "\xD0\xA2\xD1\x80\xD1\x83\xD0\xB1\xD1\x8B \xD0\x92\xD0\x93\xD0\x9F\r\n", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const TRun r = Convert(c.file);
    ASSERT_EQ(r.exitCode, 0);
    ASSERT_GE(r.text.size(), 3U);
    const std::string body = r.text.substr(3);
    if (c.whole) {
      EXPECT_EQ(body, c.want);
    } else {
      EXPECT_NE(body.find(c.want), std::string::npos) << body.substr(0, 400);
    }
  }
}

} // namespace
} // namespace scv::spreadsheet
