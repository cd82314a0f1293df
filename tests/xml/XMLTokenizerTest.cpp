// Token rules of the XML reader: kinds, whitespace, line pairs and tag names, and the buffered
// and piece tokenizers against the whole-memory one.
#include "xml/XMLTokenizer.h"

#include "bytes/FormatError.h"
#include "bytes/MemoryStream.h"
#include "support/TestPaths.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

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
constexpr auto kCData = TTokenKind::kCData;
constexpr auto kInstr = TTokenKind::kInstruction;
constexpr auto kDocType = TTokenKind::kDocType;

TEST(XMLTokenizer, KindsAndTexts) {
  struct Case {
    const char* name;
    std::string xml;
    bool preserve;
    std::vector<TTok> want;
  };
  const Case cases[] = {
      {"declaration any case",
       "<?XmL version=\"1.0\"?><a/>",
       false,
       {{kDecl, "<?XmL version=\"1.0\"?>"}, {kEmpty, "<a/>"}}},
      {"stylesheet is a declaration",
       "<?xml-stylesheet href=\"x\"?>",
       false,
       {{kDecl, "<?xml-stylesheet href=\"x\"?>"}}},
      {"comment ends at its first -->",
       "<!-- a > b --><!---->x<!--->-->",
       false,
       {{kComment, "<!-- a > b -->"},
        {kComment, "<!---->"},
        {kText, "x"},
        {kComment, "<!--->-->"}}},
      {"instructions end at their first ?>",
       "<?php a > b ?><?"
       "?><?>?>",
       false,
       {{kInstr, "<?php a > b ?>"},
        {kInstr, "<?"
                 "?>"},
        {kInstr, "<?>?>"}}},
      {"a declaration ends at ?> too",
       "<?xml-stylesheet href=\"a>b\"?><a/>",
       false,
       {{kDecl, "<?xml-stylesheet href=\"a>b\"?>"}, {kEmpty, "<a/>"}}},
      {"document type ends outside brackets and quotes",
       "<!DOCTYPE a [<!ENTITY x \"]>\"> <!ELEMENT a ANY>]><a/>",
       false,
       {{kDocType, "<!DOCTYPE a [<!ENTITY x \"]>\"> <!ELEMENT a ANY>]>"}, {kEmpty, "<a/>"}}},
      {"CDATA ends at its first ]]> and keeps its content",
       "<t><![CDATA[ <b>&amp;</b>\r\n]] > ]]></t>",
       false,
       {{kStart, "<t>"}, {kCData, " <b>&amp;</b>\r\n]] > "}, {kEndT, "</t>"}}},
      {"empty CDATA", "<![CDATA[]]>", false, {{kCData, ""}}},
      {"CDATA, comment and instruction without their end end the document",
       "<a>x<![CDATA[y>",
       false,
       {{kStart, "<a>"}, {kText, "x"}}},
      {"unended comment", "<a><!-- y > z", false, {{kStart, "<a>"}}},
      {"unended instruction", "<a><?pi y > z", false, {{kStart, "<a>"}}},
      {"empty-element rule before end tag", "</>", false, {{kEmpty, "</>"}}},
      {"end tag", "</w:p >", false, {{kEndT, "</w:p >"}}},
      {"> inside a quoted value ends the tag",
       "<a b=\"x>y\">",
       false,
       {{kStart, "<a b=\"x>"}, {kText, "y\">"}}},
      {"text trimmed", "<t>  a b  </t>", false, {{kStart, "<t>"}, {kText, "a b"}, {kEndT, "</t>"}}},
      {"text with spaces preserved",
       "<t>  a b  </t>",
       true,
       {{kStart, "<t>"}, {kText, "  a b  "}, {kEndT, "</t>"}}},
      {"tabs and line ends dropped even when preserved",
       "<t>\t a\r\n</t>",
       true,
       {{kStart, "<t>"}, {kText, " a"}, {kEndT, "</t>"}}},
      {"CR LF and LF CR removed inside", "x\r\ny\n\rz\rw\nv", false, {{kText, "xyz\rw\nv"}}},
      {"CR LF removed inside tags", "<a\r\n b=\"1\">", false, {{kStart, "<a b=\"1\">"}}},
      {"zero byte between elements ends the data",
       std::string("<a/>\0<b/>", 9),
       false,
       {{kEmpty, "<a/>"}}},
      {"zero byte in text ends the data", std::string("ab\0cd<b/>", 9), false, {{kText, "ab"}}},
      {"zero byte inside a tag is part of it",
       std::string("<a\0b>", 5),
       false,
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
      {"<w:t>", "w:t"}, {"<w:t xml:space=\"preserve\">", "w:t"},
      {"<br/>", "br"},  {"<a/b>", "a"},
      {"</w:p>", ""},   {"<>", ""},
      {"< x>", ""},     {"<c r=\"A1\"/>", "c"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tag);
    EXPECT_EQ(TagName(c.tag), c.want);
  }
}

TEST(XMLTokenizer, BufferedTokensEqualWholeMemoryTokens) {
  std::string xml = "<?xml version=\"1.0\"?>\r\n<root>\r\n";
  for (int i = 0; i < 400; ++i) {
    xml += "  <row r=\"" + std::to_string(i) + "\">text &amp; more " + std::to_string(i) +
           "\n continued</row>\r\n";
  }
  xml += "<!-- a\n > b --><?pi\n > ?><![CDATA[\r\n x ]]><!DOCTYPE r [\n]><\r\n!x></root>";
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
      // NOLINTNEXTLINE(bugprone-suspicious-missing-comma): one input over two lines
      "<?xml version=\"1.0\"?>\r\n<root>\r\n  <a x=\"1\r\n2\">text \r\n more   </a>\n\r<b/>"
      "<!-- c -->tail   ",
      "  lead <open and never closed",
      std::string("<a>before zero") + '\0' + "after</a>",
      std::string("<a>") + std::string(3000, ' ') + "x" + std::string(3000, '\t') + "</a>",
      "<a>" + std::string(5000, 'y') + "</a>" + std::string(100, ' '),
      std::string("<a>x</a>  ") + '\0' + "<b/>",
      "",
      "   ",
      "<t><![CDATA[ a ]] ]> ]]]></t><!-- x -- > --><?pi ? > ?><!DOCTYPE d [ \"]\" ]>z<![CDA",
      "<!-",
      "<!-- unended",
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

// A source that lends room before its pieces has the tokens read in place, the bytes carried
// over put in that room: the tokens are still those of the whole bytes, though each piece
// lives in a buffer of its own, garbage in front of it, spoiled once the next is asked for.
TEST(XMLTokenizer, PiecesReadInPlaceGiveTheSameTokens) {
  struct TLendingPieces final : TXMLPieceSource {
    std::string_view rest;
    std::size_t size = 1;
    std::size_t room = 0;
    std::string buffer;
    std::string_view NextPiece() override {
      std::fill(buffer.begin(), buffer.end(), '<'); // the last piece is gone
      const std::string_view p = rest.substr(0, size);
      rest.remove_prefix(p.size());
      if (p.empty()) {
        return {};
      }
      buffer.assign(room, '&');
      buffer.append(p);
      return std::string_view(buffer).substr(room);
    }
    std::size_t RoomBefore() const override { return room; }
  };
  std::string big = "<?xml version=\"1.0\"?>\r\n<w:document><w:body>";
  for (int i = 0; i < 300; ++i) {
    big += "<w:p><w:r><w:t xml:space=\"preserve\"> word " + std::to_string(i) +
           " &amp; more\r\n</w:t></w:r><w:r><w:t>" + std::string(i % 50, 'x') +
           "</w:t></w:r></w:p>";
  }
  big += "<!-- " + std::string(3000, '-') + " --></w:body></w:document>  tail text   ";
  for (const bool preserve : {false, true}) {
    const std::vector<TTok> whole = Tokens(big, preserve);
    for (const std::size_t size : {1, 5, 64, 1000, 70000}) {
      for (const std::size_t room : {0, 1, 8, 200, 65536}) {
        SCOPED_TRACE("pieces of " + std::to_string(size) + ", room " + std::to_string(room));
        TLendingPieces pieces;
        pieces.rest = big;
        pieces.size = size;
        pieces.room = room;
        std::vector<TTok> out;
        TXMLLargeTokenizer tok(pieces);
        while (tok.Kind() != TTokenKind::kEnd) {
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
  EXPECT_THROW(read(longTag, 4000), bytes::EFormatError);
  EXPECT_EQ(read(longText, 5000), 3u);
  // The error names the token and where it starts in the input (after "<a>").
  try {
    read(longText, 4000);
    ADD_FAILURE() << "no error";
  } catch (const bytes::EFormatError& e) {
    EXPECT_EQ(e.Structure(), "token");
    EXPECT_EQ(e.Offset(), 3u);
  }
  EXPECT_EQ(read("<a>" + std::string(50000, ' ') + "</a>", 200), 2u);
  // Ignored tokens are not held whole: a comment, an instruction or a document type far longer
  // than the ceiling passes; a CDATA section is text and has the ceiling of text.
  const std::string filler(300000, '>');
  EXPECT_EQ(read("<a><!--" + filler + "--></a>", 100000), 3u);
  EXPECT_EQ(read("<a><?pi " + filler + "?></a>", 100000), 3u);
  EXPECT_EQ(read("<!DOCTYPE [" + filler + "]><a/>", 100000), 2u);
  EXPECT_THROW(read("<a><![CDATA[" + filler + "]]></a>", 100000), bytes::EFormatError);
  EXPECT_EQ(read("<a><![CDATA[" + filler + "]]></a>", 400000), 3u);
}

// A long comment keeps its kind and ends where it ends, also when only its tail was kept.
TEST(XMLTokenizer, LongIgnoredTokensKeepTheirKind) {
  struct TPieces final : TXMLPieceSource {
    std::string_view rest;
    std::string_view NextPiece() override {
      const std::string_view p = rest.substr(0, 1000);
      rest.remove_prefix(p.size());
      return p;
    }
  };
  const std::string xml =
      "<a><!--" + std::string(200000, '-') + "-->x<?p " + std::string(200000, '?') + "?>y</a>";
  TPieces pieces;
  pieces.rest = xml;
  TXMLLargeTokenizer tok(pieces);
  std::vector<TTokenKind> kinds;
  std::vector<std::string> texts;
  while (tok.Kind() != TTokenKind::kEnd) {
    kinds.push_back(tok.Kind());
    texts.emplace_back(tok.Kind() == TTokenKind::kText ? tok.Token() : "");
    tok.NextToken(false);
  }
  EXPECT_EQ(kinds, (std::vector<TTokenKind>{kStart, kComment, kText, kInstr, kText, kEndT}));
  EXPECT_EQ(texts[2], "x");
  EXPECT_EQ(texts[4], "y");
}

TEST(XMLTokenizer, BufferedZeroByteAfterTrimmedText) {
  // The first token is read with white space not preserved, the next with it preserved: the
  // space before the zero byte is a token of its own in both tokenizers.
  const std::string xml("ab \0c<d>\0", 9);
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
    EXPECT_EQ(e.Structure(), "line");
    EXPECT_EQ(e.Offset(), 8u); // the text that does not fit starts after "<a>\n<b>\n"
    EXPECT_NE(std::string(e.what()).find(": Line too long on line 3"), std::string::npos);
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
