// Every help file of the shared corpus: the WinHelp files convert with their titles and
// phrases (compressed, phrase-compressed, 3.1 and 4.0 files, Cyrillic text); the text file
// named .hlp is refused. The RTF and help corpus files also run through scvcmd.
#include "hlp/HlpFileSystem.h"
#include "hlp/HlpReader.h"
#include "support/ProcessRunner.h"
#include "support/TestPaths.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <span>
#include <string>

namespace {

using scv::test::CorpusDir;
using scv::test::ReadFileBytes;

std::string Convert(const std::string& name) {
  const std::string bytes = ReadFileBytes(CorpusDir("hlp") + "/" + name);
  return scv::hlp::HlpToUtf8(
      std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

TEST(CorpusHlp, TitlesAndPhrases) {
  struct TCase {
    const char* file;
    const char* first; // the text starts with the first topic's title line
    const char* phrase;
  };
  const TCase cases[] = {
      {"DemoHelp1.hlp", "Demo 1 - Topic 1\n", "This is the topic with id"},
      {"DemoHelp2.hlp", "Demo 2 - Topic 1\n", "This is the topic with id"},
      {"MainForm.hlp", "PJMessageDialog Demo Help\n", "PJMessageDialog Components Demo"},
      {"PJAbout.hlp", "PJAbout unit\n",
       "This unit contains the implementation of the TPJAboutBoxDlg about box dialog component."},
      {"PJAbout.hlp", "PJAbout unit\n",
       "VERSIONINFO resource included in a program file. Do this by setting the VersionInfo"},
      {"PJCBView.hlp", "PJCBView unit\n", "TPJCBViewer notifies the user of changes"},
      {"PJDropFiles.hlp", "PJDropFiles unit\n", "PJDropFiles unit"},
      {"PJEnvVars.hlp", "PJEnvVars unit\n", "environment variables"},
      {"PJHotLabel.hlp", "PJHotLabel unit\n", "PJHotLabel"},
      {"PJMessageDialog.hlp", "PJMessageDialog unit\n", "PJMessageDialog"},
      {"PJShellFolders.hlp", "PJShellFolders unit\n", "PJShellFolders"},
      {"PJSysInfo.hlp", "PSSysInfo unit\n", "PJSysInfo"},
      {"PJVersionInfo.hlp", "PJVersionInfo unit\n", "version information"},
      {"PJWdwState.hlp", "PJWdwState unit\n", "PJWdwState"},
      {"psc-alarm_help.hlp", "The program wont run\n", "HelpScribble is shareware"},
      {"Nominas_DEFAULT.HLP", "Temp Title 1\n", "fdsf"},
      {"Nominas_HELP.HLP", "Control de Inventarios y Facturaci\u00F3n\n", "Ayuda Zeus"},
      {"Nominas_Zeus.hlp", "Contenido Zeus N\u00F3minas\n", "Compa\u00F1ias"},
      {"Newton-s-laws_HELP.HLP", "1.  \u0406\u043D\u0441\u0442\u0430\u043B\u044F\u0446\u0456\u044F",
       "\u043F\u0440\u043E\u0433\u0440\u0430\u043C"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string text = Convert(c.file);
    EXPECT_EQ(text.rfind(c.first, 0), 0u) << text.substr(0, 80);
    EXPECT_NE(text.find(c.phrase), std::string::npos);
    EXPECT_EQ(text.find('\0'), std::string::npos);
  }
}

TEST(CorpusHlp, EveryWinHelpFileConverts) {
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(CorpusDir("hlp"))) {
    const std::string name = entry.path().filename().string();
    SCOPED_TRACE(name);
    if (name == "JNE-Calc_help_not_winhelp.hlp") {
      EXPECT_THROW(Convert(name), scv::bytes::EFormatError);
      continue;
    }
    // Topics are separated by one empty line, so the text holds at least one title per topic.
    const std::string text = Convert(name);
    EXPECT_GT(text.size(), 10u);
    ++files;
  }
  EXPECT_EQ(files, 18);
}

// Through the program: every corpus file of both types ends with exit 0 (the one refused file
// with -5), and the text arrives as UTF-8 with a byte-order mark and CR LF line ends.
TEST(CorpusHlp, ThroughTheProgram) {
  if (!std::filesystem::exists(scv::test::BinDir() + "/scvhlp.so")) {
    GTEST_SKIP() << "scvhlp.so not built";
  }
  for (const char* type : {"hlp", "rtf"}) {
    for (const auto& entry : std::filesystem::directory_iterator(CorpusDir(type))) {
      SCOPED_TRACE(entry.path().string());
      scv::test::TTempDir dir;
      const std::string out = dir.File("out.txt");
      const auto run = scv::test::RunScvcmd({"-c65001", entry.path().string(), out});
      // The text file named .hlp is refused by the library: "format not correct", -5.
      const bool refused = entry.path().filename() == "JNE-Calc_help_not_winhelp.hlp";
      EXPECT_EQ(run.exitCode, refused ? 251 : 0) << run.out;
    }
  }
  scv::test::TTempDir dir;
  const std::string out = dir.File("out.txt");
  const auto run = scv::test::RunScvcmd({"-c65001", CorpusDir("hlp") + "/PJAbout.hlp", out});
  ASSERT_EQ(run.exitCode, 0) << run.out;
  const std::string text = ReadFileBytes(out);
  EXPECT_EQ(text.rfind("\xEF\xBB\xBFPJAbout unit\r\n", 0), 0u);

  const std::string rtfOut = dir.File("rtf.txt");
  const auto rtf = scv::test::RunScvcmd({"-c65001", CorpusDir("rtf") + "/accent.rtf", rtfOut});
  ASSERT_EQ(rtf.exitCode, 0) << rtf.out;
  EXPECT_EQ(ReadFileBytes(rtfOut), "\xEF\xBB\xBF le caf\u00E9 o\u00F9 on ne fume pas ");
  const auto latin1 =
      scv::test::RunScvcmd({"-o", "-c1252", CorpusDir("rtf") + "/accent.rtf", rtfOut});
  ASSERT_EQ(latin1.exitCode, 0) << latin1.out;
  EXPECT_EQ(ReadFileBytes(rtfOut), std::string(" le caf\xE9 o\xF9 on ne fume pas \0", 28));
}

} // namespace
