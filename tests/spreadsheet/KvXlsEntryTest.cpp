// The extractor entry on compound files: stream choice, open failures, results.
#include "spreadsheet/KvXlsCvt.h"
#include "support/BiffBuilder.h"
#include "support/CfbBuilder.h"
#include "support/ProcessRunner.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace scv::spreadsheet {
namespace {

std::string AsString(const test::TBytes& b) {
  return std::string(b.begin(), b.end());
}

std::string SimpleWorkbook(const std::u16string& sheetName, const std::u16string& text) {
  test::TWorkbookPlan plan;
  plan.strings = test::SstStrings({text});
  test::TBiffSheet sheet;
  sheet.name = sheetName;
  sheet.records.Record(0x00FD, test::LabelSstBody(0, 1, 0));
  plan.sheets.push_back(std::move(sheet));
  return AsString(test::BuildWorkbookStream(plan));
}

struct TEntryRun {
  std::int32_t code = 0;
  std::string bytes;
};

TEntryRun RunEntry(const std::string& path, std::int32_t codePage = 65001) {
  TConversionResult result;
  TEntryRun r;
  r.code = ExtractSpreadsheet(std::u16string(path.begin(), path.end()), 0, result, codePage);
  if (r.code >= 0) {
    const auto bytes = result.Bytes(static_cast<std::size_t>(r.code));
    r.bytes.assign(bytes.begin(), bytes.end());
  }
  return r;
}

TEST(KvXlsEntry, ChoosesTheWorkbookStream) {
  const std::string big = SimpleWorkbook(u"Big", std::u16string(3000, u'z')); // regular sectors
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, std::string>> streams;
    std::string want;
  };
  const std::vector<Case> cases = {
      {"Workbook", {{"Workbook", SimpleWorkbook(u"W", u"w")}}, "\xEF\xBB\xBFW\r\n\tw\r\n\r\n"},
      {"Book",
       {{"Book", SimpleWorkbook(u"B", u"b")}},
       "\xEF\xBB\xBF"
       "B\r\n\tb\r\n\r\n"},
      {"Workbook before Book",
       {{"Book", SimpleWorkbook(u"B", u"b")}, {"Workbook", SimpleWorkbook(u"W", u"w")}},
       "\xEF\xBB\xBFW\r\n\tw\r\n\r\n"},
      {"name in capitals",
       {{"WORKBOOK", SimpleWorkbook(u"C", u"c")}},
       "\xEF\xBB\xBF"
       "C\r\n\tc\r\n\r\n"},
      {"no workbook stream", {{"WordDocument", std::string(600, 'x')}}, "\xEF\xBB\xBF"},
      {"large stream",
       {{"Workbook", big}},
       "\xEF\xBB\xBF"
       "Big\r\n\t" +
           std::string(3000, 'z') + "\r\n\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TTempDir dir;
    const std::string path = dir.Write("book.xls", test::TCfbBuilder::Make(c.streams));
    const TEntryRun r = RunEntry(path);
    EXPECT_EQ(r.code, static_cast<std::int32_t>(c.want.size()));
    EXPECT_EQ(r.bytes, c.want);
  }
}

TEST(KvXlsEntry, FailureResults) {
  test::TTempDir dir;
  EXPECT_EQ(RunEntry(dir.File("missing.xls")).code, kResultNotFound);
  EXPECT_EQ(RunEntry(dir.Write("text.xls", "just text, not a compound file")).code,
            kResultBadFormat);
  // A signature with a broken header: recognised, but it cannot be opened.
  std::string broken = test::TCfbBuilder::Make({{"Workbook", SimpleWorkbook(u"S", u"x")}});
  test::PutU16(broken, 0x1E, 30); // sector shift out of range
  EXPECT_EQ(RunEntry(dir.Write("broken.xls", broken)).code, kResultOpenError);

  // An encrypted workbook.
  test::TBiffBuilder enc;
  enc.Record(0x0809, test::BofBody(5)).Record(0x002F, test::TBytes(54, 0x11));
  EXPECT_EQ(RunEntry(dir.Write("enc.xls",
                               test::TCfbBuilder::Make({{"Workbook", AsString(enc.Stream())}})))
                .code,
            kResultEncrypted);

  // Empty text still goes through the encoding step.
  const std::string none = dir.Write("none.xls", test::TCfbBuilder::Make({{"Other", "x"}}));
  EXPECT_EQ(RunEntry(none, 1200).bytes, std::string("\xFF\xFE\0\0", 4));
  EXPECT_EQ(RunEntry(none, 1252).bytes, std::string("\0\0", 2));
}

} // namespace
} // namespace scv::spreadsheet
