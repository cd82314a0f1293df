// Exact text of hand-written RTF: control words and symbols, destinations, code pages,
// Unicode escapes, tables, fields and hostile structure.
#include "rtf/RtfReader.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using scv::rtf::RtfToUtf8;

struct TCase {
  const char* name;
  std::string rtf;
  std::string want;
};

void RunCases(const std::vector<TCase>& cases) {
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(RtfToUtf8(c.rtf), c.want);
  }
}

TEST(RtfReader, ControlWordsAndDelimiters) {
  RunCases({
      {"space delimiter is consumed", R"({\rtf1 a\b b\b0  c})", "ab c"},
      {"non-letter delimiter is kept", R"({\rtf1\fs24x\li-720-y})", "x-y"},
      {"minus without digit is text", R"({\rtf1 a\b- b})", "a- b"},
      {"long parameter is clamped", R"({\rtf1\fs123456789012345 x})", "x"},
      {"unknown words vanish", R"({\rtf1\foo\barbaz12 text})", "text"},
      {"raw line ends are ignored", "{\\rtf1 one\r\ntwo\nthree}", "onetwothree"},
      {"escaped line end is a paragraph", "{\\rtf1 one\\\ntwo}", "one\ntwo"},
      {"breaks", R"({\rtf1 a\par b\line c\sect d\page e\tab f})", "a\nb\nc\nd\ne\tf"},
      {"literal tab byte", "{\\rtf1 a\tb}", "a\tb"},
      {"control bytes carry no text", std::string("{\\rtf1 a\x01\x1f\0b}", 13), "ab"},
      {"text before the header", "plain {\\b bold}", "plain bold"},
  });
}

TEST(RtfReader, ControlSymbolsAndSpecialCharacters) {
  RunCases({
      {"escapes", R"({\rtf1 \\ \{ \}})", "\\ { }"},
      {"no-break space", R"({\rtf1 a\~b})", "a\u00A0b"},
      {"optional hyphen dropped", R"({\rtf1 hy\-phen})", "hyphen"},
      {"no-break hyphen", R"({\rtf1 a\_b})", "a\u2011b"},
      {"formula and index marks", R"({\rtf1 a\|\:b})", "ab"},
      {"dashes and bullet", R"({\rtf1\emdash\endash\bullet})", "\u2014\u2013\u2022"},
      {"quotes", R"({\rtf1\lquote\rquote\ldblquote\rdblquote})", "\u2018\u2019\u201C\u201D"},
      {"spaces", R"({\rtf1\emspace\enspace\qmspace})", "\u2003\u2002\u2005"},
      {"joiners and marks", R"({\rtf1\zwj\zwnj\zwbo\ltrmark\rtlmark})",
       "\u200D\u200C\u200B\u200E\u200F"},
  });
}

TEST(RtfReader, HexBytesFollowTheFontCodePage) {
  RunCases({
      {"default is 1252", R"({\rtf1\ansi \'93hi\'94 caf\'e9})", "\u201Chi\u201D caf\u00E9"},
      {"ansicpg", R"({\rtf1\ansi\ansicpg1251 \'cf\'f0\'e8})", "\u041F\u0440\u0438"},
      {"font charset wins over ansicpg",
       R"({\rtf1\ansi\ansicpg1252{\fonttbl{\f0\fcharset0 A;}{\f1\fcharset161 G;}}\f0\'80\f1\'d9})",
       "\u20AC\u03A9"},
      {"font without charset falls back to ansicpg",
       R"({\rtf1\ansicpg1250{\fonttbl{\f0 Arial;}}\f0\'8a})", "\u0160"},
      {"charsets 238 204 162 161 177 178 186 222 163",
       R"({\rtf1{\fonttbl{\f1\fcharset238 a;}{\f2\fcharset204 b;}{\f3\fcharset162 c;})"
       R"({\f4\fcharset161 d;}{\f5\fcharset177 e;}{\f6\fcharset178 f;}{\f7\fcharset186 g;})"
       R"({\f8\fcharset222 h;}{\f9\fcharset163 i;}})"
       R"(\f1\'8a\f2\'c0\f3\'fd\f4\'e1\f5\'e0\f6\'c7\f7\'e0\f8\'a1\f9\'cc})",
       "\u0160\u0410\u0131\u03B1\u05D0\u0627\u0105\u0E01\u0300"},
      {"cpg overrides charset", R"({\rtf1{\fonttbl{\f0\fcharset0\cpg1251 A;}}\f0\'c0})", "\u0410"},
      {"font of a group ends with it",
       R"({\rtf1{\fonttbl{\f0\fcharset0 a;}{\f1\fcharset204 b;}}{\f1\'c0}\'c0})", "\u0410\u00C0"},
      {"plain returns to the default font",
       R"({\rtf1\deff1{\fonttbl{\f0\fcharset0 a;}{\f1\fcharset204 b;}}\f0\'c0\plain\'c0})",
       "\u00C0\u0410"},
      {"font table without groups",
       R"({\rtf1{\fonttbl\f0\fnil\fcharset0 A;\f1\fnil\fcharset161 G;}\f1\'e1})", "\u03B1"},
      {"Symbol font",
       R"({\rtf1{\fonttbl{\f0\fcharset0 Times;}{\f1\fnil\fcharset2 Symbol;}})"
       R"({\pntext\f1\'b7\tab}\f0 a {\f1 abp\'a3\'f0}})",
       "\u2022\ta \u03B1\u03B2\u03C0\u2264\uF0F0"},
      {"other symbol fonts use the code page",
       R"({\rtf1{\fonttbl{\f1\fcharset2 Wingdings;}}\f1 a\'b7})", "a\u00B7"},
      {"pc is 437", R"({\rtf1\pc \'82})", "\u00E9"},
      {"mac is Mac Roman", R"({\rtf1\mac \'8e})", "\u00E9"},
      {"utf-8 font code page",
       R"({\rtf1{\fonttbl{\f0\fcharset128\cpg65001 A;}}\f0\'e4\'b8\'ad\'e5\'9c\'8b})",
       "\u4E2D\u570B"},
      {"broken escapes", R"({\rtf1 a\'zz\'4b})", "azzK"},
      {"single hex digit", R"({\rtf1 \'4 x})", "\x04 x"},
  });
}

TEST(RtfReader, DoubleByteCharacters) {
  RunCases({
      {"Shift-JIS by charset 128",
       R"({\rtf1\ansi\ansicpg1252{\fonttbl{\f0\fcharset128 MS;}}\f0\'93\'fa\'96\'7b})",
       "\u65E5\u672C"},
      {"Shift-JIS by ansicpg 932", R"({\rtf1\ansi\ansicpg932 \'82\'a0\'82\'a2})", "\u3042\u3044"},
      {"ASCII trail byte written plainly", R"({\rtf1\ansicpg932 \'82`})", "\uFF21"},
      {"backslash trail byte", R"({\rtf1\ansicpg932 \'83\\x})", "\u30BDx"},
      {"mixed with ASCII", R"({\rtf1\ansicpg932 A\'82\'a0B})", "A\u3042B"},
      {"GBK by charset 134", R"({\rtf1{\fonttbl{\f0\fcharset134 S;}}\f0\'d6\'d0\'ce\'c4})",
       "\u4E2D\u6587"},
      {"Big5 by charset 136", R"({\rtf1{\fonttbl{\f0\fcharset136 S;}}\f0\'a4\'a4\'a4\'e5})",
       "\u4E2D\u6587"},
      {"Korean by charset 129", R"({\rtf1{\fonttbl{\f0\fcharset129 S;}}\f0\'c7\'d1})", "\uD55C"},
      {"ANSI font in a DBCS document is Western",
       R"({\rtf1\ansicpg932{\fonttbl{\f0\fcharset0 Arial;}}\f0 caf\'e9})", "caf\u00E9"},
      {"Mac Japanese decodes as Shift-JIS",
       R"({\rtf1\mac\ansicpg10001{\fonttbl\f0\fcharset78 H;}\f0 \'82\'a8})", "\u304A"},
  });
}

TEST(RtfReader, UnicodeEscapesAndFallbacks) {
  RunCases({
      {"default skips one", R"({\rtf1 \u8364?x})", "\u20ACx"},
      {"uc2", R"({\rtf1\uc2\u8364??x})", "\u20ACx"},
      {"uc0", R"({\rtf1\uc0\u8364 x})", "\u20ACx"},
      {"negative value", R"({\rtf1 \u-3913?})", "\uF0B7"},
      {"positive above 32767", R"({\rtf1 \u61623?})", "\uF0B7"},
      {"surrogate pair", R"({\rtf1 \u-10179?\u-8704?})", "\U0001F600"},
      {"lone high surrogate", R"({\rtf1 \u-10179?x})", "\uFFFDx"},
      {"lone low surrogate", R"({\rtf1 \u-8704?x})", "\uFFFDx"},
      {"hex fallback counts once", R"({\rtf1 \u8220\'93x})", "\u201Cx"},
      {"control word fallback counts once", R"({\rtf1\uc1\u8364\bullet x})", "\u20ACx"},
      {"uc is scoped to its group", R"({\rtf1{\uc2\u8364ab}c\u8364?})", "\u20ACc\u20AC"},
      {"group end stops the skipping", R"({\rtf1\uc3\u8364{x}y})", "\u20ACxy"},
      {"uc with DBCS fallback", R"({\rtf1\ansicpg932\uc2\u12354\'82\'a0!})", "\u3042!"},
      {"ud inside upr", R"({\rtf1{\upr{ansi text}{\*\ud{unicode \u8364?}}}})", "unicode \u20AC"},
      {"stray ud keeps its text", R"({\rtf1 a{\*\ud b}c})", "abc"},
  });
}

TEST(RtfReader, DestinationsAreSkippedOrKept) {
  RunCases({
      {"tables and metadata",
       R"({\rtf1{\fonttbl{\f0 Times;}}{\colortbl;\red0\green0\blue0;}{\stylesheet{\s0 Normal;}})"
       R"({\info{\title T}{\author A}}{\*\generator G;}{\*\listtable{\list{\listname L;}}})"
       R"({\*\listoverridetable x}{\*\revtbl{x;}}{\*\rsidtbl\rsid1}{\*\themedata 0a0b})"
       R"({\*\colorschememapping 3c}{\*\datastore 01}{\*\xmlnsdecls{\xmlns1 x}}{\*\latentstyles x})"
       R"(Body})",
       "Body"},
      {"pictures and objects",
       R"({\rtf1 a{\pict\pngblip 89504e47}b{\object{\*\objdata 0102}{\result c}}d})", "abcd"},
      {"unknown starred destination", R"({\rtf1 a{\*\future stuff {nested}}b})", "ab"},
      {"starred known destination is skipped", R"({\rtf1 a{\*\bkmkstart mark}b})", "ab"},
      {"headers and footers", R"({\rtf1{\header H}{\footerl F}{\headerf X}body})", "body"},
      {"field keeps its result",
       R"({\rtf1{\field{\*\fldinst HYPERLINK "http://x"}{\fldrslt{\ul click}}} here})",
       "click here"},
      {"nested fields",
       R"({\rtf1{\field{\*\fldinst A {\field{\*\fldinst B}{\fldrslt in}}}{\fldrslt out}}})", "out"},
      {"list text kept, definitions skipped",
       R"({\rtf1{\pntext 1.\tab}{\*\pn\pnlvlbody{\pntxta .}}Item\par})", "1.\tItem\n"},
      {"shape text kept, properties skipped",
       R"({\rtf1{\shp{\*\shpinst{\sp{\sn name}{\sv val}}{\shptxt Box}}{\shprslt dup}}})", "Box"},
      {"index and TOC entries", R"({\rtf1 a{\xe entry}{\tc toc}b})", "ab"},
      {"annotations", R"({\rtf1 a{\*\atnid x}{\*\annotation note}b})", "ab"},
  });
}

TEST(RtfReader, StarMarksAWholeGroupOnlyWhereItOpensOne) {
  RunCases({
      // As a word processor writes a character style: the sentence is text.
      {"star in the middle of a group", R"({\rtf1{\loch\f2\i0\*\cs7\cf0 The quick brown fox}})",
       "The quick brown fox"},
      {"star after text", R"({\rtf1{a \*\foo b}})", "a b"},
      {"star first in a group", R"({\rtf1 a{\*\foo b}c})", "ac"},
      {"line ends before the star", "{\\rtf1 a{\r\n\\*\\foo b}c}", "ac"},
      {"a known destination word still skips", R"({\rtf1 a{\b b\*\fldinst hidden}c})", "abc"},
      {"a known formatting word still acts", R"({\rtf1{\b\*\v hidden}shown})", "shown"},
      {"star before a control symbol", R"({\rtf1{\b\*\'e9t\'e9}})", "\u00E9t\u00E9"},
      {"starred group inside", R"({\rtf1{\f0\*\cs7 a{\*\bar x}b}})", "ab"},
      {"unicode fallback after a starred word", R"({\rtf1{\b\*\cs7\u8364?x}})", "\u20ACx"},
      {"star at the very end", R"({\rtf1 a\*)", "a"},
      {"two stars first in a group", R"({\rtf1 a{\*\*\foo b}c})", "ac"},
  });
  // Line ends before a star are looked at once, however many stars follow.
  std::string many = "{\\rtf1{" + std::string(1000000, '\n') + "\\*\\foo x}{a";
  for (int i = 0; i < 200000; ++i) {
    many += "\\*\\foo ";
  }
  EXPECT_EQ(RtfToUtf8(many + "b}}"), "ab");
}

TEST(RtfReader, LigaturesBecomeLetters) {
  RunCases({
      {"unicode escapes",
       R"({\rtf1 co\u64256?ee o\u64259?ce \u64257?ne \u64258?ow wa\u64260?e be\u64261? fa\u64262?})",
       "coffee office fine flow waffle best fast"},
      {"Mac Roman bytes", R"({\rtf1\mac \'de\'df})", "fifl"},
      {"utf-8 code page", R"({\rtf1\ansicpg65001 o\'ef\'ac\'83ce})", "office"},
      {"neighbours unchanged", R"({\rtf1 \u64255?\u64263?\u64275?})", "\uFAFF\uFB07\uFB13"},
  });
}

TEST(RtfReader, BinaryData) {
  RunCases({
      {"bin skips raw bytes", "{\\rtf1 a{\\pict\\bin4 }{}}}b}", "ab"},
      {"bin in text", "{\\rtf1 a\\bin3 {{{b}", "ab"},
      {"bin beyond the end", "{\\rtf1 a\\bin99 xyz", "a"},
      {"negative bin", "{\\rtf1 a\\bin-5 b}", "ab"},
      {"bin counts as one fallback", "{\\rtf1\\u8364\\bin2 xyz}", "\u20ACz"},
  });
}

TEST(RtfReader, HiddenAndDeletedText) {
  RunCases({
      {"group", R"({\rtf1 a{\v hidden}b})", "ab"},
      {"on and off", R"({\rtf1 \v x\v0 y})", "y"},
      {"plain ends hidden", R"({\rtf1 \v x\plain y})", "y"},
      {"hidden paragraph marks", R"({\rtf1 a{\v \par}b})", "ab"},
      {"tracked deletion", R"({\rtf1 keep{\deleted gone}})", "keep"},
  });
}

TEST(RtfReader, TablesAndFootnotes) {
  RunCases({
      {"simple table",
       R"({\rtf1\trowd\cellx1000\cellx2000\intbl A\cell B\cell\row\trowd\intbl C\cell D\cell\row)"
       R"(\pard After\par})",
       "A\tB\nC\tD\nAfter\n"},
      {"row in its own group", R"({\rtf1{\intbl x\cell y\cell}{\trowd\row}z})", "x\ty\nz"},
      {"paragraph mark closing a cell",
       R"({\rtf1{{\pard\intbl A\par}\cell}{{\pard\intbl B\par}\cell}\intbl\row})", "A\tB\n"},
      {"paragraphs inside a cell", R"({\rtf1\intbl a\par b\cell c\cell\row})", "a\nb\tc\n"},
      {"empty cells", R"({\rtf1\intbl\cell\cell x\cell\row})", "\t\tx\n"},
      {"nested table",
       R"({\rtf1\intbl\itap2 a\nestcell b\nestcell{\*\nesttableprops\trowd\nestrow})"
       R"({\nonesttables fallback\par}\intbl\itap1 outer\cell\row})",
       "a\tb\nouter\n"},
      {"footnotes follow the body",
       R"({\rtf1 One.{\footnote\pard\chftn First note.} Two.{\footnote Second.}\par})",
       "One. Two.\n\nFirst note.\nSecond."},
  });
}

TEST(RtfReader, HostileStructure) {
  RunCases({
      {"empty", "", ""},
      {"stray closing braces", "}}}a}}", "a"},
      {"unclosed groups", "{{{\\rtf1 {a{b", "ab"},
      {"backslash at the end", "{\\rtf1 a\\", "a"},
      {"hex escape at the end", "{\\rtf1 a\\'", "a"},
      {"u without number", "{\\rtf1 a\\u b}", "ab"},
      {"star at the end", "{\\rtf1 a{\\*", "a"},
      {"overlong control word", "{\\rtf1 a\\" + std::string(100, 'x') + " b}", "ab"},
  });
}

TEST(RtfReader, DeepNestingNeedsNoRecursion) {
  for (const std::size_t depth : {std::size_t{5000}, std::size_t{300000}}) {
    SCOPED_TRACE(depth);
    std::string rtf = "{\\rtf1 a";
    rtf.append(depth, '{');
    rtf += "b";
    rtf.append(depth, '}');
    rtf += "c}";
    EXPECT_EQ(RtfToUtf8(rtf), "abc");
  }
  // Skipped destinations opened inside very deep nesting end with their groups.
  std::string rtf = "{\\rtf1 ";
  for (int i = 0; i < 200000; ++i) {
    rtf += "{\\v ";
  }
  rtf.append(200000, '}');
  rtf += "visible}";
  EXPECT_EQ(RtfToUtf8(rtf), "visible");
}

} // namespace
