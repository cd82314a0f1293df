// Inputs that once made the workbook reader fail, run as the fuzz target runs them: one byte
// choosing the code page, then the workbook stream.
#include "spreadsheet/KvXlsBOF.h"
#include "spreadsheet/KvXlsCvt.h"
#include "support/ProcessRunner.h"
#include "support/TestPaths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace scv::spreadsheet {
namespace {

TEST(KvXlsRegression, FuzzFindingsRunCleanly) {
  const std::filesystem::path dir = test::SourceDir() + "/fuzz/regressions/xls";
  ASSERT_TRUE(std::filesystem::exists(dir));
  const std::int32_t codePages[] = {65001, 1200, 1252, 1251, 932, 0};
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    SCOPED_TRACE(entry.path().filename().string());
    const std::string bytes = test::ReadFileBytes(entry.path().string());
    ASSERT_FALSE(bytes.empty());
    const std::span<const std::uint8_t> input(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                              bytes.size());
    std::string text;
    const std::int32_t code = ExtractWorkbookText(input.subspan(1), text);
    EXPECT_TRUE(code == 0 || code == kResultEncrypted);
    // The same stream from runs of 7 bytes, each in a buffer of its own, reads the same.
    std::vector<std::vector<std::uint8_t>> pieces;
    const auto stream = input.subspan(1);
    for (std::size_t at = 0; at < stream.size(); at += 7) {
      const auto piece = stream.subspan(at, std::min<std::size_t>(7, stream.size() - at));
      pieces.emplace_back(piece.begin(), piece.end());
    }
    const std::vector<std::span<const std::uint8_t>> views(pieces.begin(), pieces.end());
    const std::vector<TStreamRun> runs = MakeStreamRuns(views);
    std::string fromRuns;
    EXPECT_EQ(ExtractWorkbookText(TBiffStream(std::span<const TStreamRun>(runs)), fromRuns), code);
    EXPECT_EQ(fromRuns, text);
    for (const std::int32_t cp : codePages) {
      TConversionResult result;
      EXPECT_GE(StoreWorkbookText(text, cp, result), 0);
    }
    ++count;
  }
  EXPECT_GT(count, 0);
}

} // namespace
} // namespace scv::spreadsheet
