// The real PDF files of the shared corpus through scvcmd and scvpdf.
#include "support/ProcessRunner.h"
#include "support/TestPaths.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

using scv::test::CorpusDir;
using scv::test::ReadFileBytes;
using scv::test::RunProgram;
using scv::test::RunScvcmd;
using scv::test::TTempDir;

TEST(CorpusPdf, EveryFileConvertsOrIsReportedEncrypted) {
  TTempDir dir;
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(CorpusDir("pdf"))) {
    const std::string name = entry.path().filename().string();
    SCOPED_TRACE(name);
    const auto r = RunScvcmd({"-o", "-c65001", entry.path().string(), dir.File("out.txt")});
    if (name == "libreoffice-writer-password.pdf") {
      EXPECT_EQ(r.exitCode, 245);
      EXPECT_EQ(r.out, "Input file \"" + entry.path().string() + "\" is encrypted\r\n");
    } else {
      EXPECT_EQ(r.exitCode, 0) << r.out;
    }
    EXPECT_EQ(r.err, "");
    ++count;
  }
  EXPECT_GE(count, 30);
}

TEST(CorpusPdf, SpotChecks) {
  TTempDir dir;
  struct Case {
    const char* file;
    const char* flag;
    std::vector<std::string> phrases; // in this order
  };
  const Case cases[] = {
      {"quick.pdf", "-s0", {"\xEF\xBB\xBFThe quick brown fox jumps over the lazy dog\r\n"}},
      {"GeoTopo-komprimiert.pdf",
       "-s0",
       {"Einf\xC3\xBChrung in die\r\nGeometrie und Topologie", "Vorwort",
        "Mitschriften einiger \xC3\x9C"
        "bungen"}},
      {"two_column.pdf", "-s0", {}},
      {"crazyones-pdfa.pdf", "-s0", {"The Crazy Ones\r\nOctober 14, 1998"}},
      // A page break is a form feed; the last page ends with one too.
      {"pdflatex-4-pages.pdf", "-s0", {"\f", "\f", "\f", "\f"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const auto r =
        RunScvcmd({"-o", "-c65001", c.flag, CorpusDir("pdf") + "/" + c.file, dir.File("out.txt")});
    ASSERT_EQ(r.exitCode, 0);
    const std::string text = ReadFileBytes(dir.File("out.txt"));
    std::size_t pos = 0;
    for (const std::string& phrase : c.phrases) {
      const std::size_t found = text.find(phrase, pos);
      EXPECT_NE(found, std::string::npos) << phrase;
      pos = found == std::string::npos ? pos : found + phrase.size();
    }
  }
}

// The tool's text with the typographic ligatures U+FB00-U+FB06 written as their letters, as
// scvpdf writes them.
std::string WithoutLigatures(const std::string& text) {
  static const char* const kLetters[] = {"ff", "fi", "fl", "ffi", "ffl", "st", "st"};
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (i + 2 < text.size() && text[i] == '\xEF' && text[i + 1] == '\xAC' &&
        static_cast<unsigned char>(text[i + 2]) >= 0x80 &&
        static_cast<unsigned char>(text[i + 2]) <= 0x86) {
      out += kLetters[static_cast<unsigned char>(text[i + 2]) - 0x80];
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

// The same engine as the standard PDF text tool: for every file and each of the three
// layouts the text must be the tool's, line ends and ligatures aside. Skipped where the tool
// is absent.
TEST(CorpusPdf, MatchesTheStandardTextToolInAllThreeLayouts) {
  if (!std::filesystem::exists("/usr/bin/pdftotext")) {
    GTEST_SKIP() << "pdftotext not installed";
  }
  TTempDir dir;
  struct Layout {
    const char* flag;
    const char* toolFlag;
  };
  const Layout layouts[] = {{"-s0", nullptr}, {"-s1", "-layout"}, {"-s2", "-raw"}};
  for (const auto& entry : std::filesystem::directory_iterator(CorpusDir("pdf"))) {
    const std::string name = entry.path().filename().string();
    if (name == "libreoffice-writer-password.pdf") {
      continue;
    }
    for (const Layout& l : layouts) {
      SCOPED_TRACE(name + " " + l.flag);
      std::vector<std::string> args = {"-q", "-enc", "UTF-8"};
      if (l.toolFlag != nullptr) {
        args.emplace_back(l.toolFlag);
      }
      args.push_back(entry.path().string());
      args.push_back(dir.File("tool.txt"));
      RunProgram("/usr/bin/pdftotext", args);
      std::string want = WithoutLigatures(ReadFileBytes(dir.File("tool.txt")));
      const auto r =
          RunScvcmd({"-o", "-c65001", l.flag, entry.path().string(), dir.File("out.txt")});
      ASSERT_EQ(r.exitCode, 0);
      std::string got = ReadFileBytes(dir.File("out.txt"));
      if (got.starts_with("\xEF\xBB\xBF")) {
        got.erase(0, 3);
      }
      std::string normalized;
      for (std::size_t i = 0; i < got.size(); ++i) {
        if (got[i] == '\r' && i + 1 < got.size() && got[i + 1] == '\n') {
          continue;
        }
        normalized.push_back(got[i]);
      }
      EXPECT_TRUE(normalized == want) << "sizes " << normalized.size() << " vs " << want.size();
    }
  }
}

} // namespace
