// Real workbooks with number and date formats, through the program, in the C locale and in a
// German one built for the test.
#include "support/ProcessRunner.h"
#include "support/TestPaths.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

std::string ConvertToStdout(const std::string& name, const std::vector<std::string>& env = {}) {
  // The program runs in the C locale unless env names another.
  std::vector<std::string> fullEnv = {"LC_ALL=C"};
  if (!env.empty()) {
    fullEnv = env;
  }
  const auto run = scv::test::RunProgram(
      scv::test::ScvcmdPath(), {"-c65001", scv::test::CorpusDir("xls") + "/" + name, "*"}, fullEnv);
  EXPECT_EQ(run.exitCode, 0) << name;
  return run.out;
}

struct TLineCase {
  const char* file;
  const char* line; // a whole line of the text, tab-separated cells
};

void ExpectLines(const std::vector<TLineCase>& cases, const std::vector<std::string>& env) {
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.file) + ": " + c.line);
    const std::string text = ConvertToStdout(c.file, env);
    EXPECT_NE(text.find(std::string("\r\n") + c.line + "\r\n"), std::string::npos);
  }
}

TEST(CorpusXlsFormats, NumbersAndDatesAsFormatted) {
  ExpectLines(
      {
          {"DateFormats.xls", "US date\t10-Aug-07"},
          {"DateFormats.xls", "US date\t8/10/07"},
          {"DateFormats.xls", "UK date\t08-10-07"},
          {"DateFormats.xls", "UK date\tFriday, August 10, 2007"},
          {"DateFormats.xls", "UK date\t10/08/07"},
          // Formats written in capitals.
          {"Formate.xls", "Huber\t03/07/1907\t"},
          {"Formate.xls", "\xC3\x96"
                          "cker\tTuesday, May 03, 1988\t"},
          {"Formate.xls", "Morgen\t06:34\t"},
          {"Formate.xls", "Abends\t5:47:13 PM\t"},
          {"Formate.xls", "gut\t97.4%"},
          // "_-" pads with one space; the dash it names is not shown.
          {"Formate.xls", "viel\t 1,000.30 \xE2\x82\xAC "},
          // The first column holds LABEL cells.
          {"61045_govdocs1_626534.xls",
           "200504\t167,943\t132,890\t562\t39\t34,444\t3,045\t2,127\t486\t39\t385\t164,898\t130,763"
           "\t76\t34,059"},
      },
      {});
}

// Compiles a locale from the system's definitions into dir; false when that is not possible.
bool MakeLocale(const std::string& dir, const std::string& name) {
  const std::string cmd = "localedef -i de_DE -f UTF-8 '" + dir + "/" + name + "' >/dev/null 2>&1";
  const int rc = std::system(cmd.c_str());
  return rc != -1 && WIFEXITED(rc) && (WEXITSTATUS(rc) == 0 || WEXITSTATUS(rc) == 1) &&
         access((dir + "/" + name + "/LC_NUMERIC").c_str(), R_OK) == 0;
}

TEST(CorpusXlsFormats, LocaleSeparatorsAndNames) {
  scv::test::TTempDir dir;
  if (!MakeLocale(dir.Path(), "de_DE.UTF-8")) {
    GTEST_SKIP() << "localedef cannot build locales here";
  }
  ExpectLines(
      {
          {"Formate.xls", "Huber\t03.07.1907\t"},
          {"Formate.xls", "\xC3\x96"
                          "cker\tDienstag, Mai 03, 1988\t"},
          {"Formate.xls", "gut\t97,4%"},
          {"Formate.xls", "viel\t 1.000,30 \xE2\x82\xAC "},
          {"DateFormats.xls", "US date\t10-Aug-07"},
          {"61045_govdocs1_626534.xls",
           "200504\t167.943\t132.890\t562\t39\t34.444\t3.045\t2.127\t486\t39\t385\t164.898\t130.763"
           "\t76\t34.059"},
      },
      // The C library keeps a locale loaded from LOCPATH until the process ends, which a
      // sanitized build's leak check would report.
      {"LOCPATH=" + dir.Path(), "LC_ALL=de_DE.UTF-8", "ASAN_OPTIONS=detect_leaks=0"});
}

} // namespace
