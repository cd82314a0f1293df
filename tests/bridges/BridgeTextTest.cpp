// Decoding library UTF-8 and encoding it for the target code page.
#include "bridges/BridgeText.h"

#include "platform/CodePage.h"
#include "platform/LocaleInfo.h"

#include <gtest/gtest.h>

#include <string>

namespace scv::bridges {
namespace {

TEST(BridgeText, DecodesEachIllFormedSequenceAsOneReplacement) {
  struct Case {
    const char* name;
    std::string in;
    std::u16string want;
  };
  const Case cases[] = {
      {"ascii", "abc", u"abc"},
      {"two byte", "\xC3\xA9", u"\u00E9"},
      {"three byte", "\xE2\x82\xAC", u"\u20AC"},
      {"four byte to surrogates", "\xF0\x9F\x98\x80", u"\U0001F600"},
      {"stray continuation",
       "a\x80"
       "b",
       u"a\uFFFDb"},
      {"two stray continuations",
       "a\x80\x80"
       "b",
       u"a\uFFFD\uFFFDb"},
      {"invalid lead",
       "a\xFF"
       "b",
       u"a\uFFFDb"},
      {"truncated three byte is one replacement",
       "a\xE2\x82"
       "b",
       u"a\uFFFDb"},
      {"truncated at end", "a\xF0\x9F\x98", u"a\uFFFD"},
      {"overlong two byte", "\xC0\xAF", u"\uFFFD\uFFFD"},
      {"overlong three byte", "\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},
      {"surrogate encoded", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
      {"above U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"largest scalar", "\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
      {"bad byte does not swallow the next character", "\xE2\xC3\xA9", u"\uFFFD\u00E9"},
      {"zero bytes stay", std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(DecodeLibraryUtf8(c.in), c.want);
  }
}

TEST(BridgeText, EncodesForEachCodePage) {
  struct Case {
    const char* name;
    std::string in;
    std::int32_t codePage;
    bool withTerminator;
    std::string want;
  };
  const Case cases[] = {
      {"utf-8 keeps bytes", "abc", 65001, true,
       "\xEF\xBB\xBF"
       "abc"},
      {"utf-8 without terminator", "abc", 65001, false,
       "\xEF\xBB\xBF"
       "abc"},
      {"utf-16 with terminator", "abc", 1200, true,
       std::string("\xFF\xFE"
                   "a\0b\0c\0\0\0",
                   10)},
      {"utf-16 without terminator", "abc", 1200, false,
       std::string("\xFF\xFE"
                   "a\0b\0c\0",
                   8)},
      {"1252 with terminator", "abc", 1252, true, std::string("abc\0\0", 5)},
      {"1252 without terminator", "abc", 1252, false, std::string("abc\0", 4)},
      {"1252 non-ascii", "\xC3\xA9\xE2\x82\xAC", 1252, false, std::string("\xE9\x80\0", 3)},
      {"1251 cyrillic", "\xD0\x96", 1251, false, std::string("\xC6\0", 2)},
      {"unmappable becomes ?", "\xE4\xB8\xAD", 1252, false, std::string("?\0", 2)},
      {"invalid byte keeps the rest (1252)",
       "a\xFF"
       "b",
       1252, false, std::string("a?b\0", 4)},
      {"invalid byte keeps the rest (1200)", "a\xFF", 1200, true,
       std::string("\xFF\xFE"
                   "a\0\xFD\xFF\0\0",
                   8)},
      {"surrogate pair in 1200", "\xF0\x9F\x98\x80", 1200, false,
       std::string("\xFF\xFE\x3D\xD8\x00\xDE", 6)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(EncodeLibraryText(c.in, c.codePage, c.withTerminator), c.want);
  }
}

TEST(BridgeText, CodePageZeroUsesTheSystemAnsiPageWithoutTerminator) {
  const std::string want =
      platform::WideToMultiByte(platform::GetACP(), std::u16string(u"x\u00E9"));
  EXPECT_EQ(EncodeLibraryText("x\xC3\xA9", 0, true), want);
  EXPECT_EQ(EncodeLibraryText("x\xC3\xA9", 0, false), want);
}

} // namespace
} // namespace scv::bridges
