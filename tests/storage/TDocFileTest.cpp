// Storage and stream objects over compound files: results, positions and error texts.
#include "platform/FileIo.h"
#include "storage/TDocFile_U1.h"
#include "support/CfbBuilder.h"
#include "support/ProcessRunner.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

namespace scv::storage {
namespace {

using test::TCfbBuilder;

std::u16string Wide(const std::string& s) {
  return platform::ArgumentToWide(s);
}

TEST(TDocFile, CheckStorageFileAnswers) {
  test::TTempDir dir;
  const std::string cfb = TCfbBuilder::Make({{"WordDocument", "abc"}});
  struct Case {
    const char* name;
    std::string path;
    std::int32_t want;
  };
  const Case cases[] = {
      {"compound file", dir.Write("a.doc", cfb), 0},
      {"v4 compound file", dir.Write("b.doc", TCfbBuilder::Make({{"A", "x"}}, 4)), 0},
      {"signature and whole header only", dir.Write("c.doc", cfb.substr(0, 512)), 0},
      {"header cut short", dir.Write("d.doc", cfb.substr(0, 511)), -5},
      {"plain text", dir.Write("e.doc", "{\\rtf1 hello}"), -5},
      {"empty file", dir.Write("f.doc", ""), -5},
      {"missing", dir.File("nope.doc"), -2},
      {"directory", dir.Path(), -5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(CheckStorageFile(Wide(c.path)), c.want);
  }
}

TEST(TDocFile, OpenStorageAndStreams) {
  test::TTempDir dir;
  const std::string path = dir.Write(
      "a.doc",
      TCfbBuilder::Make({{"WordDocument", "0123456789"}, {"1Table", std::string(5000, 't')}}));
  auto storage = OpenStorageFile(Wide(path), kStgmReadShareExclusive);
  ASSERT_NE(storage, nullptr);
  EXPECT_EQ(storage->LastError(), "");

  auto missing = storage->OpenStream(u"0Table", kStgmReadShareExclusive);
  EXPECT_EQ(missing, nullptr);
  EXPECT_NE(storage->LastError(), "");

  auto table = storage->OpenStream(u"1table", kStgmReadShareExclusive);
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(storage->LastError(), "");
  EXPECT_EQ(table->Size(), 5000);

  auto s = storage->OpenStream(u"WordDocument", kStgmReadShareExclusive);
  ASSERT_NE(s, nullptr);
  storage.reset(); // streams stay usable after the storage object is gone
  char buf[32] = {};
  EXPECT_EQ(s->Seek(4, 0), 4);
  EXPECT_EQ(s->Size(), 10);
  EXPECT_EQ(s->Position(), 4); // reading Size keeps the position
  EXPECT_EQ(s->Read(buf, 32), 6);
  EXPECT_EQ(std::string(buf, 6), "456789");
  EXPECT_EQ(s->Read(buf, 32), 0); // at the end: 0, not -1
  EXPECT_EQ(s->LastError(), "");
  EXPECT_EQ(s->Seek(-2, 1), 8);
  EXPECT_EQ(s->Seek(-3, 2), 7);
  EXPECT_EQ(s->Seek(-1, 0), -1); // before the start
  EXPECT_NE(s->LastError(), "");
  EXPECT_EQ(s->Position(), 7);
  EXPECT_EQ(s->LastError(), "");
  EXPECT_EQ(s->Seek(0, 7), -1); // unknown origin
  EXPECT_EQ(s->Seek(50, 0), 50);
  EXPECT_EQ(s->Read(buf, 4), 0);
  s->SetPosition(1);
  EXPECT_EQ(s->Position(), 1);
  EXPECT_EQ(s->Seek64(2, 1), 3);
  EXPECT_THROW(s->Seek64(std::int64_t{1} << 33, 0), std::range_error);
  EXPECT_EQ(s->Write("x", 1), -1); // read-only
  EXPECT_NE(s->LastError(), "");
  s->SetSize(2);
  EXPECT_NE(s->LastError(), "");
  EXPECT_EQ(s->Size(), 10);
  EXPECT_EQ(s->ReadAll(),
            std::vector<std::uint8_t>({'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'}));
}

// Large files are mapped rather than read; the streams read back the same.
TEST(TDocFile, LargeFileReadsBack) {
  test::TTempDir dir;
  std::string big(600000, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) {
    big[i] = static_cast<char>(i * 7 + i / 1000);
  }
  TCfbBuilder builder;
  builder.SetFragmented(true)
      .AddStream("Big", big)
      .AddStream("Other", std::string(9000, 'o'))
      .AddStream("Small", "s");
  const std::string path = dir.Write("big.doc", builder.Build());
  auto storage = OpenStorageFile(Wide(path), kStgmReadShareExclusive);
  ASSERT_NE(storage, nullptr);
  auto s = storage->OpenStream(u"Big", kStgmReadShareExclusive);
  ASSERT_NE(s, nullptr);
  storage.reset();
  const auto all = s->ReadAll();
  EXPECT_EQ(std::string(all.begin(), all.end()), big);
  const auto data = s->Data();
  EXPECT_EQ(std::string(data.begin(), data.end()), big);
  EXPECT_EQ(s->Seek(-4, 2), 599996);
  EXPECT_EQ(s->ReadDWord(), std::uint32_t(static_cast<std::uint8_t>(big[599996])) |
                                std::uint32_t(static_cast<std::uint8_t>(big[599997])) << 8 |
                                std::uint32_t(static_cast<std::uint8_t>(big[599998])) << 16 |
                                std::uint32_t(static_cast<std::uint8_t>(big[599999])) << 24);
}

TEST(TDocFile, OpenStorageFailures) {
  test::TTempDir dir;
  std::string bad = TCfbBuilder::Make({{"A", "x"}});
  bad[30] = 7; // unusable sector size
  struct Case {
    const char* name;
    std::string path;
  };
  const Case cases[] = {
      {"missing", dir.File("none.doc")},
      {"text", dir.Write("t.doc", std::string(1000, 'x'))},
      {"bad header", dir.Write("b.doc", bad)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(OpenStorageFile(Wide(c.path), kStgmReadShareExclusive), nullptr);
  }
}

TEST(TDocFile, TypedReadersAreLittleEndianAndZeroFillAtTheEnd) {
  std::string bytes = "\x01\x02\x03\x04\x05\x06\x07";
  double d = 1.5;
  char raw[8];
  std::memcpy(raw, &d, 8);
  bytes.append(raw, 8);
  bytes += "\xAA\xBB\xCC";
  auto storage = OpenStorageBytes(TCfbBuilder().AddStream("S", bytes).BuildBytes());
  ASSERT_NE(storage, nullptr);
  auto s = storage->OpenStream(u"S", kStgmReadShareExclusive);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->ReadByte(), 0x01);
  EXPECT_EQ(s->ReadWord(), 0x0302);
  EXPECT_EQ(s->ReadDWord(), 0x07060504u);
  EXPECT_EQ(s->ReadDouble(), 1.5);
  EXPECT_EQ(s->ReadDWord(), 0x00CCBBAAu); // one byte short: it reads as zero
  EXPECT_EQ(s->Position(), 18);
  EXPECT_EQ(s->ReadWord(), 0);
  EXPECT_EQ(s->ReadByte(), 0);
  EXPECT_EQ(s->ReadDouble(), 0.0);
}

TEST(TDocFile, NilObjectsReportTheirTexts) {
  TDocFileStream s(nullptr);
  EXPECT_EQ(s.LastError(), "Stream is nil!");
  char buf[4];
  struct Op {
    const char* name;
    std::function<std::int32_t()> run;
  };
  const Op ops[] = {
      {"Read", [&] { return s.Read(buf, 4); }},
      {"Write", [&] { return s.Write(buf, 4); }},
      {"Seek", [&] { return s.Seek(0, 0); }},
      {"Position", [&] { return s.Position(); }},
      {"ReadDWord", [&] { return static_cast<std::int32_t>(s.ReadDWord()); }},
  };
  for (const Op& op : ops) {
    SCOPED_TRACE(op.name);
    TDocFileStream fresh(nullptr);
    EXPECT_EQ(fresh.LastError(), "Stream is nil!");
    s.Read(buf, 0);
    op.run();
    EXPECT_EQ(s.LastError(), "Stream is nil");
  }
  EXPECT_EQ(s.Seek(0, 0), -1);
  EXPECT_TRUE(s.ReadAll().empty());
  s.SetSize(3);
  EXPECT_EQ(s.LastError(), "Stream is nil");

  TDocFileStorage storage(nullptr);
  EXPECT_EQ(storage.LastError(), "Storage is nil");
  EXPECT_EQ(storage.OpenStream(u"WordDocument", kStgmReadShareExclusive), nullptr);
  EXPECT_EQ(storage.LastError(), "Storage is nil");
}

TEST(TDocFile, CheckResultKeepsSuccessCodes) {
  TDocFileStorage storage(nullptr);
  EXPECT_TRUE(storage.CheckResult(0));
  EXPECT_TRUE(storage.CheckResult(1)); // S_FALSE counts as success
  EXPECT_EQ(storage.LastError(), "Storage is nil");
  EXPECT_FALSE(storage.CheckResult(static_cast<std::int32_t>(0x80030002u)));
  EXPECT_NE(storage.LastError(), "Storage is nil");
  EXPECT_NE(storage.LastError(), "");
}

} // namespace
} // namespace scv::storage
