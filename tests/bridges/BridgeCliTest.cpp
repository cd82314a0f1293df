// The bridges as the program uses them: messages, exit codes and destination files, with the
// test libraries beside a copy of scvcmd ("host") or with no library at all ("bare").
#include "support/ProcessRunner.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <unistd.h>

namespace scv::bridges {
namespace {

using scv::test::ReadFileBytes;
using scv::test::RunProgram;
using scv::test::TRunResult;
using scv::test::TTempDir;

TRunResult RunIn(const char* programDir, const std::vector<std::string>& args,
                 const TTempDir& cwd) {
  return RunProgram(std::string(programDir) + "/scvcmd", args,
                    {"LC_ALL=C", std::string("LD_LIBRARY_PATH=") + programDir}, cwd.Path());
}

bool Exists(const std::string& path) {
  return ::access(path.c_str(), F_OK) == 0;
}

TEST(BridgeCli, MissingLibrariesAreALoadErrorAndCreateNoDestination) {
  TTempDir dir;
  for (const char* name : {"a.pdf", "a.htm", "a.html", "a.hlp", "a.rtf"}) {
    SCOPED_TRACE(name);
    dir.Write(name, "piece text\n");
    const TRunResult r = RunIn(FAKE_BARE_DIR, {name, "out.txt"}, dir);
    EXPECT_EQ(r.out, "Convert dll file load error\r\n");
    EXPECT_EQ(r.exitCode, 255);
    EXPECT_FALSE(Exists(dir.File("out.txt")));
  }
}

TEST(BridgeCli, EachTypeReachesItsLibrary) {
  TTempDir dir;
  struct Case {
    const char* name;
    const char* want;
  };
  const Case cases[] = {
      {"k.htm", "htm"}, {"k.html", "htm"}, {"k.HTM", "htm"}, {"k.hlp", "hlp"}, {"k.rtf", "rtf"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    dir.Write(c.name, "kind\n");
    const TRunResult r = RunIn(FAKE_HOST_DIR, {"-o", "-c65001", c.name, "out.txt"}, dir);
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_EQ(ReadFileBytes(dir.File("out.txt")), std::string("\xEF\xBB\xBF") + c.want);
  }
}

TEST(BridgeCli, LibraryOutcomesBecomeMessagesAndExitCodes) {
  TTempDir dir;
  struct Case {
    const char* name;
    const char* file;
    const char* script;
    int wantExit;
    std::string wantOut;
    bool wantDestination;
  };
  const Case cases[] = {
      {"pdf encrypted", "e.pdf", "result -3\n", 245, "Input file \"e.pdf\" is encrypted\r\n",
       false},
      {"pdf damaged", "d.pdf", "piece x\nresult -9\n", 251,
       "Input file \"d.pdf\" format not correct\r\n", false},
      {"pdf without text", "n.pdf", "", 0, "\"n.pdf\" --> \"out.txt\" OK\r\n", true},
      {"filter refuses to start", "c.htm", "create-fail\n", 251,
       "Input file \"c.htm\" format not correct\r\n", false},
      {"filter without text", "z.hlp", "", 0, "\"z.hlp\" --> \"out.txt\" OK\r\n", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::remove(dir.File("out.txt").c_str());
    dir.Write(c.file, c.script);
    const TRunResult r = RunIn(FAKE_HOST_DIR, {c.file, "out.txt"}, dir);
    EXPECT_EQ(r.exitCode, c.wantExit);
    EXPECT_EQ(r.out, c.wantOut);
    EXPECT_EQ(Exists(dir.File("out.txt")), c.wantDestination);
    if (c.wantDestination) {
      EXPECT_EQ(ReadFileBytes(dir.File("out.txt")), "");
    }
  }
}

TEST(BridgeCli, DocThatIsRtfConvertsThroughTheRtfLibrary) {
  TTempDir dir;
  // Not a compound file, so the Word extractor rejects it; it starts like RTF, so the RTF
  // library gets it (the test library ignores the first line and runs the second).
  dir.Write("r.doc", "{\\rtf1 x\npiece from rtf\n");
  const TRunResult r = RunIn(FAKE_HOST_DIR, {"-c65001", "r.doc", "out.txt"}, dir);
  EXPECT_EQ(r.out, "\"r.doc\" --> \"out.txt\" OK\r\n");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(ReadFileBytes(dir.File("out.txt")), "\xEF\xBB\xBF"
                                                "from rtf");
  // Upper case is not RTF: the Word extractor's rejection stands.
  dir.Write("u.doc", "{\\RTF1 x\npiece from rtf\n");
  const TRunResult u = RunIn(FAKE_HOST_DIR, {"u.doc", "out2.txt"}, dir);
  EXPECT_EQ(u.out, "Input file \"u.doc\" format not correct\r\n");
  EXPECT_FALSE(Exists(dir.File("out2.txt")));
}

} // namespace
} // namespace scv::bridges
