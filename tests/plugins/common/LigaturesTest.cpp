// Typographic ligatures to letters, as the converter libraries write them.
#include "common/Ligatures.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using scv::plugin::LigatureAt;
using scv::plugin::LigatureLetters;

TEST(Ligatures, EachLigatureHasItsLetters) {
  struct Case {
    char32_t c;
    const char* want;
  };
  const Case cases[] = {
      {0xFB00, "ff"},  {0xFB01, "fi"}, {0xFB02, "fl"}, {0xFB03, "ffi"},
      {0xFB04, "ffl"}, {0xFB05, "st"}, {0xFB06, "st"}, {0xFAFF, ""},
      {0xFB07, ""},    {0xFB13, ""},   {'f', ""},      {0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<unsigned>(c.c));
    EXPECT_EQ(LigatureLetters(c.c), c.want);
  }
}

TEST(Ligatures, FoundOnlyAsAWholeUtf8Sequence) {
  struct Case {
    const char* name;
    std::string text;
    std::size_t at;
    const char* want;
  };
  const Case cases[] = {
      {"fi", "o\xEF\xAC\x81", 1, "fi"},
      {"st", "\xEF\xAC\x86", 0, "st"},
      {"not at the lead byte", "\xEF\xAC\x81", 1, ""},
      {"cut short", "a\xEF\xAC", 1, ""},
      {"next code point", "\xEF\xAC\x87", 0, ""},
      {"other block", "\xEF\xBB\xBF", 0, ""},
      {"beyond the end", "ab", 5, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(LigatureAt(c.text, c.at), c.want);
  }
}

} // namespace
