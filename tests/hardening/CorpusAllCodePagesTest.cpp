// Every real document of the shared corpus through scvcmd with every supported output code page:
// the exit code must match the reviewed table in expectations.tsv, nothing may appear on
// standard error, the destination exists exactly when the run succeeded, and no run may take
// longer than the bound below.
//
// Recording: with SCV_RECORD_EXPECTATIONS=<dir> each type writes <dir>/<type>.tsv with the
// codes seen, which can then be reviewed and merged into expectations.tsv.
#include "hardening/BoundedRun.h"
#include "support/ProcessRunner.h"
#include "support/TestPaths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace scv::test {
namespace {

namespace fs = std::filesystem;

constexpr int kCodePages[] = {65001, 1200, 1252, 932};
constexpr std::size_t kCodePageCount = std::size(kCodePages);
// A sanitized debug build on a loaded machine; a release build takes a small fraction of this.
constexpr double kWallLimitSeconds = 60;
constexpr unsigned kParallelRuns = 2;

struct TFolder {
  const char* folder;
  const char* forcedType; // "-t" value the folder's files are converted with
};

// The zip folder holds plain archives: run as word-processing packages they exercise the
// archive reader on real files and must fail cleanly where no document part exists.
const TFolder kFolders[] = {{"doc", "doc"}, {"docx", "docx"}, {"hlp", "hlp"},   {"htm", "htm"},
                            {"pdf", "pdf"}, {"ppt", "ppt"},   {"pptx", "pptx"}, {"rtf", "rtf"},
                            {"xls", "xls"}, {"xlsx", "xlsx"}, {"zip", "docx"}};

void PrintTo(const TFolder& folder, std::ostream* os) {
  *os << folder.folder;
}

using TCodes = std::array<int, kCodePageCount>;

// expectations.tsv: "<folder>/<file name>" TAB four exit codes (65001, 1200, 1252, 932) TAB an
// optional note. Lines starting with # are comments.
const std::map<std::string, TCodes>& Expectations() {
  static const std::map<std::string, TCodes> table = [] {
    std::map<std::string, TCodes> t;
    std::ifstream in(SourceDir() + "/tests/hardening/expectations.tsv");
    std::string line;
    while (std::getline(in, line)) {
      if (line.empty() || line[0] == '#') {
        continue;
      }
      std::istringstream fields(line);
      std::string key;
      std::getline(fields, key, '\t');
      TCodes codes{};
      for (auto& c : codes) {
        std::string value;
        std::getline(fields, value, '\t');
        c = std::stoi(value);
      }
      t[key] = codes;
    }
    return t;
  }();
  return table;
}

std::vector<std::string> FilesOf(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(CorpusDir(folder))) {
    if (e.is_regular_file()) {
      names.push_back(e.path().filename().string());
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

class CorpusAllCodePages : public ::testing::TestWithParam<TFolder> {};

TEST_P(CorpusAllCodePages, ExitCodesAsRecordedWithoutErrorOutput) {
  const TFolder folder = GetParam();
  const std::vector<std::string> files = FilesOf(folder.folder);
  ASSERT_FALSE(files.empty()) << CorpusDir(folder.folder);
  TTempDir out;

  std::vector<TBoundedJob> jobs;
  for (std::size_t f = 0; f < files.size(); ++f) {
    for (std::size_t c = 0; c < kCodePageCount; ++c) {
      jobs.push_back(
          {{"-o", "-c" + std::to_string(kCodePages[c]), std::string("-t") + folder.forcedType,
            CorpusDir(folder.folder) + "/" + files[f],
            out.File(std::to_string(f) + "-" + std::to_string(c) + ".txt")},
           {}});
    }
  }
  const std::vector<TBoundedResult> results = RunScvcmdJobs(jobs, kWallLimitSeconds, kParallelRuns);

  const char* recordDir = std::getenv("SCV_RECORD_EXPECTATIONS");
  std::ofstream record;
  if (recordDir != nullptr) {
    record.open(std::string(recordDir) + "/" + folder.folder + ".tsv");
  }
  double slowest = 0;
  std::string slowestName;
  long largestRss = 0;
  for (std::size_t f = 0; f < files.size(); ++f) {
    const std::string key = std::string(folder.folder) + "/" + files[f];
    const auto expected = Expectations().find(key);
    if (recordDir == nullptr) {
      EXPECT_NE(expected, Expectations().end()) << key << " has no entry in expectations.tsv";
    } else {
      record << key;
    }
    for (std::size_t c = 0; c < kCodePageCount; ++c) {
      const TBoundedResult& r = results[f * kCodePageCount + c];
      const std::string& dest = jobs[f * kCodePageCount + c].args.back();
      SCOPED_TRACE(key + " with code page " + std::to_string(kCodePages[c]));
      if (recordDir != nullptr) {
        record << '\t' << r.exitCode;
      }
      EXPECT_FALSE(r.timedOut) << "killed after " << kWallLimitSeconds << " s";
      EXPECT_EQ(r.signal, 0) << "ended by signal";
      EXPECT_EQ(r.err, "") << "standard error";
      if (expected != Expectations().end()) {
        EXPECT_EQ(r.exitCode, expected->second[c]) << r.out;
      }
      // Success writes the destination and its OK line; a failure leaves no destination.
      EXPECT_EQ(fs::exists(dest), r.exitCode == 0) << r.out;
      if (r.exitCode == 0) {
        const std::string text = ReadFileBytes(dest);
        if (kCodePages[c] == 1200 && !text.empty()) {
          EXPECT_EQ(text.substr(0, 2), "\xFF\xFE");
        }
        if (kCodePages[c] == 65001 && !text.empty()) {
          EXPECT_EQ(text.substr(0, 3), "\xEF\xBB\xBF");
        }
        EXPECT_NE(r.out.find("\" OK"), std::string::npos) << r.out;
        fs::remove(dest);
      }
      if (r.wallSeconds > slowest) {
        slowest = r.wallSeconds;
        slowestName = key + " -c" + std::to_string(kCodePages[c]);
      }
      largestRss = std::max(largestRss, r.peakRssKb);
    }
    if (recordDir != nullptr) {
      record << '\n';
    }
  }
  std::cout << "[ measures ] " << folder.folder << ": " << results.size() << " runs, slowest "
            << slowest << " s (" << slowestName << "), largest peak RSS " << largestRss / 1024
            << " MB\n";
}

INSTANTIATE_TEST_SUITE_P(Folders, CorpusAllCodePages, ::testing::ValuesIn(kFolders),
                         [](const ::testing::TestParamInfo<TFolder>& param) {
                           return std::string(param.param.folder);
                         });

} // namespace
} // namespace scv::test
