// The PDF bridge against a test library that follows the export contract in controlled ways.
#include "bridges/MyPdfCvt.h"

#include "platform/FileIo.h"
#include "support/ProcessRunner.h"

#include <gtest/gtest.h>

#include <string>

namespace scv::bridges {
namespace {

using scv::test::TTempDir;

class TPdfBridgeEnv : public ::testing::Environment {
public:
  void SetUp() override { InitializePdfBridge(); }
  void TearDown() override { FinalizePdfBridge(); }
};
// NOLINTNEXTLINE(cppcoreguidelines-owning-memory): GoogleTest owns and deletes the environment
const auto* const kEnv = ::testing::AddGlobalTestEnvironment(new TPdfBridgeEnv);

struct TRun {
  std::int32_t rc = 0;
  std::string bytes;
  bool resultNull = true;
};

TRun Convert(const std::string& path, std::int32_t codePage, std::int32_t layout = 0,
             std::int32_t mode = 0, std::int32_t option5 = 1, std::int32_t option6 = 0,
             std::int32_t option8 = 1) {
  TConversionResult result;
  TRun run;
  run.rc = PdfToText(platform::ArgumentToWide(path), 0, result, codePage, option5, option6, layout,
                     option8, mode, "", "");
  run.resultNull = result.IsNull();
  if (run.rc > 0) {
    const auto bytes = result.Bytes(static_cast<std::size_t>(run.rc));
    run.bytes.assign(bytes.begin(), bytes.end());
  }
  return run;
}

TEST(MyPdfCvt, EncodesTheLibraryTextForEachCodePage) {
  TTempDir dir;
  const std::string file = dir.Write("abc.pdf", "piece a\npiece bc\n");
  struct Case {
    std::int32_t codePage;
    std::string want;
  };
  const Case cases[] = {
      {65001, "\xEF\xBB\xBF"
              "abc"},
      {1200, std::string("\xFF\xFE"
                         "a\0b\0c\0\0\0",
                         10)},
      {1252, std::string("abc\0\0", 5)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.codePage);
    const TRun run = Convert(file, c.codePage);
    EXPECT_EQ(run.rc, static_cast<std::int32_t>(c.want.size()));
    EXPECT_EQ(run.bytes, c.want);
  }
}

TEST(MyPdfCvt, MapsLibraryResults) {
  TTempDir dir;
  struct Case {
    const char* name;
    std::string script;
    std::int32_t want;
  };
  const Case cases[] = {
      {"cannot open", "result -1\npiece x\n", kResultOpenError},
      {"encrypted", "result -3\n", kResultEncrypted},
      {"damaged", "result -2\npiece x\n", kResultBadFormat},
      {"positive failure", "result 7\n", kResultBadFormat},
      {"no text", "", 0},
      {"only empty sink calls", "sink-empty\n", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TRun run = Convert(dir.Write("r.pdf", c.script), 65001);
    EXPECT_EQ(run.rc, c.want);
    EXPECT_TRUE(run.resultNull) << "the ConversionResult is not touched";
  }
  // The library itself reports a file it cannot open.
  EXPECT_EQ(Convert(dir.File("absent.pdf"), 65001).rc, kResultOpenError);
}

TEST(MyPdfCvt, PassesTheArgumentsTheLayoutAndModeSelect) {
  TTempDir dir;
  const std::string file = dir.Write("args.pdf", "args\n");
  struct Case {
    const char* name;
    std::int32_t layout;
    std::int32_t mode;
    const char* want;
  };
  const Case cases[] = {
      {"reading order", 0, 0, "bytes=1 a4=1 a5=0 s1=0 a7=1 s2=0 a9=2 t10=[] t11=[]"},
      {"original layout", 1, 0, "bytes=1 a4=1 a5=0 s1=1 a7=1 s2=0 a9=2 t10=[] t11=[]"},
      {"raw order", 2, 0, "bytes=1 a4=1 a5=0 s1=0 a7=1 s2=1 a9=2 t10=[] t11=[]"},
      {"other layouts read in order", 5, 0, "bytes=1 a4=1 a5=0 s1=0 a7=1 s2=0 a9=2 t10=[] t11=[]"},
      {"layout 9", 9, 0, "bytes=1 a4=1 a5=0 s1=0 a7=1 s2=0 a9=2 t10=[] t11=[]"},
      {"mode 1", 0, 1, "bytes=1 a4=1 a5=0 s1=0 a7=1 s2=0 a9=3 t10=[] t11=[]"},
      {"mode 2", 0, 2, "bytes=1 a4=1 a5=0 s1=0 a7=1 s2=0 a9=1 t10=[] t11=[]"},
      {"mode 7", 0, 7, "bytes=1 a4=1 a5=0 s1=0 a7=1 s2=0 a9=2 t10=[] t11=[]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Convert(file, 65001, c.layout, c.mode).bytes, std::string("\xEF\xBB\xBF") + c.want);
  }
  EXPECT_EQ(Convert(file, 65001, 0, 0, 4, 5, 6).bytes,
            "\xEF\xBB\xBF"
            "bytes=1 a4=4 a5=5 s1=0 a7=6 s2=0 a9=2 t10=[] t11=[]");
}

TEST(MyPdfCvt, EachConversionStartsWithAnEmptyBuffer) {
  TTempDir dir;
  EXPECT_EQ(Convert(dir.Write("1.pdf", "big 5000 q\n"), 65001).rc, 5003);
  EXPECT_EQ(Convert(dir.Write("2.pdf", "piece z\n"), 65001).bytes, "\xEF\xBB\xBF"
                                                                   "z");
  EXPECT_EQ(Convert(dir.Write("3.pdf", "piece y\nresult -2\n"), 65001).rc, kResultBadFormat);
  EXPECT_EQ(Convert(dir.Write("4.pdf", ""), 65001).rc, 0);
}

TEST(MyPdfCvt, InvalidUtf8FromTheLibraryKeepsTheRestOfTheText) {
  TTempDir dir;
  const std::string file = dir.Write("bad.pdf", "piece a\\xC3\npiece (b\n");
  EXPECT_EQ(Convert(file, 1252).bytes, std::string("a?(b\0\0", 6));
  EXPECT_EQ(Convert(file, 1200).bytes, std::string("\xFF\xFE"
                                                   "a\0\xFD\xFF(\0b\0\0\0",
                                                   12));
  EXPECT_EQ(Convert(file, 65001).bytes, "\xEF\xBB\xBF"
                                        "a\xC3(b");
}

} // namespace
} // namespace scv::bridges
