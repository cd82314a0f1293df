// Output helpers: exact bytes of the conversions, line ends, control maps and result storage.
#include "cvtbase/KvCvtBase.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>

namespace scv {
namespace {

TEST(KvCvtBase, AppendToResultStoresAtTheStart) {
  TConversionResult result;
  EXPECT_TRUE(result.IsNull());
  EXPECT_EQ(AppendToResult("", result), 0);
  EXPECT_FALSE(result.IsNull());
  EXPECT_EQ(result.Capacity(), 1u);

  const std::string big(65536, 'x');
  EXPECT_EQ(AppendToResult(big, result), 65536);
  EXPECT_EQ(AppendToResult(big + "y", result), 65537);
  EXPECT_EQ(result.Bytes(65537)[65536], 'y');

  const std::string hundred(100, 'a');
  AppendToResult(hundred, result);
  EXPECT_EQ(AppendToResult("0123456789", result), 10);
  EXPECT_EQ(result.Capacity(), 11u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(result.Data()), 10), "0123456789");
}

TEST(KvCvtBase, ToCodePageEndsWithACountedZero) {
  EXPECT_EQ(ToCodePage(1252, u"abc"), std::string("abc\0", 4));
  EXPECT_EQ(ToCodePage(1252, u""), std::string(1, '\0'));
  EXPECT_EQ(ToCodePage(99999, u"abc"), std::string(1, '\0'));
  EXPECT_EQ(ToCodePage(65001, u"é"), std::string("\xC3\xA9\0", 3));
}

TEST(KvCvtBase, AdjustLineEnds) {
  struct Case {
    const char* name;
    std::string in;
    TLineEndStyle style;
    std::string want;
  };
  const Case cases[] = {
      {"mixed to CR LF", "a\rb\nc\r\nd", kLineEndCrLf, "a\r\nb\r\nc\r\nd"},
      {"CR LF pairs to LF", "\r\n\r\n", kLineEndLf, "\n\n"},
      {"LF to CR", "\n", kLineEndCr, "\r"},
      {"LF CR is two breaks", "\n\r", kLineEndCrLf, "\r\n\r\n"},
      {"no multi-byte look", "\xE2\x80\xA8", kLineEndCrLf, "\xE2\x80\xA8"},
      {"empty", "", kLineEndCrLf, ""},
      {"already CR LF", "a\r\nb\r\n", kLineEndCrLf, "a\r\nb\r\n"},
      {"already LF", "a\nb\n", kLineEndLf, "a\nb\n"},
      {"already CR", "a\rb\r", kLineEndCr, "a\rb\r"},
      {"lone CR at the end", "a\r", kLineEndCrLf, "a\r\n"},
      {"CR before CR LF", "\r\r\n", kLineEndCrLf, "\r\n\r\n"},
      {"CR LF to CR", "a\r\nb", kLineEndCr, "a\rb"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(AdjustLineEnds(c.in, c.style), c.want);
  }
  EXPECT_EQ(AdjustLineEndsW(u"a\u2028b\r\nc", kLineEndCrLf), u"a\r\nb\r\nc");
  EXPECT_EQ(AdjustLineEndsW(u"a\u2028b", kLineEndLf), u"a\nb");
}

// A byte at a time, as the breaks are defined: the reference the line-at-a-time walks must match.
std::string ReferenceAdjust(std::string_view in, TLineEndStyle style) {
  const std::string_view lineEnd = style == kLineEndLf ? "\n" : style == kLineEndCr ? "\r" : "\r\n";
  std::string out;
  for (std::size_t i = 0; i < in.size(); ++i) {
    if (in[i] == '\r' || in[i] == '\n') {
      if (in[i] == '\r' && i + 1 < in.size() && in[i + 1] == '\n') {
        ++i;
      }
      out.append(lineEnd);
    } else {
      out.push_back(in[i]);
    }
  }
  return out;
}

TEST(KvCvtBase, AdjustedTextStoredStraightIntoTheResult) {
  // Random texts of letters and breaks, in every style: the adjusted copy and the bytes stored
  // with a prefix are the reference, and the stored text ends one zero byte past its count.
  unsigned seed = 12345;
  const auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 16; };
  for (int round = 0; round < 300; ++round) {
    std::string in;
    const unsigned length = next() % 40;
    for (unsigned k = 0; k < length; ++k) {
      in.push_back("ab\r\n"[next() % 4]);
    }
    for (const TLineEndStyle style : {kLineEndCrLf, kLineEndLf, kLineEndCr}) {
      SCOPED_TRACE(testing::Message() << "round " << round << " style " << style);
      const std::string want = ReferenceAdjust(in, style);
      EXPECT_EQ(AdjustLineEnds(in, style), want);
      TConversionResult result;
      AppendToResult(std::string(100, 'z'), result); // a larger text stored before
      const std::int32_t count = AppendAdjustedToResult("\xEF\xBB\xBF", in, style, result);
      ASSERT_EQ(count, static_cast<std::int32_t>(want.size() + 3));
      ASSERT_EQ(result.Capacity(), want.size() + 4);
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(result.Data()), want.size() + 4),
                "\xEF\xBB\xBF" + want + std::string(1, '\0'));
    }
  }
  TConversionResult empty;
  EXPECT_EQ(AppendAdjustedToResult("", "", kLineEndCrLf, empty), 0);
  EXPECT_EQ(empty.Capacity(), 1u);
}

TEST(KvCvtBase, TextInPiecesStoredAsTheWholeTextWouldBe) {
  // Random texts of letters and breaks cut into random pieces (empty ones and CR LF pairs cut
  // in two included): the pieces stored one by one give the bytes the whole text gives.
  unsigned seed = 777;
  const auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 16; };
  for (int round = 0; round < 300; ++round) {
    std::string in;
    const unsigned length = next() % 60;
    for (unsigned k = 0; k < length; ++k) {
      in.push_back("ab\r\n"[next() % 4]);
    }
    for (const TLineEndStyle style : {kLineEndCrLf, kLineEndLf, kLineEndCr}) {
      SCOPED_TRACE(testing::Message() << "round " << round << " style " << style);
      TConversionResult whole;
      const std::int32_t wholeCount = AppendAdjustedToResult("\xEF\xBB\xBF", in, style, whole);
      TConversionResult result;
      AppendToResult(std::string(100, 'z'), result); // a larger text stored before
      // A small size hint, so the buffer grows while the pieces come.
      TAdjustedResultWriter writer("\xEF\xBB\xBF", style, next() % 8, result);
      for (std::size_t pos = 0; pos < in.size();) {
        const std::size_t n = std::min<std::size_t>(next() % 6, in.size() - pos);
        writer.Append(std::string_view(in).substr(pos, n));
        pos += n;
      }
      const std::int32_t count = writer.Finish();
      if (in.empty()) {
        EXPECT_EQ(count, 0);
        EXPECT_EQ(result.Capacity(), 101u); // untouched
        continue;
      }
      ASSERT_EQ(count, wholeCount);
      ASSERT_EQ(result.Capacity(), whole.Capacity());
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(result.Data()), result.Capacity()),
                std::string(reinterpret_cast<const char*>(whole.Data()), whole.Capacity()));
    }
  }
  // A CR ending one piece and an LF starting the next are one line end, in every style.
  for (const TLineEndStyle style : {kLineEndCrLf, kLineEndLf, kLineEndCr}) {
    TConversionResult result;
    TAdjustedResultWriter writer("", style, 0, result);
    writer.Append("a\r");
    writer.Append("\nb\r");
    writer.Append("c");
    const std::string lineEnd = style == kLineEndCrLf ? "\r\n" : style == kLineEndLf ? "\n" : "\r";
    std::string want = "a";
    want.append(lineEnd).append("b").append(lineEnd).append("c");
    ASSERT_EQ(writer.Finish(), static_cast<std::int32_t>(want.size()));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(result.Data()), want.size()), want);
    EXPECT_EQ(result.Capacity(), want.size() + 1);
  }
  // Only empty pieces: nothing stored, not even the prefix.
  TConversionResult untouched;
  TAdjustedResultWriter empty("\xEF\xBB\xBF", kLineEndCrLf, 64, untouched);
  empty.Append("");
  EXPECT_EQ(empty.Finish(), 0);
  EXPECT_TRUE(untouched.IsNull());
}

TEST(KvCvtBase, LineEndOptionMapping) {
  EXPECT_EQ(LineEndStyleFromOption(1), kLineEndCr);
  EXPECT_EQ(LineEndStyleFromOption(2), kLineEndLf);
  EXPECT_EQ(LineEndStyleFromOption(0), kLineEndCrLf);
  EXPECT_EQ(LineEndStyleFromOption(7), kLineEndCrLf);
}

TEST(KvCvtBase, ControlCharacterMaps) {
  std::string narrow;
  std::u16string wide;
  for (int i = 0; i < 34; ++i) {
    narrow.push_back(static_cast<char>(i));
    wide.push_back(static_cast<char16_t>(i));
  }
  narrow.push_back('\x7F');
  narrow.push_back('\xFF');
  CleanControlChars(narrow);
  CleanControlCharsW(wide);
  const std::string want8 =
      std::string(7, ' ') + "\t \t\n\r \r" + std::string(18, ' ') + " !" + "\x7F\xFF";
  EXPECT_EQ(narrow, want8);
  std::u16string wantW = u"       \t \t\n\r \r                -  !";
  EXPECT_EQ(wide, wantW);
}

TEST(KvCvtBase, EncodeUtf8ForCodePage) {
  EXPECT_EQ(EncodeUtf8ForCodePage("é", 65001, true), "\xEF\xBB\xBF\xC3\xA9");
  EXPECT_EQ(EncodeUtf8ForCodePage("A", 1200, true), std::string("\xFF\xFE"
                                                                "A\0\0\0",
                                                                6));
  EXPECT_EQ(EncodeUtf8ForCodePage("A", 1200, false), std::string("\xFF\xFE"
                                                                 "A\0",
                                                                 4));
  EXPECT_EQ(EncodeUtf8ForCodePage("é", 1252, true), std::string("\xE9\0\0", 3));
  EXPECT_EQ(EncodeUtf8ForCodePage("é", 1252, false), std::string("\xE9\0", 2));
  EXPECT_EQ(EncodeUtf8ForCodePage("a\xFF", 1252, false), std::string("a?\0", 3));
}

TEST(KvCvtBase, LocaleCodePageUnderTheCLocale) {
  EXPECT_EQ(DefaultCodePage(), 65001);
}

} // namespace
} // namespace scv
