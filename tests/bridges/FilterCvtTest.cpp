// The text-filter bridge against test libraries that follow the contract in controlled ways.
#include "bridges/FilterCvt.h"

#include "platform/FileIo.h"
#include "support/ProcessRunner.h"

#include <gtest/gtest.h>

#include <ScvConverter.h>
#include <dlfcn.h>
#include <fstream>
#include <string>
#include <unistd.h>

namespace scv::bridges {
namespace {

using scv::test::TTempDir;

// Loads the bridge once for the whole program; the test libraries sit next to this program.
class TFilterBridgeEnv : public ::testing::Environment {
public:
  void SetUp() override { InitializeFilterBridge(); }
  void TearDown() override { FinalizeFilterBridge(platform::ProgramDirectory()); }
};
// NOLINTNEXTLINE(cppcoreguidelines-owning-memory): GoogleTest owns and deletes the environment
const auto* const kEnv = ::testing::AddGlobalTestEnvironment(new TFilterBridgeEnv);

struct TCounters {
  int create = 0;
  int read = 0;
  int close = 0;
  int readsAfterFailure = 0;
};

// The hooks of a loaded test library, reached through the handle the bridge already holds.
void* Hook(const char* library, const char* name) {
  const std::string path = std::string(FAKE_HOST_DIR) + "/" + library;
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (handle == nullptr) {
    return nullptr;
  }
  void* sym = dlsym(handle, name);
  dlclose(handle); // drops only the reference RTLD_NOLOAD added
  return sym;
}

TCounters Counters(const char* library) {
  TCounters c;
  auto fn = reinterpret_cast<void (*)(int*, int*, int*, int*)>(Hook(library, "FakeCounters"));
  if (fn != nullptr) {
    fn(&c.create, &c.read, &c.close, &c.readsAfterFailure);
  }
  return c;
}

void ResetCounters(const char* library) {
  auto fn = reinterpret_cast<void (*)()>(Hook(library, "FakeResetCounters"));
  ASSERT_NE(fn, nullptr);
  fn();
}

struct TRun {
  std::int32_t rc = 0;
  std::string bytes;
  bool resultNull = true;
};

TRun Convert(std::int32_t (*entry)(const std::u16string&, std::int32_t, TConversionResult&,
                                   std::int32_t),
             const std::string& path, std::int32_t codePage, std::int32_t byteLimit = 0) {
  TConversionResult result;
  TRun run;
  run.rc = entry(platform::ArgumentToWide(path), byteLimit, result, codePage);
  run.resultNull = result.IsNull();
  if (run.rc > 0) {
    const auto bytes = result.Bytes(static_cast<std::size_t>(run.rc));
    run.bytes.assign(bytes.begin(), bytes.end());
  }
  return run;
}

TEST(FilterCvt, EncodesJoinedPiecesForEachCodePage) {
  TTempDir dir;
  // A CR ending one piece and an LF starting the next are one line break; a lone LF and a
  // lone CR become CR LF too.
  const std::string script = "piece ab\\r\npiece \\ncd\\n\npiece e\\rf\npiece \\xC3\\xA9\n";
  const std::string file = dir.Write("in.htm", script);
  struct Case {
    const char* name;
    std::int32_t codePage;
    std::string want;
  };
  const Case cases[] = {
      {"utf-8", 65001,
       "\xEF\xBB\xBF"
       "ab\r\ncd\r\ne\r\nf\xC3\xA9"},
      {"utf-16", 1200,
       std::string("\xFF\xFE"
                   "a\0b\0\r\0\n\0c\0d\0\r\0\n\0e\0\r\0\n\0f\0\xE9\0",
                   28)},
      {"1252", 1252, std::string("ab\r\ncd\r\ne\r\nf\xE9\0", 14)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TRun run = Convert(&HtmToText, file, c.codePage);
    EXPECT_EQ(run.rc, static_cast<std::int32_t>(c.want.size()));
    EXPECT_EQ(run.bytes, c.want);
  }
}

TEST(FilterCvt, ResultRowsOfTheFailureTable) {
  TTempDir dir;
  struct Case {
    const char* name;
    std::string script;
    std::int32_t wantRc;
    std::string wantText; // UTF-8 output, BOM included, when wantRc > 0
    bool wantNull;
  };
  const Case cases[] = {
      // A library that will not start or whose first read fails rejects the document.
      {"create fails", "create-fail\npiece never\n", kResultBadFormat, "", true},
      {"first read fails", "fail\npiece never\n", kResultBadFormat, "", true},
      // No text at all is an empty document, not an error.
      {"zero bytes at once", "", 0, "", true},
      {"negative count at once", "negative\npiece later\n", 0, "", true},
      // Failing after some pieces keeps what came before.
      {"fails after pieces", "piece one\npiece two\nfail\npiece three\n", 9,
       "\xEF\xBB\xBF"
       "onetwo",
       false},
      {"negative count ends the text", "piece one\nnegative\npiece two\n", 6,
       "\xEF\xBB\xBF"
       "one",
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetCounters("scvhtm.so");
    const TRun run = Convert(&HtmToText, dir.Write("in.htm", c.script), 65001);
    if (c.wantRc > 0) {
      EXPECT_EQ(run.rc, static_cast<std::int32_t>(c.wantText.size()));
      EXPECT_EQ(run.bytes, c.wantText);
    } else {
      EXPECT_EQ(run.rc, c.wantRc);
    }
    EXPECT_EQ(run.resultNull, c.wantNull);
    const TCounters n = Counters("scvhtm.so");
    EXPECT_EQ(n.create, 1);
    EXPECT_EQ(n.close, 1) << "CloseConverter runs once whatever happened";
    EXPECT_EQ(n.readsAfterFailure, 0) << "no read after a failed one";
  }
}

TEST(FilterCvt, MissingInputIsNotFoundAndNeverStartsTheLibrary) {
  TTempDir dir;
  ResetCounters("scvhtm.so");
  EXPECT_EQ(Convert(&HtmToText, dir.File("absent.htm"), 65001).rc, kResultNotFound);
  EXPECT_EQ(Counters("scvhtm.so").create, 0);
}

TEST(FilterCvt, JoinsManyFullPiecesInOrder) {
  TTempDir dir;
  // 65,536-byte pieces and a short tail; the pieces differ so order matters.
  const std::string file = dir.Write("big.htm", "big 70000 a\nbig 65536 b\npiece end\n");
  ResetCounters("scvhtm.so");
  const TRun run = Convert(&HtmToText, file, 65001);
  const std::string want =
      "\xEF\xBB\xBF" + std::string(70000, 'a') + std::string(65536, 'b') + "end";
  ASSERT_EQ(run.rc, static_cast<std::int32_t>(want.size()));
  EXPECT_TRUE(run.bytes == want);
  // 65536 + 4464 + 65536 + 3, then the empty read that ends the text.
  EXPECT_EQ(Counters("scvhtm.so").read, 5);
}

TEST(FilterCvt, ByteLimitReadsOnePieceBoundedByTheBuffer) {
  TTempDir dir;
  struct Case {
    const char* name;
    std::int32_t limit;
    std::string want;
    int wantReads;
  };
  const Case cases[] = {
      {"small limit", 10, "cap=10", 1},
      // The read buffer holds 65,536 bytes; a larger limit cannot widen it.
      {"limit above the buffer", 100000, "cap=65536", 1},
      {"negative limit means none", -4, "cap=65536cap=65536", 3},
      {"no limit", 0, "cap=65536cap=65536", 3},
  };
  const std::string file = dir.Write("cap.htm", "capacity\ncapacity\n");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetCounters("scvhtm.so");
    const TRun run = Convert(&HtmToText, file, 65001, c.limit);
    EXPECT_EQ(run.bytes, "\xEF\xBB\xBF" + c.want);
    EXPECT_EQ(Counters("scvhtm.so").read, c.wantReads);
  }
}

TEST(FilterCvt, CountBeyondTheCapacityIsCutToTheCapacity) {
  TTempDir dir;
  const TRun run = Convert(&HtmToText, dir.Write("o.htm", "overcount\n"), 65001, 8);
  EXPECT_EQ(run.bytes, "\xEF\xBB\xBF"
                       "oooooooo");
}

TEST(FilterCvt, InvalidUtf8FromTheLibraryKeepsTheRestOfTheText) {
  TTempDir dir;
  const std::string file = dir.Write("bad.htm", "piece ok \\xFF\npiece \\xE2\\x82 tail\n");
  struct Case {
    std::int32_t codePage;
    std::string want;
  };
  const Case cases[] = {
      {1252, std::string("ok ?? tail\0", 11)},
      {1200, std::string("\xFF\xFE"
                         "o\0k\0 \0\xFD\xFF\xFD\xFF \0t\0a\0i\0l\0",
                         22)},
      // UTF-8 output passes the library's bytes through unchanged.
      {65001, "\xEF\xBB\xBF"
              "ok \xFF\xE2\x82 tail"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.codePage);
    EXPECT_EQ(Convert(&HtmToText, file, c.codePage).bytes, c.want);
  }
}

TEST(FilterCvt, CallbacksBehaveAsTheContractSays) {
  TTempDir dir;
  // The probe reads the script itself back through the callbacks.
  const std::string script = "probe\n#0123456789";
  const std::string file = dir.Write("probe.htm", script);
  const TRun run = Convert(&HtmToText, file, 65001);
  ASSERT_GT(run.rc, 0);
  const std::string text = run.bytes.substr(3);
  const std::string size = std::to_string(script.size());
  const std::string want = "size=0:" + size + ":0\r\n" +
                           "head=0:4:prob\r\n"     // GetSize moved to the start
                           "seek0=0:0:3:obe\r\n"   // from the start
                           "seek1=0:0:2:be\r\n"    // back 2 from the current position
                           "seek2=0:0:3:789\r\n"   // 3 before the end, short read
                           "eof=0:0:\r\n"          // at the end: 0 bytes
                           "before-start=0:0:\r\n" // a move before the start is refused
                           "query=0:0:b\r\n"       // one zero byte, nothing more
                           "codepage=65001:65001\r\n" +
                           "record=" + std::to_string(sizeof(ConverterHost)) + ":1:0:0:" + file +
                           ":" + std::to_string(file.size() * 2) + "\r\n";
  EXPECT_EQ(text, want);
}

TEST(FilterCvt, SizeOfFourGibibytesAndMoreKeepsItsHighPart) {
  TTempDir dir;
  const std::string file = dir.Write("huge.htm", "probe\n");
  constexpr off_t kSize = (off_t{1} << 32) + 6; // sparse: no disk space used
  if (truncate(file.c_str(), kSize) != 0) {
    GTEST_SKIP() << "no sparse files here";
  }
  const TRun run = Convert(&HtmToText, file, 65001);
  ASSERT_GT(run.rc, 0);
  EXPECT_TRUE(run.bytes.starts_with("\xEF\xBB\xBFsize=0:6:1\r\n")) << run.bytes.substr(0, 20);
}

TEST(FilterCvt, CallbacksWithoutAnOpenFileAnswerOne) {
  TTempDir dir;
  ASSERT_GE(Convert(&HtmToText, dir.Write("x.htm", "piece x\n"), 65001).rc, 0);
  auto probe =
      reinterpret_cast<int (*)(int*, int*, int*, int*)>(Hook("scvhtm.so", "FakeProbeWithoutFile"));
  ASSERT_NE(probe, nullptr);
  int sizeRc = 0;
  int seekRc = 0;
  int readRc = 0;
  int untouched = 0;
  ASSERT_EQ(probe(&sizeRc, &seekRc, &readRc, &untouched), 1);
  EXPECT_EQ(sizeRc, 1);
  EXPECT_EQ(seekRc, 1);
  EXPECT_EQ(readRc, 1);
  EXPECT_EQ(untouched, 1);
}

TEST(FilterCvt, EachEntryUsesItsOwnLibrary) {
  TTempDir dir;
  const std::string file = dir.Write("k.txt", "piece k\n");
  struct Case {
    const char* library;
    std::int32_t (*entry)(const std::u16string&, std::int32_t, TConversionResult&, std::int32_t);
  };
  const Case cases[] = {
      {"scvhtm.so", &HtmToText}, {"scvhlp.so", &HlpToText}, {"scvrtf.so", &RtfToText}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.library);
    for (const Case& other : cases) {
      ResetCounters(other.library);
    }
    EXPECT_EQ(Convert(c.entry, file, 65001).bytes, "\xEF\xBB\xBF"
                                                   "k");
    for (const Case& other : cases) {
      EXPECT_EQ(Counters(other.library).create, other.library == c.library ? 1 : 0)
          << other.library;
    }
  }
}

TEST(FilterCvt, IsRtfFileNeedsTheExactFiveBytes) {
  TTempDir dir;
  struct Case {
    const char* name;
    std::string content;
    bool want;
  };
  const Case cases[] = {
      {"rtf", "{\\rtf1\\ansi hello}", true},
      {"exactly five bytes", "{\\rtf", true},
      {"four bytes", "{\\rt", false},
      {"upper case", "{\\RTF1", false},
      {"empty", "", false},
      {"leading space", " {\\rtf1", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(IsRtfFile(platform::ArgumentToWide(dir.Write("f.doc", c.content))), c.want);
  }
  EXPECT_FALSE(IsRtfFile(platform::ArgumentToWide(dir.File("absent.doc"))));
  EXPECT_FALSE(IsRtfFile(platform::ArgumentToWide(dir.Path())));
}

TEST(FilterCvt, IniFileOfTheUserSurvivesStartAndEnd) {
  // A scvhtm.ini that was there before the HTML library was loaded is someone else's: neither
  // the start in its folder nor the end in the program's folder deletes it.
  TTempDir cwd;
  TTempDir programDir;
  cwd.Write("scvhtm.ini", "x");
  programDir.Write("scvhtm.ini", "y");
  const std::string ownIni = platform::ProgramDirectory() + "scvhtm.ini";
  platform::DeleteFile(ownIni); // a leftover of an interrupted run of these tests
  { std::ofstream(ownIni) << "z"; }
  char old[4096];
  ASSERT_NE(getcwd(old, sizeof old), nullptr);
  ASSERT_EQ(chdir(cwd.Path().c_str()), 0);
  InitializeFilterBridge(); // reloading is harmless: the libraries stay usable afterwards
  EXPECT_TRUE(platform::FileExists(cwd.File("scvhtm.ini")));
  ASSERT_EQ(chdir(old), 0);
  FinalizeFilterBridge(programDir.Path() + "/");
  EXPECT_TRUE(platform::FileExists(programDir.File("scvhtm.ini")));
  InitializeFilterBridge();
  FinalizeFilterBridge(platform::ProgramDirectory());
  EXPECT_TRUE(platform::FileExists(ownIni));
  platform::DeleteFile(ownIni);
  InitializeFilterBridge();
  TTempDir dir;
  EXPECT_EQ(Convert(&HtmToText, dir.Write("a.htm", "piece a\n"), 65001).bytes, "\xEF\xBB\xBF"
                                                                               "a");
}

TEST(FilterCvt, IniFileMadeWhileTheLibraryIsLoadedIsDeletedAtTheEnd) {
  const std::string ownIni = platform::ProgramDirectory() + "scvhtm.ini";
  platform::DeleteFile(ownIni); // a leftover of an interrupted run of these tests
  InitializeFilterBridge();
  { std::ofstream(ownIni) << "written by an HTML library"; }
  FinalizeFilterBridge(platform::ProgramDirectory());
  EXPECT_FALSE(platform::FileExists(ownIni));
  InitializeFilterBridge();
}

} // namespace
} // namespace scv::bridges
