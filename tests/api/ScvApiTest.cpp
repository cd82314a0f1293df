// The C library interface: results, buffers, type texts, and the example program using the
// shared library.
#include "scv/scv.h"
#include "support/ProcessRunner.h"
#include "support/TestPaths.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace scv::test {
namespace {

std::string Sample(const std::string& name) {
  return SourceDir() + "/samples/" + name;
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

TEST(ScvApi, ExampleProgramUsesTheSharedLibrary) {
  const auto r = RunProgram(BinDir() + "/scv_example", {Sample("sample.docx")}, {"LC_ALL=C"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.out.find("lighthouse survey"), std::string::npos);
  const auto bad = RunProgram(BinDir() + "/scv_example", {"/nonexistent.doc"}, {"LC_ALL=C"});
  EXPECT_EQ(bad.exitCode, 1);
}

} // namespace
} // namespace scv::test
