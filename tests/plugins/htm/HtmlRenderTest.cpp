// Rendering HTML as the text a reader sees.
#include "HtmlRender.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

namespace scv::htm {
namespace {

struct TCase {
  const char* name;
  std::string html;
  std::string want;
};

void RunCases(const std::vector<TCase>& cases) {
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(RenderHtml(c.html), c.want);
  }
}

TEST(HtmlRender, TitleComesFirstAndInvisibleContentIsDropped) {
  RunCases({
      {"title then body", "<html><head><title> My  page </title></head><body>Hi</body></html>",
       "My page\n\nHi\n"},
      {"title only", "<title>T</title>", "T\n"},
      {"title given late still first", "<body><p>Body</p><title>Late</title></body>",
       "Late\n\nBody\n"},
      {"only the first title", "<title>One</title><body>x<title>Two</title></body>", "One\n\nx\n"},
      {"script and style", "<p>a<script>var x = '<p>no</p>';</script>b<style>p{}</style>c</p>",
       "abc\n"},
      {"comments", "<p>a<!-- hidden -->b</p>", "ab\n"},
      {"head metadata", "<head><meta name=description content=nope><link rel=x></head>ok", "ok\n"},
      {"template and iframe", "x<template><p>t</p></template><iframe>f</iframe>y", "xy\n"},
      {"hidden attribute", "<p>a<span hidden>b</span>c</p>", "ac\n"},
      {"display none", "<div style=\"color:red; DISPLAY : none\">gone</div><div>kept</div>",
       "kept\n"},
      {"select shows its first option", "<p>Pick <select><option>one<option>two</select> now</p>",
       "Pick one now\n"},
      {"no alt text invented", "<p>see <img src=a.png alt=\"a picture\"> here</p>", "see here\n"},
      {"empty document", "", ""},
      {"only markup", "<html><body><div></div></body></html>", ""},
  });
}

TEST(HtmlRender, WhitespaceCollapsesOutsidePreformattedText) {
  RunCases({
      {"runs collapse", "<p>  a \n\t b   c  </p>", "a b c\n"},
      {"spaces between inline elements", "<p><b>bold</b> <i>italic</i></p>", "bold italic\n"},
      {"no space invented between inline elements", "<p><b>a</b><i>b</i></p>", "ab\n"},
      {"no-break spaces are spaces", "<p>a&nbsp;&nbsp;b</p>", "a b\n"},
      {"soft hyphen is invisible", "<p>hy&shy;phen</p>", "hyphen\n"},
      {"pre keeps everything", "<pre>\n  a  b\n\tc\n</pre>", "  a  b\n\tc\n"},
      {"pre keeps blank lines", "<pre>x\n\n\ny</pre>", "x\n\n\ny\n"},
      {"pre with markup", "<pre><b>a</b>  <i>b</i></pre>", "a  b\n"},
      {"br inside pre adds a line", "<pre>a\n<br>b</pre>", "a\n\nb\n"},
      {"text after pre collapses again", "<pre>a  b</pre><p>c   d</p>", "a  b\n\nc d\n"},
      {"textarea keeps whitespace", "<textarea>a\n  b</textarea>", "a\n  b\n"},
  });
}

TEST(HtmlRender, BlocksStartLinesAndParagraphsLeaveBlankLines) {
  RunCases({
      {"divs are lines", "<div>a</div><div>b</div>", "a\nb\n"},
      {"paragraphs", "<p>a</p><p>b</p>", "a\n\nb\n"},
      {"implied paragraph ends", "<p>a<p>b", "a\n\nb\n"},
      {"headings", "<h1>Head</h1>text<h2>Sub</h2>", "Head\n\ntext\n\nSub\n"},
      {"no stacked blank lines", "<div><p>a</p></div><div><div><p>b</p></div></div>", "a\n\nb\n"},
      {"br", "a<br>b", "a\nb\n"},
      {"two br leave an empty line", "a<br><br>b", "a\n\nb\n"},
      {"br at the start adds nothing", "<br><br>a", "a\n"},
      {"no trailing spaces", "<p>a <br> b </p>", "a\nb\n"},
      {"inline text around a block", "<body>x<div>y</div>z</body>", "x\ny\nz\n"},
      {"blockquote", "a<blockquote>q</blockquote>b", "a\n\nq\n\nb\n"},
      {"sections", "<section>a</section><article>b</article><nav>c</nav>", "a\nb\nc\n"},
      {"hr separates", "a<hr>b", "a\n\nb\n"},
  });
}

TEST(HtmlRender, ListsGetNoBullets) {
  RunCases({
      {"unordered", "<p>x</p><ul><li>one</li><li>two</li></ul><p>y</p>", "x\n\none\ntwo\n\ny\n"},
      {"ordered", "<ol><li>one<li>two</ol>", "one\ntwo\n"},
      {"nested list stays tight", "<ul><li>a<ul><li>b</li></ul></li><li>c</li></ul>", "a\nb\nc\n"},
      {"definition list", "<dl><dt>term</dt><dd>meaning</dd></dl>", "term\nmeaning\n"},
  });
}

TEST(HtmlRender, TableCellsAreSeparatedByTabs) {
  RunCases({
      {"simple", "<table><tr><td>a</td><td>b</td></tr><tr><td>c</td><td>d</td></tr></table>",
       "a\tb\nc\td\n"},
      {"header cells", "<table><tr><th>H1<th>H2<tr><td>1<td>2</table>", "H1\tH2\n1\t2\n"},
      {"empty cells keep their place",
       "<table><tr><td></td><td>b</td><td></td><td>d</td></tr></table>", "\tb\t\td\n"},
      {"paragraphs in cells stay on the row",
       "<table><tr><td><p>a</p></td><td><p>b</p></td></tr><tr><td><p>c</p></td><td><p>d</p></td></"
       "tr></table>",
       "a\tb\nc\td\n"},
      {"whitespace around cells", "<table>\n<tr>\n <td> a </td>\n <td> b </td>\n</tr>\n</table>",
       "a\tb\n"},
      {"table between paragraphs", "<p>x</p><table><tr><td>a</td></tr></table><p>y</p>",
       "x\n\na\n\ny\n"},
      {"nested table",
       "<table><tr><td>a</td><td><table><tr><td>b</td><td>c</td></tr></table></td></tr></table>",
       "a\tb\tc\n"},
      {"caption", "<table><caption>Cap</caption><tr><td>a</td><td>b</td></tr></table>",
       "Cap\na\tb\n"},
  });
}

TEST(HtmlRender, EntitiesAndReferencesAreDecoded) {
  RunCases({
      {"named", "<p>&lt;tag&gt; &amp; &quot;q&quot; &copy; &eacute;</p>",
       "<tag> & \"q\" \xC2\xA9 \xC3\xA9\n"},
      {"numeric", "<p>&#65;&#x42;&#1046;&#x4E2D;&#128512;</p>",
       "AB\xD0\x96\xE4\xB8\xAD\xF0\x9F\x98\x80\n"},
      {"in title", "<title>a &amp; b</title>", "a & b\n"},
      {"a declaration inside does not switch the decoding",
       "<meta charset=iso-8859-1><meta http-equiv=content-type content='text/html; charset=koi8-r'>"
       "<p>\xC3\xA9</p>",
       "\xC3\xA9\n"},
      {"unknown entity stays", "<p>&bogus; x</p>", "&bogus; x\n"},
      {"non-ascii text",
       "<p>\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 \xE4\xB8\xAD\xE6\x96\x87</p>",
       "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 \xE4\xB8\xAD\xE6\x96\x87\n"},
  });
}

TEST(HtmlRender, ToleratesBrokenMarkup) {
  RunCases({
      {"unclosed", "<div><p>a<b>b", "ab\n"},
      {"stray end tags", "<body>a</div></table>b</body>", "ab\n"},
      {"stray paragraph end", "<body>a</p>b</body>", "ab\n"},
      {"misnested", "<b><i>a</b>b</i>", "ab\n"},
      // Browsers keep what follows the end of the document, and so do we.
      {"text after the document", "<html><body><p>y</p></body></html>z<p>w</p>", "y\n\nz\n\nw\n"},
      {"lt in text", "<p>1 < 2 and 3 > 2</p>", "1 < 2 and 3 > 2\n"},
      {"unterminated comment", "a<!-- never closed", "a\n"},
      {"unterminated tag", "a<p class=\"x", "a\n"},
  });
}

TEST(HtmlRender, FormControlsShowWhatAReaderSees) {
  RunCases({
      {"text field value", "<p>Name <input name=n value=\"Ann Lee\"> here</p>",
       "Name Ann Lee here\n"},
      {"search box and its buttons",
       "<form><input type=search name=q placeholder=Search><input type=hidden value=x>"
       "<input type=submit value=Search><input type=submit value=Go></form>",
       "Search Go\n"},
      {"reset and plain buttons",
       "<p><input type=reset value=Clear><input type=button value=\"Do it\"></p>", "Clear Do it\n"},
      {"placeholders are no text", "<p>Find <input placeholder=Anything> now</p>", "Find now\n"},
      {"hidden, password and choice values stay unseen",
       "<p>a<input type=hidden value=secret><input type=password value=pw>"
       "<input type=checkbox value=on><input type=radio value=r><input type=image value=i>b</p>",
       "ab\n"},
      {"type in any case", "<p><input TYPE=\" Submit \" value=Go></p>", "Go\n"},
      {"unknown type is a text field", "<p><input type=fancy value=x></p>", "x\n"},
      {"value whitespace collapses", "<p><input value=\"  two \n words \"></p>", "two words\n"},
      {"entities in a value", "<p><input type=submit value=\"Fish &amp; Chips\"></p>",
       "Fish & Chips\n"},
      {"hidden input", "<p>a <input value=x hidden> b</p>", "a b\n"},
      {"button label is a word of its own", "<p>Name<button>Go</button>now</p>", "Name Go now\n"},
      {"selected option", "<p>Size <select><option>S<option selected>M<option>L</select></p>",
       "Size M\n"},
      {"first selected option", "<select><option>a<option selected>b<option selected>c</select>",
       "b\n"},
      {"option label", "<select><option label=\"Short\">Long text</option></select>", "Short\n"},
      {"option groups do not break the line",
       "<p>Car <select><optgroup label=EU><option>Volvo</optgroup></select> ok</p>",
       "Car Volvo ok\n"},
      {"markup inside an option", "<select><option><b>bold</b>  one</select>", "bold one\n"},
      {"empty select", "<p>a<select></select>b</p>", "ab\n"},
      {"hidden select", "<p>a <select hidden><option>x</select> b</p>", "a b\n"},
      {"select in a table cell",
       "<table><tr><td>Qty<td><select><option>1<option selected>2</select></table>", "Qty\t2\n"},
      {"datalist suggestions stay unseen", "<p>a<datalist><option value=x>y</datalist>b</p>",
       "ab\n"},
      {"option outside a select", "<div>a<option>b</option>c</div>", "a\nb\nc\n"},
  });
}

TEST(HtmlRender, LigaturesBecomeLetters) {
  RunCases({
      {"in text",
       "<p>co\xEF\xAC\x80"
       "ee o\xEF\xAC\x83"
       "ce \xEF\xAC\x81ne \xEF\xAC\x82ow wa\xEF\xAC\x84"
       "e be\xEF\xAC\x85 fa\xEF\xAC\x86</p>",
       "coffee office fine flow waffle best fast\n"},
      {"as references", "<p>&#xFB01;ne &#64258;ow</p>", "fine flow\n"},
      {"in preformatted text",
       "<pre>o\xEF\xAC\x83"
       "ce</pre>",
       "office\n"},
      {"in the title", "<title>\xEF\xAC\x81le</title>", "file\n"},
      {"in a control", "<input type=submit value=\"\xEF\xAC\x81nd\">", "find\n"},
      {"neighbours unchanged", "<p>\xEF\xAC\x87\xEF\xAC\x93\xEF\xBC\x8C</p>",
       "\xEF\xAC\x87\xEF\xAC\x93\xEF\xBC\x8C\n"},
  });
}

TEST(HtmlRender, DeepNestingAndLongInputStayLinear) {
  std::string deep;
  for (int i = 0; i < 5000; ++i) {
    deep += "<div><span>";
  }
  deep += "x";
  EXPECT_EQ(RenderHtml(deep), "x\n");

  std::string big;
  for (int i = 0; i < 20000; ++i) {
    big += "<tr><td>cell</td><td>" + std::to_string(i) + "</td></tr>";
  }
  const std::string text = RenderHtml("<table>" + big + "</table>");
  EXPECT_EQ(text.substr(0, 16), "cell\t0\ncell\t1\nce");
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 20000);
}

// Whitespace collapsed the plain way, one character at a time: the reference for text whose
// special characters sit anywhere in long runs of plain ones.
std::string CollapsedReference(std::string_view text) {
  std::string out;
  bool space = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b == ' ' || b == '\t' || b == '\n' || b == '\r' || b == '\f' ||
        (b == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0xA0)) {
      space = !out.empty();
      i += b == 0xC2 ? 1 : 0;
      continue;
    }
    if (b == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0xAD) {
      ++i; // soft hyphen
      continue;
    }
    if (b < 0x20 || b == 0x7F) {
      continue;
    }
    if (space) {
      out.push_back(' ');
      space = false;
    }
    if (text.substr(i, 3) == "\xEF\xAC\x81") {
      out.append("fi");
      i += 2;
      continue;
    }
    out.push_back(static_cast<char>(b));
  }
  return out;
}

TEST(HtmlRender, SpecialCharactersAnywhereInLongRuns) {
  // Each special character (or pair of them) at every offset of a long run of words, and at
  // its ends: the text is what collapsing it one character at a time gives.
  const std::string_view specials[] = {" ",
                                       "  ",
                                       "\n",
                                       "\t",
                                       " \n",
                                       "\n ",
                                       "\r\n",
                                       "\x01",
                                       "\x7F",
                                       "\xC2\xA0",
                                       "\xC2\xAD",
                                       "\xC2\xA0\xC2\xA0",
                                       "\xEF\xAC\x81",
                                       "\xC3\xA9",
                                       "\xEF\xBC\x81",
                                       " \xC2\xA0"};
  const std::string words = "lorem ipsum dolor sit amet consectetur adipiscing elit sed do";
  for (const std::string_view special : specials) {
    for (std::size_t at = 0; at <= words.size(); ++at) {
      std::string text = words.substr(0, at);
      text.append(special);
      text.append(words.substr(at));
      SCOPED_TRACE(testing::Message()
                   << "at " << at << " special " << testing::PrintToString(std::string(special)));
      // Escaped as references where the parser would not take the bytes as they are.
      std::string html = "<p>";
      for (const char c : text) {
        html += c == '\x01' ? "&#1;" : c == '\x7F' ? "&#127;" : std::string(1, c);
      }
      html += "</p>";
      const std::string want = CollapsedReference(text);
      EXPECT_EQ(RenderHtml(html), want.empty() ? "" : want + "\n");
    }
  }
}

TEST(HtmlRender, ByteOrderMarksAtTheStart) {
  RunCases({
      {"one mark", "\xEF\xBB\xBF<title>T</title><p>x</p>", "T\n\nx\n"},
      {"two marks", "\xEF\xBB\xBF\xEF\xBB\xBF<title>T</title><p>x</p>", "T\n\nx\n"},
      {"only a mark", "\xEF\xBB\xBF", ""},
  });
}

TEST(HtmlRender, LongDocumentReadInBlocksKeepsEveryConstruct) {
  // The parser reads the text a block at a time: comments, scripts, references, attributes
  // and multi-byte characters land on every kind of block boundary in a long page.
  std::string html = "<!DOCTYPE html><html><head><title>Long</title></head><body>";
  std::string want = "Long\n\n";
  for (int i = 0; i < 3000; ++i) {
    const std::string pad(static_cast<std::size_t>(i % 97), 'x');
    html += "<p class=\"c" + std::to_string(i) + "\">" + pad +
            " &amp; \xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80 ";
    html.append("<!-- a comment ").append(pad).append(" --><script>var s = '</p>");
    html.append(pad).append("';</script>");
    html += "n" + std::to_string(i) + "</p>\n";
    want += pad + (pad.empty() ? "" : " ") + "& \xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80 n" +
            std::to_string(i);
    want += i + 1 < 3000 ? "\n\n" : "\n";
  }
  html += "</body></html><p>after the end</p>";
  want.insert(want.size() - 1, "\n\nafter the end");
  EXPECT_EQ(RenderHtml(html), want);
}

} // namespace
} // namespace scv::htm
