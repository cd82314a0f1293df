// Locale format data: built-in en-US values, C library locales, strftime translation, eras.
#include "platform/LocaleFormat.h"

#include "support/ProcessRunner.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace scv::platform {
namespace {

// One line per field, in a fixed order, so a whole locale compares at once.
std::string Dump(const TLocaleFormat& f) {
  std::string s;
  for (const std::string* field :
       {&f.decimalSeparator, &f.thousandSeparator, &f.dateSeparator, &f.timeSeparator,
        &f.amDesignator, &f.pmDesignator, &f.shortDateFormat, &f.longDateFormat, &f.shortTimeFormat,
        &f.longTimeFormat, &f.shortMonthNames[2], &f.longMonthNames[11], &f.shortDayNames[0],
        &f.longDayNames[3]}) {
    s += *field;
    s += '\n';
  }
  std::string era;
  s += EraName(f, 2023, 3, 15, false, era) ? era : "(none)";
  s += '\n';
  s += EraName(f, 2023, 3, 15, true, era) ? era : "(none)";
  s += '\n';
  s += EraYear(f, 2023, 3, 15, 1, era) ? era : "(none)";
  s += '\n';
  s += EraYear(f, 2023, 3, 15, 3, era) ? era : "(none)";
  s += '\n';
  return s;
}

const char* const kEnUsDump =
    ".\n,\n/\n:\nAM\nPM\nm/d/yyyy\ndddd, mmmm d, yyyy\nh:mm AMPM\nh:mm:ss AMPM\nMar\n"
    "December\nSun\nWednesday\nA.D.\nA.D.\n23\n2023\n";

// Reads a locale in a child process with LOCPATH set: the C library keeps loaded locale data
// for the life of a process, which the leak checker would report.
std::string ReadInChild(const std::string& locPath, const std::string& name) {
  int fds[2];
  if (pipe(fds) != 0) {
    return "pipe failed";
  }
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    if (!locPath.empty()) {
      setenv("LOCPATH", locPath.c_str(), 1);
    }
    const std::string dump = Dump(ReadLocaleFormat(name, name));
    const ssize_t n = write(fds[1], dump.data(), dump.size());
    _exit(n == static_cast<ssize_t>(dump.size()) ? 0 : 1);
  }
  close(fds[1]);
  std::string out;
  char buf[512];
  ssize_t n = 0;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) {
    out.append(buf, static_cast<std::size_t>(n));
  }
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return out;
}

// Compiles a locale from the system's definitions into dir; false when that is not possible.
bool MakeLocale(const std::string& dir, const char* source, const char* charmap,
                const std::string& name) {
  const std::string cmd = std::string("localedef -i ") + source + " -f " + charmap + " '" + dir +
                          "/" + name + "' >/dev/null 2>&1";
  const int rc = std::system(cmd.c_str());
  return rc != -1 && WIFEXITED(rc) && (WEXITSTATUS(rc) == 0 || WEXITSTATUS(rc) == 1) &&
         access((dir + "/" + name + "/LC_TIME").c_str(), R_OK) == 0;
}

TEST(LocaleFormat, BuiltInValuesForCAndEnUs) {
  const char* names[] = {"C",          "POSIX",       "C.UTF-8",          "C.utf8",
                         "en_US",      "en_US.UTF-8", "en_US.ISO-8859-1", "",
                         "xx_YY.UTF-8" /* not installed */};
  for (const char* name : names) {
    SCOPED_TRACE(name);
    EXPECT_EQ(Dump(ReadLocaleFormat(name, name)), kEnUsDump);
  }
  EXPECT_EQ(Dump(EnUsLocaleFormat()), kEnUsDump);
  // The process's own data under LC_ALL=C (the test environment).
  if (const char* all = std::getenv("LC_ALL"); all != nullptr && std::string(all) == "C") {
    EXPECT_EQ(Dump(UserLocaleFormat()), kEnUsDump);
  }
  const TLocaleFormat f = EnUsLocaleFormat();
  EXPECT_EQ(f.longMonthNames[0], "January");
  EXPECT_EQ(f.shortDayNames[6], "Sat");
}

TEST(LocaleFormat, StrftimeTranslation) {
  struct Case {
    const char* pattern;
    const char* want;
  };
  const Case cases[] = {
      {"%d.%m.%Y", "dd.mm.yyyy"},
      {"%m/%d/%y", "mm/dd/yy"},
      {"%-d/%-m/%Y", "d/m/yyyy"},
      {"%e %b %Y", "d mmm yyyy"},
      {"%A, %B %d", "dddd, mmmm dd"},
      {"%a %h", "ddd mmm"},
      {"%H:%M:%S", "hh:mm:ss"},
      {"%I:%M %p", "hh:mm AMPM"},
      {"%l:%M %P", "h:mm AMPM"},
      {"%k.%M", "h.mm"},
      {"%Y年%m月%d日", "yyyy年mm月dd日"},
      {"%Ey %EC %Od", "yy  dd"},        // era conversions have no token of their own
      {"%Z %j %%", "  %"},              // conversions without a token write nothing
      {"Uhr %H", "\"U\"\"h\"\"r\" hh"}, // letters are quoted so they stay literal
      {"'%H\"", "\"'\"hh'\"'"},
      {"%", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pattern);
    EXPECT_EQ(StrftimePatternToTokens(c.pattern), c.want);
  }
}

TEST(LocaleFormat, LocalesFromTheCLibrary) {
  test::TTempDir dir;
  const std::string& path = dir.Path();
  if (!MakeLocale(path, "de_DE", "ISO-8859-1", "de_DE.ISO-8859-1") ||
      !MakeLocale(path, "ja_JP", "UTF-8", "ja_JP.UTF-8")) {
    GTEST_SKIP() << "localedef cannot build locales here";
  }
  // Names in Latin-1 arrive as UTF-8; separators and patterns come from the locale.
  EXPECT_EQ(ReadInChild(path, "de_DE.ISO-8859-1"),
            ",\n.\n.\n:\n\n\ndd.mm.yyyy\ndddd, d mmmm yyyy\nhh:mm\nhh:mm:ss\nM\xC3\xA4r\n"
            "Dezember\nSo\nMittwoch\nA.D.\nA.D.\n23\n2023\n");
  // Japanese: unit words are no separators, the seconds go with theirs, eras come from the
  // locale and the short era name is its first character.
  EXPECT_EQ(ReadInChild(path, "ja_JP.UTF-8"),
            ".\n,\n/\n:\n午前\n午後\nyyyy年mm月dd日\nyyyy mmmm d, dddd\nhh時mm分\n"
            "hh時mm分ss秒\n 3月\n12月\n日\n水曜日\n令和\n令\n5\n5\n");
  // A locale that is not installed keeps the built-in values.
  EXPECT_EQ(ReadInChild(path, "de_AT.UTF-8"), kEnUsDump);
}

} // namespace
} // namespace scv::platform
