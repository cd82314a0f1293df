// Word documents older than Word 97: the code page of the FIB's language, fast-saved Word 6/95
// piece tables, and Word for Windows 1.x/2.x files, on documents built in code.
#include "wordppt/KvDocLegacy.h"

#include "platform/FileIo.h"
#include "support/CfbBuilder.h"
#include "support/ProcessRunner.h"
#include "wordppt/KvDocCvt.h"

#include <gtest/gtest.h>

namespace scv::wordppt {
namespace {

using test::TOldWordStream;
using test::Word6Clx;

const std::string kBom = "\xEF\xBB\xBF";
const std::string kZero(1, '\0');

struct TRun {
  std::int32_t code;
  std::string out;
};

TRun Convert(const std::string& file, std::int32_t codePage = 65001, std::int32_t special = 0) {
  TConversionResult result;
  const std::vector<std::uint8_t> bytes(file.begin(), file.end());
  const std::int32_t code = DocBytesToText(bytes, result, codePage, 0, special);
  TRun run{code, {}};
  if (code > 0) {
    const auto b = result.Bytes(static_cast<std::size_t>(code));
    run.out.assign(b.begin(), b.end());
  }
  return run;
}

// A Word 95 document of one language holding text at 0x300.
std::string Word95(std::uint16_t lid, const std::string& text, std::uint16_t flags = 0) {
  return TOldWordStream(TOldWordStream::kWord6, 104, lid, flags).Text(0x300, text).CompoundFile();
}

TEST(KvDocLegacy, LanguageIdsChooseTheCodePage) {
  struct Case {
    std::uint16_t lid;
    std::int32_t want;
  };
  // clang-format off
  const Case cases[] = {
      // Western, and languages the table does not list.
      {0x0409, 1252}, {0x0407, 1252}, {0x0809, 1252}, {0x0436, 1252},
      // Cyrillic and Central European.
      {0x0419, 1251}, {0x0422, 1251}, {0x0402, 1251}, {0x0415, 1250}, {0x0405, 1250},
      // Scripts chosen by the sublanguage.
      {0x041A, 1250}, {0x081A, 1250}, {0x0C1A, 1251}, {0x201A, 1251}, {0x042C, 1254},
      {0x082C, 1251}, {0x0443, 1254}, {0x0843, 1251},
      // The other single-byte pages.
      {0x0408, 1253}, {0x041F, 1254}, {0x040D, 1255}, {0x0401, 1256}, {0x0C01, 1256},
      {0x0425, 1257}, {0x042A, 1258}, {0x041E, 874},
      // Double-byte pages.
      {0x0411, 932}, {0x0804, 936}, {0x1004, 936}, {0x0412, 949}, {0x0404, 950}, {0x0C04, 950},
      // Locale numbers of Word 1.x files are not language ids; nor is 0xFFFF a known one.
      {0x0000, 1252}, {0x0019, 1252}, {0x03E6, 1252}, {0xFFFF, 1252},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lid);
    EXPECT_EQ(LegacyCodePage(c.lid), c.want);
  }
}

TEST(KvDocLegacy, Word95TextIsReadInItsLanguagesCodePage) {
  const std::string privet = "\xCF\xF0\xE8\xE2\xE5\xF2\r"; // "Привет" in 1251
  const std::string privetUtf8 = "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82";
  struct Case {
    const char* name;
    std::string file;
    std::int32_t codePage;
    std::int32_t special;
    std::string want;
  };
  const Case cases[] = {
      {"Russian to UTF-8", Word95(0x0419, privet), 65001, 0, kBom + privetUtf8 + "\r\n" + kZero},
      {"Russian to UTF-16", Word95(0x0419, "\xC6\r"), 1200, 0,
       std::string("\xFF\xFE\x16\x04\r\0\n\0", 8)},
      {"Russian to 1251 gives its own bytes", Word95(0x0419, privet), 1251, 0,
       "\xCF\xF0\xE8\xE2\xE5\xF2\r\n" + kZero},
      {"Russian to 1252 has no place for the letters", Word95(0x0419, privet), 1252, 0,
       "??????\r\n"},
      {"Japanese double-byte", Word95(0x0411, "\x93\xFA\x96\x7B"), 65001, 0,
       kBom + "\xE6\x97\xA5\xE6\x9C\xAC" + kZero},
      {"a lead byte before a paragraph mark keeps the mark", Word95(0x0411, "a\x93\rb"), 65001, 0,
       kBom + "a\xEF\xBF\xBD\r\nb" + kZero},
      {"Western keeps Windows-1252 and 0xA0", Word95(0x0409, "Caf\xE9\xA0\r"), 1252, 0,
       "Caf\xE9\xA0\r\n"},
      {"Western to UTF-8", Word95(0x0409, "\xE9\x80"), 65001, 0,
       kBom + "\xC3\xA9\xE2\x82\xAC" + kZero},
      {"unknown language is Western", Word95(0x0436, "\xE9"), 65001, 0, kBom + "\xC3\xA9" + kZero},
      {"Cyrillic field cleaned", Word95(0x0419, "\x13 PAGE \x14\xC6\x15\x07"), 65001, 0,
       kBom + "  PAGE  \xD0\x96 \t" + kZero},
      {"Cyrillic field raw with -s1", Word95(0x0419, "\x13 PAGE \x14\xC6\x15\x07"), 65001, 1,
       kBom + "\x13 PAGE \x14\xD0\x96\x15\x07" + kZero},
      {"Word 6 too",
       TOldWordStream(TOldWordStream::kWord6, 101, 0x0419).Text(0x300, "\xC6").CompoundFile(),
       65001, 0, kBom + "\xD0\x96" + kZero},
      {"encrypted", Word95(0x0419, privet, TOldWordStream::kEncrypted), 65001, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TRun got = Convert(c.file, c.codePage, c.special);
    if (c.want.empty()) {
      EXPECT_EQ(got.code, -11);
      continue;
    }
    EXPECT_EQ(got.out, c.want);
    EXPECT_EQ(got.code, static_cast<std::int32_t>(c.want.size()));
  }
}

TEST(KvDocLegacy, FastSavedWord95ReadsItsPieces) {
  // The last full save wrote "Hello old" from fcMin to fcMac; a fast save appended "world" and
  // "!" past fcMac and made the piece table say "Hello world!".
  auto doc = [](std::uint16_t flags, std::uint16_t lid = 0x0409) {
    TOldWordStream s(TOldWordStream::kWord6, 104, lid, flags);
    s.Text(0x300, "Hello old").Put(0x400, "world").Put(0x410, "!\xA0");
    return s;
  };
  const std::uint16_t complex = TOldWordStream::kComplex;
  struct Case {
    const char* name;
    TOldWordStream stream;
    std::string want; // 1252 output
  };
  const Case cases[] = {
      {"pieces in table order, beyond fcMac",
       doc(complex).Clx(0x500, Word6Clx({0, 6, 11, 12}, {0x300, 0x400, 0x410})), "Hello world!"},
      {"pieces out of stream order", doc(complex).Clx(0x500, Word6Clx({0, 5, 9}, {0x400, 0x305})),
       "world old"},
      {"property blocks before the piece table",
       doc(complex).Clx(0x500,
                        Word6Clx({0, 5}, {0x400}, std::string("\x01\x02\x00zz\x01\x00\x00", 8))),
       "world"},
      {"0xA0 is kept", doc(complex).Clx(0x500, Word6Clx({0, 2}, {0x410})), "!\xA0"},
      {"a limit below the start is an empty piece",
       doc(complex).Clx(0x500, Word6Clx({5, 2, 7}, {0x300, 0x400})), "world"},
      {"a piece beyond the stream is empty",
       doc(complex).Clx(0x500, Word6Clx({0, 4, 9}, {0x100000, 0x400})), "world"},
      {"a piece cut at the end of the stream",
       doc(complex).Clx(0x380, Word6Clx({0, 0x1000}, {0x410})), "!\xA0"},
      {"not fast-saved: the piece table is not read", doc(0).Clx(0x500, Word6Clx({0, 5}, {0x400})),
       "Hello old"},
      {"fast-saved without a CLX reads fcMin to fcMac", doc(complex), "Hello old"},
      {"a CLX of property blocks only reads fcMin to fcMac",
       doc(complex).Clx(0x500, std::string("\x01\x01\x00z", 4)), "Hello old"},
      {"a CLX beyond the stream reads fcMin to fcMac", doc(complex).ClxPlace(0x90000, 40),
       "Hello old"},
      {"a piece table cut short keeps the whole pieces",
       doc(complex).Clx(0x500, Word6Clx({0, 6, 11}, {0x300, 0x400}).substr(0, 5 + 12 + 8)),
       "Hello "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TRun got = Convert(c.stream.CompoundFile(), 1252, 1);
    EXPECT_EQ(got.out, c.want);
  }
  // A double-byte character split over two pieces is still one character.
  TOldWordStream split(TOldWordStream::kWord6, 104, 0x0411, complex);
  split.Text(0x300, "\x93")
      .Put(0x400, "\xFA\x96\x7B")
      .Clx(0x500, Word6Clx({0, 1, 4}, {0x300, 0x400}));
  EXPECT_EQ(Convert(split.CompoundFile()).out, kBom + "\xE6\x97\xA5\xE6\x9C\xAC" + kZero);
  // And a fast-saved Cyrillic document in its code page.
  TOldWordStream ru(TOldWordStream::kWord6, 104, 0x0419, complex);
  ru.Text(0x300, "\xC0").Put(0x400, "\xC1").Clx(0x500, Word6Clx({0, 1, 2}, {0x400, 0x300}));
  EXPECT_EQ(Convert(ru.CompoundFile()).out, kBom + "\xD0\x91\xD0\x90" + kZero);
  EXPECT_EQ(Convert(doc(complex | TOldWordStream::kEncrypted)
                        .Clx(0x500, Word6Clx({0, 5}, {0x400}))
                        .CompoundFile())
                .code,
            -11);
}

TEST(KvDocLegacy, RepeatedWord95PiecesStayWithinABudget) {
  TOldWordStream doc(TOldWordStream::kWord6, 104, 0x0419, TOldWordStream::kComplex);
  doc.Text(0x300, std::string(8192, '\xC6'));
  std::vector<std::uint32_t> cps;
  std::vector<std::uint32_t> fcs;
  for (std::uint32_t i = 0; i < 4000; ++i) {
    cps.push_back(i % 2 == 0 ? 0 : 8192);
    if (i + 1 < 4000) {
      fcs.push_back(0x300);
    }
  }
  doc.Clx(0x2400, Word6Clx(cps, fcs));
  const TRun got = Convert(doc.CompoundFile(), 1252);
  ASSERT_GT(got.code, 0);
  EXPECT_LE(static_cast<std::size_t>(got.code), doc.bytes.size() * 2 + std::size_t{64} * 1024);
}

TEST(KvDocLegacy, WordForWindows2Files) {
  auto winWord = [](std::uint16_t wIdent, std::uint16_t lid, const std::string& text,
                    std::uint16_t flags = 0) {
    return TOldWordStream(wIdent, 45, lid, flags).Text(0x180, text).bytes;
  };
  struct Case {
    const char* name;
    std::string file;
    std::int32_t codePage;
    TRun want;
  };
  const Case cases[] = {
      {"Word 2",
       winWord(TOldWordStream::kWinWord2, 0x0409, "Caf\xE9\x07x\r"),
       1252,
       {8, "Caf\xE9\tx\r\n"}},
      {"Word 1",
       winWord(TOldWordStream::kWinWord1, 0x0409, "One\r"),
       65001,
       {9, kBom + "One\r\n" + kZero}},
      {"Russian",
       winWord(TOldWordStream::kWinWord2, 0x0419, "\xC6"),
       65001,
       {6, kBom + "\xD0\x96" + kZero}},
      {"locale number of Word 1 is Western",
       winWord(TOldWordStream::kWinWord1, 1, "\xE9"),
       65001,
       {6, kBom + "\xC3\xA9" + kZero}},
      {"encrypted",
       winWord(TOldWordStream::kWinWord2, 0x0409, "x", TOldWordStream::kEncrypted),
       65001,
       {-11, ""}},
      {"text cut at the end of the file",
       TOldWordStream(TOldWordStream::kWinWord2, 45, 0x0409)
           .Range(0x180, 0x7FFFFFFF)
           .Put(0x180, "tail")
           .bytes.substr(0, 0x184),
       1252,
       {4, "tail"}},
      {"fcMin beyond the file",
       TOldWordStream(TOldWordStream::kWinWord2, 45, 0x0409).Range(0x900000, 0x900010).bytes,
       1252,
       {0, ""}},
      {"fcMac below fcMin",
       TOldWordStream(TOldWordStream::kWinWord2, 45, 0x0409).Range(0x200, 0x180).bytes,
       1252,
       {0, ""}},
      {"a FIB header cut short",
       winWord(TOldWordStream::kWinWord2, 0x0409, "x").substr(0, 31),
       1252,
       {-5, ""}},
      {"Word 6 magic outside a compound file",
       winWord(TOldWordStream::kWord6, 0x0409, "x"),
       1252,
       {-5, ""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TRun got = Convert(c.file, c.codePage);
    EXPECT_EQ(got.code, c.want.code);
    EXPECT_EQ(got.out, c.want.out);
  }
}

TEST(KvDocLegacy, WordForWindows2FilesByName) {
  test::TTempDir dir;
  const std::string word2 = dir.Write(
      "w2.doc",
      TOldWordStream(TOldWordStream::kWinWord2, 45, 0x0419).Text(0x180, "\xCF\xF0\xE8\r").bytes);
  const std::string rtf = dir.Write("r.doc", "{\\rtf1\\ansi x}");
  const std::string junk = dir.Write("j.doc", std::string(40, '\x9B'));
  struct Case {
    const char* name;
    std::string path;
    std::int32_t want;
  };
  const Case cases[] = {
      {"Word 2 converts", word2, 3 + 6 + 2 + 1},
      {"RTF is not a Word file", rtf, -5},
      {"anything else is not a Word file", junk, -5},
      {"missing", dir.File("none.doc"), -2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TConversionResult result;
    EXPECT_EQ(DocToText(platform::ArgumentToWide(c.path), 0, result, 65001, 0, 0), c.want);
  }
  const test::TRunResult r = test::RunScvcmd({"-c65001", word2, "*"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, kBom + "\xD0\x9F\xD1\x80\xD0\xB8\r\n" + kZero);
}

} // namespace
} // namespace scv::wordppt
