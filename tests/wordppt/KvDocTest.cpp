// Word extractor: FIB paths, the CLX walk, piece decoding, cleanup, line ends and encodings,
// and hostile piece tables, on documents built in code.
#include "platform/CodePage.h"
#include "platform/FileIo.h"
#include "support/CfbBuilder.h"
#include "support/ProcessRunner.h"
#include "wordppt/KvDocCvt.h"

#include <gtest/gtest.h>

namespace scv::wordppt {
namespace {

using test::PutU16;
using test::PutU32;
using test::TCfbBuilder;

std::string U32(std::uint32_t v) {
  std::string s(4, '\0');
  PutU32(s, 0, v);
  return s;
}
std::string U16(std::uint16_t v) {
  std::string s(2, '\0');
  PutU16(s, 0, v);
  return s;
}
std::string Utf16(std::u16string_view text) {
  std::string s;
  for (const char16_t c : text) {
    s += U16(c);
  }
  return s;
}

// A "WordDocument" stream: a FIB with the fields the extractor reads, then text placed at
// chosen offsets.
struct TWordDoc {
  std::string bytes = std::string(0x400, '\0');

  TWordDoc(std::uint16_t nFib, std::uint16_t flags) {
    PutU16(bytes, 0, 0xA5EC);
    PutU16(bytes, 2, nFib);
    PutU16(bytes, 10, flags);
  }
  TWordDoc& Legacy(std::uint32_t fcMin, std::uint32_t fcMac) {
    PutU32(bytes, 24, fcMin);
    PutU32(bytes, 28, fcMac);
    return *this;
  }
  TWordDoc& Clx(std::uint32_t fcClx, std::uint32_t lcbClx) {
    PutU32(bytes, 418, fcClx);
    PutU32(bytes, 422, lcbClx);
    return *this;
  }
  TWordDoc& Put(std::size_t offset, const std::string& text) {
    if (bytes.size() < offset + text.size()) {
      bytes.resize(offset + text.size(), '\0');
    }
    bytes.replace(offset, text.size(), text);
    return *this;
  }
};

// A CLX: property modifier blocks, then a piece table from positions and fc values.
struct TClx {
  std::string bytes;
  TClx& Prc(std::int16_t size, const std::string& body = {}) {
    bytes += '\x01';
    bytes += U16(static_cast<std::uint16_t>(size));
    bytes += body;
    return *this;
  }
  TClx& Pcdt(const std::vector<std::uint32_t>& cps, const std::vector<std::uint32_t>& fcs) {
    std::string plc;
    for (const auto cp : cps) {
      plc += U32(cp);
    }
    for (const auto fc : fcs) {
      plc += U16(0) + U32(fc) + U16(0);
    }
    bytes += '\x02';
    bytes += U32(static_cast<std::uint32_t>(plc.size()));
    bytes += plc;
    return *this;
  }
};

constexpr std::uint32_t k8Bit = 0x40000000;
// fc of an 8-bit piece at a stream offset.
std::uint32_t Fc8(std::uint32_t offset) {
  return k8Bit | offset << 1;
}

struct TRun {
  std::int32_t code;
  std::string out;
};

TRun Convert(const std::string& file, std::int32_t codePage = 1252, std::int32_t lineEnd = 0,
             std::int32_t special = 0) {
  TConversionResult result;
  const std::vector<std::uint8_t> bytes(file.begin(), file.end());
  const std::int32_t code = DocBytesToText(bytes, result, codePage, lineEnd, special);
  TRun run{code, {}};
  if (code > 0) {
    const auto b = result.Bytes(static_cast<std::size_t>(code));
    run.out.assign(b.begin(), b.end());
  }
  return run;
}

// A piece-table document: WordDocument with the CLX in the table stream at offset 0.
std::string PieceDoc(TWordDoc doc, const TClx& clx, bool oneTable = false) {
  doc.Clx(0, static_cast<std::uint32_t>(clx.bytes.size()));
  return TCfbBuilder::Make(
      {{"WordDocument", doc.bytes}, {oneTable ? "1Table" : "0Table", clx.bytes}});
}

TEST(KvDocCvt, FibSelectsPathAndTable) {
  const std::string text8 = "Hello\xA0World";
  struct Case {
    const char* name;
    std::string file;
    TRun want;
  };
  TWordDoc legacy192(192, 0);
  legacy192.Legacy(0x400, 0x40B).Put(0x400, text8).Clx(0, 16);
  TWordDoc piece193(193, 0);
  piece193.Put(0x400, "Piece").Put(0x600, text8);
  const TClx onePiece = TClx().Pcdt({0, 5}, {Fc8(0x400)});
  const Case cases[] = {
      {"nFib 192 takes the legacy path, no 0xA0 substitution",
       TCfbBuilder::Make({{"WordDocument", legacy192.bytes}, {"0Table", onePiece.bytes}}),
       {11, "Hello\xA0World"}},
      {"nFib 193 takes the piece table", PieceDoc(piece193, onePiece), {5, "Piece"}},
      {"flag 0x0200 selects 1Table",
       PieceDoc(TWordDoc(193, 0x0200).Put(0x400, "One"), TClx().Pcdt({0, 3}, {Fc8(0x400)}), true),
       {3, "One"}},
      {"selected 1Table missing, 0Table present",
       PieceDoc(TWordDoc(193, 0x0200).Put(0x400, "One"), TClx().Pcdt({0, 3}, {Fc8(0x400)}), false),
       {0, ""}},
      {"selected 0Table missing, 1Table present",
       PieceDoc(TWordDoc(193, 0).Put(0x400, "One"), TClx().Pcdt({0, 3}, {Fc8(0x400)}), true),
       {0, ""}},
      {"encrypted, piece path",
       PieceDoc(TWordDoc(193, 0x0100).Put(0x400, "One"), onePiece),
       {-11, ""}},
      {"encrypted, legacy path",
       TCfbBuilder::Make({{"WordDocument", TWordDoc(100, 0x0100).Legacy(0x400, 0x401).bytes}}),
       {-11, ""}},
      {"encrypted without a table stream",
       TCfbBuilder::Make({{"WordDocument", TWordDoc(193, 0x0300).bytes}}),
       {-11, ""}},
      {"obfuscation bit is not tested",
       PieceDoc(TWordDoc(193, 0x8000).Put(0x400, "Piece"), onePiece),
       {5, "Piece"}},
      {"no WordDocument stream", TCfbBuilder::Make({{"1Table", "x"}}), {0, ""}},
      {"legacy fcMac below fcMin",
       TCfbBuilder::Make(
           {{"WordDocument", TWordDoc(100, 0).Legacy(0x405, 0x400).Put(0x400, "abcde").bytes}}),
       {0, ""}},
      {"legacy run cut at the end of the stream",
       TCfbBuilder::Make(
           {{"WordDocument", TWordDoc(100, 0).Legacy(0x400, 0x7FFFFFFF).Put(0x400, "tail").bytes}}),
       {4, "tail"}},
      {"stream shorter than the FIB",
       TCfbBuilder::Make({{"WordDocument", "\xEC\xA5\xC1"}}),
       {0, ""}},
      {"RTF under a .doc name", "{\\rtf1\\ansi hello}", {-5, ""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TRun got = Convert(c.file);
    EXPECT_EQ(got.code, c.want.code);
    EXPECT_EQ(got.out, c.want.out);
  }
}

TEST(KvDocCvt, ClxWalkAndPieces) {
  TWordDoc doc(193, 0);
  doc.Put(0x400, "abcde")
      .Put(0x500, "FGH")
      .Put(0x800, Utf16(u"\u00e9t\u00e9"))
      .Put(0x900, "\xA0x\xA0");
  struct Case {
    const char* name;
    TClx clx;
    std::string want;
  };
  const Case cases[] = {
      {"the documented example", TClx().Prc(2, "zz").Pcdt({0, 5}, {0x40000800}), "abcde"},
      {"several property blocks first",
       TClx().Prc(1, "a").Prc(0).Prc(4, "abcd").Pcdt({0, 3}, {Fc8(0x500)}), "FGH"},
      {"size 0 block advances three bytes", TClx().Prc(0).Pcdt({0, 2}, {Fc8(0x400)}), "ab"},
      {"UTF-16 piece", TClx().Pcdt({0, 3}, {0x800}), "\xe9t\xe9"},
      {"pieces in table order, not stream order",
       TClx().Pcdt({0, 3, 5, 8}, {Fc8(0x500), Fc8(0x403), 0x800}), "FGHde\xe9t\xe9"},
      {"0xA0 in 8-bit pieces becomes a space", TClx().Pcdt({0, 3}, {Fc8(0x900)}), " x "},
      {"lcb 4 holds no pieces", TClx().Pcdt({0}, {}), ""},
      {"other element type first", TClx{"\x03"}.Pcdt({0, 5}, {Fc8(0x400)}), ""},
      {"empty CLX", TClx(), ""},
      {"property block only", TClx().Prc(3, "abc"), ""},
      {"property block of size -3 ends the walk", TClx().Prc(-3).Pcdt({0, 5}, {Fc8(0x400)}), ""},
      {"property block of size -1 moves two bytes", TClx{"\x01\xFF\xFF"}.Pcdt({0, 1}, {Fc8(0x400)}),
       ""},
      {"property block running past the end", TClx().Prc(100, "ab"), ""},
      {"limit below start gives an empty piece", TClx().Pcdt({5, 2, 4}, {Fc8(0x400), Fc8(0x500)}),
       "FG"},
      {"piece beyond the stream is empty", TClx().Pcdt({0, 3, 5}, {Fc8(0x100000), Fc8(0x400)}),
       "ab"},
      {"UTF-16 piece beyond 2^31 is empty", TClx().Pcdt({0, 3, 5}, {0x80000800, Fc8(0x400)}), "ab"},
      {"8-bit piece with bit 31 set is empty", TClx().Pcdt({0, 3, 5}, {0xC0000800, Fc8(0x400)}),
       "ab"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TRun got = Convert(PieceDoc(doc, c.clx));
    EXPECT_EQ(got.code, static_cast<std::int32_t>(c.want.size()));
    EXPECT_EQ(got.out, c.want);
  }
}

TEST(KvDocCvt, TruncatedPieceTables) {
  TWordDoc doc(193, 0);
  doc.Put(0x400, "abcdef");
  const std::string full = TClx().Pcdt({0, 2, 4, 6}, {Fc8(0x400), Fc8(0x402), Fc8(0x404)}).bytes;
  struct Case {
    const char* name;
    std::string clx;
    std::uint32_t lcbClx; // CLX size in the FIB
    std::string want;
  };
  const Case cases[] = {
      {"whole", full, static_cast<std::uint32_t>(full.size()), "abcdef"},
      // The descriptors come after all positions: cutting the last descriptor loses only it.
      {"last descriptor cut", full, static_cast<std::uint32_t>(full.size() - 1), "abcd"},
      {"all descriptors cut", full, 5 + 16, ""},
      {"lcbClx far beyond the table stream", full, 0xFFFFFFF0, "abcdef"},
      {"PlcPcd size beyond the CLX", std::string("\x02\xFF\xFF\x00\x00", 5) + full.substr(5),
       static_cast<std::uint32_t>(full.size()), ""},
      {"PlcPcd size negative", "\x02\xF0\xFF\xFF\xFF" + full.substr(5),
       static_cast<std::uint32_t>(full.size()), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TWordDoc d = doc;
    d.Clx(0, c.lcbClx);
    const TRun got = Convert(TCfbBuilder::Make({{"WordDocument", d.bytes}, {"0Table", c.clx}}));
    EXPECT_EQ(got.out, c.want);
  }
  // The CLX offset beyond the table stream: no pieces.
  TWordDoc d = doc;
  d.Clx(0x10000, static_cast<std::uint32_t>(full.size()));
  EXPECT_EQ(Convert(TCfbBuilder::Make({{"WordDocument", d.bytes}, {"0Table", full}})).code, 0);
}

TEST(KvDocCvt, PiecesCutAtTheStreamEnd) {
  TWordDoc doc(193, 0);
  doc.Put(0x400, Utf16(u"xyz") + "q"); // ends with a stray byte
  struct Case {
    const char* name;
    TClx clx;
    std::string want;
  };
  const Case cases[] = {
      {"UTF-16 piece cut drops its odd byte", TClx().Pcdt({0, 10}, {0x400}), "xyz"},
      {"8-bit piece cut", TClx().Pcdt({0, 100}, {Fc8(0x404)}), std::string("z\0q", 3)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Convert(PieceDoc(doc, c.clx), 1252, 0, 1).out, c.want);
  }
}

// The "WordDocument" stream scattered over non-neighbouring sectors: pieces that cross sector
// boundaries read the same as in one piece of memory, also when a boundary splits a UTF-16
// code unit (a piece at an odd offset).
TEST(KvDocCvt, PiecesAcrossScatteredSectors) {
  TWordDoc doc(193, 0);
  doc.Put(0x5F1, Utf16(u"abcdefghijklmnop"))
      .Put(0x7F0, Utf16(u"ABCDEFG\U0001F600JKLMNOP")) // the pair is split at 0x800
      .Put(0x9F8, "0123456789abcdef")
      .Put(0x1000, std::string(2000, 'z'));
  const TClx clx = TClx().Pcdt({0, 16, 32, 48}, {0x5F1, 0x7F0, Fc8(0x9F8)});
  const std::string want8 = "abcdefghijklmnopABCDEFG?JKLMNOP0123456789abcdef";
  const std::string wantUtf8 = "\xEF\xBB\xBF"
                               "abcdefghijklmnopABCDEFG\xF0\x9F\x98\x80JKLMNOP0123456789abcdef" +
                               std::string(1, '\0');
  doc.Clx(0, static_cast<std::uint32_t>(clx.bytes.size()));
  for (const int version : {3, 4}) {
    SCOPED_TRACE(version);
    TCfbBuilder builder(version);
    builder.SetFragmented(true)
        .AddStream("WordDocument", doc.bytes)
        .AddStream("0Table", clx.bytes + std::string(5000, '\0'))
        .AddStream("Data", std::string(20000, 'd'));
    const std::string file = builder.Build();
    EXPECT_EQ(Convert(file, 1252).out, want8);
    EXPECT_EQ(Convert(file, 65001).out, wantUtf8);
  }
}

TEST(KvDocCvt, RepeatedPiecesStayWithinABudget) {
  // Thousands of pieces naming the same 64 KiB: the text stays within a small multiple of the
  // stream instead of growing with pieces x stream.
  TWordDoc doc(193, 0);
  doc.Put(0x400, std::string(65536, 'w'));
  std::vector<std::uint32_t> cps;
  std::vector<std::uint32_t> fcs;
  for (std::uint32_t i = 0; i < 5000; ++i) {
    cps.push_back(i % 2 == 0 ? 0 : 65536);
    if (i + 1 < 5000) {
      fcs.push_back(Fc8(0x400));
    }
  }
  const TRun got = Convert(PieceDoc(doc, TClx().Pcdt(cps, fcs)));
  ASSERT_GT(got.code, 0);
  EXPECT_LE(static_cast<std::size_t>(got.code), doc.bytes.size() * 2 + std::size_t{64} * 1024);
  EXPECT_GE(static_cast<std::size_t>(got.code), doc.bytes.size() * 2);
}

TEST(KvDocCvt, CleanupLineEndsAndRawCharacters) {
  // A field (begin, instruction, separator, result, end), a cell mark, a line break, a page
  // break and paragraph marks.
  const std::string raw = "a\x13 HYPERLINK x \x14link\x15\x07"
                          "b\x0B"
                          "c\x0C"
                          "d\re\x1E\x1F";
  TWordDoc doc(193, 0);
  doc.Put(0x400, raw);
  doc.Put(0x800, Utf16(u"a\u0013I\u0014R\u0015\u001e\r\u2028z"));
  const std::string file8 =
      PieceDoc(doc, TClx().Pcdt({0, static_cast<std::uint32_t>(raw.size())}, {Fc8(0x400)}));
  const std::string file16 = PieceDoc(doc, TClx().Pcdt({0, 10}, {0x800}));
  struct Case {
    const char* name;
    const std::string* file;
    std::int32_t codePage;
    std::int32_t lineEnd;
    std::int32_t special;
    std::string want;
  };
  const Case cases[] = {
      {"8-bit cleaned, CR LF", &file8, 1252, 0, 0, "a  HYPERLINK x  link \tb\r\nc d\r\ne  "},
      {"8-bit raw", &file8, 1252, 0, 1,
       "a\x13 HYPERLINK x \x14link\x15\x07"
       "b\x0B"
       "c\x0C"
       "d\r\ne\x1E\x1F"},
      {"8-bit option 1 gives CR", &file8, 1252, 1, 0, "a  HYPERLINK x  link \tb\rc d\re  "},
      {"8-bit option 2 gives LF", &file8, 1252, 2, 0, "a  HYPERLINK x  link \tb\nc d\ne  "},
      {"8-bit special 2 cleans", &file8, 1252, 0, 2, "a  HYPERLINK x  link \tb\r\nc d\r\ne  "},
      {"UTF-16 cleaned to UTF-8", &file16, 65001, 0, 0,
       std::string("\xEF\xBB\xBF"
                   "a I R -\r\n\r\nz\0",
                   16)},
      {"UTF-16 raw to UTF-8", &file16, 65001, 2, 1,
       std::string("\xEF\xBB\xBF"
                   "a\x13I\x14R\x15\x1E\n\nz\0",
                   14)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TRun got = Convert(*c.file, c.codePage, c.lineEnd, c.special);
    EXPECT_EQ(got.out, c.want);
    EXPECT_EQ(got.code, static_cast<std::int32_t>(c.want.size()));
  }
}

TEST(KvDocCvt, EncodingsForEachTarget) {
  TWordDoc doc(193, 0);
  doc.Put(0x400, "Caf\xE9\xA0\x80").Put(0x800, Utf16(u"\u00a0\u0416\U0001F600"));
  const std::string file = PieceDoc(doc, TClx().Pcdt({0, 6, 10}, {Fc8(0x400), 0x800}));
  const std::string empty = TCfbBuilder::Make({{"Other", "x"}});
  struct Case {
    const char* name;
    const std::string* file;
    std::int32_t codePage;
    std::string want;
  };
  const Case cases[] = {
      {"1252", &file, 1252, "Caf\xE9 \x80\xA0??"},
      {"0 is 1252", &file, 0, "Caf\xE9 \x80\xA0??"},
      {"UTF-8", &file, 65001,
       std::string("\xEF\xBB\xBF"
                   "Caf\xC3\xA9 \xE2\x82\xAC\xC2\xA0\xD0\x96\xF0\x9F\x98\x80\0",
                   21)},
      {"UTF-16", &file, 1200,
       std::string("\xFF\xFE"
                   "C\0a\0f\0\xE9\0 \0\xAC\x20\xA0\0\x16\x04\x3D\xD8\x00\xDE",
                   22)},
      {"1251", &file, 1251, std::string("Caf? \x88\xA0\xC6?\0", 10)},
      {"empty, 1252", &empty, 1252, ""},
      {"empty, UTF-8", &empty, 65001, std::string("\xEF\xBB\xBF\0", 4)},
      {"empty, UTF-16", &empty, 1200, "\xFF\xFE"},
      {"empty, 1251", &empty, 1251, std::string("\0", 1)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TRun got = Convert(*c.file, c.codePage);
    EXPECT_EQ(got.code, static_cast<std::int32_t>(c.want.size()));
    EXPECT_EQ(got.out, c.want);
  }
}

TEST(KvDocCvt, FileEntryResults) {
  test::TTempDir dir;
  TWordDoc doc(193, 0);
  doc.Put(0x400, "Text\r");
  std::string badHeader = PieceDoc(doc, TClx().Pcdt({0, 5}, {Fc8(0x400)}));
  badHeader[30] = 5;
  struct Case {
    const char* name;
    std::string path;
    std::int32_t want;
  };
  const Case cases[] = {
      {"converts", dir.Write("a.doc", PieceDoc(doc, TClx().Pcdt({0, 5}, {Fc8(0x400)}))), 6},
      {"missing", dir.File("missing.doc"), -2},
      {"not a compound file", dir.Write("b.doc", "{\\rtf1 x}"), -5},
      {"compound file that cannot be opened", dir.Write("c.doc", badHeader), -4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TConversionResult result;
    EXPECT_EQ(DocToText(platform::ArgumentToWide(c.path), 0, result, 1252, 0, 0), c.want);
  }
  TConversionResult result;
  ASSERT_EQ(DocToText(platform::ArgumentToWide(dir.File("a.doc")), 0, result, 1252, 0, 0), 6);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(result.Data()), 6), "Text\r\n");
}

} // namespace
} // namespace scv::wordppt

namespace scv::wordppt {
namespace {

// The UTF-8 and UTF-16 outputs are written in one pass; they must equal cleaning, normalising
// and encoding the whole text step by step, on text dense with breaks, controls and surrogates.
TEST(KvDocCvt, OnePassOutputMatchesStepByStepHelpers) {
  const char16_t alphabet[] = {u'a', u'\r',  u'\n',  0x2028, 0x0B,      0x07,      0x1E,   0x00,
                               0x13, 0xD83D, 0xDE00, 0xDC00, u'\u00e9', u'\u4e2d', 0xFFFF, u' '};
  std::uint32_t seed = 12345;
  for (int round = 0; round < 40; ++round) {
    std::u16string units;
    for (int i = 0; i < 200; ++i) {
      seed = seed * 1103515245 + 12345;
      units.push_back(alphabet[(seed >> 16) % std::size(alphabet)]);
    }
    TWordDoc doc(193, 0);
    doc.Put(0x400, Utf16(units)).Put(0x800, "x\r\xA0\x0B\n");
    const std::string file = PieceDoc(doc, TClx().Pcdt({0, 200, 205}, {0x400, Fc8(0x800)}));
    std::u16string whole = units + u"x\r \u000B\n";
    for (const std::int32_t special : {0, 1}) {
      for (const std::int32_t lineEnd : {0, 1, 2}) {
        SCOPED_TRACE(testing::Message()
                     << "round " << round << " special " << special << " line end " << lineEnd);
        std::u16string text = whole;
        if (special != 1) {
          CleanControlCharsW(text);
        }
        text = AdjustLineEndsW(text, LineEndStyleFromOption(lineEnd));
        const std::string utf8 = "\xEF\xBB\xBF" + platform::WideToUtf8(text) + std::string(1, '\0');
        const std::string utf16 = "\xFF\xFE" + platform::WideToMultiByte(1200, text);
        EXPECT_EQ(Convert(file, 65001, lineEnd, special).out, utf8);
        EXPECT_EQ(Convert(file, 1200, lineEnd, special).out, utf16);
      }
    }
  }
}

} // namespace
} // namespace scv::wordppt
