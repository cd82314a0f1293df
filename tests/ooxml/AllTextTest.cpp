// The all-text mode of documents and presentations: the stories and their order, what each
// leaves out, the streaming and tree walks of a story alike, relationship targets, and
// hostile packages.
#include "ooxml/AllTextParts.h"
#include "ooxml/OfficeXCvt.h"
#include "platform/FileIo.h"
#include "support/ProcessRunner.h"
#include "support/TestPaths.h"
#include "support/ZipBuilder.h"
#include "xml/XMLBuild.h"
#include "xml/XMLTokenizer.h"
#include "xml/XMLTree.h"

#include <gtest/gtest.h>

#include <chrono>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace scv::ooxml {
namespace {

const std::string kBom = "\xEF\xBB\xBF";

using TEntries = std::vector<std::pair<std::string, std::string>>;

std::string Zip(const TEntries& entries) {
  test::TZipBuilder zip;
  for (const auto& [name, data] : entries) {
    zip.Add(name, data, 8);
  }
  return zip.Build();
}

// The switch on for one conversion, off again whatever happens.
struct TAllTextOn {
  TAllTextOn() { SetOfficeXAllText(true); }
  ~TAllTextOn() { SetOfficeXAllText(false); }
  TAllTextOn(const TAllTextOn&) = delete;
  TAllTextOn& operator=(const TAllTextOn&) = delete;
};

struct TRun {
  std::int32_t code;
  std::string text;
};

TRun Convert(test::TTempDir& dir, const TEntries& entries, std::int32_t kind, bool allText) {
  const std::string path = dir.Write(kind == kPackageDocument ? "d.docx" : "p.pptx", Zip(entries));
  TConversionResult result;
  std::int32_t code = 0;
  {
    const std::optional<TAllTextOn> on =
        allText ? std::make_optional<TAllTextOn>() : std::optional<TAllTextOn>();
    const std::u16string name = platform::ArgumentToWide(path);
    code = kind == kPackageDocument ? DocxToText(name, 0, result, 65001)
                                    : PptxToText(name, 0, result, 65001);
  }
  TRun run{code, {}};
  if (code > 0) {
    run.text.assign(reinterpret_cast<const char*>(result.Data()), static_cast<std::size_t>(code));
    run.text.erase(0, kBom.size());
  }
  return run;
}

std::string Para(const std::string& text) {
  return "<w:p><w:r><w:t>" + text + "</w:t></w:r></w:p>";
}

std::string Rel(const std::string& id, const std::string& type, const std::string& target,
                const std::string& extra = "") {
  return "<Relationship Id=\"" + id +
         "\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/" + type +
         "\" Target=\"" + target + "\"" + extra + "/>";
}

std::string Rels(const std::string& items) {
  return "<?xml version=\"1.0\"?><Relationships xmlns=\"http://schemas.openxmlformats.org/"
         "package/2006/relationships\">" +
         items + "</Relationships>";
}

// A text box the way a word processor writes it: the drawing for new readers, the same text
// as VML for old ones.
std::string TextBox(const std::string& text) {
  return "<w:r><mc:AlternateContent><mc:Choice Requires=\"wps\"><w:drawing><wp:anchor>"
         "<wps:txbx><w:txbxContent>" +
         Para(text) +
         "</w:txbxContent></wps:txbx></wp:anchor></w:drawing></mc:Choice><mc:Fallback><w:pict>"
         "<v:textbox><w:txbxContent>" +
         Para(text) +
         "</w:txbxContent></v:textbox></w:pict></mc:Fallback></mc:AlternateContent></w:r>";
}

std::string Notes(const std::string& root, const std::string& item, const std::string& text) {
  return "<w:" + root + "><w:" + item +
         " w:type=\"separator\" w:id=\"-1\"><w:p><w:r><w:separator/>" + "</w:r></w:p></w:" + item +
         "><w:" + item +
         " w:type=\"continuationSeparator\" w:id=\"0\"><w:p><w:r><w:t>cont</w:t></w:r></w:p></w:" +
         item + "><w:" + item + " w:id=\"1\">" + Para(text) + "</w:" + item + "></w:" + root + ">";
}

TEntries StoryDocument() {
  const std::string body =
      "<w:document><w:body>" +
      std::string("<w:p><w:r><w:t>Body one</w:t></w:r><w:r><w:footnoteReference w:id=\"1\"/>"
                  "</w:r></w:p>") +
      "<w:p><w:r><w:t xml:space=\"preserve\">Anchor </w:t></w:r>" + TextBox("Box text") +
      "<w:r><w:t>after</w:t></w:r></w:p>"
      "<w:p><w:ins><w:r><w:t>kept</w:t></w:r></w:ins><w:del><w:r><w:delText>gone</w:delText>"
      "</w:r></w:del><w:r><w:fldChar w:fldCharType=\"begin\"/></w:r><w:r><w:instrText> PAGE "
      "</w:instrText></w:r><w:r><w:fldChar w:fldCharType=\"separate\"/></w:r><w:r><w:t>7</w:t>"
      "</w:r><w:r><w:fldChar w:fldCharType=\"end\"/></w:r></w:p>"
      "<w:p><w:pPr><w:sectPr><w:headerReference w:type=\"default\" r:id=\"rId3\"/>"
      "<w:footerReference w:type=\"default\" r:id=\"rId4\"/></w:sectPr></w:pPr></w:p>" +
      Para("Section two") +
      "<w:sectPr><w:headerReference w:type=\"first\" r:id=\"rId5\"/>"
      "<w:headerReference w:type=\"default\" r:id=\"rId3\"/>"
      "<w:headerReference w:type=\"even\" r:id=\"rId99\"/>"
      "<w:footerReference w:type=\"default\" r:id=\"rId1\"/></w:sectPr></w:body></w:document>";
  const std::string rels =
      Rels(Rel("rId1", "footnotes", "footnotes.xml") + Rel("rId2", "endnotes", "endnotes.xml") +
           Rel("rId3", "header", "header1.xml") + Rel("rId4", "footer", "footer1.xml") +
           Rel("rId5", "header", "./media/../header2.xml") +
           Rel("rId6", "comments", "/word/comments.xml") +
           Rel("rId7", "hyperlink", "http://example.org/", " TargetMode=\"External\""));
  return {
      {"word/document.xml", body},
      {"word/_rels/document.xml.rels", rels},
      {"word/footnotes.xml", Notes("footnotes", "footnote", "Foot text")},
      {"word/endnotes.xml", Notes("endnotes", "endnote", "End text")},
      {"word/comments.xml",
       "<w:comments><w:comment w:id=\"0\">" + Para("Comment text") + "</w:comment></w:comments>"},
      {"word/header1.xml", "<w:hdr>" + Para("Header one") + "</w:hdr>"},
      {"word/header2.xml", "<w:hdr><w:p>" + TextBox("Header box") + "</w:p></w:hdr>"},
      {"word/footer1.xml", "<w:ftr>" + Para("Footer one") + "</w:ftr>"},
  };
}

TEST(AllText, DocumentStoriesFollowTheBodyInTheOldFormatsOrder) {
  test::TTempDir dir;
  const TEntries document = StoryDocument();
  const TRun all = Convert(dir, document, kPackageDocument, true);
  ASSERT_GT(all.code, 0);
  EXPECT_EQ(all.text, "Body one\r\n"
                      "Anchor after\r\n"
                      "kept7\r\n"
                      "\r\n"
                      "Section two\r\n"
                      "Foot text\r\n" // the separator notes left out
                      "Header one\r\n"
                      "Footer one\r\n"
                      "Header box\r\n\r\n" // first reference of the second section; rId3 once
                      "Comment text\r\n"
                      "End text\r\n"
                      "Box text\r\n"); // taken out of the body, once
  // Without the switch the body alone, as ever: the text box twice, inside its paragraph.
  const TRun plain = Convert(dir, document, kPackageDocument, false);
  EXPECT_EQ(plain.text, "Body one\r\nAnchor Box text\r\nBox text\r\nafter\r\nkept7\r\n\r\n"
                        "Section two\r\n");
}

TEST(AllText, MissingStoriesAreSkipped) {
  test::TTempDir dir;
  TEntries document = StoryDocument();
  // No relationships: the body alone (its text boxes still at the end).
  TEntries noRels = document;
  noRels.erase(noRels.begin() + 1);
  EXPECT_EQ(Convert(dir, noRels, kPackageDocument, true).text,
            "Body one\r\nAnchor after\r\nkept7\r\n\r\nSection two\r\nBox text\r\n");
  // Story parts named but not there, or not extracting.
  TEntries missing = {document[0], document[1], {"word/comments.xml", std::string("\x00", 1)}};
  EXPECT_EQ(Convert(dir, missing, kPackageDocument, true).text,
            "Body one\r\nAnchor after\r\nkept7\r\n\r\nSection two\r\nBox text\r\n");
  // A story over the text limit is left out; the body and the other stories stay.
  TEntries large = document;
  large[2].second = "<w:footnotes>" + Para(std::string(3000, 'x')) + "</w:footnotes>";
  SetOfficeXTextLimit(2000);
  const TRun limited = Convert(dir, large, kPackageDocument, true);
  SetOfficeXTextLimit(kDefaultOfficeXTextLimit);
  EXPECT_EQ(limited.text.find("xxx"), std::string::npos);
  EXPECT_NE(limited.text.find("Body one\r\n"), std::string::npos);
  EXPECT_NE(limited.text.find("End text\r\n"), std::string::npos);
  // No body: not a document, as without the switch.
  EXPECT_EQ(Convert(dir, {document[1], document[2]}, kPackageDocument, true).code, -5);
}

// The streaming sink and the tree walk give the same text and collect the same references
// and text boxes, for every kind of story.
TEST(AllText, StreamingAndTreeWalksAgree) {
  struct Case {
    TStoryKind kind;
    bool word;
    std::string xml;
  };
  const Case cases[] = {
      {TStoryKind::kBody, true, StoryDocument()[0].second},
      {TStoryKind::kNotes, true, Notes("footnotes", "footnote", "Foot text")},
      {TStoryKind::kPlain, true, "<w:hdr><w:p>" + TextBox("Header box") + "</w:p></w:hdr>"},
      {TStoryKind::kBody, true,
       "<w:document><mc:AlternateContent><mc:Fallback>" + Para("only fallback") +
           "</mc:Fallback></mc:AlternateContent><mc:AlternateContent><mc:Choice>" + Para("one") +
           "</mc:Choice><mc:Choice>" + Para("two") + "</mc:Choice><x><mc:Fallback>" +
           Para("nested deeper") + "</mc:Fallback></x></mc:AlternateContent>" + "<w:txbxContent>" +
           Para("outer") + "<w:txbxContent>" + Para("inner") +
           "</w:txbxContent></w:txbxContent></w:document>"},
      {TStoryKind::kNotesPage, false,
       "<p:notes><p:cSld><p:spTree><p:sp><p:nvSpPr><p:nvPr><p:ph type=\"sldImg\"/></p:nvPr>"
       "</p:nvSpPr></p:sp><p:sp><p:nvSpPr><p:nvPr><p:ph type=\"body\" idx=\"1\"/></p:nvPr>"
       "</p:nvSpPr><p:txBody><a:p><a:r><a:t> Note text </a:t></a:r><a:fld type=\"slidenum\">"
       "<a:t>4</a:t></a:fld><a:br/><a:r><a:t>line</a:t></a:r></a:p></p:txBody></p:sp><p:sp>"
       "<p:nvSpPr><p:nvPr><p:ph type=\"sldNum\" idx=\"2\"/></p:nvPr></p:nvSpPr><p:txBody>"
       "<a:p><a:fld type=\"slidenum\"><a:t>4</a:t></a:fld></a:p></p:txBody></p:sp>"
       "</p:spTree></p:cSld></p:notes>"},
  };
  const std::string want[] = {
      "Body one\r\nAnchor after\r\nkept7\r\n\r\nSection two\r\n",
      "Foot text\r\n",
      "Header box\r\n\r\n",
      "only fallback\r\none\r\nnested deeper\r\n", // a Fallback counts only inside its alternate
      " Note text \r\nline\r\n",
  };
  const std::string wantBoxes[] = {"Box text\r\n", "", "", "inner\r\nouter\r\n", ""};
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.xml.substr(0, 200));
    TStoryRules streamRules(c.kind);
    TStorySink sink(c.word, streamRules);
    xml::TXMLLargeTokenizer tok(c.xml);
    ASSERT_TRUE(xml::BuildTree(tok, sink));
    const std::string streamed = sink.Finish();

    TStoryRules treeRules(c.kind);
    xml::TXMLTree tree;
    xml::LoadXMLTree(c.xml, tree, std::numeric_limits<std::size_t>::max(),
                     c.word ? std::string_view() : "a:t");
    const std::string walked = StoryTreeText(tree, c.word, treeRules);

    EXPECT_EQ(streamed, want[i]);
    EXPECT_EQ(walked, streamed);
    EXPECT_EQ(streamRules.TextBoxes(), wantBoxes[i]);
    EXPECT_EQ(treeRules.TextBoxes(), streamRules.TextBoxes());
    EXPECT_EQ(treeRules.ReferenceIds(), streamRules.ReferenceIds());
  }
}

TEST(AllText, RelationshipTargets) {
  const std::pair<const char*, const char*> cases[] = {
      {"header1.xml", "word\\header1.xml"},
      {"./media/../header1.xml", "word\\header1.xml"},
      {"/word/comments.xml", "word\\comments.xml"},
      {"../customXml/item1.xml", "customXml\\item1.xml"},
      {"sub\\x.xml", "word\\sub\\x.xml"},
      {"../../outside.xml", ""},
      {"/../outside.xml", ""},
      {"*.xml", ""},
      {"header?.xml", ""},
      {"", ""},
      {"..", ""},
  };
  for (const auto& [target, want] : cases) {
    SCOPED_TRACE(target);
    EXPECT_EQ(ResolveTarget("word\\document.xml", target), want);
  }
  EXPECT_EQ(ResolveTarget("presentation.xml", "slides/slide1.xml"), "slides\\slide1.xml");
}

std::string SlideXml(const std::string& text) {
  return "<p:sld><p:cSld><p:spTree><p:sp><p:txBody><a:p><a:r><a:t>" + text +
         "</a:t></a:r></a:p></p:txBody></p:sp></p:spTree></p:cSld></p:sld>";
}

std::string NotesXml(const std::string& text) {
  return "<p:notes><p:cSld><p:spTree><p:sp><p:nvSpPr><p:nvPr><p:ph type=\"sldImg\"/></p:nvPr>"
         "</p:nvSpPr></p:sp><p:sp><p:nvSpPr><p:nvPr><p:ph type=\"body\"/></p:nvPr></p:nvSpPr>"
         "<p:txBody><a:p><a:r><a:t>" +
         text +
         "</a:t></a:r></a:p></p:txBody></p:sp><p:sp><p:nvSpPr><p:nvPr><p:ph type=\"sldNum\"/>"
         "</p:nvPr></p:nvSpPr><p:txBody><a:p><a:fld type=\"slidenum\"><a:t>9</a:t></a:fld>"
         "</a:p></p:txBody></p:sp><p:sp><p:nvSpPr><p:nvPr><p:ph type=\"ftr\"/></p:nvPr>"
         "</p:nvSpPr><p:txBody><a:p><a:r><a:t>Notes footer</a:t></a:r></a:p></p:txBody></p:sp>"
         "<p:sp><p:nvSpPr><p:nvPr><p:ph type=\"hdr\"/></p:nvPr></p:nvSpPr><p:txBody><a:p><a:r>"
         "<a:t>Notes header</a:t></a:r></a:p></p:txBody></p:sp><p:sp><p:nvSpPr><p:nvPr>"
         "<p:ph type=\"dt\"/></p:nvPr></p:nvSpPr><p:txBody><a:p><a:fld type=\"datetime1\">"
         "<a:t>1/1/2026</a:t></a:fld></a:p></p:txBody></p:sp></p:spTree></p:cSld></p:notes>";
}

std::string Presentation(const std::string& ids) {
  return "<p:presentation><p:sldMasterIdLst/><p:sldIdLst>" + ids + "</p:sldIdLst></p:presentation>";
}

std::string SldId(const std::string& id) {
  return "<p:sldId id=\"256\" r:id=\"" + id + "\"/>";
}

TEntries Deck() {
  return {
      {"ppt/presentation.xml",
       Presentation(SldId("rId3") + SldId("rId9") + SldId("rId2") + SldId("rId3"))},
      {"ppt/_rels/presentation.xml.rels",
       Rels(Rel("rId1", "slideMaster", "slideMasters/slideMaster1.xml") +
            Rel("rId2", "slide", "slides/slide1.xml") + Rel("rId3", "slide", "slides/slide2.xml"))},
      {"ppt/slides/slide1.xml", SlideXml("Shown second")},
      {"ppt/slides/slide2.xml", SlideXml("Shown first")},
      {"ppt/slides/_rels/slide2.xml.rels",
       Rels(Rel("rId1", "slideLayout", "../slideLayouts/slideLayout1.xml") +
            Rel("rId2", "notesSlide", "../notesSlides/notesSlide1.xml"))},
      {"ppt/notesSlides/notesSlide1.xml", NotesXml("Note of the first")},
  };
}

TEST(AllText, SlidesInTheShowOrderThenTheirNotes) {
  test::TTempDir dir;
  const TRun all = Convert(dir, Deck(), kPackagePresentation, true);
  ASSERT_GT(all.code, 0);
  EXPECT_EQ(all.text, "Shown first\r\nShown second\r\nNote of the first\r\n");
  EXPECT_EQ(Convert(dir, Deck(), kPackagePresentation, false).text,
            "slide1:\r\nShown second\r\nslide2:\r\nShown first\r\n");
  // A presentation part that lists no slide leaves the slides by part name.
  TEntries unlisted = Deck();
  unlisted[0].second = Presentation("");
  EXPECT_EQ(Convert(dir, unlisted, kPackagePresentation, true).text,
            "slide1:\r\nShown second\r\nslide2:\r\nShown first\r\n");
  unlisted.erase(unlisted.begin());
  EXPECT_EQ(Convert(dir, unlisted, kPackagePresentation, true).text,
            "slide1:\r\nShown second\r\nslide2:\r\nShown first\r\n");
}

// Notes pages read on a second thread come out as read in turn: in the slides' order, each page
// once however many slides name it, a damaged page skipped, a slide listed twice or named as
// another's notes read once, a missing slide and a missing page passed over.
TEST(AllText, NotesReadAheadKeepTheOrderAndTheRules) {
  std::string ids;
  std::string rels;
  TEntries deck;
  for (int i = 1; i <= 24; ++i) {
    const std::string n = std::to_string(i);
    ids += SldId("s" + n);
    rels += Rel("s" + n, "slide", "slides/slide" + n + ".xml");
    if (i != 7) {
      deck.emplace_back("ppt/slides/slide" + n + ".xml", SlideXml("Slide " + n));
    }
    // Slides 3 and 4 share a page, 5 names slide 6 as its notes, 9 a missing page.
    const std::string page = i == 4   ? "notesSlide3.xml"
                             : i == 5 ? "../slides/slide6.xml"
                             : i == 9 ? "notesSlide99.xml"
                                      : "notesSlide" + n + ".xml";
    deck.emplace_back("ppt/slides/_rels/slide" + n + ".xml.rels",
                      Rels(Rel("n", "notesSlide", "../notesSlides/" + page)));
    deck.emplace_back("ppt/notesSlides/notesSlide" + n + ".xml",
                      i == 11 ? "<p:notes><p:cSld>" : NotesXml("Note " + n));
  }
  ids += SldId("s2");
  deck.emplace_back("ppt/presentation.xml", Presentation(ids));
  deck.emplace_back("ppt/_rels/presentation.xml.rels", Rels(rels));
  test::TTempDir dir;
  SetOfficeXNotesAheadFrom(std::numeric_limits<std::size_t>::max());
  const TRun inTurn = Convert(dir, deck, kPackagePresentation, true);
  SetOfficeXNotesAheadFrom(1);
  const TRun ahead = Convert(dir, deck, kPackagePresentation, true);
  SetOfficeXNotesAheadFrom(kNotesAheadFrom);
  ASSERT_GT(inTurn.code, 0);
  EXPECT_EQ(ahead.code, inTurn.code);
  EXPECT_EQ(ahead.text, inTurn.text);
  EXPECT_NE(inTurn.text.find("Slide 24\r\nNote 1\r\n"), std::string::npos);
  EXPECT_EQ(inTurn.text.find("Note 4\r\n"), std::string::npos);
  EXPECT_EQ(inTurn.text.find("Note 11"), std::string::npos);
  EXPECT_EQ(inTurn.text.find("Slide 7"), std::string::npos);
  EXPECT_EQ(inTurn.text.find("Slide 2\r\n"), inTurn.text.rfind("Slide 2\r\n"));
}

// Relationships that point at themselves, at parts read already, outside the package or at
// nothing, and references by the ten thousand: each part is read once at most, and the
// conversion ends quickly with the text of the parts that exist.
TEST(AllText, HostilePackagesEndQuickly) {
  test::TTempDir dir;
  const auto started = std::chrono::steady_clock::now();

  std::string refs;
  std::string rels;
  for (int i = 0; i < 20000; ++i) {
    const std::string id = "r" + std::to_string(i);
    refs += "<w:headerReference r:id=\"" + id + "\"/>";
    rels += Rel(id, "header", i % 2 == 0 ? "header1.xml" : "missing" + std::to_string(i) + ".xml");
  }
  const TEntries document = {
      {"word/document.xml", "<w:document><w:body>" + Para("Body") +
                                "<w:sectPr><w:headerReference r:id=\"self\"/>"
                                "<w:headerReference r:id=\"main\"/>"
                                "<w:headerReference r:id=\"out\"/>" +
                                refs + "</w:sectPr></w:body></w:document>"},
      {"word/_rels/document.xml.rels",
       Rels(Rel("self", "header", "_rels/document.xml.rels") +
            Rel("main", "header", "document.xml") + Rel("out", "header", "../../../etc/passwd") +
            Rel("rId1", "footnotes", "footnotes.xml") + rels)},
      {"word/header1.xml", "<w:hdr>" + Para("Header") + "</w:hdr>"},
      {"word/footnotes.xml", "<w:footnotes>" + Para("Foot") + "</w:footnotes>"},
  };
  EXPECT_EQ(Convert(dir, document, kPackageDocument, true).text, "Body\r\nFoot\r\nHeader\r\n");

  std::string ids;
  for (int i = 0; i < 100000; ++i) {
    ids += SldId(i % 2 == 0 ? "rId2" : "x" + std::to_string(i));
  }
  const TEntries deck = {
      {"ppt/presentation.xml", Presentation(ids + SldId("self") + SldId("rId3"))},
      {"ppt/_rels/presentation.xml.rels",
       Rels(Rel("rId2", "slide", "slides/slide1.xml") + Rel("rId3", "slide", "slides/slide2.xml") +
            Rel("self", "slide", "presentation.xml"))},
      {"ppt/slides/slide1.xml", SlideXml("One")},
      {"ppt/slides/slide2.xml", SlideXml("Two")},
      // The notes of the first slide are the first slide itself and then the presentation.
      {"ppt/slides/_rels/slide1.xml.rels",
       Rels(Rel("n", "notesSlide", "slide1.xml") + Rel("m", "notesSlide", "../presentation.xml"))},
      {"ppt/slides/_rels/slide2.xml.rels", Rels(Rel("n", "notesSlide", "slide2.xml.rels"))},
  };
  EXPECT_EQ(Convert(dir, deck, kPackagePresentation, true).text, "One\r\nTwo\r\n");
  SetOfficeXNotesAheadFrom(1);
  EXPECT_EQ(Convert(dir, deck, kPackagePresentation, true).text, "One\r\nTwo\r\n");
  SetOfficeXNotesAheadFrom(kNotesAheadFrom);

  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
}

} // namespace
} // namespace scv::ooxml
