// The real HTML files of the shared corpus through scvcmd and scvhtm.
#include "support/ProcessRunner.h"
#include "support/TestPaths.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

using scv::test::CorpusDir;
using scv::test::ReadFileBytes;
using scv::test::RunScvcmd;
using scv::test::TTempDir;

std::string ConvertUtf8(const std::string& file, const TTempDir& dir, int* exitCode = nullptr) {
  const std::string out = dir.File("out.txt");
  const auto r = RunScvcmd({"-o", "-c65001", file, out});
  if (exitCode != nullptr) {
    *exitCode = r.exitCode;
  }
  EXPECT_EQ(r.err, "");
  return r.exitCode == 0 ? ReadFileBytes(out) : std::string();
}

TEST(CorpusHtm, EveryFileConverts) {
  TTempDir dir;
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(CorpusDir("htm"))) {
    SCOPED_TRACE(entry.path().filename().string());
    int exitCode = -1;
    const std::string text = ConvertUtf8(entry.path().string(), dir, &exitCode);
    EXPECT_EQ(exitCode, 0);
    EXPECT_GT(text.size(), 3u) << "some text besides the byte-order mark";
    ++count;
  }
  EXPECT_GE(count, 30);
}

TEST(CorpusHtm, SpotChecks) {
  TTempDir dir;
  struct Case {
    const char* file;
    std::vector<std::string> phrases; // in this order
    std::vector<std::string> absent;
  };
  const Case cases[] = {
      {"quick.html",
       {"The quick brown fox jumps over the lazy dog\r\n\r\nThe quick brown fox"},
       {"Nevin", "Pangram"}},
      {"standardized_text.html", {"the quick\r\n\r\nbrown fox jumps over the lazy dog\r\n"}, {}},
      // EUC-JP declared as x-euc-jp.
      {"README_Japan.htm", {"\xE6\xA6\x82\xE8\xA6\x81", "Microsoft\xE7\xA4\xBE\xE3\x81\xAE"}, {}},
      // UTF-8 content under a stale gb2312 declaration.
      {"readability_qq.html", {"DeepMind\xE6\x96\xB0\xE7\x94\xB5\xE8\x84\x91"}, {"<script"}},
      // Cyrillic, Arabic and CJK in UTF-8; the title leads.
      {"habibi.html",
       {"habibi\r\n\r\n\xD8\xAD\xD9\x8E\xD8\xA8\xD9\x8A\xD8\xA8\xD9\x8A habibi\r\n"},
       {}},
      {"tables.html",
       {"List of countries by population", "Rank\tCountry (or dependent territory)\tPopulation",
        "1\tChina[8]\t1,366,350,000",
        // Cyrillic language names, one per line.
        "\r\n\xD0\x91\xD0\xB5\xD0\xBB\xD0\xB0\xD1\x80\xD1\x83\xD1\x81\xD0\xBA\xD0\xB0\xD1\x8F\r\n"},
       {"mw.config"}},
      {"chardet_plane1-utf-16le.html", {}, {std::string(1, '\0')}},
      {"readability_005-unescape-html-entities.html", {"Test\r\n"}, {"#x"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string text = ConvertUtf8(CorpusDir("htm") + "/" + c.file, dir);
    ASSERT_EQ(text.substr(0, 3), "\xEF\xBB\xBF");
    std::size_t pos = 0;
    for (const std::string& phrase : c.phrases) {
      const std::size_t found = text.find(phrase, pos);
      EXPECT_NE(found, std::string::npos) << phrase;
      if (found != std::string::npos) {
        pos = found + phrase.size();
      }
    }
    for (const std::string& phrase : c.absent) {
      EXPECT_EQ(text.find(phrase), std::string::npos) << phrase;
    }
  }
}

TEST(CorpusHtm, Utf16And32DocumentsDecode) {
  TTempDir dir;
  const std::string a = ConvertUtf8(CorpusDir("htm") + "/chardet_plane1-utf-16le.html", dir);
  const std::string b = ConvertUtf8(CorpusDir("htm") + "/chardet_plane1-utf-32be.html", dir);
  EXPECT_EQ(a, b) << "the same page in two encodings";
  EXPECT_NE(a.find("\xF0\x90"), std::string::npos) << "characters beyond the basic plane";
}

} // namespace
