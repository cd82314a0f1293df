// Token rules of the XML reader: kinds, whitespace, line pairs, tag names, attributes, entities
// and the repeated decoding of joined text.
#include "xml/XMLTokenizer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <random>
#include <string>
#include <vector>

#include "bytes/MemoryStream.h"
#include "support/TestPaths.h"

namespace scv::xml {
namespace {

struct TTok {
  TTokenKind kind;
  std::string text;
  bool operator==(const TTok&) const = default;
};

std::ostream& operator<<(std::ostream& os, const TTok& t) {
  return os << static_cast<int>(t.kind) << ":[" << t.text << "]";
}

// All tokens, reading with PreserveSpace as given.
std::vector<TTok> Tokens(std::string_view xml, bool preserve = false) {
  std::vector<TTok> out;
  TXMLLargeTokenizer tok(xml);
  while (tok.Kind() != TTokenKind::kEnd) {
    out.push_back({tok.Kind(), std::string(tok.Token())});
    tok.NextToken(preserve);
  }
  return out;
}

constexpr auto kText = TTokenKind::kText;
constexpr auto kStart = TTokenKind::kStartTag;
constexpr auto kEndT = TTokenKind::kEndTag;
constexpr auto kEmpty = TTokenKind::kEmptyTag;
constexpr auto kDecl = TTokenKind::kDeclaration;
constexpr auto kComment = TTokenKind::kComment;

TEST(XMLTokenizer, KindsAndTexts) {
  struct Case {
    const char* name;
    std::string xml;
    bool preserve;
    std::vector<TTok> want;
  };
  const Case cases[] = {
      {"declaration any case", "<?XmL version=\"1.0\"?><a/>", false,
       {{kDecl, "<?XmL version=\"1.0\"?>"}, {kEmpty, "<a/>"}}},
      {"stylesheet is a declaration", "<?xml-stylesheet href=\"x\"?>", false,
       {{kDecl, "<?xml-stylesheet href=\"x\"?>"}}},
      {"comment ends at its first >", "<!-- a > b -->", false,
       {{kComment, "<!-- a >"}, {kText, "b -->"}}},
      {"other instructions are start tags", "<?php x?><!DOCTYPE a>", false,
       {{kStart, "<?php x?>"}, {kStart, "<!DOCTYPE a>"}}},
      {"empty-element rule before end tag", "</>", false, {{kEmpty, "</>"}}},
      {"end tag", "</w:p >", false, {{kEndT, "</w:p >"}}},
      {"> inside a quoted value ends the tag", "<a b=\"x>y\">", false,
       {{kStart, "<a b=\"x>"}, {kText, "y\">"}}},
      {"text trimmed", "<t>  a b  </t>", false, {{kStart, "<t>"}, {kText, "a b"}, {kEndT, "</t>"}}},
      {"text with spaces preserved", "<t>  a b  </t>", true,
       {{kStart, "<t>"}, {kText, "  a b  "}, {kEndT, "</t>"}}},
      {"tabs and line ends dropped even when preserved", "<t>\t a\r\n</t>", true,
       {{kStart, "<t>"}, {kText, " a"}, {kEndT, "</t>"}}},
      {"CR LF and LF CR removed inside", "x\r\ny\n\rz\rw\nv", false, {{kText, "xyz\rw\nv"}}},
      {"CR LF removed inside tags", "<a\r\n b=\"1\">", false, {{kStart, "<a b=\"1\">"}}},
      {"zero byte between elements ends the data", std::string("<a/>\0<b/>", 9), false,
       {{kEmpty, "<a/>"}}},
      {"zero byte in text ends the data", std::string("ab\0cd<b/>", 9), false, {{kText, "ab"}}},
      {"zero byte inside a tag is part of it", std::string("<a\0b>", 5), false,
       {{kStart, std::string("<a\0b>", 5)}}},
      {"tag without > ends the document", "<a>text<b", false, {{kStart, "<a>"}, {kText, "text"}}},
      {"bytes above 127 are text", "\xC3\xA9", false, {{kText, "\xC3\xA9"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Tokens(c.xml, c.preserve), c.want);
  }
}

TEST(XMLTokenizer, TagNames) {
  struct Case {
    const char* tag;
    const char* want;
  } cases[] = {
      {"<w:t>", "w:t"},          {"<w:t xml:space=\"preserve\">", "w:t"},
      {"<br/>", "br"},           {"<a/b>", "a"},
      {"</w:p>", ""},            {"<>", ""},
      {"< x>", ""},              {"<c r=\"A1\"/>", "c"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tag);
    EXPECT_EQ(TagName(c.tag), c.want);
  }
}

std::vector<std::string> Params(std::string_view tag) {
  TParamList p;
  ParseTagParams(tag, p);
  std::vector<std::string> out;
  for (std::size_t i = 0; i < p.Count(); ++i) {
    out.push_back(p[i]);
  }
  return out;
}

TEST(XMLTokenizer, AttributeQuirks) {
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
      {"repeated name: first processed twice, second as written",
       "<a b=\"\"\"x\"\"\" b=\"y\">", V{"b=\"x\"", "b=\"y\""}},
      {"repeated name in other case renames the first", "<a A=\"1\" a=\"2\">",
       V{"a=1", "a=\"2\""}},
      {"empty value removes the line and the rest is still read", "<a b= c=\"2\" d=\"3\">",
       V{"c=2", "d=3"}},
      {"line breaks in the tag split lines", "<a b=\"x\ny\">", V{"b=\"x", "y\""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Params(c.tag), c.want);
  }
}

TEST(XMLTokenizer, ManyAttributesCostLinearTime) {
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

TEST(XMLTokenizer, AttributeRulesEqualNaiveProcessing) {
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

TEST(XMLTokenizer, ParamLookupsIgnoreCase) {
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

TEST(XMLTokenizer, Entities) {
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
    text = NaiveDecode(blank ? t : text + "\r\n" + t);
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

TEST(XMLTokenizer, JoinedTextMatchesWholeRedecoding) {
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

TEST(XMLTokenizer, DeeplyEncodedTextJoinsInLinearTime) {
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

TEST(XMLTokenizer, BufferedTokensEqualWholeMemoryTokens) {
  std::string xml = "<?xml version=\"1.0\"?>\r\n<root>\r\n";
  for (int i = 0; i < 400; ++i) {
    xml += "  <row r=\"" + std::to_string(i) + "\">text &amp; more " + std::to_string(i) +
           "\n continued</row>\r\n";
  }
  xml += "</root>";
  bytes::TMemoryStream stream;
  stream.Write(xml.data(), xml.size());
  stream.SetPosition(0);
  TMemoryByteSource source(stream);
  std::vector<TTok> buffered;
  {
    TXMLTokenizer tok(source);
    while (tok.Kind() != TTokenKind::kEnd) {
      buffered.push_back({tok.Kind(), std::string(tok.Token())});
      tok.NextToken(false);
    }
  }
  EXPECT_EQ(buffered, Tokens(xml));
}

// Tokens read through the window, from pieces of every small size, equal those read from the
// whole bytes: pieces end inside tags, texts, blank runs, CR LF pairs and before zero bytes.
TEST(XMLTokenizer, PieceTokensEqualWholeMemoryTokens) {
  struct TPieces final : TXMLPieceSource {
    std::string_view rest;
    std::size_t size = 1;
    std::string_view NextPiece() override {
      const std::string_view p = rest.substr(0, size);
      rest.remove_prefix(p.size());
      return p;
    }
  };
  const std::string inputs[] = {
      "<?xml version=\"1.0\"?>\r\n<root>\r\n  <a x=\"1\r\n2\">text \r\n more   </a>\n\r<b/>"
      "<!-- c -->tail   ",
      "  lead <open and never closed",
      std::string("<a>before zero") + '\0' + "after</a>",
      std::string("<a>") + std::string(3000, ' ') + "x" + std::string(3000, '\t') + "</a>",
      "<a>" + std::string(5000, 'y') + "</a>" + std::string(100, ' '),
      std::string("<a>x</a>  ") + '\0' + "<b/>",
      "",
      "   ",
  };
  for (const std::string& xml : inputs) {
    for (const bool preserve : {false, true}) {
      const std::vector<TTok> whole = Tokens(xml, preserve);
      for (const std::size_t size : {1, 2, 3, 7, 64, 4096}) {
        SCOPED_TRACE(xml.substr(0, 40) + " / pieces of " + std::to_string(size));
        TPieces pieces;
        pieces.rest = xml;
        pieces.size = size;
        std::vector<TTok> out;
        TXMLLargeTokenizer tok(pieces);
        while (tok.Kind() != TTokenKind::kEnd) {
          EXPECT_FALSE(tok.TokenInSource());
          out.push_back({tok.Kind(), std::string(tok.Token())});
          tok.NextToken(preserve);
        }
        EXPECT_EQ(out, whole);
      }
    }
  }
}

// Read through pieces, a token may be as long as the tokenizer allows (plus what the last
// piece brought); a longer one throws, whether a tag or a text, and blank runs between tokens
// count for nothing.
TEST(XMLTokenizer, PieceTokensHaveACeiling) {
  struct TPieces final : TXMLPieceSource {
    std::string_view rest;
    std::string_view NextPiece() override {
      const std::string_view p = rest.substr(0, 100);
      rest.remove_prefix(p.size());
      return p;
    }
  };
  const auto read = [](const std::string& xml, std::size_t maxToken) {
    TPieces pieces;
    pieces.rest = xml;
    TXMLLargeTokenizer tok(pieces, maxToken);
    std::size_t n = 0;
    while (tok.Kind() != TTokenKind::kEnd) {
      ++n;
      tok.NextToken(false);
    }
    return n;
  };
  const std::string longTag = "<a b=\"" + std::string(5000, 'y') + "\"/>";
  const std::string longText = "<a>" + std::string(5000, 'y') + "</a>";
  EXPECT_EQ(read(longTag, 5000), 1u);
  EXPECT_THROW(read(longTag, 4000), ETokenTooLarge);
  EXPECT_EQ(read(longText, 5000), 3u);
  EXPECT_THROW(read(longText, 4000), ETokenTooLarge);
  EXPECT_EQ(read("<a>" + std::string(50000, ' ') + "</a>", 200), 2u);
}

TEST(XMLTokenizer, BufferedZeroByteAfterTrimmedText) {
  // The first token is read with white space not preserved, the next with it preserved: the
  // space before the zero byte is a token of its own in both tokenizers.
  const std::string xml("ab \0c<d>", 9);
  bytes::TMemoryStream stream;
  stream.Write(xml.data(), xml.size());
  stream.SetPosition(0);
  TMemoryByteSource source(stream);
  std::vector<TTok> buffered;
  TXMLTokenizer tok(source);
  while (tok.Kind() != TTokenKind::kEnd) {
    buffered.push_back({tok.Kind(), std::string(tok.Token())});
    tok.NextToken(true);
  }
  EXPECT_EQ(buffered, (std::vector<TTok>{{kText, "ab"}, {kText, " "}}));
  EXPECT_EQ(Tokens(xml, true), buffered);
}

TEST(XMLTokenizer, BufferedLineTooLongAndReleasePosition) {
  std::string xml = "<a>\n<b>\n";
  xml += std::string(5000, 'x');
  xml += "</b></a>";
  bytes::TMemoryStream stream;
  stream.Write(xml.data(), xml.size());
  stream.SetPosition(0);
  TMemoryByteSource source(stream);
  try {
    TXMLTokenizer tok(source);
    std::vector<TTok> seen;
    while (tok.Kind() != TTokenKind::kEnd) {
      tok.NextToken(false);
    }
    FAIL() << "no error";
  } catch (const EParserError& e) {
    EXPECT_STREQ(e.what(), "Line too long on line 3");
  }
  // Released after one token: the stream stands at the start of the current token.
  stream.SetPosition(0);
  {
    TXMLTokenizer tok(source);
    tok.NextToken(false);
    EXPECT_EQ(tok.Token(), "<b>");
  }
  EXPECT_EQ(stream.Position(), 4u);
}

TEST(XMLTokenizer, FuzzRegressionsTokenizeAlike) {
  const std::filesystem::path dir = test::SourceDir() + "/fuzz/regressions/xml";
  ASSERT_TRUE(std::filesystem::is_directory(dir));
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    SCOPED_TRACE(entry.path().filename().string());
    std::ifstream in(entry.path(), std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    const std::string xml = bytes.str();
    const bool preserve = !xml.empty() && (static_cast<unsigned char>(xml[0]) & 1) != 0;
    bytes::TMemoryStream stream;
    stream.Write(xml.data(), xml.size());
    stream.SetPosition(0);
    TMemoryByteSource source(stream);
    std::vector<TTok> buffered;
    try {
      TXMLTokenizer tok(source);
      while (tok.Kind() != TTokenKind::kEnd) {
        buffered.push_back({tok.Kind(), std::string(tok.Token())});
        tok.NextToken(preserve);
      }
    } catch (const EParserError&) {
      continue;
    }
    EXPECT_EQ(buffered, Tokens(xml, preserve));
  }
}

} // namespace
} // namespace scv::xml
