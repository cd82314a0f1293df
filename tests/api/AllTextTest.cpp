// The all-text flag of the library: documents saved by an office suite in both formats from one
// source give the same words in the same order; the flag is checked and lasts one conversion.
#include "scv/scv.h"
#include "support/ProcessRunner.h"
#include "support/TestPaths.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace scv::test {
namespace {

std::string Fixture(const std::string& name) {
  return SourceDir() + "/tests/fixtures/all-text/" + name;
}

struct TText {
  int32_t code = 0;
  std::string bytes;
};

TText Convert(const std::string& path, uint32_t flags) {
  unsigned char* text = nullptr;
  size_t length = 0;
  TText out;
  out.code = scv_convert_file_ex(path.c_str(), nullptr, 65001, 0, flags, &text, &length);
  if (text != nullptr) {
    out.bytes.assign(reinterpret_cast<const char*>(text), length);
  }
  scv_free(text);
  return out;
}

// The words of a UTF-8 text: runs of characters between blanks, line ends and zero bytes.
std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::string word;
  for (const char c : text.starts_with("\xEF\xBB\xBF") ? text.substr(3) : text) {
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\0') {
      if (!word.empty()) {
        words.push_back(word);
        word.clear();
      }
    } else {
      word += c;
    }
  }
  if (!word.empty()) {
    words.push_back(word);
  }
  return words;
}

TEST(AllText, PairsFromOneSourceGiveTheSameWords) {
  const std::pair<const char*, const char*> pairs[] = {
      {"stories.doc", "stories.docx"},
      {"deck.ppt", "deck.pptx"},
  };
  for (const auto& [old, open] : pairs) {
    SCOPED_TRACE(open);
    const TText before = Convert(Fixture(old), SCV_ALL_TEXT);
    const TText after = Convert(Fixture(open), SCV_ALL_TEXT);
    ASSERT_EQ(before.code, SCV_OK);
    ASSERT_EQ(after.code, SCV_OK);
    EXPECT_GT(Words(after.bytes).size(), 20u);
    EXPECT_EQ(Words(after.bytes), Words(before.bytes));
    // The old formats give every story anyway: the flag changes nothing there.
    EXPECT_EQ(Convert(Fixture(old), 0).bytes, before.bytes);
    // Without it the package gives less, or another order.
    EXPECT_NE(Words(Convert(Fixture(open), 0).bytes), Words(before.bytes));
  }
}

TEST(AllText, FlagsAreCheckedAndLastOneConversion) {
  const std::string deck = Fixture("deck.pptx");
  unsigned char* text = reinterpret_cast<unsigned char*>(&text);
  size_t length = 7;
  for (const uint32_t flags : {2u, 0x80000000u, SCV_ALL_TEXT | 4u}) {
    EXPECT_EQ(scv_convert_file_ex(deck.c_str(), nullptr, 65001, 0, flags, &text, &length),
              SCV_E_ARGUMENT);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(scv_convert_memory_ex("x", 1, "PPTX", 65001, 0, flags, &text, &length),
              SCV_E_ARGUMENT);
  }
  EXPECT_EQ(scv_convert_file_ex(deck.c_str(), nullptr, 65001, 0, SCV_ALL_TEXT, nullptr, &length),
            SCV_E_ARGUMENT);

  const TText plain = Convert(deck, 0);
  const TText all = Convert(deck, SCV_ALL_TEXT);
  ASSERT_EQ(all.code, SCV_OK);
  EXPECT_NE(all.bytes, plain.bytes);
  // The conversions without flags are the flagless _ex ones, also right after an all-text one
  // and after one that failed in its middle.
  unsigned char* out = nullptr;
  ASSERT_EQ(scv_convert_file(deck.c_str(), nullptr, 65001, 0, &out, &length), SCV_OK);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(out), length), plain.bytes);
  scv_free(out);
  EXPECT_EQ(Convert(SourceDir() + "/tests/fixtures/all-text/stories.fodt", SCV_ALL_TEXT).code,
            SCV_E_TYPE_NOT_SUPPORTED);
  EXPECT_EQ(Convert(deck, 0).bytes, plain.bytes);

  // From memory: the bytes of the file.
  const std::string bytes = ReadFileBytes(deck);
  ASSERT_EQ(scv_convert_memory_ex(bytes.data(), bytes.size(), "pptx", 65001, 0, SCV_ALL_TEXT, &out,
                                  &length),
            SCV_OK);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(out), length), all.bytes);
  scv_free(out);
}

} // namespace
} // namespace scv::test
