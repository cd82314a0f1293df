// Finding and decoding the character encoding of HTML documents.
#include "HtmlEncoding.h"

#include <gtest/gtest.h>

#include <string>

namespace scv::htm {
namespace {

TEST(HtmlEncoding, LabelsMapAsBrowsersMapThem) {
  struct Case {
    const char* label;
    std::int32_t want;
  };
  const Case cases[] = {
      {"utf-8", 65001},    {" UTF8 ", 65001},      {"ISO-8859-1", 1252},  {"us-ascii", 1252},
      {"latin1", 1252},    {"windows-1251", 1251}, {"KOI8-R", 20866},     {"shift_jis", 932},
      {"x-euc-jp", 20932}, {"gb2312", 936},        {"GBK", 936},          {"gb18030", 54936},
      {"big5", 950},       {"euc-kr", 949},        {"iso-8859-5", 28595}, {"iso-8859-9", 1254},
      {"utf-16", 1200},    {"utf-16be", 1201},     {"no-such", 0},        {"", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(CodePageFromLabel(c.label), c.want);
  }
}

TEST(HtmlEncoding, PrescanFindsDeclarations) {
  struct Case {
    const char* name;
    std::string html;
    std::string want;
  };
  const Case cases[] = {
      {"meta charset", "<html><head><meta charset=\"koi8-r\">", "koi8-r"},
      {"unquoted", "<meta charset=windows-1251>", "windows-1251"},
      {"http-equiv", "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=Shift_JIS\">",
       "Shift_JIS"},
      {"content before http-equiv",
       "<meta content='text/html;charset=euc-kr' http-equiv='content-type'>", "euc-kr"},
      {"content without http-equiv is no declaration",
       "<meta name=x content=\"text/html; charset=big5\">", ""},
      {"inside a comment", "<!-- <meta charset=big5> --><meta charset=gbk>", "gbk"},
      {"inside an attribute value", "<a title='<meta charset=big5>'>x</a>", ""},
      {"unknown label skipped", "<meta charset=bogus><meta charset=iso-8859-5>", "iso-8859-5"},
      {"self-closing", "<meta charset=\"utf-8\"/>", "utf-8"},
      {"none", "<html><body>plain</body></html>", ""},
      {"beyond the prescan window", std::string(9000, ' ') + "<meta charset=big5>", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(PrescanMetaCharset(c.html), c.want);
  }
}

TEST(HtmlEncoding, DetectionOrder) {
  struct Case {
    const char* name;
    std::string bytes;
    TEncodingKind kind;
    std::int32_t codePage;
    std::size_t bom;
  };
  const Case cases[] = {
      {"utf-8 bom beats a declaration", "\xEF\xBB\xBF<meta charset=koi8-r>", TEncodingKind::kUtf8,
       0, 3},
      {"utf-16le bom", std::string("\xFF\xFE<\0", 4), TEncodingKind::kUtf16Le, 0, 2},
      {"utf-16be bom", std::string("\xFE\xFF\0<", 4), TEncodingKind::kUtf16Be, 0, 2},
      {"utf-32le bom", std::string("\xFF\xFE\0\0<\0\0\0", 8), TEncodingKind::kUtf32Le, 0, 4},
      {"utf-32be bom", std::string("\0\0\xFE\xFF\0\0\0<", 8), TEncodingKind::kUtf32Be, 0, 4},
      {"utf-16le without bom", std::string("<\0h\0", 4), TEncodingKind::kUtf16Le, 0, 0},
      {"utf-32be without bom", std::string("\0\0\0<\0\0\0h", 8), TEncodingKind::kUtf32Be, 0, 0},
      {"declared legacy page", "<meta charset=koi8-r><p>\xF0\xD2\xC9", TEncodingKind::kCodePage,
       20866, 0},
      {"well-formed utf-8 beats a stale declaration", "<meta charset=gb2312><p>\xC3\xA9",
       TEncodingKind::kUtf8, 0, 0},
      {"ascii follows its declaration", "<meta charset=shift_jis><p>abc", TEncodingKind::kCodePage,
       932, 0},
      {"declared utf-16 in ascii is utf-8", "<meta charset=utf-16><p>x", TEncodingKind::kUtf8, 0,
       0},
      {"undeclared utf-8", "<p>caf\xC3\xA9", TEncodingKind::kUtf8, 0, 0},
      {"undeclared legacy the detector cannot place falls back to 1252", "<p>\x81\x8D\x8F\x90\x9D",
       TEncodingKind::kCodePage, 1252, 0},
      {"plain ascii", "<p>abc", TEncodingKind::kUtf8, 0, 0},
      {"empty", "", TEncodingKind::kUtf8, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TEncoding e = DetectEncoding(c.bytes);
    EXPECT_EQ(e.kind, c.kind);
    if (c.kind == TEncodingKind::kCodePage) {
      EXPECT_EQ(e.codePage, c.codePage);
    }
    EXPECT_EQ(e.bomLength, c.bom);
  }
}

TEST(HtmlEncoding, DecodesToUtf8TheParserAccepts) {
  struct Case {
    const char* name;
    std::string bytes;
    TEncoding encoding;
    std::string want;
  };
  const Case cases[] = {
      {"utf-8 with bom",
       "\xEF\xBB\xBF"
       "a\xC3\xA9",
       {TEncodingKind::kUtf8, 0, 3},
       "a\xC3\xA9"},
      {"ill-formed utf-8",
       "a\xFF"
       "b\xE2\x82"
       "c",
       {},
       "a\xEF\xBF\xBD"
       "b\xEF\xBF\xBD"
       "c"},
      {"controls dropped, form feed a space",
       std::string("a\0b\x01"
                   "c\fd\te\r\n",
                   11),
       {},
       "abc d\te\r\n"},
      {"noncharacter", "\xEF\xBF\xBF", {}, "\xEF\xBF\xBD"},
      {"utf-16le pair",
       std::string("\x3D\xD8\x00\xDE"
                   "a\0",
                   6),
       {TEncodingKind::kUtf16Le, 0, 0},
       "\xF0\x9F\x98\x80"
       "a"},
      {"utf-16be", std::string("\0a\x04\x16", 4), {TEncodingKind::kUtf16Be, 0, 0}, "a\xD0\x96"},
      {"unpaired surrogate",
       std::string("\x00\xD8"
                   "a\0",
                   4),
       {TEncodingKind::kUtf16Le, 0, 0},
       "\xEF\xBF\xBD"
       "a"},
      {"odd utf-16 byte", std::string("a\0b", 3), {TEncodingKind::kUtf16Le, 0, 0}, "a\xEF\xBF\xBD"},
      {"utf-32be",
       std::string("\0\0\0a\0\x01\xF6\0", 8),
       {TEncodingKind::kUtf32Be, 0, 0},
       "a\xF0\x9F\x98\x80"},
      {"utf-32 beyond unicode",
       std::string("\0\0\x11\0", 4),
       {TEncodingKind::kUtf32Le, 0, 0},
       "\xEF\xBF\xBD"},
      {"windows-1252",
       "caf\xE9 \x80",
       {TEncodingKind::kCodePage, 1252, 0},
       "caf\xC3\xA9 \xE2\x82\xAC"},
      {"koi8-r", "\xF0\xD2\xC9", {TEncodingKind::kCodePage, 20866, 0}, "\xD0\x9F\xD1\x80\xD0\xB8"},
      {"shift_jis",
       "\x93\xFA\x96\x7B",
       {TEncodingKind::kCodePage, 932, 0},
       "\xE6\x97\xA5\xE6\x9C\xAC"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(DecodeToUtf8(c.bytes, c.encoding), c.want);
  }
}

} // namespace
} // namespace scv::htm
