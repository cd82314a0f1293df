// Flag parsing, type texts and the usage text.
#include "frontend/CommandLine.h"

#include <gtest/gtest.h>

namespace scv::frontend {
namespace {

TEST(ParseFlag, AcceptsAndRejectsByTheRules) {
  struct Case {
    const char* arg;
    bool valid;
    bool overwrite;
    const char* forced;
    std::int32_t codePage;
    std::int32_t special;
  };
  const Case cases[] = {
      {"-o", true, true, "", 0, 0},           {"-O", true, true, "", 0, 0},
      {"-c", false, false, "", 0, 0},         {"-s", false, false, "", 0, 0},
      {"-t", false, false, "", 0, 0},         {"-x", false, false, "", 0, 0},
      {"-ox", false, false, "", 0, 0},        {"ab", false, false, "", 0, 0},
      {"-tpdf", true, false, "PDF", 0, 0},    {"-TPDF", true, false, "PDF", 0, 0},
      {"-tDocx", true, false, "DOCX", 0, 0},  {"-thtml", false, false, "", 0, 0},
      {"-tc h", true, false, "C H", 0, 0},    {"-tOC ", true, false, "OC ", 0, 0},
      {"-tXLSX", true, false, "XLSX", 0, 0},  {"-tsxp", false, false, "", 0, 0},
      {"-tdo", false, false, "", 0, 0},       {"-c65001", true, false, "", 65001, 0},
      {"-c$FDE9", true, false, "", 65001, 0}, {"-C0x4E4", true, false, "", 1252, 0},
      {"-c 932", true, false, "", 932, 0},    {"-cabc", false, false, "", 0, 0},
      {"-c1252x", false, false, "", 0, 0},    {"-c0", true, false, "", 0, 0},
      {"-c37", true, false, "", 37, 0},       {"-c52936", true, false, "", 52936, 0},
      {"-c12345", false, false, "", 0, 0},    {"-c1201", false, false, "", 0, 0},
      {"-c-1", false, false, "", 0, 0},       {"-c3", true, false, "", 3, 0},
      {"-s12", true, false, "", 0, 1},        {"-S2", true, false, "", 0, 2},
      {"-sx", false, false, "", 0, 0},        {"-s$", false, false, "", 0, 0},
      {"/tmp/file", false, false, "", 0, 0},  {"--all-text", true, false, "", 0, 0},
      {"--ALL-TEXT", false, false, "", 0, 0}, {"--all-texts", false, false, "", 0, 0},
      {"--all", false, false, "", 0, 0},      {"-all-text", false, false, "", 0, 0},
      {"--", false, false, "", 0, 0},         {"--version", false, false, "", 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arg);
    TRunSettings s;
    s.ArgumentsInvalid = false;
    ParseFlag(c.arg, s);
    EXPECT_EQ(!s.ArgumentsInvalid, c.valid);
    EXPECT_EQ(s.OverwriteFlag, c.overwrite);
    EXPECT_EQ(s.ForcedType, c.forced);
    EXPECT_EQ(s.TargetCodePage, c.codePage);
    EXPECT_EQ(s.SpecialFormat, c.special);
    EXPECT_EQ(s.AllText, std::string_view(c.arg) == "--all-text");
  }
}

TEST(ParseFlag, LaterFlagsOverrideAndOverwriteSticks) {
  TRunSettings s;
  ParseFlag("-o", s);
  ParseFlag("-c1252", s);
  ParseFlag("-c932", s);
  ParseFlag("-tdoc", s);
  ParseFlag("-txls", s);
  EXPECT_TRUE(s.OverwriteFlag);
  EXPECT_EQ(s.TargetCodePage, 932);
  EXPECT_EQ(s.ForcedType, "XLS");
  ParseFlag("-cbad", s);
  EXPECT_TRUE(s.ArgumentsInvalid);
  EXPECT_EQ(s.TargetCodePage, 932);
}

TEST(TypeTextOf, TakesTheExtensionAfterTheLastSeparator) {
  struct Case {
    const char* source;
    const char* want;
  };
  const Case cases[] = {
      {"report.doc", "DOC"}, {"a.b.Docx", "DOCX"},  {"report", ""},   {"report.", "."},
      {"dir.x/report", ""},  {"dir.x\\report", ""}, {"c:report", ""}, {"c:report.pdf", "PDF"},
      {"page.html", "HTML"}, {".hidden", "HIDDEN"}, {"dir/.", "."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    EXPECT_EQ(TypeTextOf(c.source), c.want);
  }
}

TEST(UsageText, IsByteExact) {
  const std::string want =
      "Scrivon Command Version 3.0\r\n"
      "\r\n"
      "Usage: scvcmd [-o] [-c99999] [-t(pdf|doc|ppt|xls|docx|pptx|xlsx|rtf|htm|hlp)] [-s9] "
      "<Source File> <Destination Text File>\r\n"
      "Flag \"-o\": If output file exists then overwrite it.\r\n"
      "Flag \"-c\": Specify the code page identifier for output text file. (Default is "
      "system's code page)\r\n"
      "Flag \"-t\": Force Scrivon use a particular type of extractor, without this flag, "
      "Scrivon is using the file extension to determine which text extractor to use.\r\n"
      "Flag \"-s\": Specify output text file special format.\r\n"
      "    PDF: s0: Reading order; s1: Original layout(default); s2: Raw order\r\n"
      "    DOC: s0: Not keep raw characters(default); s1: Keep raw characters\r\n"
      "If <Destination Text File> is \"*\", the text output NOT to a file but instead to "
      "standard output.\r\n"
      "\r\n"
      "Read Scrivon help to get more details about command usage.";
  EXPECT_EQ(UsageText("scvcmd"), want);
}

} // namespace
} // namespace scv::frontend
