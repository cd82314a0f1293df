// The built program end to end: every run result, its message and exit code, and the output.
#include "sandbox/Sandbox.h"
#include "support/ProcessRunner.h"
#include "support/TestPaths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sys/stat.h>

namespace scv::test {
namespace {

std::string Sample(const std::string& name) {
  return SourceDir() + "/samples/" + name;
}

TEST(Cli, UsageForTooFewArgumentsAndRejectedFlags) {
  const std::vector<std::vector<std::string>> commandLines = {{},
                                                              {"a.doc"},
                                                              {"-c", "a.doc", "b.txt"},
                                                              {"-thtml", "a.html", "b.txt"},
                                                              {"-cabc", "a.doc", "b.txt"},
                                                              {"-sx", "a.doc", "b.txt"},
                                                              {"-o", "-x", "a.doc", "b.txt"}};
  for (const auto& args : commandLines) {
    SCOPED_TRACE(testing::PrintToString(args));
    const auto r = RunScvcmd(args);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.out.starts_with("Scrivon Command Version 3.0\r\n\r\nUsage: scvcmd [-o]"));
    EXPECT_TRUE(r.out.ends_with("help to get more details about command usage.\r\n"));
    EXPECT_EQ(r.err, "");
  }
}

TEST(Cli, CodePagesNothingServesAreRejectedBeforeAnyFile) {
  // The source does not exist and the destination would be created: the command line is
  // refused first, and nothing is made.
  TTempDir dir;
  for (const char* flag : {"-c12345", "-c1201", "-c57002", "-c$FFFF"}) {
    SCOPED_TRACE(flag);
    const auto r = RunScvcmd({flag, dir.File("missing.docx"), dir.File("out.txt")});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.out.starts_with("Scrivon Command Version 3.0\r\n"));
    EXPECT_FALSE(std::filesystem::exists(dir.File("out.txt")));
  }
  for (const char* flag : {"-c37", "-c500", "-c1026", "-c20936", "-c52936", "-c65000"}) {
    SCOPED_TRACE(flag);
    const auto r = RunScvcmd({flag, Sample("sample.docx"), "*"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_GT(r.out.size(), 100u);
  }
}

TEST(Cli, VersionNamesTheProtections) {
  // The version line, then the protections a conversion gets here; "off" when switched off.
  const auto r = RunScvcmd({"--version"});
  EXPECT_EQ(r.exitCode, 0);
  const std::string protections =
      scv::sandbox::Describe(scv::sandbox::Available(), scv::sandbox::SwitchedOff());
  EXPECT_EQ(r.out, "scvcmd 3.0.0\r\nsandbox: " + protections + "\r\n");
  const std::vector<std::string> forms = {"landlock, seccomp", "seccomp", "landlock", "none",
                                          "off"};
  EXPECT_NE(std::find(forms.begin(), forms.end(), protections), forms.end());
  EXPECT_EQ(RunScvcmd({"--version"}, {"SCV_NO_SANDBOX=1"}).out, "scvcmd 3.0.0\r\nsandbox: off\r\n");
  // Anywhere else it is a rejected flag, as before.
  EXPECT_EQ(RunScvcmd({"--version", Sample("sample.docx"), "*"}).exitCode, 2);
}

TEST(Cli, AllTextIsAFlagAmongTheOthers) {
  const std::string deck = SourceDir() + "/tests/fixtures/all-text/deck.pptx";
  const std::string plain = RunScvcmd({"-c65001", deck, "*"}).out;
  const auto all = RunScvcmd({"--all-text", "-c65001", deck, "*"});
  EXPECT_EQ(all.exitCode, 0);
  EXPECT_NE(all.out, plain);
  EXPECT_NE(all.out.find("First note"), std::string::npos);
  EXPECT_EQ(RunScvcmd({"-c65001", "--all-text", deck, "*"}).out, all.out);
  // Standard input converts the same way.
  const auto piped = RunProgram(
      "/bin/sh", {"-c", ScvcmdPath() + " --all-text -c65001 -tpptx - '*' < '" + deck + "'"},
      {"LC_ALL=C"});
  EXPECT_EQ(piped.out, all.out);
  // Types that already give every story ignore it.
  const std::string doc = Sample("sample.doc");
  EXPECT_EQ(RunScvcmd({"--all-text", doc, "*"}).out, RunScvcmd({doc, "*"}).out);
  // Other long spellings stay rejected command lines with the usage text of old.
  const std::string usage = RunScvcmd({"-x", deck, "*"}).out;
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--all-texts", deck, "*"},
                                               {"--ALL-TEXT", deck, "*"},
                                               {"--", deck, "*"},
                                               {"--all-text", "--all-text=1", deck, "*"}}) {
    const auto r = RunScvcmd(args);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.out, usage);
  }
}

TEST(Cli, DashReadsStandardInputWithAForcedType) {
  TTempDir dir;
  const std::string program = ScvcmdPath();
  const auto run = [&](const std::string& command) {
    return RunProgram("/bin/sh", {"-c", command}, {"LC_ALL=C"}, dir.Path());
  };
  const std::string fromFile = RunScvcmd({Sample("sample.pdf"), "*"}).out;
  const auto piped = run("cat " + Sample("sample.pdf") + " | " + program + " -tpdf - '*'");
  EXPECT_EQ(piped.exitCode, 0);
  EXPECT_EQ(piped.out, fromFile);
  const auto toFile = run(program + " -tdocx - out.txt < " + Sample("sample.docx"));
  EXPECT_EQ(toFile.out, "\"-\" --> \"out.txt\" OK\r\n");
  EXPECT_EQ(ReadFileBytes(dir.File("out.txt")), RunScvcmd({Sample("sample.docx"), "*"}).out);
  // Without -t there is no type, and standard input is not read.
  const auto untyped = run(program + " - '*' < " + Sample("sample.docx"));
  EXPECT_EQ(untyped.exitCode, 253);
  EXPECT_EQ(untyped.out, "Input file \"-\" type not support\r\n");
  // A file named "-" is that file.
  dir.Write("-", ReadFileBytes(Sample("sample.xlsx")));
  const auto named = run(program + " -txlsx - '*' < /dev/null");
  EXPECT_EQ(named.exitCode, 0);
  EXPECT_NE(named.out.find("Lamp oil"), std::string::npos);
}

TEST(Cli, FailedWritesLeaveNoDestination) {
  // Under a file-size limit the write fails (249) instead of the process dying of SIGXFSZ,
  // and neither a truncated destination nor a temporary file stays; with -o the old text does.
  TTempDir dir;
  const std::string big = CorpusDir("xls") + "/StringContinueRecords.xls";
  const std::string limited = "ulimit -f 4; exec " + ScvcmdPath() + " ";
  const auto fresh = RunProgram("/bin/sh", {"-c", limited + "-c1200 " + big + " new.txt"},
                                {"LC_ALL=C"}, dir.Path());
  EXPECT_EQ(fresh.exitCode, 249);
  EXPECT_EQ(fresh.out, "Output file \"new.txt\" write error\r\n");
  dir.Write("old.txt", "earlier text");
  const auto replace = RunProgram("/bin/sh", {"-c", limited + "-o -c1200 " + big + " old.txt"},
                                  {"LC_ALL=C"}, dir.Path());
  EXPECT_EQ(replace.exitCode, 249);
  EXPECT_EQ(ReadFileBytes(dir.File("old.txt")), "earlier text");
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
    names.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(names, std::vector<std::string>{"old.txt"});
  // The re-run recipe: the document is converted when there is room again.
  const auto rerun = RunScvcmd({"-c1200", big, dir.File("new.txt")});
  EXPECT_EQ(rerun.exitCode, 0);
}

TEST(Cli, FullFileSystemLeavesNoDestination) {
  TTempDir dir;
  const std::string mountPoint = dir.File("small");
  std::filesystem::create_directory(mountPoint);
  if (RunProgram("/bin/mount", {"-t", "tmpfs", "-o", "size=64k", "tmpfs", mountPoint}).exitCode !=
      0) {
    GTEST_SKIP() << "no tmpfs can be mounted here";
  }
  const std::string big = CorpusDir("xls") + "/StringContinueRecords.xls";
  const auto r = RunScvcmd({"-c1200", big, mountPoint + "/out.txt"});
  const bool empty = std::filesystem::is_empty(mountPoint);
  RunProgram("/bin/umount", {mountPoint});
  EXPECT_EQ(r.exitCode, 249);
  EXPECT_TRUE(empty);
}

TEST(Cli, DestinationThatAppearsDuringTheConversionIsKept) {
  // The destination is checked, then the document (from standard input) arrives late; a file
  // that appeared in between is not replaced without -o.
  TTempDir dir;
  const std::string command = "{ sleep 1; cat " + Sample("sample.docx") + "; } | " + ScvcmdPath() +
                              " -tdocx - out.txt & sleep 0.3; echo user >out.txt;" + " wait $!";
  const auto r = RunProgram("/bin/sh", {"-c", command}, {"LC_ALL=C"}, dir.Path());
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "Output file \"out.txt\" already exists, convert canceled\r\n");
  EXPECT_EQ(ReadFileBytes(dir.File("out.txt")), "user\n");
}

TEST(Cli, TwoArgumentsAreAlwaysSourceAndDestination) {
  const auto r = RunScvcmd({"-o", "a.doc"});
  EXPECT_EQ(r.exitCode, 254);
  EXPECT_EQ(r.out, "Input file \"-o\" not exists\r\n");
}

TEST(Cli, SourceChecks) {
  TTempDir dir;
  struct Case {
    const char* name;
    std::vector<std::string> args;
    int exitCode;
    std::string out;
  };
  dir.Write("report", "x");
  dir.Write("report.", "x");
  dir.Write("notes.txt", "x");
  const std::string missing = dir.File("missing.doc");
  const Case cases[] = {
      {"missing source",
       {missing, dir.File("o.txt")},
       254,
       "Input file \"" + missing + "\" not exists\r\n"},
      {"directory is not a source",
       {dir.Path(), dir.File("o.txt")},
       254,
       "Input file \"" + dir.Path() + "\" not exists\r\n"},
      {"no extension",
       {dir.File("report"), dir.File("o.txt")},
       253,
       "Input file \"" + dir.File("report") + "\" type not support\r\n"},
      {"lone dot",
       {dir.File("report."), dir.File("o.txt")},
       253,
       "Input file \"" + dir.File("report.") + "\" type not support\r\n"},
      {"unknown extension",
       {dir.File("notes.txt"), "*"},
       253,
       "Input file \"" + dir.File("notes.txt") + "\" type not support\r\n"},
      {"forced type spanning a blank",
       {"-tc h", dir.File("notes.txt"), "*"},
       253,
       "Input file \"" + dir.File("notes.txt") + "\" type not support\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto r = RunScvcmd(c.args);
    EXPECT_EQ(r.exitCode, c.exitCode);
    EXPECT_EQ(r.out, c.out);
    EXPECT_FALSE(std::filesystem::exists(dir.File("o.txt")));
  }
}

TEST(Cli, ExistingDestinationNeedsOverwrite) {
  TTempDir dir;
  const std::string dest = dir.Write("out.txt", "keep me");
  const auto refused = RunScvcmd({Sample("sample.xlsx"), dest});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_EQ(refused.out, "Output file \"" + dest + "\" already exists, convert canceled\r\n");
  EXPECT_EQ(ReadFileBytes(dest), "keep me");

  // The same file as source and destination is refused the same way.
  const std::string self = dir.Write("self.xlsx", ReadFileBytes(Sample("sample.xlsx")));
  EXPECT_EQ(RunScvcmd({self, self}).exitCode, 1);

  const auto replaced = RunScvcmd({"-o", Sample("sample.xlsx"), dest});
  EXPECT_EQ(replaced.exitCode, 0);
  EXPECT_EQ(replaced.out, "\"" + Sample("sample.xlsx") + "\" --> \"" + dest + "\" OK\r\n");
  EXPECT_NE(ReadFileBytes(dest), "keep me");
}

TEST(Cli, StandardOutputGetsTheSameBytesAsAFile) {
  TTempDir dir;
  // A file named "*" never makes "*" refuse, and no OK line is printed.
  dir.Write("*", "not touched");
  const auto toFile = RunScvcmd({"-c65001", Sample("sample.xlsx"), dir.File("out.txt")});
  ASSERT_EQ(toFile.exitCode, 0);
  const auto toStdout = RunScvcmd({"-c65001", Sample("sample.xlsx"), "*"}, {}, dir.Path());
  EXPECT_EQ(toStdout.exitCode, 0);
  EXPECT_EQ(toStdout.out, ReadFileBytes(dir.File("out.txt")));
  EXPECT_TRUE(toStdout.out.starts_with("\xEF\xBB\xBF"));
  EXPECT_EQ(ReadFileBytes(dir.File("*")), "not touched");
}

TEST(Cli, DestinationFailures) {
  TTempDir dir;
  struct Case {
    const char* name;
    std::string dest;
    int exitCode;
    std::string message;
  };
  const std::string inMissing = dir.File("no/such/dir/out.txt");
  const Case cases[] = {
      {"missing folder", inMissing, 250, "Output file \"" + inMissing + "\" create error\r\n"},
      {"destination is a directory", dir.Path(), 250,
       "Output file \"" + dir.Path() + "\" create error\r\n"},
      {"full disk", "/dev/full", 249, "Output file \"/dev/full\" write error\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto r = RunScvcmd({"-o", Sample("sample.xlsx"), c.dest});
    EXPECT_EQ(r.exitCode, c.exitCode);
    EXPECT_EQ(r.out, c.message);
  }
}

TEST(Cli, FailedStandardOutputIsAWriteError) {
  const std::string cmd = ScvcmdPath() + " " + Sample("sample.xlsx") + " '*'";
  const auto full = RunProgram("/bin/sh", {"-c", cmd + " >/dev/full; echo $?"}, {"LC_ALL=C"});
  EXPECT_EQ(full.out, "249\n");
  // A closed pipe: the reader is gone before the text is written.
  const auto pipe =
      RunProgram("/bin/bash", {"-c", "(sleep 1; exec " + cmd + ") | true; echo ${PIPESTATUS[0]}"},
                 {"LC_ALL=C"});
  EXPECT_EQ(pipe.out, "249\n");
}

TEST(Cli, FailedExtractionLeavesTheDestinationAlone) {
  TTempDir dir;
  const std::string bad = dir.Write("bad.xls", "this is not a workbook");
  const std::string dest = dir.Write("out.txt", "keep me");
  const auto r = RunScvcmd({"-o", bad, dest});
  EXPECT_EQ(r.exitCode, 251);
  EXPECT_EQ(r.out, "Input file \"" + bad + "\" format not correct\r\n");
  EXPECT_EQ(ReadFileBytes(dest), "keep me");
  const auto fresh = RunScvcmd({bad, dir.File("new.txt")});
  EXPECT_EQ(fresh.exitCode, 251);
  EXPECT_FALSE(std::filesystem::exists(dir.File("new.txt")));
}

TEST(Cli, MissingLibraryIsALoadError) {
  // A copy of the program and its library in a folder of their own finds no converter
  // libraries.
  TTempDir dir;
  const std::string program = dir.File("scvcmd");
  std::filesystem::copy_file(ScvcmdPath(), program);
  std::filesystem::copy_file(BinDir() + "/libscv.so.3", dir.File("libscv.so.3"));
  chmod(program.c_str(), 0755);
  for (const char* sample : {"sample.pdf", "sample.html", "sample.rtf"}) {
    SCOPED_TRACE(sample);
    const auto r = RunProgram(program, {Sample(sample), dir.File("out.txt")},
                              {"LC_ALL=C", "LD_LIBRARY_PATH=" + dir.Path()});
    EXPECT_EQ(r.exitCode, 255);
    EXPECT_EQ(r.out, "Convert dll file load error\r\n");
    EXPECT_FALSE(std::filesystem::exists(dir.File("out.txt")));
  }
}

TEST(Cli, ForcedTypeOverridesTheExtension) {
  TTempDir dir;
  const std::string renamed = dir.Write("sheet.bin", ReadFileBytes(Sample("sample.xlsx")));
  const auto plain = RunScvcmd({renamed, "*"});
  EXPECT_EQ(plain.exitCode, 253);
  const auto forced = RunScvcmd({"-TXLSX", renamed, "*"});
  EXPECT_EQ(forced.exitCode, 0);
  EXPECT_NE(forced.out.find("Lamp oil"), std::string::npos);
}

TEST(Cli, NamesWithAnyBytesConvert) {
  TTempDir dir;
  const std::string odd = dir.Write("odd\xFF\xFE name.xlsx", ReadFileBytes(Sample("sample.xlsx")));
  const auto r = RunScvcmd({odd, dir.File("out\xC3.txt")});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "\"" + odd + "\" --> \"" + dir.File("out\xC3.txt") + "\" OK\r\n");
  EXPECT_TRUE(std::filesystem::exists(dir.File("out\xC3.txt")));
}

TEST(Cli, EveryBundledSampleConverts) {
  for (const auto& entry : std::filesystem::directory_iterator(SourceDir() + "/samples")) {
    const std::string path = entry.path().string();
    if (path.ends_with(".md")) {
      continue;
    }
    SCOPED_TRACE(path);
    const auto r = RunScvcmd({"-c65001", path, "*"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_GT(r.out.size(), 3u);
    EXPECT_EQ(r.err, "");
  }
}

TEST(Cli, ExtractorResultsBecomeMessages) {
  TTempDir dir;
  // An end record that names a directory the file does not hold: the archive cannot be read.
  std::string eocd("junkjunkjunkPK\x05\x06\0\0\0\0\x01\0\x01\0\x2E\0\0\0\xE8\x03\0\0\0\0", 34);
  const std::string broken = dir.Write("broken.docx", eocd);
  const std::string locked = CorpusDir("doc") + "/PasswordProtected.doc";
  struct Case {
    const char* name;
    std::string source;
    int exitCode;
    std::string out;
  };
  const Case cases[] = {
      {"open error", broken, 252, "Input file \"" + broken + "\" open error\r\n"},
      {"encrypted", locked, 245, "Input file \"" + locked + "\" is encrypted\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto r = RunScvcmd({c.source, dir.File("out.txt")});
    EXPECT_EQ(r.exitCode, c.exitCode);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(std::filesystem::exists(dir.File("out.txt")));
  }
}

TEST(Cli, NoTypeIsPending) {
  // Every type of the dispatch table reaches a real extractor: none answers "library missing"
  // while the program's converter libraries are in place. A type that is not built yet would
  // be listed here with exit code 255.
  const std::vector<std::string> pending = {};
  struct Case {
    const char* type;
    std::string file;
  };
  const Case cases[] = {
      {"doc", Sample("sample.doc")}, {"docx", Sample("sample.docx")},
      {"ppt", Sample("sample.ppt")}, {"pptx", Sample("sample.pptx")},
      {"xls", Sample("sample.xls")}, {"xlsx", Sample("sample.xlsx")},
      {"pdf", Sample("sample.pdf")}, {"htm", Sample("sample.html")},
      {"rtf", Sample("sample.rtf")}, {"hlp", CorpusDir("hlp") + "/DemoHelp1.hlp"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    const auto r = RunScvcmd({std::string("-t") + c.type, c.file, "*"});
    const bool isPending =
        std::find(pending.begin(), pending.end(), std::string(c.type)) != pending.end();
    EXPECT_EQ(r.exitCode == 255, isPending) << r.out;
  }
}

} // namespace
} // namespace scv::test
