// Entity decoding and encoding, and the text an element joins from its tokens.
#include "xml/XMLEntities.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace scv::xml {
namespace {

TEST(XMLEntities, Entities) {
  struct Case {
    const char* in;
    const char* want;
  } cases[] = {
      {"a &lt; b &gt; c", "a < b > c"},
      {"&quot;x&quot;", "\"x\""},
      {"&amp;lt;", "&lt;"},
      {"x<br/>y", "x\r\ny"},
      {"&LT;", "&LT;"},
      {"&amp;amp;", "&amp;"},
      {"&&lt;", "&<"},
      // The apostrophe and character references, decimal and hexadecimal, to UTF-8.
      {"&apos;milk&apos;", "'milk'"},
      {"&#65;&#x41;&#x0042;&#0067;", "AABC"},
      {"&#xe9; &#233; &#x20AC; &#x1F600;", "\xC3\xA9 \xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"},
      {"&#x10FFFF;", "\xF4\x8F\xBF\xBF"},
      // References to no character stay as written.
      {"&#0; &#x0; &#xD800; &#xDFFF; &#x110000; &#99999999999999999999;",
       "&#0; &#x0; &#xD800; &#xDFFF; &#x110000; &#99999999999999999999;"},
      {"&#; &#x; &#X41; &#65 &#6a; &#x4G;", "&#; &#x; &#X41; &#65 &#6a; &#x4G;"},
      {"&#38;lt; &#x26;amp;", "&lt; &amp;"},
      {"&#&#65;", "&#A"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(DecodeEntities(c.in), c.want);
  }
  EXPECT_EQ(EncodeEntities("a&b<c>\"d\r\ne\rf"), "a&amp;b&lt;c&gt;&quot;d<br/>e\rf");
}

std::string Joined(const std::vector<std::pair<std::string, bool>>& tokens) {
  TJoinedText j;
  for (const auto& [t, verbatim] : tokens) {
    j.Join(t, false, verbatim);
  }
  std::string out;
  j.AppendTo(out);
  EXPECT_EQ(out.size(), j.Size());
  return out;
}

// Every token is decoded once, as it joins; a verbatim one not at all. Joined text is never
// decoded again, and text joined to blank text replaces it.
TEST(XMLEntities, JoinedTextDecodesEachTokenOnce) {
  using V = std::vector<std::pair<std::string, bool>>;
  const struct {
    V tokens;
    std::string want;
  } cases[] = {
      {V{{"a", false}, {"b", false}}, "a\r\nb"},
      {V{{"&amp;lt;", false}, {"x", false}}, "&lt;\r\nx"},
      {V{{"&amp;amp;lt;", false}, {"x", false}, {"y", false}}, "&amp;lt;\r\nx\r\ny"},
      {V{{"&lt;br/&gt;", false}, {"  ", false}}, "<br/>\r\n  "},
      {V{{"  ", false}, {"a", false}}, "a"},
      {V{{"&#32;", false}, {"a", false}}, "a"},
      {V{{"&amp;", true}, {"&amp;", false}}, "&amp;\r\n&"},
      {V{{" ", true}, {"x", false}}, "x"},
      {V{{"", true}}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tokens[0].first);
    EXPECT_EQ(Joined(c.tokens), c.want);
  }
  // Many joins to one element: each token decoded once, whatever came before it.
  V many{{"&amp;" + std::string(20000, 'x') + "amp;lt;", false}};
  std::string want = "&" + std::string(20000, 'x') + "amp;lt;";
  for (int i = 0; i < 20000; ++i) {
    many.emplace_back("&amp;lt;", false);
    want += "\r\n&lt;";
  }
  EXPECT_EQ(Joined(many), want);
}

} // namespace
} // namespace scv::xml
