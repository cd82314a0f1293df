// Code page conversions: the 1252 quirks, multi-byte round trips, surrogates, unmappables.
#include "platform/CodePage.h"

#include "platform/StrToInt.h"

#include <gtest/gtest.h>

namespace scv::platform {
namespace {

TEST(CodePage, Windows1252UndefinedBytesRoundTripAsC1Controls) {
  const std::string bytes("\x80\x81\x8D\x8F\x90\x9D\x9F\xA0\xFF", 9);
  const std::u16string wide = MultiByteToWide(1252, bytes);
  EXPECT_EQ(wide, (std::u16string{0x20AC, 0x81, 0x8D, 0x8F, 0x90, 0x9D, 0x178, 0xA0, 0xFF}));
  EXPECT_EQ(WideToMultiByte(1252, wide), bytes);
}

TEST(CodePage, UnmappableCharactersBecomeQuestionMarks) {
  struct Case {
    const char* name;
    std::int32_t codePage;
    std::u16string text;
    std::string want;
  };
  const Case cases[] = {
      {"cyrillic in 1252", 1252, u"a\u0416b", "a?b"},
      {"surrogate pair is one character", 1252, u"x\U0001F600y", "x?y"},
      {"lone surrogate", 1252, std::u16string{u'a', 0xD800, u'b'}, "a?b"},
      {"cyrillic in 1251", 1251, u"\u0416", "\xC6"},
      {"emoji in 932", 932, u"a\U0001F600b", "a?b"},
      {"zero is kept", 1252, std::u16string(1, u'\0'), std::string(1, '\0')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(WideToMultiByte(c.codePage, c.text), c.want);
  }
}

TEST(CodePage, ShiftJisRoundTrip) {
  const std::u16string text = u"日本語テキスト abc ｶﾀｶﾅ";
  const std::string sjis = WideToMultiByte(932, text);
  EXPECT_EQ(sjis.substr(0, 6), "\x93\xfa\x96\x7b\x8c\xea");
  EXPECT_EQ(MultiByteToWide(932, sjis), text);
}

TEST(CodePage, MultiBytePagesMixMappedAndUnmappedCharacters) {
  // Many characters without a mapping among mapped ones, repeated: the same bytes as the
  // characters converted one by one.
  std::u16string text;
  for (int i = 0; i < 2000; ++i) {
    text += u"Жก日a가";
  }
  for (std::int32_t cp : {932, 936, 949, 950}) {
    SCOPED_TRACE(cp);
    std::string oneByOne;
    for (char16_t c : text.substr(0, 5)) {
      oneByOne += WideToMultiByte(cp, std::u16string(1, c));
    }
    std::string want;
    for (int i = 0; i < 2000; ++i) {
      want += oneByOne;
    }
    EXPECT_EQ(WideToMultiByte(cp, text), want);
  }
  EXPECT_EQ(WideToMultiByte(932, u"ก"), "?");
  EXPECT_EQ(WideToMultiByte(949, u"가"), "\xB0\xA1");
}

TEST(CodePage, InvalidMultiByteInputDecodesToReplacement) {
  EXPECT_EQ(MultiByteToWide(932, std::string("a\x81", 2)), u"a\uFFFD");
  EXPECT_EQ(Utf8ToWide("a\xC3"), u"a\uFFFD");
  EXPECT_EQ(Utf8ToWide("\xE2\x82\xAC\xED\xA0\x80!"), u"€\uFFFD\uFFFD\uFFFD!");
  EXPECT_EQ(Utf8ToWide("\xF0\x9F\x98\x80"), u"\U0001F600");
}

TEST(CodePage, Utf8AndUtf16Native) {
  EXPECT_EQ(WideToUtf8(u"\U0001F600é"), "\xF0\x9F\x98\x80\xC3\xA9");
  EXPECT_EQ(WideToUtf8(std::u16string{0xDC00}), "\xEF\xBF\xBD");
  EXPECT_EQ(WideToMultiByte(1200, u"A\u20AC"), std::string("A\0\xAC\x20", 4));
  EXPECT_EQ(MultiByteToWide(1200, std::string("A\0\xAC\x20", 4)), u"A\u20AC");
}

TEST(CodePage, UnusablePagesYieldEmptyText) {
  EXPECT_FALSE(IsCodePageUsable(12345));
  EXPECT_EQ(WideToMultiByte(12345, u"abc"), "");
  EXPECT_EQ(MultiByteToWide(12345, "abc"), u"");
  EXPECT_TRUE(IsCodePageUsable(936));
  EXPECT_TRUE(IsCodePageUsable(28605));
}

TEST(CodePage, PagesThroughTheCLibraryEncodeAsTheirStandardsSay) {
  struct Case {
    const char* name;
    std::int32_t codePage;
    std::u16string text;
    std::string want;
  };
  const Case cases[] = {
      {"EBCDIC US, line end", 37, u"Ab1\r\n", "\xC1\x82\xF1\x0D\x25"},
      {"EBCDIC international", 500, u"[!]", "\x4A\x4F\x5A"},
      {"EBCDIC Turkish", 1026, u"\u011E", "\x5A"},
      {"EBCDIC with euro", 1140, u"\u20AC", "\x9F"},
      {"EBCDIC unmapped is its own question mark", 37, u"\u0416", "\x6F"},
      {"ISO-2022-JP unmapped after a kanji", 50220, u"\u65E5\u0E01", "\x1B$BF|\x1B(B?"},
      {"GB2312", 20936, u"a\u4E2D", "a\xD6\xD0"},
      {"HZ runs and tilde", 52936, u"a~\u4E2D\u6587b", "a~~~{VPND~}b"},
      {"HZ ends in ASCII", 52936, u"\u4E2D", "~{VP~}"},
      {"HZ unmapped", 52936, u"\u4E2D\u0E01", "~{VP~}?"},
      {"UTF-7", 65000, u"A+\u00E9", "A+-+AOk-"},
      {"ISO-2022-KR", 50225, u"\uAC00", "\x1B$)C\x0E\x30\x21\x0F"},
      {"Symbol private use", 42, u"\uF041\uF0FF\r", "A\xFF\r"},
      {"Symbol plain letters", 42, u"A", "?"},
      {"German ISO 646", 20106, u"\u00C4", "["},
      {"Mac Central Europe", 10029, u"\u0104", "\x84"},
      {"DOS Latin 1 with euro", 858, u"\u20AC", "\xD5"},
      {"logical Hebrew", 38598, u"\u05D0", "\xE0"},
      {"Macintosh page of the locale", 2, u"\u00C4", "\x80"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(IsCodePageUsable(c.codePage));
    EXPECT_EQ(WideToMultiByte(c.codePage, c.text), c.want);
  }
}

TEST(CodePage, EveryServedPageRoundTripsPlainText) {
  // A page listed as served whose converter is missing or misnamed fails here.
  const std::vector<std::int32_t> pages = ServedCodePages();
  EXPECT_GT(pages.size(), 100u);
  for (const std::int32_t cp : pages) {
    SCOPED_TRACE(cp);
    // Upper case: the Katakana EBCDIC page 20290 has no small Latin letters.
    const std::u16string text = cp == 42 ? u"\uF048\uF069" : u"HELLO 2024\r\n";
    EXPECT_EQ(MultiByteToWide(cp, WideToMultiByte(cp, text)), text);
  }
  EXPECT_EQ(MultiByteToWide(52936, "a~~b~{VPND~}~\nc"), u"a~b\u4E2D\u6587c");
  EXPECT_EQ(MultiByteToWide(52936, "~{VP\nx"), u"\u4E2D\nx");
}

TEST(CodePage, PagesNoConverterServesAreNotUsable) {
  // UTF-16BE and UTF-32 are not pages wide text converts to; ISCII, Arabic DOS 720 and the
  // East Asian Macintosh pages have no converter in the C library.
  for (const std::int32_t cp : {12345, 1201, 12000, 12001, 57002, 720, 10001, 10008, -1, 65002}) {
    SCOPED_TRACE(cp);
    EXPECT_FALSE(IsCodePageUsable(cp));
    EXPECT_EQ(WideToMultiByte(cp, u"abc"), "");
  }
}

TEST(StrToInt, AcceptsTheRoutinesForms) {
  struct Case {
    const char* text;
    bool ok;
    std::int32_t want;
  };
  const Case cases[] = {
      {"65001", true, 65001},
      {"$FDE9", true, 65001},
      {"0xfde9", true, 65001},
      {"xFDE9", true, 65001},
      {"  -12", true, -12},
      {"+7", true, 7},
      {"-$10", true, -16},
      {"$FFFFFFFF", true, -1},
      {"2147483647", true, 2147483647},
      {"-2147483648", true, INT32_MIN},
      {"2147483648", false, 0},
      {"abc", false, 0},
      {"", false, 0},
      {"12 ", false, 0},
      {"$", false, 0},
      {"0x", false, 0},
      {"$100000000", false, 0},
      {"1.5", false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::int32_t v = 0;
    EXPECT_EQ(TryStrToInt(c.text, v), c.ok);
    if (c.ok) {
      EXPECT_EQ(v, c.want);
    }
  }
}

} // namespace
} // namespace scv::platform
