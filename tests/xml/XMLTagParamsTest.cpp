// Attributes as the XML reader splits and looks them up: its quirks, their cost, and the
// fast rules against a naive line-by-line processing.
#include "xml/XMLTagParams.h"

#include "xml/XMLEntities.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>
#include <vector>

namespace scv::xml {
namespace {

std::vector<std::string> Params(std::string_view tag) {
  TParamList p;
  ParseTagParams(tag, p);
  std::vector<std::string> out;
  for (std::size_t i = 0; i < p.Count(); ++i) {
    out.push_back(p[i]);
  }
  return out;
}

TEST(XMLTagParams, AttributeQuirks) {
  using V = std::vector<std::string>;
  struct Case {
    const char* name;
    const char* tag;
    V want;
  } cases[] = {
      {"plain", "<c r=\"A1\" t=\"s\">", V{"r=A1", "t=s"}},
      {"no space no attributes", "<c>", V{}},
      {"empty-element slash dropped", "<c r=\"A1\"/>", V{"r=A1"}},
      {"space inside quotes kept", "<a b=\"x y\" c=\"z\">", V{"b=x y", "c=z"}},
      {"empty quoted value keeps its quotes", "<a b=\"\">", V{"b=\"\""}},
      {"one-character value loses its quotes", "<a b=\"x\">", V{"b=x"}},
      {"unquoted value", "<a b=1>", V{"b=1"}},
      {"single quotes not recognised", "<a b='x y'>", V{"b='x", "y'"}},
      {"values decoded", "<a b=\"&lt;&amp;lt;&quot;\">", V{"b=<&lt;\""}},
      {"trailing space is never examined", "<dimension ref=\"B2\" />", V{"ref=B2\" "}},
      {"double space gives an empty line", "<a b=\"1\"  c=\"2\">", V{"b=1", "", "c=2"}},
      {"line without =", "<input checked>", V{"checked"}},
      {"repeated name: first processed twice, second as written", "<a b=\"\"\"x\"\"\" b=\"y\">",
       V{"b=\"x\"", "b=\"y\""}},
      {"repeated name in other case renames the first", "<a A=\"1\" a=\"2\">", V{"a=1", "a=\"2\""}},
      {"empty value removes the line and the rest is still read", "<a b= c=\"2\" d=\"3\">",
       V{"c=2", "d=3"}},
      {"line breaks in the tag split lines", "<a b=\"x\ny\">", V{"b=\"x", "y\""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Params(c.tag), c.want);
  }
}

TEST(XMLTagParams, ManyAttributesCostLinearTime) {
  // Tens of thousands of distinct names, empty values among them, and a repeated name at the
  // end (which rules out processing each line on its own).
  constexpr int kCount = 40000;
  std::string tag = "<e";
  for (int i = 0; i < kCount; ++i) {
    tag += " n" + std::to_string(i) + (i % 3 == 0 ? "=" : "=\"v" + std::to_string(i) + "\"");
  }
  tag += " N1=\"x\">";
  const auto start = std::chrono::steady_clock::now();
  TParamList p;
  ParseTagParams(tag, p);
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 5.0);
  EXPECT_EQ(p.Count(), static_cast<std::size_t>(kCount - (kCount + 2) / 3 + 1));
  EXPECT_EQ(p[0], "N1=v1"); // the repeated name stored its value into the first line
  EXPECT_EQ(p[p.Count() - 1], "N1=\"x\"");
}

// The attribute rules as a list of lines processed one index at a time through name
// look-ups (a deleted line shifts the later ones, so the index is adjusted).
std::vector<std::string> NaiveParams(const std::vector<std::string>& lines) {
  TParamList p;
  for (const std::string& line : lines) {
    p.Add(line);
  }
  const std::size_t original = p.Count();
  std::size_t deleted = 0;
  for (std::size_t k = 0; k < original; ++k) {
    const std::size_t i = k - deleted;
    if (i >= p.Count()) {
      break;
    }
    const std::string name(p.NameAt(i));
    std::string value(p.Value(name));
    if (value.size() > 2) {
      if (value.front() == '"') {
        value.erase(0, 1);
      }
      if (value.back() == '"') {
        value.pop_back();
      }
    }
    value = DecodeEntities(value);
    const std::size_t before = p.Count();
    p.SetValue(name, value);
    deleted += p.Count() < before ? 1 : 0;
  }
  std::vector<std::string> out;
  for (std::size_t i = 0; i < p.Count(); ++i) {
    out.push_back(p[i]);
  }
  return out;
}

TEST(XMLTagParams, AttributeRulesEqualNaiveProcessing) {
  std::mt19937 rng(5);
  const char* names[] = {"a", "A", "b", "", "ab", "aB"};
  const char* values[] = {"", "\"\"", "\"x\"", "x", "\"\"\"y\"\"\"", "&amp;lt;", "q\"\""};
  for (int round = 0; round < 5000; ++round) {
    std::vector<std::string> lines;
    std::string tag = "<e";
    const int count = 1 + static_cast<int>(rng() % 20);
    for (int i = 0; i < count; ++i) {
      std::string line = names[rng() % std::size(names)];
      if (rng() % 6 != 0) {
        line += "=";
        line += values[rng() % std::size(values)];
      }
      if (line.empty()) {
        line = "z";
      }
      lines.push_back(line);
      tag += " " + line;
    }
    tag += ">";
    // Split as the tag would be (no spaces inside these values).
    TParamList got;
    ParseTagParams(tag, got);
    std::vector<std::string> gotLines;
    for (std::size_t i = 0; i < got.Count(); ++i) {
      gotLines.push_back(got[i]);
    }
    ASSERT_EQ(gotLines, NaiveParams(lines)) << tag;
  }
}

TEST(XMLTagParams, ParamLookupsIgnoreCase) {
  TParamList p;
  ParseTagParams("<c r=\"A1\" t=\"s\" xml:space=\"Preserve\">", p);
  EXPECT_EQ(p.IndexOf("T=S"), 1);
  EXPECT_EQ(p.IndexOfName("R"), 0);
  EXPECT_EQ(p.Value("R"), "A1");
  EXPECT_TRUE(PreservesSpace(p));
  p.SetValue("t", "");
  EXPECT_EQ(p.Count(), 2u);
  EXPECT_EQ(p.IndexOfName("t"), -1);
}

} // namespace
} // namespace scv::xml
