// The extractor table: one row per type text with exactly one entry, the offered types the
// command line lists, and the lookup the library dispatches by.
#include "api/ExtractorTable.h"

#include "scv/scv.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace scv::api {
namespace {

TEST(ExtractorTable, EveryRowHasOneEntryAndItsOwnUpperCaseType) {
  std::set<std::string_view> seen;
  for (const TExtractorRow& row : ExtractorRows()) {
    SCOPED_TRACE(std::string(row.typeText));
    EXPECT_NE(row.entry == nullptr, row.special == nullptr);
    EXPECT_TRUE(seen.insert(row.typeText).second);
    for (const char c : row.typeText) {
      EXPECT_TRUE(c >= 'A' && c <= 'Z');
    }
    EXPECT_EQ(FindExtractor(row.typeText), &row);
  }
}

TEST(ExtractorTable, OfferedTypesAreTheUsageList) {
  EXPECT_EQ(OfferedTypes(), "PDF DOC PPT XLS DOCX PPTX XLSX RTF HTM HLP");
  EXPECT_STREQ(scv_types(), "PDF DOC PPT XLS DOCX PPTX XLSX RTF HTM HLP");
  // HTML is accepted (the extension of most HTML files) but not offered, and converts as HTM.
  const TExtractorRow* html = FindExtractor("HTML");
  ASSERT_NE(html, nullptr);
  EXPECT_EQ(html->options & kOffered, 0u);
  EXPECT_EQ(html->entry, FindExtractor("HTM")->entry);
  // Only Word files are tried again as RTF, and only the entries that take -s take it.
  for (const TExtractorRow& row : ExtractorRows()) {
    SCOPED_TRACE(std::string(row.typeText));
    EXPECT_EQ((row.options & kRetryAsRtf) != 0, row.typeText == "DOC");
    EXPECT_EQ(row.special != nullptr, row.typeText == "DOC" || row.typeText == "PDF");
  }
}

TEST(ExtractorTable, LookupIsExact) {
  EXPECT_EQ(FindExtractor("doc"), nullptr);
  EXPECT_EQ(FindExtractor("DO"), nullptr);
  EXPECT_EQ(FindExtractor("DOC "), nullptr);
  EXPECT_EQ(FindExtractor(""), nullptr);
  EXPECT_EQ(FindExtractor("TXT"), nullptr);
}

} // namespace
} // namespace scv::api
