// The worst shapes we could think of, built in the test, each converted by the whole program:
// it must end with a conversion result, quietly, within a time bound, with a peak resident set
// bounded by a small multiple of input plus output, and - for the shapes built at two sizes -
// with CPU time that grows in proportion to the size rather than faster.
#include "hardening/BoundedRun.h"
#include "support/ProcessRunner.h"
#include "support/ShapeBuilders.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <set>
#include <string>
#include <vector>

namespace scv::test {
namespace {

namespace fs = std::filesystem;

// Bounds for a sanitized debug build; a release build stays far below them.
constexpr double kWallLimitSeconds = 120;
constexpr double kCpuLimitSeconds = 30;
// Peak resident set over the fixed cost of a run: this many times input plus output...
constexpr long kRssPerByte = 8;
// ...plus room for the sanitizer's own bookkeeping and the libraries a converter loads.
constexpr long kRssSlackKb = long{96} * 1024;
// Four times the input may cost this many times the CPU time (linear: 4, quadratic: 16).
constexpr double kScaleLimit = 9;
// Differences below this are noise of process start and measurement.
constexpr double kCpuFloorSeconds = 0.15;

const std::set<int> kConversionExits = {0, 252, 251, 245};

struct TMeasured {
  std::string name;
  std::size_t inputBytes = 0;
  std::size_t outputBytes = 0;
  TBoundedResult run;
};

std::vector<TMeasured> RunAll(const std::vector<std::pair<const TShape*, std::size_t>>& cases,
                              const TTempDir& dir) {
  std::vector<TBoundedJob> jobs;
  std::vector<TMeasured> measured;
  for (const auto& [shape, n] : cases) {
    const std::string bytes = shape->build(n);
    const std::string base = std::string(shape->name) + "-" + std::to_string(n);
    const std::string in = dir.Write(base + ".in", bytes);
    std::vector<std::string> args = {"-o", "-c65001", std::string("-t") + shape->type};
    if (shape->allText) {
      args.emplace_back("--all-text");
    }
    args.push_back(in);
    args.push_back(dir.File(base + ".txt"));
    jobs.push_back({args, {LeanSanitizerEnv()}});
    measured.push_back({base, bytes.size(), 0, {}});
  }
  // One run at a time: the CPU times compared below must not include a neighbour's cache misses.
  const std::vector<TBoundedResult> results = RunScvcmdJobs(jobs, kWallLimitSeconds, 1);
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    measured[i].run = results[i];
    std::error_code ec;
    const auto size = fs::file_size(jobs[i].args.back(), ec);
    measured[i].outputBytes = ec ? 0 : static_cast<std::size_t>(size);
    fs::remove(jobs[i].args.back(), ec);
    fs::remove(jobs[i].args[jobs[i].args.size() - 2], ec); // the input
  }
  return measured;
}

void CheckRun(const TMeasured& m, const TShape& shape) {
  SCOPED_TRACE(m.name);
  const TBoundedResult& r = m.run;
  EXPECT_FALSE(r.timedOut) << "killed after " << kWallLimitSeconds << " s";
  EXPECT_EQ(r.signal, 0);
  EXPECT_TRUE(kConversionExits.count(r.exitCode) == 1) << "exit " << r.exitCode << ": " << r.out;
  EXPECT_EQ(r.err.substr(0, 2000), "");
  EXPECT_LE(r.cpuSeconds, kCpuLimitSeconds);
  const long perByte = shape.rssPerByte != 0 ? shape.rssPerByte : kRssPerByte;
  const long budgetKb = BaselineRssKb() + (shape.rssSlackKb != 0 ? shape.rssSlackKb : kRssSlackKb) +
                        perByte * static_cast<long>((m.inputBytes + m.outputBytes) / 1024);
  EXPECT_LE(r.peakRssKb, budgetKb) << "input " << m.inputBytes << " output " << m.outputBytes;
  std::cout << "[ measures ] " << m.name << ": exit " << r.exitCode << ", in " << m.inputBytes
            << " B, out " << m.outputBytes << " B, cpu " << r.cpuSeconds << " s, peak RSS "
            << r.peakRssKb / 1024 << " MB (baseline " << BaselineRssKb() / 1024 << " MB)\n";
}

// Runs the shapes whose names start with prefix.
void RunShapes(const std::string& prefix) {
  TTempDir dir;
  std::vector<std::pair<const TShape*, std::size_t>> cases;
  for (const TShape& shape : HostileShapes()) {
    if (std::string(shape.name).rfind(prefix, 0) != 0) {
      continue;
    }
    cases.emplace_back(&shape, shape.n);
    if (shape.scaled) {
      cases.emplace_back(&shape, shape.n * 4);
    }
  }
  ASSERT_FALSE(cases.empty()) << prefix;
  const std::vector<TMeasured> measured = RunAll(cases, dir);
  for (std::size_t i = 0; i < cases.size(); ++i) {
    CheckRun(measured[i], *cases[i].first);
  }
  // The cost of four times the size, against the fixed cost of a run.
  const double baseCpu = [&] {
    double least = 1e9;
    for (const auto& m : measured) {
      least = std::min(least, m.run.cpuSeconds);
    }
    return std::min(least, 0.5);
  }();
  for (std::size_t i = 0; i + 1 < cases.size(); ++i) {
    if (cases[i].first != cases[i + 1].first) {
      continue;
    }
    SCOPED_TRACE(std::string(cases[i].first->name) + " at n and 4n");
    const double small = std::max(measured[i].run.cpuSeconds - baseCpu, kCpuFloorSeconds);
    const double large = measured[i + 1].run.cpuSeconds - baseCpu;
    EXPECT_LE(large, kScaleLimit * small)
        << measured[i].run.cpuSeconds << " s against " << measured[i + 1].run.cpuSeconds << " s";
  }
}

TEST(ResourceLimits, WordBinaryAndCompoundFile) {
  RunShapes("doc-");
  RunShapes("cfb-");
}
TEST(ResourceLimits, Workbooks) {
  RunShapes("xls-");
}
TEST(ResourceLimits, Presentations) {
  RunShapes("ppt-");
}
TEST(ResourceLimits, WordPackages) {
  RunShapes("docx-");
}
TEST(ResourceLimits, WorkbookAndSlidePackages) {
  RunShapes("xlsx-");
  RunShapes("pptx-");
}
TEST(ResourceLimits, AllTextPackages) {
  RunShapes("alltext-");
}
TEST(ResourceLimits, RichText) {
  RunShapes("rtf-");
}
TEST(ResourceLimits, Html) {
  RunShapes("htm-");
}
TEST(ResourceLimits, Pdf) {
  RunShapes("pdf-");
}

} // namespace
} // namespace scv::test
