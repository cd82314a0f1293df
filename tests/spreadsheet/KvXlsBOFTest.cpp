// The record walk over the runs of a workbook stream: headers and bodies that cross from one
// run into the next, CONTINUE records in other runs, runs cut short, and compound files whose
// workbook chain is fragmented, cut off or loops.
#include "spreadsheet/KvXlsBOF.h"

#include "spreadsheet/KvXlsCvt.h"
#include "support/BiffBuilder.h"
#include "support/CfbBuilder.h"
#include "support/ProcessRunner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace scv::spreadsheet {
namespace {

using test::TBytes;

// A stream cut into runs at the given offsets. Each run is a buffer of its own, so a read that
// runs past the end of a run reads outside its buffer (and the sanitizer stops it) instead of
// finding the next run's bytes by luck.
struct TSplitStream {
  std::vector<TBytes> pieces;
  std::vector<TStreamRun> runs;

  TSplitStream(std::span<const std::uint8_t> bytes, std::vector<std::size_t> cuts) {
    cuts.push_back(bytes.size());
    std::sort(cuts.begin(), cuts.end());
    std::size_t from = 0;
    for (const std::size_t cut : cuts) {
      if (cut > from && cut <= bytes.size()) {
        pieces.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                            bytes.begin() + static_cast<std::ptrdiff_t>(cut));
        from = cut;
      }
    }
    std::vector<std::span<const std::uint8_t>> views(pieces.begin(), pieces.end());
    runs = MakeStreamRuns(views);
  }
  TBiffStream Stream() const { return TBiffStream(std::span<const TStreamRun>(runs)); }
};

// Cuts every `step` bytes.
std::vector<std::size_t> EveryStep(std::size_t size, std::size_t step) {
  std::vector<std::size_t> cuts;
  for (std::size_t at = step; at < size; at += step) {
    cuts.push_back(at);
  }
  return cuts;
}

// Every record of a walk: id, body and the position after it.
struct TWalked {
  std::uint16_t id = 0;
  TBytes body;
  std::size_t end = 0;
  bool operator==(const TWalked&) const = default;
};

std::vector<TWalked> Walk(TBiffStream stream) {
  std::vector<TWalked> out;
  TRecordHeader header;
  while (stream.ReadHeader(header)) {
    const auto body = stream.Body(header);
    EXPECT_EQ(body.size(), stream.BodySize(header));
    TWalked w{header.id, TBytes(body.begin(), body.end()), 0};
    stream.SkipBody(header);
    w.end = stream.Position();
    out.push_back(std::move(w));
  }
  EXPECT_TRUE(stream.AtEnd());
  return out;
}

TBytes SampleRecords() {
  test::TBiffBuilder b;
  b.Record(0x0809, test::BofBody(0x0010))
      .Record(0x0001, {})
      .Record(0x0203, test::NumberBody(1, 2, 3.5))
      .Record(0x00FC, TBytes(300, 0x5A))
      .Record(0x003C, TBytes(7, 0x01))
      .Record(0x000A, {});
  return b.Stream();
}

TEST(KvXlsBOF, RecordsCrossingRunsReadAsInOneBuffer) {
  const TBytes bytes = SampleRecords();
  const std::vector<TWalked> want = Walk(TBiffStream(bytes));
  ASSERT_EQ(want.size(), 6u);
  // Two runs cut at every offset: each header and body in turn crosses the cut.
  for (std::size_t cut = 1; cut < bytes.size(); ++cut) {
    SCOPED_TRACE(cut);
    const TSplitStream split(bytes, {cut});
    EXPECT_EQ(Walk(split.Stream()), want);
  }
  // Many short runs: headers and bodies cross several runs at once.
  for (const std::size_t step : {1u, 2u, 3u, 5u, 64u}) {
    SCOPED_TRACE(step);
    const TSplitStream split(bytes, EveryStep(bytes.size(), step));
    EXPECT_EQ(Walk(split.Stream()), want);
  }
}

TEST(KvXlsBOF, SeeksAndCopiesAcrossRuns) {
  const TBytes bytes = SampleRecords();
  const TSplitStream split(bytes, EveryStep(bytes.size(), 3));
  for (std::size_t at = 0; at <= bytes.size() + 2; ++at) {
    SCOPED_TRACE(at);
    TBiffStream one(bytes);
    TBiffStream runs = split.Stream();
    one.Seek(at);
    runs.Seek(at);
    EXPECT_EQ(runs.Position(), one.Position());
    TRecordHeader a;
    TRecordHeader b;
    const bool gotA = one.ReadHeader(a);
    ASSERT_EQ(runs.ReadHeader(b), gotA);
    EXPECT_EQ(runs.Position(), one.Position());
    if (!gotA) {
      continue;
    }
    EXPECT_EQ(b.id, a.id);
    EXPECT_EQ(b.length, a.length);
    // A copy assembles into its own buffer: the original's body stays as it was.
    const auto bodyA = one.Body(a);
    const auto bodyB = runs.Body(b);
    const TBytes kept(bodyB.begin(), bodyB.end());
    TBiffStream copy = runs;
    copy.SkipBody(b);
    TRecordHeader next;
    if (copy.ReadHeader(next)) {
      copy.Body(next);
    }
    EXPECT_TRUE(std::equal(bodyB.begin(), bodyB.end(), kept.begin(), kept.end()));
    EXPECT_TRUE(std::equal(bodyA.begin(), bodyA.end(), bodyB.begin(), bodyB.end()));
  }
  // The first bytes as a stream of their own end inside a run.
  const TBiffStream first = split.Stream().First(10);
  EXPECT_EQ(first.Size(), 10u);
  EXPECT_EQ(Walk(first), Walk(TBiffStream(std::span(bytes).first(10))));
}

// A workbook whose text depends on CONTINUE records: a shared string table split every 40
// bytes, a LABEL whose characters go on in CONTINUE records (changing width), and a formula's
// STRING result after it.
TBytes ContinuedWorkbook() {
  test::TWorkbookPlan plan;
  std::vector<std::u16string> texts;
  texts.reserve(12);
  for (int i = 0; i < 12; ++i) {
    texts.push_back(u"string number " + std::u16string(static_cast<std::size_t>(i), u'x'));
  }
  plan.strings = test::SstStrings(texts);
  plan.strings[3].highByte = true;
  plan.strings[3].text = u"\u00E9t\u00E9 \u4E2D\u6587 wide";
  plan.sstMaxBody = 40;
  test::TBiffSheet sheet;
  sheet.name = u"Runs";
  for (std::uint16_t r = 0; r < 12; ++r) {
    sheet.records.Record(0x00FD, test::LabelSstBody(r, 0, r));
  }
  {
    // 54 characters: 4 in the record, 20 two bytes wide in a CONTINUE, 30 one byte wide in
    // the next.
    TBytes label = test::LabelBody(12, 1, u"abcd");
    label[6] = 54;
    TBytes wide = {1};
    for (int k = 0; k < 20; ++k) {
      wide.push_back('M');
      wide.push_back(0);
    }
    TBytes narrow = {0};
    narrow.insert(narrow.end(), 30, 'L');
    sheet.records.Record(0x0204, label).Record(0x003C, wide).Record(0x003C, narrow);
  }
  sheet.records.Record(0x0006, test::FormulaBody(13, 2, test::FormulaSpecialValue(0, 0)));
  sheet.records.Record(0x0207, test::StringBody(u"formula text"));
  sheet.records.Record(0x00BD, test::MulRkBody(14, 0, {0x00000002, 0x3FF00000, 0x00000006}));
  plan.sheets.push_back(std::move(sheet));
  return test::BuildWorkbookStream(plan);
}

std::string TextOf(const TBiffStream& stream) {
  std::string text;
  EXPECT_EQ(ExtractWorkbookText(stream, text), 0);
  return text;
}

TEST(KvXlsBOF, ContinueRecordsInOtherRunsGiveTheSameText) {
  const TBytes bytes = ContinuedWorkbook();
  const std::string want = TextOf(TBiffStream(bytes));
  ASSERT_NE(want.find("abcd" + std::string(20, 'M') + std::string(30, 'L')), std::string::npos);
  ASSERT_NE(want.find("formula text"), std::string::npos);
  ASSERT_NE(want.find("string number xxxxxxxxxxx"), std::string::npos);
  for (std::size_t cut = 1; cut < bytes.size(); ++cut) {
    SCOPED_TRACE(cut);
    EXPECT_EQ(TextOf(TSplitStream(bytes, {cut}).Stream()), want);
  }
  for (const std::size_t step : {1u, 3u, 7u, 41u}) {
    SCOPED_TRACE(step);
    EXPECT_EQ(TextOf(TSplitStream(bytes, EveryStep(bytes.size(), step)).Stream()), want);
  }
}

TEST(KvXlsBOF, RunsCutShortEndLikeAStreamCutShort) {
  const TBytes bytes = ContinuedWorkbook();
  for (std::size_t n = 0; n <= bytes.size(); ++n) {
    SCOPED_TRACE(n);
    const std::span<const std::uint8_t> prefix = std::span(bytes).first(n);
    std::string want;
    const std::int32_t code = ExtractWorkbookText(prefix, want);
    std::string got;
    EXPECT_EQ(ExtractWorkbookText(TSplitStream(prefix, EveryStep(n, 5)).Stream(), got), code);
    EXPECT_EQ(got, want);
  }
}

// The entry on a compound file whose workbook stream spans several runs of sectors.
struct TEntryText {
  std::int32_t code = 0;
  std::string bytes;
};

TEntryText RunEntry(const std::string& path) {
  TConversionResult result;
  TEntryText r;
  r.code = ExtractSpreadsheet(std::u16string(path.begin(), path.end()), 0, result, 65001);
  if (r.code >= 0) {
    const auto b = result.Bytes(static_cast<std::size_t>(r.code));
    r.bytes.assign(b.begin(), b.end());
  }
  return r;
}

// The entry's text for a workbook stream of these bytes.
std::string StoredText(std::span<const std::uint8_t> stream) {
  std::string text;
  EXPECT_EQ(ExtractWorkbookText(stream, text), 0);
  TConversionResult result;
  const std::int32_t n = StoreWorkbookText(text, 65001, result);
  EXPECT_GE(n, 0);
  const auto b = result.Bytes(static_cast<std::size_t>(n));
  return std::string(b.begin(), b.end());
}

// A workbook of about 20 KB: many sectors, with long strings crossing their ends.
TBytes LargeWorkbook() {
  test::TWorkbookPlan plan;
  std::vector<std::u16string> texts;
  texts.reserve(200);
  for (int i = 0; i < 200; ++i) {
    const auto letter = static_cast<char16_t>(u'a' + i % 26);
    texts.push_back(u"shared " + std::u16string(static_cast<std::size_t>(20 + i % 50), letter));
  }
  plan.strings = test::SstStrings(texts);
  plan.sstMaxBody = 500;
  test::TBiffSheet sheet;
  sheet.name = u"Big";
  for (std::uint16_t r = 0; r < 200; ++r) {
    sheet.records.Record(0x00FD, test::LabelSstBody(r, 0, r));
    sheet.records.Record(0x0203, test::NumberBody(r, 1, r * 1.25));
  }
  plan.sheets.push_back(std::move(sheet));
  return test::BuildWorkbookStream(plan);
}

std::string AsString(const TBytes& b) {
  return std::string(b.begin(), b.end());
}

TEST(KvXlsBOF, FragmentedWorkbookStreamsReadInPlace) {
  const TBytes stream = LargeWorkbook();
  ASSERT_GT(stream.size(), 8192u);
  test::TCfbBuilder builder;
  builder.AddStream("Workbook", AsString(stream)).AddStream("Other", std::string(9000, 'o'));
  builder.SetFragmented(true);
  test::TTempDir dir;
  const TEntryText r = RunEntry(dir.Write("frag.xls", builder.Build()));
  EXPECT_EQ(r.code, static_cast<std::int32_t>(r.bytes.size()));
  EXPECT_EQ(r.bytes, StoredText(stream));
}

TEST(KvXlsBOF, CyclicAndCutOffChainsEndTheStream) {
  const TBytes stream = LargeWorkbook();
  test::TCfbBuilder builder;
  builder.AddStream("Workbook", AsString(stream)).AddStream("Other", std::string(9000, 'o'));
  builder.SetFragmented(true);
  const std::string file = builder.Build();
  const test::TCfbLayout layout = builder.Layout();
  const auto& chain = layout.streams.at("Workbook").chain;
  ASSERT_GT(chain.size(), 10u);
  const std::size_t sector = layout.sectorSize;
  // Both end the stream a few sectors before its end, inside the sheet's cells.
  const std::size_t keep = chain.size() - 4;
  test::TTempDir dir;
  {
    // The chain loops back to its start after `keep` sectors: the stream is those sectors.
    SCOPED_TRACE("cycle");
    std::string cyclic = file;
    test::PutU32(cyclic, layout.FatEntryOffset(chain[keep - 1]), chain[0]);
    const TEntryText r = RunEntry(dir.Write("cycle.xls", cyclic));
    EXPECT_EQ(r.code, static_cast<std::int32_t>(r.bytes.size()));
    const std::string want = StoredText(std::span(stream).first(keep * sector));
    EXPECT_NE(want.find("shared aaaaaaaaaaaaaaaaaaaa\t0\r\n"), std::string::npos);
    EXPECT_EQ(r.bytes, want);
  }
  {
    // The file ends inside a sector of the chain: that sector reads as zeros past the end of
    // the file, and the chain ends there.
    SCOPED_TRACE("cut off");
    const std::size_t cutAt = layout.StreamByteOffset("Workbook", keep * sector + 100);
    ASSERT_LT(cutAt, file.size());
    // The sectors after it lie beyond the cut only when the chain ascends in the file.
    ASSERT_TRUE(std::is_sorted(chain.begin(), chain.end()));
    const TEntryText r = RunEntry(dir.Write("cut.xls", file.substr(0, cutAt)));
    TBytes want(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>((keep + 1) * sector));
    std::fill(want.begin() + static_cast<std::ptrdiff_t>(keep * sector + 100), want.end(), 0);
    EXPECT_EQ(r.code, static_cast<std::int32_t>(r.bytes.size()));
    EXPECT_EQ(r.bytes, StoredText(want));
  }
}

} // namespace
} // namespace scv::spreadsheet
