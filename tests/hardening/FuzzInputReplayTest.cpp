// Replays the checked-in fuzz inputs (the minimized findings in fuzz/regressions/<parser>/ and
// the seed sets) through the whole program: every run must end with a result the driver
// defines for a conversion (0, or the open, format and encryption failures), write nothing to
// standard error and finish within the time bound. Inputs of parsers that sit below a
// document type are wrapped into a document of that type first.
#include "hardening/BoundedRun.h"
#include "support/BiffBuilder.h"
#include "support/CfbBuilder.h"
#include "support/ProcessRunner.h"
#include "support/TestPaths.h"
#include "support/ZipBuilder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <set>
#include <string>
#include <vector>

namespace scv::test {
namespace {

namespace fs = std::filesystem;

constexpr double kWallLimitSeconds = 30;
constexpr unsigned kParallelRuns = 2;
// Exit codes of a conversion that ended as designed: success, open error (-4), format not
// correct (-5) and encrypted (-11), as the low byte of the result.
const std::set<int> kConversionExits = {0, 252, 251, 245};

enum class TWrap {
  kNone,
  kDeflateInDocx,
  kFormatInWorkbook
};

struct TParser {
  const char* name;
  std::vector<const char*> types; // forced types the inputs are converted as
  TWrap wrap = TWrap::kNone;
};

const std::vector<TParser>& Parsers() {
  static const std::vector<TParser> parsers = {
      {"cfb", {"doc", "ppt", "xls"}},
      {"doc", {"doc"}},
      {"ppt", {"ppt"}},
      {"xls", {"xls"}},
      {"xlsformat", {"xls"}, TWrap::kFormatInWorkbook},
      {"zip", {"docx", "xlsx", "pptx"}},
      {"ooxml", {"docx", "xlsx", "pptx"}},
      {"xml", {"docx", "xlsx", "pptx"}},
      {"inflate", {"docx"}, TWrap::kDeflateInDocx},
      {"rtf", {"rtf", "doc"}}, // as DOC too: the driver's retry of RTF text given as Word
      {"hlp", {"hlp"}},
      {"htm", {"htm"}},
      {"pdf", {"pdf"}},
  };
  return parsers;
}

// Folders holding inputs of one parser: its findings and its seeds.
std::vector<fs::path> InputFolders(const std::string& parser) {
  const fs::path root = fs::path(SourceDir()) / "fuzz";
  return {root / "regressions" / parser, root / parser / "corpus"};
}

// The Deflate target reads a control byte and then the raw stream: the stream becomes the
// compressed main part of a word-processing package.
std::string WrapDeflate(const std::string& input) {
  TZipBuilder zip;
  TZipItem& part = zip.Add("word/document.xml", "", 8);
  part.payload = input.empty() ? std::string() : input.substr(1);
  part.statedSize = 1u << 20;
  return zip.Build();
}

// The number format target reads a double, an option byte and the format text: they become a
// workbook with that format, two cell styles and two number cells.
std::string WrapNumberFormat(const std::string& input) {
  if (input.size() < 9) {
    return {};
  }
  double value = 0;
  std::memcpy(&value, input.data(), sizeof value);
  const auto options = static_cast<std::uint8_t>(input[8]);
  std::string text = input.substr(9, 0xFFFF);
  TBodyWriter format;
  format.U16(164).U16(static_cast<std::uint16_t>(text.size())).U8(options & 1).Latin1(text);
  TWorkbookPlan plan;
  plan.globalsExtra.Record(0x041E, format);
  plan.globalsExtra.Record(0x00E0, XfBody(164));
  plan.globalsExtra.Record(0x00E0, XfBody(static_cast<std::uint16_t>(options >> 1)));
  TBiffSheet sheet;
  sheet.name = u"Sheet1";
  sheet.records.Record(0x0203, NumberBody(0, 0, value, 0));
  sheet.records.Record(0x0203, NumberBody(0, 1, value, 1));
  plan.sheets.push_back(std::move(sheet));
  const TBytes stream = BuildWorkbookStream(plan);
  return TCfbBuilder::Make({{"Workbook", std::string(stream.begin(), stream.end())}});
}

TEST(FuzzInputReplay, EveryInputEndsWithAConversionResult) {
  TTempDir dir;
  std::vector<TBoundedJob> jobs;
  std::vector<std::string> names;
  for (const TParser& parser : Parsers()) {
    for (const fs::path& folder : InputFolders(parser.name)) {
      if (!fs::is_directory(folder)) {
        continue;
      }
      std::vector<fs::path> files;
      for (const auto& e : fs::directory_iterator(folder)) {
        if (e.is_regular_file()) {
          files.push_back(e.path());
        }
      }
      std::sort(files.begin(), files.end());
      for (const fs::path& file : files) {
        std::string input = file.string();
        if (parser.wrap != TWrap::kNone) {
          const std::string raw = ReadFileBytes(file.string());
          const std::string wrapped =
              parser.wrap == TWrap::kDeflateInDocx ? WrapDeflate(raw) : WrapNumberFormat(raw);
          if (wrapped.empty()) {
            continue;
          }
          input = dir.Write("in" + std::to_string(jobs.size()), wrapped);
        }
        for (const char* type : parser.types) {
          jobs.push_back({{"-o", "-c65001", std::string("-t") + type, input,
                           dir.File("out" + std::to_string(jobs.size()) + ".txt")},
                          {}});
          names.push_back(fs::relative(file, SourceDir()).string() + " as " + type);
        }
      }
    }
  }
  ASSERT_FALSE(jobs.empty());
  const std::vector<TBoundedResult> results = RunScvcmdJobs(jobs, kWallLimitSeconds, kParallelRuns);
  double slowest = 0;
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    SCOPED_TRACE(names[i]);
    const TBoundedResult& r = results[i];
    EXPECT_FALSE(r.timedOut) << "killed after " << kWallLimitSeconds << " s";
    EXPECT_EQ(r.signal, 0);
    EXPECT_TRUE(kConversionExits.count(r.exitCode) == 1) << "exit " << r.exitCode << ": " << r.out;
    EXPECT_EQ(r.err, "");
    slowest = std::max(slowest, r.wallSeconds);
  }
  std::cout << "[ measures ] " << jobs.size() << " replays, slowest " << slowest << " s\n";
}

} // namespace
} // namespace scv::test
