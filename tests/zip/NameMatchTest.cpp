#include "zip/NameMatch.h"

#include <gtest/gtest.h>

namespace scv::zip {
namespace {

TEST(NameMatch, FoldsCaseAndSeparators) {
  struct Case {
    const char* input;
    const char* want;
  };
  const Case cases[] = {
      {"Word/Document.XML", "word\\document.xml"},
      {"xl\\Worksheets\\Sheet1.xml", "xl\\worksheets\\sheet1.xml"},
      {"\xC3\x84rger.txt", "\xC3\xA4rger.txt"}, // Ä -> ä
      {"\xD0\x9F\xD0\x81", "\xD0\xBF\xD1\x91"}, // П Ё -> п ё
      {"\xC4\xB9", "\xC4\xBA"},                 // Ĺ -> ĺ (odd capital)
      {"\xC5\xB8", "\xC3\xBF"},                 // Ÿ -> ÿ
      {"bad\xFF\xC3", "bad\xFF\xC3"},           // malformed bytes stay
      {"\xC3\x97", "\xC3\x97"},                 // × has no case
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    EXPECT_EQ(FoldName(c.input), c.want);
  }
}

TEST(NameMatch, Wildcards) {
  struct Case {
    const char* pattern;
    const char* name;
    bool want;
  };
  const Case cases[] = {
      {"word\\document.xml", "word\\document.xml", true},
      {"word\\document.xml", "word\\document.xmlx", false},
      {"*", "anything\\at\\all", true},
      {"*", "", true},
      {"", "", true},
      {"", "a", false},
      {"*.xml", "xl\\sheet1.xml", true},
      {"*.xml", "xl\\sheet1.xm", false},
      {"sheet?.xml", "sheet1.xml", true},
      {"sheet?.xml", "sheet12.xml", false},
      {"sheet<0-9>.xml", "sheet7.xml", true},
      {"sheet<0-9>.xml", "sheeta.xml", false},
      {"sheet<!0-9>.xml", "sheeta.xml", true},
      {"sheet<^0-9>.xml", "sheet3.xml", false},
      {"<abc>x", "bx", true},
      {"a<bc", "a<bc", true}, // unclosed set: the "<" is itself
      {"a*b*c", "aXXbYYc", true},
      {"a*b*c", "aXXbYY", false},
      {"*a*a*a*a*b", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", false},
      {"?", "\xC3\xA4", true}, // one character, two bytes
      {"??", "\xC3\xA4", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.pattern) + " ~ " + c.name);
    EXPECT_EQ(IsMatch(c.pattern, c.name), c.want);
  }
  EXPECT_TRUE(HasWildcards("a*"));
  EXPECT_TRUE(HasWildcards("<a>"));
  EXPECT_FALSE(HasWildcards("word\\document.xml"));
}

} // namespace
} // namespace scv::zip
