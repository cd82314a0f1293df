// The PowerPoint record reader on streams built in memory.
#include "wordppt/KvPptReader.h"

#include "support/PptBuilder.h"
#include "support/ProcessRunner.h"
#include "support/TestPaths.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

namespace scv::wordppt {
namespace {

using test::TBytes;
using test::TPptBuilder;
using namespace test::ppt;

struct TOutcome {
  std::int32_t result = 0;
  std::u16string text;
};

TOutcome Extract(const TBytes& currentUser, const TBytes& document) {
  TOutcome o;
  o.result = ExtractPptText(&currentUser, &document, o.text);
  return o;
}

std::uint32_t LoadLe32(const TBytes& b) {
  return std::uint32_t{b[0]} | std::uint32_t{b[1]} << 8 | std::uint32_t{b[2]} << 16 |
         std::uint32_t{b[3]} << 24;
}

TOutcome Extract(const TPptBuilder& b) {
  return Extract(b.CurrentUser(), b.Stream());
}

// The slide list of a deck with one slide (persist id 2) whose placeholder texts are given.
TBytes SlideListFor(std::uint32_t persistId, const std::vector<std::u16string>& texts) {
  std::vector<TBytes> children{SlidePersist(persistId)};
  for (const auto& t : texts) {
    children.push_back(TextHeader());
    children.push_back(TextChars(t));
  }
  return SlideList(0, children);
}

TEST(KvPptReader, ReadsRecordHeaderFields) {
  const TBytes masterList{0x1F, 0x00, 0xF0, 0x0F, 0x30, 0x00, 0x00, 0x00};
  const RecordHeader h = ParseRecordHeader(masterList, 0);
  EXPECT_EQ(h.recVer, 0xF);
  EXPECT_EQ(h.recInstance, 1);
  EXPECT_EQ(h.recType, 0x0FF0);
  EXPECT_EQ(h.recLen, 48u);
  const TBytes slideList{0x0F, 0x00, 0xF0, 0x0F};
  const RecordHeader s = ParseRecordHeader(slideList, 0); // recLen bytes missing: zero
  EXPECT_EQ(s.recInstance, 0);
  EXPECT_EQ(s.recLen, 0u);
  const RecordHeader far = ParseRecordHeader(slideList, 1u << 31);
  EXPECT_EQ(far.recType, 0);
  // The 12-bit instance spans byte 0's high half and byte 1.
  EXPECT_EQ(ParseRecordHeader(TBytes{0x2F, 0xAB, 0, 0, 0, 0, 0, 0}, 0).recInstance, 0xAB2);
}

TEST(KvPptReader, CurrentUserDecidesWhetherToGoOn) {
  const TBytes plain = TPptBuilder::CurrentUser(0x1234);
  struct Case {
    const char* name;
    TBytes bytes;
    bool proceed;
    std::int32_t result;
  };
  const Case cases[] = {
      {"plain", plain, true, 0},
      {"encrypted", TPptBuilder::CurrentUser(0x1234, 0xF3D1C4DF), false, -11},
      {"unknown token", TPptBuilder::CurrentUser(0x1234, 0x12345678), false, 0},
      {"size not 20", TPptBuilder::CurrentUser(0x1234, 0xE391C05F, 24), false, 0},
      {"encrypted but size not 20", TPptBuilder::CurrentUser(0x1234, 0xF3D1C4DF, 16), false, 0},
      {"short header", TBytes(plain.begin(), plain.begin() + 7), false, 0},
      {"short body", TBytes(plain.begin(), plain.begin() + 27), false, 0},
      {"body just whole", TBytes(plain.begin(), plain.begin() + 28), true, 0},
      {"empty", TBytes{}, false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const TCurrentUser cu = CheckCurrentUser(c.bytes);
    EXPECT_EQ(cu.proceed, c.proceed);
    EXPECT_EQ(cu.result, c.result);
    if (c.proceed) {
      EXPECT_EQ(cu.offsetToCurrentEdit, 0x1234u);
    }
  }
}

TEST(KvPptReader, PersistDirectoryBlocks) {
  const auto words = [](const std::vector<std::uint32_t>& ws) {
    TBytes b;
    for (auto w : ws) {
      const TBytes x = U32(w);
      b.insert(b.end(), x.begin(), x.end());
    }
    return b;
  };
  TPersistDirectory dir;
  // Newest: identifiers 1..3 at A, B, C; then identifier 7 alone.
  dir.AddEntry(words({0x00300001, 0xA, 0xB, 0xC, 0x00100007, 0x70}));
  // Older: 3 and 4; 3 is shadowed by the newer entry.
  dir.AddEntry(words({0x00200003, 0x333, 0x444}));
  // Oldest: a count running past the body lists only the words there are, and a body whose
  // length is no multiple of 4 drops the partial word.
  TBytes oldest = words({0x00400009, 0x90, 0xA0});
  oldest.push_back(0x55);
  dir.AddEntry(oldest);
  struct Case {
    std::uint32_t id;
    std::optional<std::uint32_t> want;
  };
  const Case cases[] = {{1, 0xA},
                        {2, 0xB},
                        {3, 0xC},
                        {4, 0x444},
                        {7, 0x70},
                        {9, 0x90},
                        {10, 0xA0},
                        {11, std::nullopt},
                        {0, std::nullopt},
                        {5, std::nullopt},
                        {0xFFFFFFFF, std::nullopt}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    EXPECT_EQ(dir.Lookup(c.id), c.want);
  }
}

TEST(KvPptReader, SlideTextsComeOutWhereTheirReferencesStand) {
  // Slide 2: title placeholder (ref 0), a text box of its own, body placeholder (ref 1).
  // Notes page 3: a text box with 8-bit text.
  const auto b = test::SimpleDeck(
      {SlideListFor(2, {u"Title", u"Body line 1\rline 2"}), SlideList(2, {SlidePersist(3)})},
      {Slide({OutlineTextRef(0), TextChars(u"Box"), OutlineTextRef(1)}),
       Notes({TextBytes("Notes \x93q\x94")})});
  const TOutcome o = Extract(b);
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(o.text, u"Title\rBox\rBody line 1\rline 2\rNotes \u201Cq\u201D\r");
}

TEST(KvPptReader, OutlineReferencesOutOfRangeEmitNothing) {
  struct Case {
    const char* name;
    TBytes ref;
    std::u16string want;
  };
  const Case cases[] = {
      {"index 0", OutlineTextRef(0), u"A\r"},
      {"index 1", OutlineTextRef(1), u"B\r"},
      {"index equal to count", OutlineTextRef(2), u""},
      {"negative", OutlineTextRef(-1), u""},
      {"huge", OutlineTextRef(0x7FFFFFFF), u""},
      // Bodies not 4 bytes long: the index is the first 4 bytes, missing ones zero, and the
      // record is passed over by its length.
      {"2-byte body", Record(0x0F9E, TBytes{1, 0}), u"B\r"},
      {"empty body", Record(0x0F9E, TBytes{}), u"A\r"},
      {"8-byte body", Record(0x0F9E, TBytes{1, 0, 0, 0, 0, 0, 0, 0}), u"B\r"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto b =
        test::SimpleDeck({SlideListFor(2, {u"A", u"B"})}, {Slide({c.ref, TextChars(u"after")})});
    const TOutcome o = Extract(b);
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.text, c.want + u"after\r");
  }
}

TEST(KvPptReader, MasterListIsNotCollected) {
  // A master list holding texts (even before any SlidePersistAtom) adds neither slides nor
  // texts; its pages are never walked.
  const auto b =
      test::SimpleDeck({SlideList(1, {TextHeader(), TextChars(u"master text"), SlidePersist(2)}),
                        SlideListFor(3, {u"slide text"})},
                       {Slide({TextChars(u"master box")}), Slide({OutlineTextRef(0)})});
  const TOutcome o = Extract(b);
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(o.text, u"slide text\r");
}

TEST(KvPptReader, SkipFlagDoesNotReachNestedContainers) {
  // A container inside the master list decides for its own atoms: its slide is collected.
  const auto b = test::SimpleDeck(
      {SlideList(1, {SlidePersist(5),
                     Container(0x0FF0, {SlidePersist(2), TextHeader(), TextChars(u"nested")})})},
      {Slide({OutlineTextRef(0)})});
  const TOutcome o = Extract(b);
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(o.text, u"nested\r");
}

TEST(KvPptReader, SlidesThenNotesInListOrder) {
  const auto b = test::SimpleDeck(
      {SlideList(2, {SlidePersist(4)}), SlideList(0, {SlidePersist(3), SlidePersist(2)})},
      {Slide({TextChars(u"slide two")}), Slide({TextChars(u"slide one")}),
       Notes({TextChars(u"notes")})});
  EXPECT_EQ(Extract(b).text, u"notes\rslide one\rslide two\r");
}

TEST(KvPptReader, IncrementalSavesResolveNewestFirst) {
  TPptBuilder b;
  const std::uint32_t slide2v1 = b.Append(Slide({TextChars(u"two old")}));
  const std::uint32_t slide3 = b.Append(Slide({TextChars(u"three")}));
  const std::uint32_t docV1 = b.Append(Document({SlideList(0, {SlidePersist(2)})}));
  b.Save({{1, docV1}, {2, slide2v1}, {3, slide3}}, 1);
  // Second save: slide 2 rewritten, document now lists 2 and 3.
  const std::uint32_t slide2v2 = b.Append(Slide({TextChars(u"two new")}));
  const std::uint32_t docV2 =
      b.Append(Document({SlideList(0, {SlidePersist(2), SlidePersist(3)})}));
  b.Save({{1, docV2}, {2, slide2v2}}, 1);
  // Third save: only a new slide 4 and the document listing it.
  const std::uint32_t slide4 = b.Append(Slide({TextBytes("four")}));
  const std::uint32_t docV3 = b.Append(Document(
      {SlideList(0, {SlidePersist(2), SlidePersist(3), SlidePersist(4), SlidePersist(9)})}));
  b.Save({{1, docV3}, {4, slide4}}, 1);
  const TOutcome o = Extract(b);
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(o.text, u"two new\rthree\rfour\r"); // 9 has no offset: passed over
}

TEST(KvPptReader, EditChainFaultsGiveNoText) {
  TPptBuilder good = test::SimpleDeck({SlideListFor(2, {u"x"})}, {Slide({OutlineTextRef(0)})});
  ASSERT_EQ(Extract(good).text, u"x\r");
  const std::uint32_t goodEdit = good.LastEdit();
  struct Bad {
    const char* name;
    std::function<std::uint32_t(TPptBuilder&)> add;
  };
  const Bad bads[] = {
      {"edit of length 32 (encryption reference)",
       [](TPptBuilder& b) { return b.AppendUserEdit(0, 0, 1, 32); }},
      {"older edit that is no UserEditAtom",
       [&](TPptBuilder& b) {
         const std::uint32_t junk = b.Append(Record(0x0FF4, TBytes(28, 0)));
         const std::uint32_t dir = b.AppendDirectory(DirectoryBlock(7, {0}));
         return b.AppendUserEdit(junk, dir, 1);
       }},
      {"edit offset past the stream", [](TPptBuilder&) { return 0x7FFFFFF0u; }},
      {"body cut by the stream end",
       [](TPptBuilder& b) {
         const std::uint32_t at = b.Append(RecordWithLen(0x0FF5, 28, TBytes(20, 0)));
         return at;
       }},
      {"no edit at all", [](TPptBuilder&) { return 0u; }},
  };
  for (const auto& bad : bads) {
    SCOPED_TRACE(bad.name);
    TPptBuilder b = good;
    const std::uint32_t edit = bad.add(b);
    const TOutcome o = Extract(TPptBuilder::CurrentUser(edit), b.Stream());
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.text, u"");
  }
  // The good deck's own edit in the same stream still reads.
  EXPECT_EQ(Extract(TPptBuilder::CurrentUser(goodEdit), good.Stream()).text, u"x\r");
}

TEST(KvPptReader, EditChainLoopEndsKeepingWhatWasRead) {
  TPptBuilder b;
  const std::uint32_t slide = b.Append(Slide({TextChars(u"looped")}));
  const std::uint32_t doc = b.Append(Document({SlideList(0, {SlidePersist(2)})}));
  const std::uint32_t dir = b.AppendDirectory(DirectoryBlock(1, {doc, slide}));
  // The edit names itself as the previous one.
  const auto self = static_cast<std::uint32_t>(b.Stream().size());
  b.AppendUserEdit(self, dir, 1);
  const TOutcome o = Extract(TPptBuilder::CurrentUser(self), b.Stream());
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(o.text, u"looped\r");
  // A two-edit cycle reads both directories once.
  TPptBuilder c;
  const std::uint32_t s2 = c.Append(Slide({TextChars(u"a")}));
  const std::uint32_t s3 = c.Append(Slide({TextChars(u"b")}));
  const std::uint32_t d = c.Append(Document({SlideList(0, {SlidePersist(2), SlidePersist(3)})}));
  const std::uint32_t dirOld = c.AppendDirectory(DirectoryBlock(3, {s3}));
  const std::uint32_t dirNew = c.AppendDirectory(DirectoryBlock(1, {d, s2}));
  const auto older = static_cast<std::uint32_t>(c.Stream().size());
  const std::uint32_t newer = older + 36;
  c.AppendUserEdit(newer, dirOld, 99);
  ASSERT_EQ(c.AppendUserEdit(older, dirNew, 1), newer);
  EXPECT_EQ(Extract(TPptBuilder::CurrentUser(newer), c.Stream()).text, u"a\rb\r");
}

TEST(KvPptReader, DocumentIdentifierWithoutOffsetGivesNoText) {
  TPptBuilder b;
  const std::uint32_t slide = b.Append(Slide({TextChars(u"t")}));
  b.Append(Document({SlideList(0, {SlidePersist(2)})}));
  b.Save({{2, slide}}, 1); // the document's identifier 1 is listed nowhere
  EXPECT_EQ(Extract(b).text, u"");
  TPptBuilder far;
  far.Save({{1, 0x40000000}}, 1); // listed, but beyond the stream
  const TOutcome o = Extract(far);
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(o.text, u"");
}

TEST(KvPptReader, MisplacedTextRecordsAreFormatErrors) {
  const std::vector<TBytes> lists[] = {
      {SlideList(0, {TextHeader(), SlidePersist(2)})},                 // header first
      {SlideList(0, {TextChars(u"x"), SlidePersist(2)})},              // chars first
      {SlideList(0, {SlidePersist(2), TextBytes("x"), TextHeader()})}, // before header
      {SlideList(0, {SlidePersist(2), TextHeader(), SlidePersist(3), TextChars(u"x")})},
      {Container(0x0FF0, {TextChars(u"x")}, 1), SlideList(0, {TextBytes("y")})},
  };
  int n = 0;
  for (const auto& children : lists) {
    SCOPED_TRACE(n++);
    const auto b = test::SimpleDeck(children, {Slide({})});
    std::u16string text;
    const TBytes cu = b.CurrentUser();
    EXPECT_THROW(ExtractPptText(&cu, &b.Stream(), text), bytes::EFormatError);
  }
}

TEST(KvPptReader, ShortSlidePersistAtomAddsNoSlide) {
  // The walk reads the next header from the first byte of a short atom's body: here the
  // claimed 8-byte body is the header of a real SlidePersistAtom. Skipping the body would
  // land inside that atom instead.
  const TBytes shortAtom = RecordWithLen(0x03F3, 8, {});
  const auto b =
      test::SimpleDeck({SlideList(0, {shortAtom, SlidePersist(2), TextHeader(), TextChars(u"ok")})},
                       {Slide({OutlineTextRef(0)})});
  const TOutcome o = Extract(b);
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(o.text, u"ok\r");
  // A short atom inside the master list is skipped by its length like any atom there.
  const auto m = test::SimpleDeck(
      {SlideList(1, {RecordWithLen(0x03F3, 4, TBytes(4, 0xEE))}), SlideListFor(2, {u"m"})},
      {Slide({OutlineTextRef(0)})});
  EXPECT_EQ(Extract(m).text, u"m\r");
}

TEST(KvPptReader, PageOverrunEndsOnlyThatPage) {
  // The page container holds 30 bytes, but its second record claims 16 more than that. The
  // page ends there: the text after the overrunning record is not read, and the next page
  // still comes out.
  const TBytes broken = Concat({RecordWithLen(0x03EE, 30, {}, 0, 0x0F), TextChars(u"first"),
                                RecordWithLen(0x0FA2, 20, TBytes(20, 0)), TextChars(u"never")});
  const auto b = test::SimpleDeck({SlideList(0, {SlidePersist(2), SlidePersist(3)})},
                                  {broken, Slide({TextChars(u"next page")})});
  const TOutcome o = Extract(b);
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(o.text, u"first\rnext page\r");
}

TEST(KvPptReader, PageEdgeCases) {
  struct Case {
    const char* name;
    TBytes page;
    std::u16string want;
  };
  const Case cases[] = {
      {"empty slide container", Container(0x03EE, {}), u""},
      {"not a page", Container(0x03F8, {TextChars(u"x")}), u""},
      {"page type without container bit", Record(0x03EE, TextChars(u"atom page")), u"atom page\r"},
      {"empty nested containers", Slide({Container(0xF003, {}), TextChars(u"y")}), u"y\r"},
      // An odd byte count holds no whole last code unit; the next text stays aligned.
      {"odd text length", Slide({Record(0x0FA0, TBytes{'a', 0, 'b'}), TextChars(u"c")}), u"a\rc\r"},
      {"text header is skipped", Slide({TextHeader(), TextBytes("")}), u"\r"},
      {"vertical tab passes", Slide({TextChars(u"a\vb")}), u"a\vb\r"},
      {"body cut by stream end", RecordWithLen(0x03EE, 0x20, TextChars(u"tail")), u"tail\r"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TPptBuilder b;
    const std::uint32_t doc = b.Append(Document({SlideList(0, {SlidePersist(2)})}));
    const std::uint32_t dir = b.AppendDirectory(DirectoryBlock(1, {doc, 0}));
    const std::uint32_t edit = b.AppendUserEdit(0, dir, 1);
    // The page goes last, so a cut body really ends at the stream's end; the directory
    // word for identifier 2 is patched to point at it.
    const std::uint32_t page = b.Append(c.page);
    TBytes stream = b.Stream();
    const TBytes off = U32(page);
    std::copy(off.begin(), off.end(), stream.begin() + dir + 16);
    const TOutcome o = Extract(TPptBuilder::CurrentUser(edit), stream);
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.text, c.want);
  }
}

TEST(KvPptReader, SameIdentifierInTwoEntriesEmitsBoth) {
  const auto b =
      test::SimpleDeck({SlideListFor(2, {u"first list"}),
                        SlideList(2, {SlidePersist(2), TextHeader(), TextChars(u"second list")})},
                       {Slide({OutlineTextRef(0)})});
  // Identifier 2 is listed twice, so its page is walked twice, each time emitting both texts.
  EXPECT_EQ(Extract(b).text, u"first list\rsecond list\rfirst list\rsecond list\r");
}

TEST(KvPptReader, DeepNestingIsBounded) {
  // Thousands of nested containers in the document and in a page: no stack overflow, and the
  // walk still ends.
  TBytes deep = SlideListFor(2, {u"deep"});
  for (int i = 0; i < 2000; ++i) {
    deep = Container(0x0FF0, {deep});
  }
  TBytes page = TextChars(u"page text");
  for (int i = 0; i < 2000; ++i) {
    page = Container(0xF004, {page});
  }
  const auto b = test::SimpleDeck({deep, SlideListFor(2, {u"shallow"})},
                                  {Container(0x03EE, {page, OutlineTextRef(0)})});
  const TOutcome o = Extract(b);
  EXPECT_EQ(o.result, 0);
  // The deep list lies beyond the nesting bound and is passed over whole.
  EXPECT_EQ(o.text, u"page text\rshallow\r");
}

TEST(KvPptReader, RepeatedPagesCannotBlowUpTheOutput) {
  // One slide with a large text listed 20,000 times: far more text than the stream could hold.
  std::vector<TBytes> list;
  list.reserve(20000);
  for (int i = 0; i < 20000; ++i) {
    list.push_back(SlidePersist(2));
  }
  const auto b =
      test::SimpleDeck({SlideList(0, list)}, {Slide({TextChars(std::u16string(50000, u'x'))})});
  std::u16string text;
  const TBytes cu = b.CurrentUser();
  EXPECT_THROW(ExtractPptText(&cu, &b.Stream(), text), bytes::EFormatError);
  EXPECT_LE(text.size(), 4 * b.Stream().size() + 4096);
  // And a page of many small records listed over and over costs bounded time.
  std::vector<TBytes> atoms(20000, Record(0x0FA2, {}));
  const auto c = test::SimpleDeck({SlideList(0, list)}, {Slide(atoms)});
  const TBytes cu2 = c.CurrentUser();
  EXPECT_THROW(ExtractPptText(&cu2, &c.Stream(), text), bytes::EFormatError);
}

TEST(KvPptReader, OverlappingDirectoriesEndTheChain) {
  // Many edits naming overlapping directory records are read only while the directories fit
  // in the stream, and each distinct one once.
  TPptBuilder b;
  const std::uint32_t slide = b.Append(Slide({TextChars(u"kept")}));
  const std::uint32_t doc = b.Append(Document({SlideList(0, {SlidePersist(2)})}));
  const std::uint32_t dir = b.AppendDirectory(DirectoryBlock(1, {doc, slide}));
  std::uint32_t edit = b.AppendUserEdit(0, dir, 1);
  for (int i = 0; i < 2000; ++i) {
    edit = b.AppendUserEdit(edit, dir, 1);
  }
  EXPECT_EQ(Extract(TPptBuilder::CurrentUser(edit), b.Stream()).text, u"kept\r");
  // Words that read as headers with long lengths wherever the newest edits point into them:
  // each such directory would span most of the stream. The chain ends once they outgrow it,
  // before the good directory is reached.
  TBytes region;
  for (int i = 0; i < 10000; ++i) {
    const TBytes w = U32(0x00010000);
    region.insert(region.end(), w.begin(), w.end());
  }
  const std::uint32_t big = b.Append(region);
  for (int i = 0; i < 5000; ++i) {
    edit = b.AppendUserEdit(edit, big + static_cast<std::uint32_t>(4 * i), 1);
  }
  const TOutcome o = Extract(TPptBuilder::CurrentUser(edit), b.Stream());
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(o.text, u"");
}

TEST(KvPptReader, FuzzSeedsAndRegressionsRunClean) {
  // Fuzz inputs: offsetToCurrentEdit (4 bytes), a code-page selector byte, then the document
  // stream. Each must end with a result or a format error, never a crash or a hang.
  std::size_t files = 0;
  for (const char* sub : {"/fuzz/ppt/corpus", "/fuzz/regressions/ppt"}) {
    const std::string dir = test::SourceDir() + sub;
    if (!std::filesystem::is_directory(dir)) {
      continue;
    }
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
      SCOPED_TRACE(e.path().string());
      const std::string bytes = test::ReadFileBytes(e.path().string());
      if (bytes.size() < 5) {
        continue;
      }
      ++files;
      const TBytes in(bytes.begin(), bytes.end());
      const std::uint32_t offset = LoadLe32(in);
      const TBytes document(in.begin() + 5, in.end());
      try {
        EXPECT_EQ(Extract(TPptBuilder::CurrentUser(offset), document).result, 0);
      } catch (const bytes::EFormatError&) {
      }
    }
  }
  EXPECT_GE(files, 3u);
}

} // namespace
} // namespace scv::wordppt
