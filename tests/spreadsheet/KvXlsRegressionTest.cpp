// Inputs that once made the workbook reader fail, run as the fuzz target runs them: one byte
// choosing the code page, then the workbook stream.
#include "spreadsheet/KvXlsCvt.h"
#include "support/ProcessRunner.h"
#include "support/TestPaths.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <span>
#include <string>

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
