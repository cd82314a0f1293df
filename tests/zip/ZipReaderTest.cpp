#include "zip/ZipReader.h"

#include "codecs/Inflate.h"
#include "platform/CodePage.h"
#include "support/ProcessRunner.h"
#include "support/ZipBuilder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace scv::zip {
namespace {

using test::TZipBuilder;

std::string Text(const bytes::TMemoryStream& s) {
  return {reinterpret_cast<const char*>(s.Data()), s.Size()};
}

// An archive written to a temporary file and a reader opened on it.
class TArchive {
public:
  explicit TArchive(const std::string& bytes, const std::string& name = "test.zip") {
    path_ = dir_.Write(name, bytes);
    reader.SetZipName(platform::Utf8ToWide(path_));
  }
  const std::string& Path() const { return path_; }
  // Extracts `name` into a fresh stream: the count and the stream's bytes. Reading the same
  // entries piece by piece, in tiny and in large pieces, must give the same bytes, count and
  // outcomes.
  std::pair<int, std::string> Extract(std::string_view name) {
    bytes::TMemoryStream s;
    const int n = reader.UnZipToStream(s, name);
    const std::vector<TEntryOutcome> outcomes = reader.LastOutcomes();
    for (const std::size_t piece : {std::size_t{1}, std::size_t{5000}}) {
      SCOPED_TRACE("pieces of " + std::to_string(piece));
      reader.SetPieceSize(piece);
      reader.OpenPart(name);
      std::string bytes;
      for (auto p = reader.NextPiece(); !p.empty(); p = reader.NextPiece()) {
        EXPECT_LE(p.size(), std::max<std::size_t>(piece + 258, s.Size()));
        bytes.append(reinterpret_cast<const char*>(p.data()), p.size());
      }
      EXPECT_EQ(reader.PartExtracted(), n);
      EXPECT_TRUE(reader.LastOutcomes() == outcomes);
      EXPECT_TRUE(bytes == Text(s));
      reader.ClosePart();
    }
    reader.SetPieceSize(codecs::TInflateStream::kDefaultPieceSize);
    return {n, Text(s)};
  }
  TZipReader reader;

private:
  test::TTempDir dir_;
  std::string path_;
};

TEST(ZipReader, FindsEntriesByNameWithEitherSeparatorAndAnyCase) {
  TZipBuilder b;
  b.Add("word/document.xml", "<w:document/>", 8);
  b.Add("xl/worksheets/sheet1.xml", "<worksheet/>", 0);
  b.Add("word/", ""); // directory entry
  b.Add("[Content_Types].xml", "<Types/>", 8);
  TArchive a(b.Build());
  a.reader.ReadZip();
  EXPECT_EQ(a.reader.Count(), 4u);
  EXPECT_EQ(a.reader.Entry(0).path, "word\\");
  EXPECT_EQ(a.reader.Entry(0).fileName, "document.xml");
  struct Case {
    const char* name;
    int want;
    const char* data;
  };
  const Case cases[] = {
      {"word\\document.xml", 1, "<w:document/>"},
      {"WORD\\Document.XML", 1, "<w:document/>"},
      {"word/document.xml", 1, "<w:document/>"},
      {"xl\\worksheets\\sheet1.xml", 1, "<worksheet/>"},
      {"xl\\worksheets\\sheet2.xml", 0, ""},
      {"[content_types].xml", 1, "<Types/>"},
      {"word\\", 0, ""},       // directory entries are never extracted
      {"document.xml", 0, ""}, // the path is part of the name
      {"", 0, ""},
      {" \t\r\n", 0, ""},
      {"*.xml", 3, "<w:document/><worksheet/><Types/>"},
      {"xl\\*\\sheet?.xml", 1, "<worksheet/>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto [n, data] = a.Extract(c.name);
    EXPECT_EQ(n, c.want);
    EXPECT_EQ(data, c.data);
  }
  bytes::TMemoryStream s;
  EXPECT_EQ(a.reader.UnZipToStream(nullptr, "word\\document.xml"), 0);
}

TEST(ZipReader, TwoEntriesDifferingInCaseAreBothExtracted) {
  TZipBuilder b;
  b.Add("Data.txt", "first;", 8);
  b.Add("other.txt", "x", 0);
  b.Add("DATA.TXT", "second", 0);
  TArchive a(b.Build());
  a.reader.ReadZip();
  const auto [n, data] = a.Extract("data.txt");
  EXPECT_EQ(n, 2);
  EXPECT_EQ(data, "first;second");
}

TEST(ZipReader, AppendsAtTheStreamPosition) {
  TZipBuilder b;
  b.Add("a.txt", "AAAA", 8);
  TArchive a(b.Build());
  a.reader.ReadZip();
  bytes::TMemoryStream s;
  s.Write("0123456789", 10);
  s.SetPosition(2);
  EXPECT_EQ(a.reader.UnZipToStream(s, "a.txt"), 1);
  EXPECT_EQ(Text(s), "01AAAA6789");
  EXPECT_EQ(s.Position(), 6u);
}

// The traditional PKWARE cipher with the empty password, written independently for tests.
std::string EncryptWithEmptyPassword(const std::string& plain) {
  std::uint32_t k0 = 0x12345678u;
  std::uint32_t k1 = 0x23456789u;
  std::uint32_t k2 = 0x34567890u;
  auto crcByte = [](std::uint32_t crc, std::uint8_t b) {
    crc ^= b;
    for (int i = 0; i < 8; ++i) {
      crc = (crc & 1u) != 0 ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return crc;
  };
  std::string out;
  for (const char ch : plain) {
    const auto p = static_cast<std::uint8_t>(ch);
    const std::uint32_t t = (k2 | 2u) & 0xFFFFu;
    out.push_back(static_cast<char>(p ^ static_cast<std::uint8_t>((t * (t ^ 1u)) >> 8)));
    k0 = crcByte(k0, p);
    k1 = (k1 + (k0 & 0xFFu)) * 134775813u + 1u;
    k2 = crcByte(k2, static_cast<std::uint8_t>(k1 >> 24));
  }
  return out;
}

// What each kind of damaged or unusual entry gives: the count, the bytes left in the stream
// and the outcome.
TEST(ZipReader, EntryOutcomes) {
  const std::string body = "The quick brown fox jumps over the lazy dog. " + std::string(3000, 'z');
  struct Case {
    const char* name;
    std::function<void(test::TZipItem&)> setup;
    std::uint16_t method;
    int want;
    std::string data;
    TEntryOutcome outcome;
  };
  const std::vector<Case> cases = {
      {"stored", [](auto&) {}, 0, 1, body, TEntryOutcome::kExtracted},
      {"deflated", [](auto&) {}, 8, 1, body, TEntryOutcome::kExtracted},
      {"fixed codes", [](auto& it) { it.deflateMode = test::TDeflateMode::kFixed; }, 8, 1, body,
       TEntryOutcome::kExtracted},
      {"wrong CRC keeps the data", [](auto& it) { it.crc = 0x12345678; }, 8, 0, body,
       TEntryOutcome::kBadCrc},
      {"stored, wrong CRC", [](auto& it) { it.crc = 1; }, 0, 0, body, TEntryOutcome::kBadCrc},
      {"data descriptor", [](auto& it) { it.dataDescriptor = true; }, 8, 1, body,
       TEntryOutcome::kExtracted},
      {"ZIP64 extra field", [](auto& it) { it.zip64 = true; }, 8, 1, body,
       TEntryOutcome::kExtracted},
      {"encrypted is skipped", [](auto& it) { it.flags = 1; }, 0, 0, "", TEntryOutcome::kEncrypted},
      // Encrypted with the empty password: the header check passes and the data decrypts.
      {"encrypted with empty password, stored",
       [&](auto& it) {
         it.flags = 1;
         const char check = static_cast<char>(test::ReferenceCrc32(body) >> 24);
         it.payload = EncryptWithEmptyPassword(std::string(11, 'h') + check + body);
       },
       0, 1, body, TEntryOutcome::kExtracted},
      {"encrypted with empty password, deflated",
       [&](auto& it) {
         it.flags = 1;
         const char check = static_cast<char>(test::ReferenceCrc32(body) >> 24);
         it.payload =
             EncryptWithEmptyPassword(std::string(11, 'h') + check +
                                      test::DeflateEncode(body, test::TDeflateMode::kDynamic));
       },
       8, 1, body, TEntryOutcome::kExtracted},
      {"encrypted with another password",
       [&](auto& it) {
         it.flags = 1;
         const char check = static_cast<char>((test::ReferenceCrc32(body) >> 24) ^ 0x55);
         it.payload = EncryptWithEmptyPassword(std::string(11, 'h') + check + body);
       },
       0, 0, "", TEntryOutcome::kEncrypted},
      // Larger than stated: exactly the stated bytes stay and the entry is not counted.
      {"deflated beyond stated size", [](auto& it) { it.statedSize = 10; }, 8, 0,
       body.substr(0, 10), TEntryOutcome::kLargerThanStated},
      {"stored beyond stated size", [](auto& it) { it.statedSize = 10; }, 0, 0, body.substr(0, 10),
       TEntryOutcome::kLargerThanStated},
      // Shorter than stated: CRC decides (here it matches the real data).
      {"deflated, stated size too large", [](auto& it) { it.statedSize = 1u << 30; }, 8, 1, body,
       TEntryOutcome::kExtracted},
      {"deflate stream cut short",
       [&](auto& it) {
         it.payload = test::DeflateEncode(body, test::TDeflateMode::kDynamic).substr(0, 30);
       },
       8, 0, "", TEntryOutcome::kBadCrc},
      {"unknown method", [](auto& it) { it.payload = "xxxx"; }, 14, 0, "",
       TEntryOutcome::kUnknownMethod},
      // Even with a stated CRC of 0 and nothing written, an unknown method is not extracted.
      {"unknown method, CRC 0",
       [](auto& it) {
         it.payload = "";
         it.crc = 0;
         it.statedSize = 0;
       },
       99, 0, "", TEntryOutcome::kUnknownMethod},
      // A corrupt stream that produced nothing must not pass as an empty entry.
      {"bad stream, CRC 0 and size 0",
       [](auto& it) {
         it.payload = std::string("\xFF\xFF", 2);
         it.crc = 0;
         it.statedSize = 0;
       },
       8, 0, "", TEntryOutcome::kBadCrc},
      {"empty deflated entry", [](auto& it) { it.data.clear(); }, 8, 1, "",
       TEntryOutcome::kExtracted},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TZipBuilder b;
    b.Add("before.txt", "x");
    c.setup(b.Add("e.txt", body, c.method));
    b.Add("after.txt", "y");
    TArchive a(b.Build());
    a.reader.ReadZip();
    const auto [n, data] = a.Extract("e.txt");
    EXPECT_EQ(n, c.want);
    if (std::string_view(c.name) == "deflate stream cut short") {
      EXPECT_EQ(body.substr(0, data.size()), data); // what was decoded before the cut stays
    } else {
      EXPECT_TRUE(data == c.data) << data.size();
    }
    ASSERT_EQ(a.reader.LastOutcomes().size(), 1u);
    EXPECT_EQ(a.reader.LastOutcomes()[0], c.outcome);
    EXPECT_EQ(a.Extract("after.txt").first, 1); // the archive stays usable
  }
}

TEST(ZipReader, StoredEntryEndingEarlyRaisesFatalError) {
  TZipBuilder b;
  b.Add("big.bin", std::string(100, 'b')).statedCompressed = 1000;
  auto& last = b.Add("z.txt", "z");
  last.statedSize = 1000;
  last.statedCompressed = 1000;
  TArchive a(b.Build());
  a.reader.ReadZip();
  bytes::TMemoryStream s;
  // The 1000 stated bytes run past the end of the file for the last entry.
  try {
    a.reader.UnZipToStream(s, "z.txt");
    ADD_FAILURE() << "no error";
  } catch (const EFatalUnzipError& e) {
    // The error names the entry and the offset where its data ends.
    EXPECT_EQ(e.Structure(), "z.txt");
    EXPECT_EQ(e.Offset(), a.reader.ArchiveSize());
    EXPECT_NE(std::string(e.what()).find("Premature end of file reached"), std::string::npos);
  }
  // Piece by piece too, and the reader is usable afterwards.
  a.reader.OpenPart("z.txt");
  EXPECT_THROW(a.reader.NextPiece(), EFatalUnzipError);
  EXPECT_TRUE(a.reader.NextPiece().empty());
  EXPECT_EQ(a.Extract("big.bin").first, 0); // its stated data overlaps the next entry's
}

// A long deflated entry, inflated ahead on a second thread, comes out as a short one does: the
// same bytes, and a wrong CRC or a stream cut short still counts against it.
TEST(ZipReader, LongEntriesInflatedAheadKeepTheirChecks) {
  std::string data;
  for (int i = 0; data.size() < (std::size_t{3} << 20); ++i) {
    data += "line " + std::to_string(i * 7919 % 100003) + " of a long part\r\n";
  }
  TZipBuilder b;
  b.Add("good.xml", data, 8);
  b.Add("badcrc.xml", data, 8).crc = 1234;
  TArchive a(b.Build());
  a.reader.ReadZip();
  const auto pieces = [&](std::string_view name) {
    a.reader.OpenPart(name);
    std::string bytes;
    for (auto p = a.reader.NextPiece(); !p.empty(); p = a.reader.NextPiece()) {
      bytes.append(reinterpret_cast<const char*>(p.data()), p.size());
    }
    return std::make_pair(a.reader.PartExtracted(), bytes);
  };
  EXPECT_EQ(pieces("good.xml"), std::make_pair(1, data));
  EXPECT_EQ(pieces("badcrc.xml"), std::make_pair(0, data));
  EXPECT_EQ(a.reader.LastOutcomes(), std::vector<TEntryOutcome>{TEntryOutcome::kBadCrc});
  // Dropped halfway, the reader stops the decoding and reads the next part.
  a.reader.OpenPart("good.xml");
  EXPECT_FALSE(a.reader.NextPiece().empty());
  a.reader.ClosePart();
  EXPECT_EQ(pieces("good.xml").first, 1);
}

// Piece by piece, an entry that is decoded whole (any method but Deflate) may not produce
// more than the limit set for that; whole extraction and deflated entries are not bound by it.
TEST(ZipReader, WholeEntryLimitAppliesToWholeDecodingOnly) {
  TZipBuilder b;
  b.Add("stored.bin", std::string(5000, 's'));
  b.Add("deflated.bin", std::string(5000, 'd'), 8);
  b.Add("small.bin", std::string(1000, 'm'));
  TArchive a(b.Build());
  a.reader.ReadZip();
  a.reader.SetWholeEntryLimit(1000);
  const auto pieces = [&](std::string_view name) {
    a.reader.OpenPart(name);
    std::string bytes;
    for (auto p = a.reader.NextPiece(); !p.empty(); p = a.reader.NextPiece()) {
      bytes.append(reinterpret_cast<const char*>(p.data()), p.size());
    }
    return bytes;
  };
  EXPECT_THROW(pieces("stored.bin"), EZipError);
  EXPECT_EQ(pieces("deflated.bin"), std::string(5000, 'd'));
  EXPECT_EQ(pieces("small.bin"), std::string(1000, 'm'));
  bytes::TMemoryStream s;
  EXPECT_EQ(a.reader.UnZipToStream(s, "stored.bin"), 1);
  EXPECT_EQ(s.Size(), 5000u);
}

TEST(ZipReader, FilesWithoutEndRecordHaveNoEntries) {
  struct Case {
    const char* name;
    std::string bytes;
  };
  TZipBuilder one;
  one.Add("a.txt", "a");
  const std::string whole = one.Build();
  const Case cases[] = {
      {"empty file", ""},
      {"plain text", "Just some text, not an archive.\r\n"},
      {"short file", "PK\x05\x06"},
      {"archive cut before its end record", whole.substr(0, whole.size() - 10)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TArchive a(c.bytes);
    EXPECT_NO_THROW(a.reader.ReadZip());
    EXPECT_EQ(a.reader.Count(), 0u);
    EXPECT_EQ(a.Extract("a.txt").first, 0);
  }
}

TEST(ZipReader, DirectoryReadingVariants) {
  TZipBuilder base;
  base.Add("a.txt", "alpha", 8);
  base.Add("b.txt", "beta", 0);
  struct Case {
    const char* name;
    std::function<void(TZipBuilder&)> setup;
    std::size_t count;
  };
  const std::vector<Case> cases = {
      {"plain", [](auto&) {}, 2},
      {"comment", [](auto& b) { b.SetComment("a comment with PK\x05\x06 inside"); }, 2},
      {"leading bytes", [](auto& b) { b.SetPrefix(std::string(5000, 'S')); }, 2},
      {"ZIP64 end record", [](auto& b) { b.SetZip64End(true); }, 2},
      {"ZIP64 end record and leading bytes",
       [](auto& b) {
         b.SetZip64End(true);
         b.SetPrefix("MZ stub");
       },
       2},
      // The directory claims more entries than it holds: rebuilt from the local headers.
      {"count too high", [](auto& b) { b.SetStatedCount(3); }, 2},
      {"offset beyond the file", [](auto& b) { b.SetStatedDirOffset(1u << 30); }, 2},
      // Only the directory offset is wrong: the directory is found where it ends, the local
      // headers stay where their offsets say.
      {"offset too low", [](auto& b) { b.SetStatedDirOffset(7); }, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TZipBuilder b = base;
    c.setup(b);
    TArchive a(b.Build());
    ASSERT_NO_THROW(a.reader.ReadZip());
    EXPECT_EQ(a.reader.Count(), c.count);
    EXPECT_EQ(a.Extract("a.txt"), std::make_pair(1, std::string("alpha")));
    EXPECT_EQ(a.Extract("B.TXT"), std::make_pair(1, std::string("beta")));
  }
}

// Entries written as a stream (sizes after the data) are rebuilt by decoding each Deflate
// stream to its end and reading the descriptor behind it.
TEST(ZipReader, RebuildsStreamedEntries) {
  TZipBuilder b;
  const std::string big(300000, 'w');
  b.Add("one.xml", "<one/>" + std::string(5000, '1'), 8).dataDescriptor = true;
  b.Add("two.xml", big, 8).dataDescriptor = true;
  b.Add("three.txt", "three", 8).dataDescriptor = true;
  b.SetStatedCount(4); // the directory ends early: rebuild from local headers
  TArchive a(b.Build());
  ASSERT_NO_THROW(a.reader.ReadZip());
  ASSERT_EQ(a.reader.Count(), 3u);
  EXPECT_EQ(a.reader.Entry(1).uncompressedSize, big.size());
  EXPECT_EQ(a.Extract("one.xml").first, 1);
  const auto [n, data] = a.Extract("two.xml");
  EXPECT_EQ(n, 1);
  EXPECT_TRUE(data == big);
  EXPECT_EQ(a.Extract("three.txt"), std::make_pair(1, std::string("three")));
}

TEST(ZipReader, UnreadableDirectoryWithoutLocalHeadersIsBadZipFile) {
  // An end record pointing at garbage, and no local header anywhere.
  std::string bytes(200, 'g');
  bytes += std::string("PK\x05\x06\0\0\0\0\x02\0\x02\0\x5c\0\0\0\x10\0\0\0\0\0", 22);
  TArchive a(bytes);
  try {
    a.reader.ReadZip();
    FAIL() << "no error";
  } catch (const EBadZipFile& e) {
    EXPECT_EQ(e.Structure(), "central directory");
    EXPECT_EQ(e.Offset(), 0x10u); // where the end record says the directory starts
    EXPECT_STREQ(e.what(), "central directory at 16: Not a valid zip file!");
  }
  EXPECT_EQ(a.reader.Count(), 0u);
}

TEST(ZipReader, MissingFileRaisesAndLeavesNoEntries) {
  TZipReader r;
  r.SetZipName(u"/nonexistent/dir/file.zip");
  EXPECT_THROW(r.ReadZip(), EZipError);
  EXPECT_EQ(r.Count(), 0u);
}

// A directory read before is used again while the file is the same; a changed file or
// another name is read afresh. Names that differ in case are different files here.
TEST(ZipReader, ReusesDirectoryOnlyForTheSameFile) {
  test::TTempDir dir;
  TZipBuilder one;
  one.Add("a.txt", "one");
  TZipBuilder two;
  two.Add("a.txt", "two, longer");
  two.Add("b.txt", "b");
  const std::string lower = dir.Write("pack.zip", one.Build());
  const std::string upper = dir.Write("PACK.zip", two.Build());
  TZipReader r;
  r.SetZipName(platform::Utf8ToWide(lower));
  r.ReadZip();
  EXPECT_EQ(r.Count(), 1u);
  r.ReadZip();
  EXPECT_EQ(r.Count(), 1u);
  r.SetZipName(platform::Utf8ToWide(upper));
  EXPECT_EQ(r.Count(), 0u); // dropped with the old name
  r.ReadZip();
  EXPECT_EQ(r.Count(), 2u);
  dir.Write("PACK.zip", one.Build()); // rewritten: size differs
  r.ReadZip();
  EXPECT_EQ(r.Count(), 1u);
  bytes::TMemoryStream s;
  EXPECT_EQ(r.UnZipToStream(s, "a.txt"), 1);
  EXPECT_EQ(Text(s), "one");
}

// Many entries: the name index gives the same answers as a scan, in directory order.
TEST(ZipReader, LargeDirectoryLookups) {
  TZipBuilder b;
  for (int i = 0; i < 70000; ++i) {
    b.Add("xl/worksheets/sheet" + std::to_string(i) + ".xml", std::to_string(i));
  }
  b.SetZip64End(true); // more than 65,535 entries
  TArchive a(b.Build());
  a.reader.ReadZip();
  ASSERT_EQ(a.reader.Count(), 70000u);
  for (int i = 0; i < 70000; i += 7) {
    bytes::TMemoryStream s;
    ASSERT_EQ(a.reader.UnZipToStream(s, "XL\\Worksheets\\Sheet" + std::to_string(i) + ".xml"), 1);
    ASSERT_EQ(Text(s), std::to_string(i));
  }
  EXPECT_EQ(a.Extract("xl\\worksheets\\sheet6999?.xml").first, 10);
}

// Archives written by other tools, made at test time when the tools are installed.
TEST(ZipReader, ArchivesWrittenByZipAndPython) {
  test::TTempDir dir;
  dir.Write("Doc.XML", std::string(5000, 'd') + "end");
  dir.Write("empty.txt", "");
  const std::string zipPath = dir.File("made-by-zip.zip");
  const auto zipRun = test::RunProgram(
      "/usr/bin/zip", {"-q", "-r", zipPath, "Doc.XML", "empty.txt"}, {}, dir.Path());
  const std::string pyPath = dir.File("made-by-python.zip");
  const std::string script =
      "import zipfile,sys\n"
      "z=zipfile.ZipFile(sys.argv[1],'w')\n"
      "z.writestr(zipfile.ZipInfo('dir/'),'')\n"
      "z.writestr('dir/Deflated.txt','hello '*1000,compress_type=zipfile.ZIP_DEFLATED)\n"
      "z.writestr('dir/Stored.txt','stored',compress_type=zipfile.ZIP_STORED)\n"
      "with z.open('dir/big64.txt','w',force_zip64=True) as f: f.write(b'64'*500)\n"
      "z.close()\n";
  const auto pyRun = test::RunProgram("/usr/bin/env", {"python3", "-c", script, pyPath});
  if (zipRun.exitCode != 0 || pyRun.exitCode != 0) {
    GTEST_SKIP() << "zip or python3 not available";
  }
  TZipReader r;
  r.SetZipName(platform::Utf8ToWide(zipPath));
  r.ReadZip();
  EXPECT_EQ(r.Count(), 2u);
  bytes::TMemoryStream s;
  EXPECT_EQ(r.UnZipToStream(s, "doc.xml"), 1);
  EXPECT_EQ(s.Size(), 5003u);
  EXPECT_EQ(r.UnZipToStream(s, "EMPTY.TXT"), 1);

  r.SetZipName(platform::Utf8ToWide(pyPath));
  r.ReadZip();
  EXPECT_EQ(r.Count(), 4u);
  s.Clear();
  EXPECT_EQ(r.UnZipToStream(s, "dir\\deflated.txt"), 1);
  EXPECT_EQ(s.Size(), 6000u);
  s.Clear();
  EXPECT_EQ(r.UnZipToStream(s, "dir/stored.txt"), 1);
  EXPECT_EQ(Text(s), "stored");
  s.Clear();
  EXPECT_EQ(r.UnZipToStream(s, "dir\\big64.txt"), 1);
  EXPECT_EQ(s.Size(), 1000u);
}

// MS-DOS names come from the OEM code page; UTF-8 flagged and Unix names are kept.
TEST(ZipReader, NameConversion) {
  TZipBuilder b;
  b.Add("dos\\\x84rger.txt", "1").versionMadeBy = 0x0014; // CP437 0x84 = ä
  b.Add("unix/\xC3\xA4rger.txt", "2");
  auto& flagged = b.Add("utf8/\xC3\xA4rger.txt", "3");
  flagged.versionMadeBy = 0x0014;
  flagged.flags = 0x0800;
  TArchive a(b.Build());
  a.reader.ReadZip();
  EXPECT_EQ(a.reader.Entry(0).FullName(), "dos\\\xC3\xA4rger.txt");
  EXPECT_EQ(a.Extract("DOS\\\xC3\x84RGER.TXT").second, "1");
  EXPECT_EQ(a.Extract("unix\\\xC3\xA4rger.txt").second, "2");
  EXPECT_EQ(a.Extract("utf8\\\xC3\xA4rger.txt").second, "3");
}

// Entries that share data (a "zip bomb" made of overlapping entries) are not extracted.
TEST(ZipReader, OverlappingEntriesAreNotExtracted) {
  TZipBuilder b;
  b.Add("a.xml", std::string(2000, 'a'), 8);
  b.Add("b.xml", std::string(2000, 'b'), 8);
  b.Add("c.xml", "c");
  const std::string good = b.Build();
  auto patch32 = [](std::string& bytes, std::size_t at, std::uint32_t v) {
    for (int k = 0; k < 4; ++k) {
      bytes[at + static_cast<std::size_t>(k)] = static_cast<char>(v >> (8 * k));
    }
  };
  const std::size_t cd0 = good.find("PK\x01\x02");
  const std::size_t cd1 = good.find("PK\x01\x02", cd0 + 4);
  const std::size_t localB = good.find("PK\x03\x04", 4);
  struct Case {
    const char* name;
    std::string bytes;
    std::vector<int> want; // a, b, c
  };
  std::string shared = good; // b's record points at a's local header
  patch32(shared, cd1 + 42, 0);
  std::string spanning = good; // a's data claims to run over b's header
  patch32(spanning, cd0 + 20, static_cast<std::uint32_t>(localB + 100));
  const Case cases[] = {
      {"well formed", good, {1, 1, 1}},
      {"shared local header", shared, {0, 0, 1}},
      {"data running over the next header", spanning, {0, 1, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TArchive a(c.bytes);
    a.reader.ReadZip();
    EXPECT_EQ(a.Extract("a.xml").first, c.want[0]);
    EXPECT_EQ(a.Extract("b.xml").first, c.want[1]);
    EXPECT_EQ(a.Extract("c.xml").first, c.want[2]);
  }
}

// Hostile directory values: huge sizes and offsets, local headers outside the file.
TEST(ZipReader, HostileSizesAndOffsets) {
  TZipBuilder b;
  auto& huge = b.Add("huge.bin", "abc", 8);
  huge.statedSize = 0xFFFFFFF0u; // claims 4 GB, holds 3 bytes
  const auto zeros = test::DeflateRunOfZeros(64u << 20);
  auto& bomb = b.Add("bomb.bin", "", 8);
  bomb.payload = std::string(zeros.begin(), zeros.end());
  bomb.statedSize = 1000;
  TArchive a(b.Build());
  a.reader.ReadZip();
  bytes::TMemoryStream s;
  // Shorter than stated: the CRC decides, and room was made for what the data can give,
  // not for the 4 GB claimed.
  EXPECT_EQ(a.reader.UnZipToStream(s, "huge.bin"), 1);
  EXPECT_EQ(Text(s), "abc");
  EXPECT_LT(s.Capacity(), 1200u * 1024 * 1024);
  EXPECT_LE(s.Capacity(), codecs::InflateBound(std::filesystem::file_size(a.Path())) + 4096);
  s.Release();
  EXPECT_EQ(a.reader.UnZipToStream(s, "bomb.bin"), 0);
  EXPECT_EQ(s.Size(), 1000u);
  EXPECT_EQ(a.reader.LastOutcomes()[0], TEntryOutcome::kLargerThanStated);
  EXPECT_LT(s.Capacity(), 1u << 20);

  // The entry's local header offset points past the end of the file.
  TZipBuilder c;
  c.Add("a.txt", "a");
  std::string bytes = c.Build();
  const std::size_t cd = bytes.find("PK\x01\x02");
  bytes[cd + 42] = '\x7F';
  bytes[cd + 45] = '\x7F';
  TArchive d(bytes);
  d.reader.ReadZip();
  EXPECT_EQ(d.Extract("a.txt").first, 0);
  EXPECT_EQ(d.reader.LastOutcomes()[0], TEntryOutcome::kUnreadable);
}

} // namespace
} // namespace scv::zip
