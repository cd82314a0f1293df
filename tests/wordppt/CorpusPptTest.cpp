// Every presentation of the shared corpus converts with its expected result and text.
#include "platform/FileIo.h"
#include "support/ProcessRunner.h"
#include "support/TestPaths.h"
#include "wordppt/KvPptCvt.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <span>

namespace scv::wordppt {
namespace {

struct TCorpusCase {
  std::int32_t result; // -11 encrypted; otherwise the file converts (0 = bytes counted)
  std::vector<std::string> phrases; // UTF-8, each on a line of its own in the output
};

// Files whose result is not plain success, and phrases that must come out. Text held only by
// master slides is never emitted, and PowerPoint 95 files hold no current-format edit, so they
// convert to the empty text; PowerPoint 4.0 files are not in the format.
const std::map<std::string, TCorpusCase>& Expectations() {
  static const std::map<std::string, TCorpusCase> cases = {
      {"38256.ppt", {0, {"\xE2\x80\x9CHAPPY BIRTHDAY SCOTT\xE2\x80\x9D", "Have a HAPPY DAY"}}},
      {"41246-1.ppt", {0, {"JBOSS Profiler", "Performance Profiling"}}},
      {"54880_chinese.ppt",
       {0,
        {"Single byte", "\xE8\xA4\x87\xE6\x95\xB0\xE3\x81\xAE\xE6\x96\x87\xE5\xAD\x97",
         "\xF0\xA0\xAE\x9F"}}},
      {"57272_corrupted_usereditatom.ppt", {0, {}}},
      {"PPT95.ppt", {0, {}}},
      {"pp40only.ppt", {-5, {}}},
      {"Password_Protected-hello.ppt", {-11, {}}},
      {"cryptoapi-proc2356.ppt", {-11, {}}},
      {"ppt_with_png_encrypted.ppt", {-11, {}}},
      {"SampleShow.ppt",
       {0,
        {"Title of the first slide", "This is the second slide",
         "They\xE2\x80\x99re fun, aren\xE2\x80\x99t they?"}}},
      {"basic_test_ppt_file.ppt",
       {0, {"This is a test title", "These are the notes on page two, again lacking formatting"}}},
      {"incorrect_slide_order.ppt", {0, {"First slide I added", "Third slide I added"}}},
      {"with_textbox.ppt", {0, {"Hello, World!!!", "This is Times New Roman"}}},
      {"WithComments.ppt", {0, {"Test Slide", "With a comment on it"}}},
      {"text_shapes.ppt", {0, {"Title Placeholder", "Text in a TextBox", "Octagon"}}},
      {"WithMaster.ppt", {0, {"First page title", "2nd page subtitle"}}},
      {"bullets.ppt", {0, {"Title text", "I\xE2\x80\x99m a text box"}}},
  };
  return cases;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] == '\r' && text[i + 1] == '\n') {
      lines.push_back(text.substr(start, i - start));
      start = i + 2;
      ++i;
    }
  }
  return lines;
}

TEST(CorpusPpt, EveryFileConvertsAsExpected) {
  const std::string dir = test::CorpusDir("ppt");
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    names.push_back(e.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  ASSERT_GE(names.size(), 30u);
  const auto& expectations = Expectations();
  for (const auto& name : names) {
    SCOPED_TRACE(name);
    const auto it = expectations.find(name);
    const TCorpusCase want = it != expectations.end() ? it->second : TCorpusCase{0, {}};
    const std::string path = std::string(dir).append("/").append(name);
    TConversionResult out;
    const std::int32_t r = PptToText(std::u16string(path.begin(), path.end()), 0, out, 65001);
    if (want.result < 0) {
      EXPECT_EQ(r, want.result);
      continue;
    }
    ASSERT_GE(r, 4); // at least the byte-order mark and the closing zero byte
    const auto bytes = out.Bytes(static_cast<std::size_t>(r));
    const std::string text(bytes.begin(), bytes.end());
    EXPECT_EQ(text.substr(0, 3), "\xEF\xBB\xBF");
    EXPECT_EQ(text.back(), '\0');
    const auto lines = Lines(text.substr(3));
    for (const auto& phrase : want.phrases) {
      EXPECT_NE(std::find(lines.begin(), lines.end(), phrase), lines.end()) << phrase;
    }
  }
}

TEST(CorpusPpt, EmptyResultsAreExactlyTheEncodedEmptyText) {
  for (const char* name :
       {"57272_corrupted_usereditatom.ppt", "PPT95.ppt", "empty.ppt", "master_text.ppt"}) {
    SCOPED_TRACE(name);
    const std::string path = test::CorpusDir("ppt") + "/" + name;
    TConversionResult out;
    EXPECT_EQ(PptToText(std::u16string(path.begin(), path.end()), 0, out, 1200), 2);
    const std::span<const std::uint8_t> bytes = out.Bytes(2);
    ASSERT_EQ(bytes.size(), 2u);
    EXPECT_EQ(bytes[0], 0xFF);
    EXPECT_EQ(bytes[1], 0xFE);
  }
}

TEST(CorpusPpt, CommandLineExitCodes) {
  test::TTempDir tmp;
  const std::string dir = test::CorpusDir("ppt");
  const auto ok = test::RunScvcmd({"-c65001", dir + "/SampleShow.ppt", tmp.File("a.txt")});
  EXPECT_EQ(ok.exitCode, 0);
  const std::string text = test::ReadFileBytes(tmp.File("a.txt"));
  EXPECT_NE(text.find("Title of the first slide\r\n"), std::string::npos);
  const auto enc = test::RunScvcmd({dir + "/Password_Protected-hello.ppt", tmp.File("b.txt")});
  EXPECT_EQ(enc.exitCode, 245); // -11
  const auto pp40 = test::RunScvcmd({dir + "/pp40only.ppt", tmp.File("c.txt")});
  EXPECT_EQ(pp40.exitCode, 251); // -5, and no destination is written
  EXPECT_NE(pp40.out.find("format not correct"), std::string::npos);
  EXPECT_FALSE(platform::FileExists(tmp.File("c.txt")));
}

} // namespace
} // namespace scv::wordppt
