// The C library interface: results, buffers, type texts, and the example program using the
// shared library.
#include "scv/scv.h"
#include "support/ProcessRunner.h"
#include "support/TestPaths.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace scv::test {
namespace {

std::string Sample(const std::string& name) {
  return SourceDir() + "/samples/" + name;
}

std::string TextOf(unsigned char* text, size_t length) {
  std::string out = text != nullptr ? std::string(reinterpret_cast<const char*>(text), length) : "";
  scv_free(text);
  return out;
}

TEST(ScvApi, ConvertsWithTheTypeFromTheNameOrGiven) {
  unsigned char* text = nullptr;
  size_t length = 0;
  ASSERT_EQ(scv_convert_file(Sample("sample.xlsx").c_str(), nullptr, 65001, 0, &text, &length),
            SCV_OK);
  const std::string got(reinterpret_cast<char*>(text), length);
  scv_free(text);
  EXPECT_TRUE(got.starts_with("\xEF\xBB\xBF"));
  EXPECT_NE(got.find("Lamp oil"), std::string::npos);

  // The type is matched without regard to case.
  ASSERT_EQ(scv_convert_file(Sample("sample.xlsx").c_str(), "xlsx", 65001, 0, &text, &length),
            SCV_OK);
  EXPECT_EQ(TextOf(text, length), got);

  // A forced type wins over the extension, as -t does.
  EXPECT_EQ(scv_convert_file(Sample("sample.xlsx").c_str(), "DOC", 65001, 0, &text, &length),
            SCV_E_FORMAT);
  EXPECT_EQ(text, nullptr);
  EXPECT_EQ(length, 0u);
}

TEST(ScvApi, FailuresUseTheCommandLineCodes) {
  TTempDir dir;
  const std::string plain = dir.Write("notes.txt", "text");
  unsigned char* text = nullptr;
  size_t length = 0;
  EXPECT_EQ(scv_convert_file(dir.File("missing.doc").c_str(), nullptr, 0, 0, &text, &length),
            SCV_E_NOT_FOUND);
  EXPECT_EQ(scv_convert_file(nullptr, nullptr, 0, 0, &text, &length), SCV_E_NOT_FOUND);
  EXPECT_EQ(scv_convert_file(plain.c_str(), nullptr, 0, 0, &text, &length),
            SCV_E_TYPE_NOT_SUPPORTED);
  EXPECT_EQ(scv_convert_file(plain.c_str(), "", 0, 0, &text, &length), SCV_E_TYPE_NOT_SUPPORTED);
  EXPECT_EQ(scv_convert_file(plain.c_str(), "XLS", 0, 0, &text, &length), SCV_E_FORMAT);
  EXPECT_EQ(scv_convert_file(plain.c_str(), nullptr, 0, 0, nullptr, &length), SCV_E_ARGUMENT);
  scv_free(nullptr);
}

TEST(ScvApi, TypeOfFollowsTheExtensionRules) {
  char buf[8];
  EXPECT_EQ(scv_type_of("a/b.c/report.DocX", buf, sizeof buf), 4u);
  EXPECT_STREQ(buf, "DOCX");
  EXPECT_EQ(scv_type_of("report.", buf, sizeof buf), 1u);
  EXPECT_STREQ(buf, ".");
  EXPECT_EQ(scv_type_of("dir.x/report", buf, sizeof buf), 0u);
  EXPECT_STREQ(buf, "");
  char small[3];
  EXPECT_EQ(scv_type_of("x.abcdef", small, sizeof small), 6u);
  EXPECT_STREQ(small, "AB");
  EXPECT_STREQ(scv_version(), "3.0.0");
}

TEST(ScvApi, MemoryGivesTheBytesAndResultsOfTheFile) {
  TTempDir dir;
  struct Case {
    std::string path;
    const char* type;
  };
  const Case cases[] = {
      {Sample("sample.doc"), "DOC"},
      {Sample("sample.docx"), "docx"},
      {Sample("sample.ppt"), "PPT"},
      {Sample("sample.pptx"), "Pptx"},
      {Sample("sample.xls"), "XLS"},
      {Sample("sample.xlsx"), "XLSX"},
      {Sample("sample.pdf"), "pdf"},
      {Sample("sample.html"), "HTML"},
      {Sample("sample.rtf"), "RTF"},
      {CorpusDir("hlp") + "/DemoHelp1.hlp", "HLP"},
      {dir.Write("bad.xls", "not a workbook"), "XLS"},
      {dir.Write("rtf.doc", "{\\rtf1 retried}"), "DOC"},
      {dir.Write("empty.docx", ""), "DOCX"},
      {CorpusDir("doc") + "/PasswordProtected.doc", "DOC"},
  };
  for (const auto& c : cases) {
    for (const int32_t codePage : {65001, 1200, 1252, 932}) {
      SCOPED_TRACE(c.path + " " + std::to_string(codePage));
      const std::string bytes = ReadFileBytes(c.path);
      unsigned char* fileText = nullptr;
      size_t fileLength = 0;
      const int32_t fromFile =
          scv_convert_file(c.path.c_str(), c.type, codePage, 0, &fileText, &fileLength);
      unsigned char* memText = nullptr;
      size_t memLength = 0;
      const int32_t fromMemory =
          scv_convert_memory(bytes.data(), bytes.size(), c.type, codePage, 0, &memText, &memLength);
      EXPECT_EQ(fromMemory, fromFile);
      EXPECT_EQ(TextOf(memText, memLength), TextOf(fileText, fileLength));
    }
  }
}

TEST(ScvApi, ArgumentsItCannotServe) {
  unsigned char* text = nullptr;
  size_t length = 0;
  const std::string docx = ReadFileBytes(Sample("sample.docx"));
  struct Case {
    const char* name;
    const void* bytes;
    size_t size;
    const char* type;
    int32_t codePage;
    int32_t want;
  };
  const Case cases[] = {
      {"no type", docx.data(), docx.size(), nullptr, 65001, SCV_E_TYPE_NOT_SUPPORTED},
      {"unknown type", docx.data(), docx.size(), "TXT", 65001, SCV_E_TYPE_NOT_SUPPORTED},
      {"no bytes but a size", nullptr, 10, "DOCX", 65001, SCV_E_ARGUMENT},
      {"unknown code page", docx.data(), docx.size(), "DOCX", 12345, SCV_E_ARGUMENT},
      {"UTF-16BE is not a target", docx.data(), docx.size(), "DOCX", 1201, SCV_E_ARGUMENT},
      {"EBCDIC is", docx.data(), docx.size(), "DOCX", 37, SCV_OK},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(scv_convert_memory(c.bytes, c.size, c.type, c.codePage, 0, &text, &length), c.want);
    EXPECT_EQ(text == nullptr, c.want != SCV_OK);
    scv_free(text);
  }
  EXPECT_EQ(scv_convert_file(Sample("sample.docx").c_str(), nullptr, 12345, 0, &text, &length),
            SCV_E_ARGUMENT);
  EXPECT_EQ(scv_convert_memory(docx.data(), docx.size(), "DOCX", 65001, 0, nullptr, &length),
            SCV_E_ARGUMENT);
}

TEST(ScvApi, ResultMessagesAreTheCommandLinesWithoutNames) {
  struct Case {
    int32_t code;
    const char* want;
  };
  const Case cases[] = {
      {SCV_OK, "OK"},
      {1, "Output file already exists, convert canceled"},
      {SCV_E_LIBRARY_MISSING, "Convert dll file load error"},
      {SCV_E_NOT_FOUND, "Input file not exists"},
      {SCV_E_TYPE_NOT_SUPPORTED, "Input file type not support"},
      {SCV_E_OPEN, "Input file open error"},
      {SCV_E_FORMAT, "Input file format not correct"},
      {-6, "Output file create error"},
      {-7, "Output file write error"},
      {SCV_E_ENCRYPTED, "Input file is encrypted"},
      {SCV_E_ARGUMENT, "Invalid argument"},
      {-15, "Unknown result"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_STREQ(scv_result_message(c.code), c.want);
  }
}

TEST(ScvApi, ConversionLeavesTheHostLocaleAlone) {
  // A host whose environment names another locale keeps its own process locale (here "C"):
  // the library reads the environment into a locale object of its own.
  ASSERT_EQ(setenv("LC_ALL", "C.UTF-8", 1), 0);
  const std::string before = setlocale(LC_ALL, nullptr);
  unsigned char* text = nullptr;
  size_t length = 0;
  ASSERT_EQ(scv_convert_file(Sample("sample.xls").c_str(), nullptr, 0, 0, &text, &length), SCV_OK);
  scv_free(text);
  EXPECT_EQ(setlocale(LC_ALL, nullptr), before);
  char number[16];
  std::snprintf(number, sizeof number, "%.2f", 1.5);
  EXPECT_STREQ(number, "1.50");
}

TEST(ScvApi, ExampleProgramUsesTheSharedLibrary) {
  const auto r = RunProgram(BinDir() + "/scv_example", {Sample("sample.docx")}, {"LC_ALL=C"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.out.find("lighthouse survey"), std::string::npos);
  const auto bad = RunProgram(BinDir() + "/scv_example", {"/nonexistent.doc"}, {"LC_ALL=C"});
  EXPECT_EQ(bad.exitCode, 1);
}

} // namespace
} // namespace scv::test
