// Every RTF file of the shared corpus converts to valid UTF-8; phrases spot-check code pages,
// Unicode, tables, fields and footnotes.
#include "rtf/RtfReader.h"
#include "support/ProcessRunner.h"
#include "support/TestPaths.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

bool IsValidUtf8(const std::string& s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto b = static_cast<unsigned char>(s[i]);
    std::size_t n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) {
      return false;
    }
    for (std::size_t k = 1; k < n; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) {
        return false;
      }
    }
    i += n;
  }
  return true;
}

std::string Convert(const std::string& name) {
  return scv::rtf::RtfToUtf8(scv::test::ReadFileBytes(scv::test::CorpusDir("rtf") + "/" + name));
}

TEST(CorpusRtf, EveryFileConvertsToUtf8) {
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(scv::test::CorpusDir("rtf"))) {
    SCOPED_TRACE(entry.path().string());
    const std::string text = scv::rtf::RtfToUtf8(scv::test::ReadFileBytes(entry.path().string()));
    EXPECT_TRUE(IsValidUtf8(text));
    EXPECT_EQ(text.find("\\'"), std::string::npos); // no escapes leak into the text
    EXPECT_EQ(text.find("fcharset"), std::string::npos);
    ++files;
  }
  EXPECT_GE(files, 40);
}

TEST(CorpusRtf, SpotChecks) {
  struct TCase {
    const char* file;
    const char* phrase;
  };
  const TCase cases[] = {
      {"testJapaneseJisEncoding.rtf", "\u4E2D\u570B"},
      {"testJapaneseJisEncodingTwoFonts.rtf", "\u4E2D\u570B"},
      {"testJapaneseUtf8Encoding.rtf", "\u4E2D\u570B"},
      {"testMultiByteHex.rtf", "\u304A\u5143\u6C17\u3067\u3059\u304B\uFF1F"},
      {"test10001Encoding.rtf", "\u304A\u8AAD\u307F\u304F\u3060\u3055\u3044"},
      {"testGreekEncoding.rtf", "Unicode \u20AC\u03A9"},
      {"testKoreanEncoding.rtf", "MS Project Addin ProjectPlus"},
      {"test950Encoding.rtf", "Test Text\n"},
      {"accent.rtf", "le caf\u00E9 o\u00F9 on ne fume pas"},
      {"unicode.rtf", "\u201Chi\u201D\u2018hi\u2019"},
      {"testNegativeUnicode.rtf", "F700\uF700\uF701\uF702"},
      {"testSpecialChars.rtf", "Emdash: \u2014"},
      {"testUpr.rtf", "End User License Agreement"},
      {"table_simple.rtf", "A \tB \tC \tD \n"},
      {"table_nested.rtf", "Deep A\tDeep B\nDeep C\tDeep D\n"},
      {"link.rtf", "pandoc"},
      {"bookmark.rtf", "click me"},
      {"footnote.rtf", "Margaret Mead.\n\nSee Sahlins, Bateson, and Geertz"},
      {"writer.rtf", "This is a set of tests for pandoc."},
      {"PJAbout.rtf", "This unit contains the implementation of the TPJAboutBoxDlg"},
      {"tables.rtf", "Right\tLeft\tCenter\tDefault"},
      {"list_legacy.rtf", "1.\tA\nNumbered\nList\n\u2022\tA\nBulleted"},
      {"list_complex.rtf", "1.\tOne\n2.\tTwo\na.\tThree"},
      {"table_error_codes.rtf", "Code\tError\n3\tPandocFailOnWarningError\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    EXPECT_NE(Convert(c.file).find(c.phrase), std::string::npos) << Convert(c.file);
  }
}

TEST(CorpusRtf, SkippedDestinationsLeaveNoTrace) {
  struct TCase {
    const char* file;
    const char* absent;
  };
  const TCase cases[] = {
      {"image.rtf", "89504e47"},          // picture data
      {"testUpr.rtf", "Times New Roman"}, // font table inside \upr
      {"formatting.rtf", "Normal"},       // style sheet
      {"testNegativeUnicode.rtf", "HYPERLINK"},
      {"bookmark.rtf", "bookmark_1"},
      {"test874Encoding.rtf", "Tahoma"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    EXPECT_EQ(Convert(c.file).find(c.absent), std::string::npos);
  }
}

} // namespace
