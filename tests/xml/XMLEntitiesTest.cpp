// Entity decoding and encoding, and the repeated decoding of an element's joined text against a
// whole re-decoding at every join.
#include "xml/XMLEntities.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>
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
      {"&apos; &#65; &#x41;", "&apos; &#65; &#x41;"},
      {"x<br/>y", "x\r\ny"},
      {"&LT;", "&LT;"},
      {"&amp;amp;", "&amp;"},
      {"&&lt;", "&<"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(DecodeEntities(c.in), c.want);
  }
  EXPECT_EQ(EncodeEntities("a&b<c>\"d\r\ne\rf"), "a&amp;b&lt;c&gt;&quot;d<br/>e\rf");
}

// The joined text as the reader defines it: the whole string decoded again at every join.
std::string NaiveDecode(std::string s) {
  const std::pair<std::string, std::string> steps[] = {
      {"<br/>", "\r\n"}, {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&amp;", "&"}};
  for (const auto& [from, to] : steps) {
    std::string out;
    std::size_t i = 0;
    for (;;) {
      const std::size_t hit = s.find(from, i);
      if (hit == std::string::npos) {
        out += s.substr(i);
        break;
      }
      out += s.substr(i, hit - i);
      out += to;
      i = hit + from.size();
    }
    s = out;
  }
  return s;
}

std::string NaiveJoin(const std::vector<std::string>& tokens) {
  std::string text;
  for (const std::string& t : tokens) {
    const bool blank = std::all_of(text.begin(), text.end(),
                                   [](char c) { return static_cast<unsigned char>(c) <= 32; });
    text = NaiveDecode(blank ? t : text.append("\r\n").append(t));
  }
  return text;
}

std::string Joined(const std::vector<std::string>& tokens) {
  TJoinedText j;
  for (const std::string& t : tokens) {
    j.Join(t, false);
  }
  std::string out;
  j.AppendTo(out);
  EXPECT_EQ(out.size(), j.Size());
  return out;
}

TEST(XMLEntities, JoinedTextMatchesWholeRedecoding) {
  using V = std::vector<std::string>;
  const V cases[] = {
      V{"a", "b"},
      V{"&amp;lt;", "x"},
      V{"&amp;amp;lt;", "x", "y"},
      V{"&amp;lt;br/&amp;gt;", "1", "2", "3"},
      V{"&lt;br/&gt;", "  "},
      V{"&lt;br/&gt;", "  ", "next"},
      V{"<br&amp;lt;br/>/>", "a", "b", "c"},
      V{"  ", "a"},
  };
  for (const V& c : cases) {
    SCOPED_TRACE(c[0]);
    EXPECT_EQ(Joined(c), NaiveJoin(c));
  }
  // Random texts over the characters that form entities.
  std::mt19937 rng(7);
  const std::string alphabet = "&&&<>;ampltgqoubr/ x";
  for (int round = 0; round < 3000; ++round) {
    V tokens;
    const int n = 1 + static_cast<int>(rng() % 5);
    for (int i = 0; i < n; ++i) {
      std::string t;
      const int len = 1 + static_cast<int>(rng() % 14);
      for (int k = 0; k < len; ++k) {
        t += alphabet[rng() % alphabet.size()];
      }
      tokens.push_back(t);
    }
    ASSERT_EQ(Joined(tokens), NaiveJoin(tokens)) << "round " << round;
  }
}

TEST(XMLEntities, DeeplyEncodedTextJoinsInLinearTime) {
  // One text whose entity nesting takes a pass per level, followed by as many joins: whole
  // re-decoding would do about 50,000 passes over 200 kB.
  constexpr int kLevels = 50000;
  std::string deep = "&";
  for (int i = 0; i < kLevels; ++i) {
    deep += "amp;";
  }
  deep += "lt;";
  const auto start = std::chrono::steady_clock::now();
  TJoinedText j;
  j.Join(deep, true);
  for (int i = 0; i < kLevels + 5; ++i) {
    j.Join("x", true);
  }
  std::string out;
  j.AppendTo(out);
  const auto seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_TRUE(out.starts_with("<\r\nx\r\nx")) << out.substr(0, 20);
  EXPECT_EQ(out.size(), 1 + 3 * static_cast<std::size_t>(kLevels + 5));
  EXPECT_LT(seconds, 5.0);
}

} // namespace
} // namespace scv::xml
