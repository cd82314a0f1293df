// Shared string table decoding: CONTINUE splits, width changes, skipped blocks, truncation.
#include "spreadsheet/KvXlsSST.h"

#include "support/BiffBuilder.h"

#include <gtest/gtest.h>

#include <span>
#include <string>
#include <vector>

namespace scv::spreadsheet {
namespace {

using test::TBiffBuilder;
using test::TBodyWriter;
using test::TBytes;
using test::TSstString;

// Splits a built record sequence back into bodies: the first (SST) and the CONTINUE bodies.
struct TSegments {
  TBytes stream;
  TKvMemoryStream first;
  std::vector<TKvMemoryStream> rest;
};

TSegments SplitRecords(const TBytes& stream) {
  TSegments s;
  s.stream = stream;
  std::size_t pos = 0;
  bool firstDone = false;
  while (pos + 4 <= s.stream.size()) {
    const std::size_t len = s.stream[pos + 2] | s.stream[pos + 3] << 8;
    const std::span<const std::uint8_t> body =
        std::span<const std::uint8_t>(s.stream).subspan(pos + 4, len);
    if (!firstDone) {
      s.first = TKvMemoryStream{body, 0};
      firstDone = true;
    } else {
      s.rest.push_back(TKvMemoryStream{body, 0});
    }
    pos += 4 + len;
  }
  return s;
}

std::vector<std::string> Decode(const TSegments& s, bool* complete = nullptr) {
  TSstHeader header;
  TSharedStrings strings;
  const bool ok = ReadSharedStrings(s.first, s.rest, header, strings);
  if (complete != nullptr) {
    *complete = ok;
  }
  std::vector<std::string> out;
  for (std::size_t i = 0; i < strings.Count(); ++i) {
    out.emplace_back(strings.At(i));
  }
  return out;
}

TEST(KvXlsSST, DecodesStringsAcrossContinueRecords) {
  const std::u16string longText(50, u'a');
  const std::u16string greek = u"\u03B1\u03B2\u03B3\u03B4\u03B5\u03B6";
  struct Case {
    const char* name;
    std::vector<TSstString> strings;
    std::size_t maxBody;
    bool forceWidth;
    std::vector<std::string> want;
  };
  const std::vector<Case> cases = {
      {"one segment", {{u"abc"}, {u""}, {u"x"}}, 8224, false, {"abc", "", "x"}},
      {"1-byte split, same width", {{longText}}, 20, false, {std::string(50, 'a')}},
      {"1-byte split, continues 2-byte", {{longText}}, 20, true, {std::string(50, 'a')}},
      {"2-byte split, continues 1-byte",
       {{u"\u00E9bcdefghijklmnop", true}},
       13,
       true,
       {"\xC3\xA9"
        "bcdefghijklmnop"}},
      {"2-byte characters split",
       {{greek, true}},
       10,
       false,
       {"\xCE\xB1\xCE\xB2\xCE\xB3\xCE\xB4\xCE\xB5\xCE\xB6"}},
      {"string starts a segment", {{u"abcde"}, {u"fgh"}}, 16, false, {"abcde", "fgh"}},
      {"runs and phonetic block across boundaries",
       {{u"ab", false, 5, 30}, {u"next"}, {u"last", true, 2, 3}},
       12,
       false,
       {"ab", "next", "last"}},
      {"zero characters become spaces",
       {{std::u16string(u"a\0b", 3)}, {std::u16string(u"\0", 1), true}},
       8224,
       false,
       {"a b", " "}},
      {"Latin-1 widening", {{u"caf\u00E9"}}, 8224, false, {"caf\xC3\xA9"}},
      {"surrogate pair", {{u"\U0001F600", true}}, 8224, false, {"\xF0\x9F\x98\x80"}},
      {"lone surrogate", {{u"\xD800x", true}}, 8224, false, {"\xEF\xBF\xBDx"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TBiffBuilder b;
    b.Sst(c.strings, c.maxBody, c.forceWidth);
    bool complete = false;
    EXPECT_EQ(Decode(SplitRecords(b.Stream()), &complete), c.want);
    EXPECT_TRUE(complete);
  }
}

TEST(KvXlsSST, SplitCountsWholeCharactersOfTheFirstSegment) {
  // SST body: header, cch 5, flags 0, "abc"; CONTINUE: option 1, "d", "e" as 2-byte characters.
  TBodyWriter sst;
  sst.U32(1).U32(1).U16(5).U8(0).Latin1("abc");
  TBodyWriter cont;
  cont.U8(1).U16(u'd').U16(u'\u0101');
  TBiffBuilder b;
  b.Record(0x00FC, sst).Record(0x003C, cont);
  EXPECT_EQ(Decode(SplitRecords(b.Stream())), (std::vector<std::string>{"abcd\xC4\x81"}));
}

TEST(KvXlsSST, OddByteLeftAtSplitOfTwoByteCharactersIsSkipped) {
  // 2-byte characters, 3 bytes left in the SST: one character is read there, the odd byte
  // is left behind, and the CONTINUE carries the rest after its option byte.
  TBodyWriter sst;
  sst.U32(1).U32(1).U16(2).U8(1).U16(u'x').U8(0x77);
  TBodyWriter cont;
  cont.U8(0).Latin1("y");
  TBiffBuilder b;
  b.Record(0x00FC, sst).Record(0x003C, cont);
  EXPECT_EQ(Decode(SplitRecords(b.Stream())), (std::vector<std::string>{"xy"}));
}

TEST(KvXlsSST, TruncatedTableKeepsWholeStrings) {
  struct Case {
    const char* name;
    TBytes body;
    std::vector<std::string> want;
  };
  const std::vector<Case> cases = {
      {"count far larger than the data",
       TBodyWriter().U32(9).U32(0xFFFFFFFF).U16(1).U8(0).Latin1("q"),
       {"q"}},
      {"characters cut short",
       TBodyWriter().U32(2).U32(2).U16(1).U8(0).Latin1("a").U16(4).U8(0).Latin1("bc"),
       {"a"}},
      {"header cut short", TBodyWriter().U32(2).U32(2).U16(1).U8(0).Latin1("a").U8(3), {"a"}},
      {"runs cut short keep the string",
       TBodyWriter().U32(2).U32(2).U16(1).U8(8).U16(3).Latin1("a").U32(0),
       {"a"}},
      {"no header at all", TBodyWriter().U16(1), {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TBiffBuilder b;
    b.Record(0x00FC, c.body);
    bool complete = true;
    EXPECT_EQ(Decode(SplitRecords(b.Stream()), &complete), c.want);
    EXPECT_FALSE(complete);
  }
}

TEST(KvXlsSST, EmptyContinueEndsDecodingWithoutLooping) {
  // The split needs an option byte, but the next segment is empty.
  TBodyWriter sst;
  sst.U32(1).U32(1).U16(4).U8(0).Latin1("ab");
  TBiffBuilder b;
  b.Record(0x00FC, sst).Record(0x003C, {}).Record(0x003C, TBodyWriter().U8(0).Latin1("cd"));
  bool complete = true;
  EXPECT_TRUE(Decode(SplitRecords(b.Stream()), &complete).empty());
  EXPECT_FALSE(complete);
}

} // namespace
} // namespace scv::spreadsheet
