// The PowerPoint extractor entry: compound files in, encoded bytes out.
#include "wordppt/KvPptCvt.h"

#include "platform/LocaleInfo.h"
#include "support/CfbBuilder.h"
#include "support/PptBuilder.h"
#include "support/ProcessRunner.h"

#include <gtest/gtest.h>

namespace scv::wordppt {
namespace {

using test::TBytes;
using namespace test::ppt;

std::string Str(const TBytes& b) {
  return std::string(b.begin(), b.end());
}

const std::string kZero(1, '\0');

std::string Utf16Le(const std::u16string& text) {
  std::string out;
  for (const char16_t u : text) {
    out.push_back(static_cast<char>(u & 0xFF));
    out.push_back(static_cast<char>(u >> 8));
  }
  return out;
}

struct TEntryRun {
  std::int32_t result = 0;
  std::string bytes;
  bool isNull = true;
};

TEntryRun RunEntry(const std::string& fileBytes, std::int32_t codePage) {
  test::TTempDir dir;
  const std::string path = dir.Write("deck.ppt", fileBytes);
  TConversionResult out;
  TEntryRun r;
  r.result = PptToText(std::u16string(path.begin(), path.end()), 0, out, codePage);
  r.isNull = out.IsNull();
  if (r.result >= 0) {
    const auto bytes = out.Bytes(static_cast<std::size_t>(r.result));
    r.bytes.assign(bytes.begin(), bytes.end());
  }
  return r;
}

// A deck whose slide says "Hi", a line break, then "“x”" as 8-bit text, and whose notes
// page holds "Ж". The document stream is large enough for regular sectors, the current user
// sits in the mini stream.
std::string DeckFile() {
  auto b = test::SimpleDeck(
      {SlideList(0, {SlidePersist(2), TextHeader(), TextChars(u"Hi\rthere")}),
       SlideList(2, {SlidePersist(3)})},
      {Slide({OutlineTextRef(0), TextBytes("\x93x\x94"), Record(0x0FA2, TBytes(8000, 0))}),
       Notes({TextChars(u"\u0416")})});
  return test::TCfbBuilder::Make(
      {{"Current User", Str(b.CurrentUser())}, {"PowerPoint Document", Str(b.Stream())}});
}

TEST(KvPptCvt, EncodesForEveryKindOfTarget) {
  const std::string file = DeckFile();
  struct Case {
    std::int32_t codePage;
    std::string want;
  };
  const Case cases[] = {
      {65001, "\xEF\xBB\xBF"
              "Hi\r\nthere\r\n\xE2\x80\x9Cx\xE2\x80\x9D\r\n\xD0\x96\r\n" +
                  kZero},
      {1200, "\xFF\xFE" + Utf16Le(u"Hi\r\nthere\r\n\u201Cx\u201D\r\n\u0416\r\n")},
      // 1252 takes the ToCodePage road like every other page: the zero byte ends it, and
      // the Cyrillic letter has no place there.
      {1252, "Hi\r\nthere\r\n\x93x\x94\r\n?\r\n" + kZero},
      {1251, "Hi\r\nthere\r\n\x93x\x94\r\n\xC6\r\n" + kZero},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.codePage);
    const TEntryRun r = RunEntry(file, c.codePage);
    EXPECT_EQ(r.result, static_cast<std::int32_t>(c.want.size()));
    EXPECT_EQ(r.bytes, c.want);
  }
  // Code page 0 is the system's ANSI page.
  const std::int32_t acp = platform::GetACP();
  EXPECT_EQ(RunEntry(file, 0).bytes,
            acp == 65001 ? "Hi\r\nthere\r\n\xE2\x80\x9Cx\xE2\x80\x9D\r\n\xD0\x96\r\n" + kZero
                         : RunEntry(file, acp).bytes);
}

TEST(KvPptCvt, NoTextEncodesTheEmptyText) {
  const auto deck = test::SimpleDeck({SlideList(0, {SlidePersist(2)})}, {Slide({})});
  struct Case {
    const char* name;
    std::string file;
  };
  const Case cases[] = {
      {"no Current User", test::TCfbBuilder::Make({{"PowerPoint Document", Str(deck.Stream())}})},
      {"unknown token",
       test::TCfbBuilder::Make(
           {{"Current User", Str(test::TPptBuilder::CurrentUser(deck.LastEdit(), 0x11111111))},
            {"PowerPoint Document", Str(deck.Stream())}})},
      {"slide without text",
       test::TCfbBuilder::Make({{"Current User", Str(deck.CurrentUser())},
                                {"PowerPoint Document", Str(deck.Stream())}})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const TEntryRun utf8 = RunEntry(c.file, 65001);
    EXPECT_EQ(utf8.result, 4);
    EXPECT_EQ(utf8.bytes, std::string("\xEF\xBB\xBF\0", 4));
    EXPECT_EQ(RunEntry(c.file, 1200).bytes, "\xFF\xFE");
    const TEntryRun ansi = RunEntry(c.file, 1252);
    EXPECT_EQ(ansi.result, 1);
    EXPECT_EQ(ansi.bytes, std::string(1, '\0'));
  }
}

TEST(KvPptCvt, FailuresLeaveTheResultAlone) {
  const auto misplaced =
      test::SimpleDeck({SlideList(0, {TextChars(u"x"), SlidePersist(2)})}, {Slide({})});
  const auto encrypted = test::SimpleDeck({}, {});
  const auto deck = test::SimpleDeck({SlideList(0, {SlidePersist(2)})}, {Slide({})});
  struct Case {
    const char* name;
    std::string file;
    std::int32_t want;
  };
  const Case cases[] = {
      {"encrypted",
       test::TCfbBuilder::Make(
           {{"Current User", Str(test::TPptBuilder::CurrentUser(encrypted.LastEdit(), 0xF3D1C4DF))},
            {"PowerPoint Document", Str(encrypted.Stream())}}),
       -11},
      {"text before its slide",
       test::TCfbBuilder::Make({{"Current User", Str(misplaced.CurrentUser())},
                                {"PowerPoint Document", Str(misplaced.Stream())}}),
       -5},
      {"not a compound file", "plain text, no signature", -5},
      {"empty file", "", -5},
      // PowerPoint 4.0 and older: no "PowerPoint Document", or a "PP40" stream of their own.
      {"PowerPoint 4.0", test::TCfbBuilder::Make({{"PP40", std::string(600, 'p')}}), -5},
      {"no PowerPoint Document",
       test::TCfbBuilder::Make({{"Current User", Str(deck.CurrentUser())}}), -5},
      {"PP40 next to a PowerPoint Document",
       test::TCfbBuilder::Make({{"Current User", Str(deck.CurrentUser())},
                                {"PowerPoint Document", Str(deck.Stream())},
                                {"PP40", "x"}}),
       -5},
      {"empty root storage", test::TCfbBuilder::Make({}), -5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const TEntryRun r = RunEntry(c.file, 65001);
    EXPECT_EQ(r.result, c.want);
    EXPECT_TRUE(r.isNull);
  }
  TConversionResult out;
  EXPECT_EQ(PptToText(u"/nonexistent/dir/deck.ppt", 0, out, 65001), -2);
  EXPECT_TRUE(out.IsNull());
}

TEST(KvPptCvt, LineEndsBecomeCrLf) {
  // CR, LF, CR LF and U+2028 inside a text are each one break; vertical tabs stay.
  const std::u16string text = u"a\rb\nc\r\nd\u2028e\vf\r";
  EXPECT_EQ(EncodePptText(text, 1252), "a\r\nb\r\nc\r\nd\r\ne\vf\r\n" + kZero);
}

} // namespace
} // namespace scv::wordppt
