// Compound-file reader: layouts that must read back exactly, names, and hostile structures.
#include "storage/CfbReader.h"

#include "support/CfbBuilder.h"

#include <gtest/gtest.h>

namespace scv::storage {
namespace {

using test::PutU32;
using test::TCfbBuilder;

// Sector sizes of the version 3 files the builder writes.
constexpr std::size_t kSector = 512;
constexpr std::size_t kMiniSector = 64;

std::vector<std::uint8_t> ToBytes(const std::string& s) {
  return {s.begin(), s.end()};
}

std::string Pattern(std::size_t n, unsigned seed) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) {
    s[i] = static_cast<char>((i * 31 + std::size_t{seed} * 7 + i / 251) & 0xFF);
  }
  return s;
}

std::string StreamText(TCfbFile& file, std::u16string_view name) {
  auto s = file.OpenStream(name);
  if (!s) {
    return "<missing>";
  }
  const auto d = s->Data();
  return {d.begin(), d.end()};
}

TEST(CfbReader, ReadsBackEveryLayout) {
  struct Case {
    const char* name;
    int version;
    std::vector<std::size_t> sizes; // stream sizes; mini below 4096
    bool fragmented;
    std::uint32_t difatSectors;
  };
  const Case cases[] = {
      {"v3 one mini stream", 3, {100}, false, 0},
      {"v3 mini streams across mini sectors", 3, {1, 64, 65, 4095}, false, 0},
      {"v3 regular at cutoff", 3, {4096}, false, 0},
      {"v3 mixed", 3, {10, 5000, 300, 70000}, false, 0},
      {"v3 fragmented regular", 3, {5000, 9000, 4097}, true, 0},
      {"v3 one fragmented stream", 3, {20000}, true, 0},
      {"v3 empty stream", 3, {0, 5}, false, 0},
      {"v3 one DIFAT sector", 3, {5000, 20}, false, 1},
      {"v3 three DIFAT sectors", 3, {8000, 200}, true, 3},
      {"v4 mini", 4, {1000, 2}, false, 0},
      {"v4 regular", 4, {4096, 100000}, false, 0},
      {"v4 fragmented", 4, {9000, 13000}, true, 0},
      {"v4 one DIFAT sector", 4, {5000}, false, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TCfbBuilder b(c.version);
    b.SetFragmented(c.fragmented).SetDifatSectors(c.difatSectors);
    for (std::size_t i = 0; i < c.sizes.size(); ++i) {
      b.AddStream("S" + std::to_string(i), Pattern(c.sizes[i], static_cast<unsigned>(i)));
    }
    const auto file = TCfbFile::Open(b.BuildBytes());
    EXPECT_EQ(file->SectorSize(), c.version == 4 ? 4096u : 512u);
    EXPECT_EQ(b.Layout().difatSectors.size() >= c.difatSectors, true);
    for (std::size_t i = 0; i < c.sizes.size(); ++i) {
      const std::string name = "S" + std::to_string(i);
      EXPECT_EQ(StreamText(*file, std::u16string(name.begin(), name.end())),
                Pattern(c.sizes[i], static_cast<unsigned>(i)))
          << name;
    }
  }
}

TEST(CfbReader, NamesCompareWithoutCaseInRootOnly) {
  TCfbBuilder b;
  b.AddStream("WordDocument", "main")
      .AddStream(u"\u0434\u0430\u043d\u043d\u044b\u0435", "cyrillic") // lower-case Cyrillic
      .AddStream("ObjectPool/_1/Inner", "nested")
      .AddStorage("Macros")
      .AddStream("1Table", "table");
  const auto file = TCfbFile::Open(b.BuildBytes());
  struct Case {
    std::u16string name;
    std::string want;
  };
  const Case cases[] = {
      {u"WordDocument", "main"},
      {u"WORDDOCUMENT", "main"},
      {u"worddocument", "main"},
      {u"\u0414\u0410\u041d\u041d\u042b\u0415", "cyrillic"},
      {u"1table", "table"},
      {u"Inner", "<missing>"},      // lives in a sub-storage
      {u"ObjectPool", "<missing>"}, // a storage, not a stream
      {u"Macros", "<missing>"},
      {u"WordDocumen", "<missing>"},
      {std::u16string(u"WordDocument\0", 13), "<missing>"},
      {u"", "<missing>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name.begin(), c.name.end()));
    EXPECT_EQ(StreamText(*file, c.name), c.want);
  }
}

TEST(CfbReader, UpperCaseMapping) {
  const std::pair<char16_t, char16_t> cases[] = {
      {u'a', u'A'},           {u'z', u'Z'},           {u'1', u'1'},
      {u'\u00e9', u'\u00c9'}, {u'\u00f7', u'\u00f7'}, {u'\u00ff', u'\u0178'},
      {u'\u0101', u'\u0100'}, {u'\u013a', u'\u0139'}, {u'\u017e', u'\u017d'},
      {u'\u03b1', u'\u0391'}, {u'\u03c2', u'\u03a3'}, {u'\u0451', u'\u0401'},
      {u'\u044f', u'\u042f'}, {u'\uff41', u'\uff21'}, {u'\u4e2d', u'\u4e2d'},
  };
  for (const auto& [in, want] : cases) {
    SCOPED_TRACE(static_cast<int>(in));
    EXPECT_EQ(CfbUpperCase(in), want);
  }
}

// Each case corrupts a well-formed file; the reader must end, keep within the file, and give
// the stated content (or fail to open where the header is unusable).
TEST(CfbReader, HostileStructuresEndCleanly) {
  const std::string big = Pattern(3000 + 4096, 1); // regular stream, 14 sectors of 512
  struct Case {
    const char* name;
    void (*corrupt)(std::string& bytes, const test::TCfbLayout& layout);
    bool opens;
    std::size_t wantSize; // size of stream "Big"
  };
  const Case cases[] = {
      {"intact", [](std::string&, const test::TCfbLayout&) {}, true, 7096},
      {"FAT cycle back to the start",
       [](std::string& b, const test::TCfbLayout& l) {
         const auto& ch = l.streams.at("Big").chain;
         PutU32(b, l.FatEntryOffset(ch[3]), ch[0]);
       },
       true, 4 * kSector},
      {"FAT entry points to itself",
       [](std::string& b, const test::TCfbLayout& l) {
         const auto& ch = l.streams.at("Big").chain;
         PutU32(b, l.FatEntryOffset(ch[1]), ch[1]);
       },
       true, 2 * kSector},
      {"chain leaves the file",
       [](std::string& b, const test::TCfbLayout& l) {
         const auto& ch = l.streams.at("Big").chain;
         PutU32(b, l.FatEntryOffset(ch[5]), 0x00FFFFF0);
       },
       true, 6 * kSector},
      {"chain hits a free sector",
       [](std::string& b, const test::TCfbLayout& l) {
         const auto& ch = l.streams.at("Big").chain;
         PutU32(b, l.FatEntryOffset(ch[0]), 0xFFFFFFFF);
       },
       true, kSector},
      {"size far beyond the file",
       [](std::string& b, const test::TCfbLayout& l) {
         PutU32(b, l.DirEntryOffset(l.streams.at("Big").dirId) + 120, 0x7FFFFFFF);
       },
       true, 14 * kSector},
      {"version 3 size with garbage high half",
       [](std::string& b, const test::TCfbLayout& l) {
         PutU32(b, l.DirEntryOffset(l.streams.at("Big").dirId) + 124, 0xDEADBEEF);
       },
       true, 7096},
      {"start sector out of range",
       [](std::string& b, const test::TCfbLayout& l) {
         PutU32(b, l.DirEntryOffset(l.streams.at("Big").dirId) + 116, 0xFFFFFFF0);
       },
       true, 0},
      {"directory chain loops",
       [](std::string& b, const test::TCfbLayout& l) {
         PutU32(b, l.FatEntryOffset(l.dirSectors.back()), l.dirSectors.front());
       },
       true, 7096},
      {"sibling links loop",
       [](std::string& b, const test::TCfbLayout& l) {
         for (std::uint32_t id = 1; id < 4; ++id) {
           PutU32(b, l.DirEntryOffset(id) + 68, id);
           PutU32(b, l.DirEntryOffset(id) + 72, 0);
         }
         PutU32(b, l.DirEntryOffset(0) + 76, l.streams.at("Big").dirId);
       },
       true, 7096},
      {"FAT sector listed beyond the file",
       [](std::string& b, const test::TCfbLayout&) { PutU32(b, 76, 0x0FFFFFFF); }, true, kSector},
      {"FAT count enormous",
       [](std::string& b, const test::TCfbLayout&) { PutU32(b, 44, 0xFFFFFFFF); }, true, 7096},
      {"bad sector shift", [](std::string& b, const test::TCfbLayout&) { b[30] = 10; }, false, 0},
      {"directory start beyond the file",
       [](std::string& b, const test::TCfbLayout&) { PutU32(b, 48, 0x10000); }, false, 0},
      {"file cut inside the last sector",
       [](std::string& b, const test::TCfbLayout&) { b.resize(b.size() - 300); }, true, 7096},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TCfbBuilder builder;
    builder.AddStream("Big", big).AddStream("Small", "tiny").AddStream("Other", "x");
    std::string bytes = builder.Build();
    c.corrupt(bytes, builder.Layout());
    std::shared_ptr<TCfbFile> file;
    try {
      file = TCfbFile::Open(ToBytes(bytes));
    } catch (const ECfbError&) {
    }
    ASSERT_EQ(file != nullptr, c.opens);
    if (!file) {
      continue;
    }
    auto s = file->OpenStream(u"Big");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->Size(), c.wantSize);
    const auto d = s->Data();
    // What is delivered is the stream's own bytes, then zeros past a cut end of the file.
    const std::size_t intact = std::min<std::size_t>(
        d.size(), std::string(c.name) == "file cut inside the last sector" ? 6868 : big.size());
    EXPECT_EQ(std::string(d.begin(), d.begin() + static_cast<std::ptrdiff_t>(intact)),
              big.substr(0, intact));
    EXPECT_EQ(std::string(d.begin() + static_cast<std::ptrdiff_t>(intact), d.end()),
              std::string(d.size() - intact, '\0'));
  }
}

TEST(CfbReader, MiniStreamCorruptionEndsCleanly) {
  const std::string small = Pattern(1000, 3); // 16 mini sectors
  struct Case {
    const char* name;
    std::uint32_t entry; // mini FAT entry index to overwrite
    std::uint32_t value;
    std::size_t wantSize;
  };
  const Case cases[] = {
      {"mini cycle", 4, 0, 5 * kMiniSector},
      {"mini self loop", 0, 0, kMiniSector},
      {"mini sector beyond the mini stream", 7, 5000, 8 * kMiniSector},
      {"mini chain ends early", 9, 0xFFFFFFFE, 10 * kMiniSector},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TCfbBuilder builder;
    builder.AddStream("Mini", small).AddStream("Pad", Pattern(5000, 4));
    std::string bytes = builder.Build();
    const auto& l = builder.Layout();
    PutU32(bytes, l.SectorOffset(l.miniFatSectors[0]) + std::size_t{c.entry} * 4, c.value);
    const auto file = TCfbFile::Open(ToBytes(bytes));
    auto s = file->OpenStream(u"Mini");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->Size(), c.wantSize);
    const auto d = s->Data();
    EXPECT_EQ(std::string(d.begin(), d.end()), small.substr(0, c.wantSize));
  }
}

// A file of more than 109 FAT sectors lists the rest in DIFAT sectors.
TEST(CfbReader, FatSectorsBeyondTheHeaderComeFromDifatSectors) {
  const std::string data = Pattern(7'500'000, 5);
  TCfbBuilder builder;
  builder.AddStream("Data", data).AddStream("Tail", "small");
  std::string bytes = builder.Build();
  const auto l = builder.Layout();
  ASSERT_GT(l.fatSectors.size(), 109u);
  ASSERT_EQ(l.difatSectors.size(), 1u);
  {
    const auto file = TCfbFile::Open(ToBytes(bytes));
    EXPECT_EQ(StreamText(*file, u"Data"), data);
    EXPECT_EQ(StreamText(*file, u"Tail"), "small");
  }
  // The 110th FAT sector lost: the chain ends at the first sector that FAT sector maps.
  const auto& chain = l.streams.at("Data").chain;
  std::size_t k = 0;
  while (chain[k] < 109u * 128u) {
    ++k;
  }
  struct Case {
    const char* name;
    std::uint32_t entry0; // first entry of the DIFAT sector
    std::uint32_t next;   // its link to the next DIFAT sector
    std::uint32_t fatCount;
    std::size_t wantSize;
  };
  const Case cases[] = {
      {"DIFAT links to itself", l.fatSectors[109], l.difatSectors[0], 0xFFFFFFFF, data.size()},
      {"FAT sector beyond the file", 0x0FFFFFFF, 0xFFFFFFFE, 0xFFFFFFFF, (k + 1) * 512},
      {"FAT count stops before the DIFAT", l.fatSectors[109], 0xFFFFFFFE, 109, (k + 1) * 512},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string b = bytes;
    PutU32(b, l.SectorOffset(l.difatSectors[0]), c.entry0);
    PutU32(b, l.SectorOffset(l.difatSectors[0]) + 508, c.next);
    PutU32(b, 44, c.fatCount);
    const auto file = TCfbFile::Open(ToBytes(b));
    auto s = file->OpenStream(u"Data");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->Size(), c.wantSize);
  }
}

TEST(CfbReader, RejectsWhatIsNotACompoundFile) {
  const std::string good = TCfbBuilder::Make({{"A", "x"}});
  struct Case {
    const char* name;
    std::string bytes;
  };
  const Case cases[] = {
      {"empty", ""},
      {"text", std::string(600, 'a')},
      {"signature only", good.substr(0, 8)},
      {"header cut short", good.substr(0, 511)},
      {"header without sectors", good.substr(0, 512)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_THROW(TCfbFile::Open(ToBytes(c.bytes)), ECfbError);
  }
  EXPECT_TRUE(HasCfbSignature(ToBytes(good.substr(0, 512))));
  EXPECT_FALSE(HasCfbSignature(ToBytes(good.substr(0, 511))));
}

// Streams are served along their chains: views inside one run of consecutive sectors copy
// nothing, reads and views across runs join them in order.
TEST(CfbReader, ReadsAcrossRunsOfSectors) {
  const std::string a = Pattern(5000, 1);
  const std::string b = Pattern(4600, 2);
  TCfbBuilder builder;
  builder.SetFragmented(true).AddStream("A", a).AddStream("B", b);
  const auto file = TCfbFile::Open(builder.BuildBytes());
  auto s = file->OpenStream(u"A");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->RunCount(), 10u); // interleaved with B: no two sectors of A are neighbours
  struct Case {
    const char* name;
    std::uint64_t offset;
    std::uint64_t count;
    bool copied;
  };
  const Case cases[] = {
      {"inside one sector", 10, 100, false},
      {"whole sector", 512, 512, false},
      {"across two sectors", 500, 30, true},
      {"across every sector", 0, 5000, true},
      {"cut at the end", 4990, 100, false},
      {"beyond the end", 5000, 10, false},
      {"empty", 7, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::uint8_t> scratch;
    const auto v = s->View(c.offset, c.count, scratch);
    const std::size_t want =
        c.offset >= a.size() ? 0 : std::min<std::size_t>(c.count, a.size() - c.offset);
    EXPECT_EQ(std::string(v.begin(), v.end()),
              a.substr(std::min<std::size_t>(c.offset, a.size()), want));
    EXPECT_EQ(!scratch.empty(), c.copied);
    std::string buf(static_cast<std::size_t>(c.count), '\0');
    const std::size_t n = s->ReadAt(
        c.offset, std::span<std::uint8_t>(reinterpret_cast<std::uint8_t*>(buf.data()), buf.size()));
    EXPECT_EQ(buf.substr(0, n), a.substr(std::min<std::size_t>(c.offset, a.size()), want));
  }
  // Sequential reads in odd-sized steps cross every run boundary.
  std::string joined;
  char step[77];
  for (std::size_t n = 0; (n = s->Read(step, sizeof step)) > 0;) {
    joined.append(step, n);
  }
  EXPECT_EQ(joined, a);
  EXPECT_EQ(StreamText(*file, u"B"), b);
}

TEST(CfbReader, StreamSeekAndRead) {
  const auto file = TCfbFile::Open(TCfbBuilder().AddStream("S", "0123456789").BuildBytes());
  auto s = file->OpenStream(u"S");
  ASSERT_NE(s, nullptr);
  char buf[16] = {};
  std::uint64_t pos = 0;
  EXPECT_TRUE(s->Seek(-3, 2, pos));
  EXPECT_EQ(pos, 7u);
  EXPECT_EQ(s->Read(buf, 16), 3u);
  EXPECT_EQ(std::string(buf, 3), "789");
  EXPECT_EQ(s->Read(buf, 16), 0u);
  EXPECT_TRUE(s->Seek(100, 0, pos)); // beyond the end is allowed; reads deliver nothing
  EXPECT_EQ(s->Read(buf, 1), 0u);
  EXPECT_FALSE(s->Seek(-101, 1, pos));
  EXPECT_EQ(s->Position(), 100u);
  EXPECT_FALSE(s->Seek(0, 3, pos));
  EXPECT_FALSE(s->Seek(INT64_MAX, 1, pos));
}

} // namespace
} // namespace scv::storage
