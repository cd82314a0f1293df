// Tree building, item operations, document events, file loading and writing of the XML reader.
#include "xml/XMLParser.h"

#include "bytes/FormatError.h"
#include "bytes/MemoryStream.h"
#include "platform/FileIo.h"
#include "support/ProcessRunner.h"
#include "xml/XMLBuild.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace scv::xml {
namespace {

void Load(TXMLParser& doc, std::string_view xml) {
  bytes::TMemoryStream stream;
  stream.Write(xml.data(), xml.size());
  stream.SetPosition(0);
  doc.LoadFromStream(stream);
}

// The tree as one line: name[params]{text}(children...).
std::string Dump(const TXMLItem& item) { // NOLINT(misc-no-recursion): test trees are shallow
  std::string s = item.Name();
  if (item.Params().Count() != 0) {
    s += "[";
    for (std::size_t i = 0; i < item.Params().Count(); ++i) {
      s += (i ? "|" : "") + item.Params()[i];
    }
    s += "]";
  }
  if (!item.Text().empty()) {
    s += "{" + item.Text() + "}";
  }
  if (item.SubItemCount() != 0) {
    s += "(";
    for (std::size_t i = 0; i < item.SubItemCount(); ++i) {
      s += (i ? "," : "") + Dump(*item.SubItems(i));
    }
    s += ")";
  }
  return s;
}

std::string Tree(std::string_view xml) {
  TXMLParser doc;
  Load(doc, xml);
  return Dump(doc.RootItem());
}

TEST(XMLParser, BuildsTrees) {
  struct Case {
    const char* name;
    std::string xml;
    const char* want;
  } cases[] = {
      {"w:t trimmed", "<w:t>  a b  </w:t>", "w:t{a b}"},
      {"w:t preserved", "<w:t xml:space=\"preserve\">  a b  </w:t>",
       "w:t[xml:space=preserve]{  a b  }"},
      {"text around a child joined with CR LF", "<p>one<b/>two</p>", "p{one\r\ntwo}(b)"},
      {"joined text decoded once", "<p>&amp;lt;<b/>x</p>", "p{&lt;\r\nx}(b)"},
      {"joined past a comment, decoded once", "<p>&amp;lt;<!-- c -->x</p>", "p{&lt;\r\nx}"},
      {"single text decoded once", "<p>&amp;lt;</p>", "p{&lt;}"},
      {"character references and the apostrophe", "<p a=\"&#x41;&apos;\">&#65;&apos;</p>",
       "p[a=A']{A'}"},
      {"CDATA is text as it stands", "<t><![CDATA[ <a> &amp; ]]></t>", "t{ <a> &amp; }"},
      {"CDATA joins like a text", "<t>a &amp;<![CDATA[&amp;]]>b</t>", "t{a &\r\n&amp;\r\nb}"},
      {"a comment holding > is ignored whole", "<r><!-- a > b --><c/></r>", "r(c)"},
      {"instructions and document types are ignored",
       "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY e \"x\">]><?pi x?><r><?pi y?><c/></r>",
       "r(c)"},
      {"root takes the document element", "<?xml version=\"1.0\"?><!-- c --><r a=\"1\"><c/></r>",
       "r[a=1](c)"},
      {"end tag closes whatever is open", "<r><a><b></x>t</y><c/></r>", "r(a{t}(b),c)"},
      {"empty-element only document", "<a x=\"1\"/>", "(a[x=1])"},
      {"zero byte ends the document", std::string("<r><a/>\0<b/></r>", 16), "r(a)"},
      {"a blank root takes a start tag after an empty element", "<r/><s>x</s>", "s{x}(r)"},
      {"after the closed root nothing is read", "<r></r><s>x</s>", "r"},
      {"preserve lasts until the next tag", "<r><t xml:space=\"preserve\"> a </t> b </r>",
       "r{ b }(t[xml:space=preserve]{ a })"},
      {"whitespace-only text replaced by later text",
       "<r><t xml:space=\"preserve\">  <b/>x</t></r>", "r(t[xml:space=preserve]{x}(b))"},
      {"a blank-named element takes the next start tag", "<r>< ><a k=\"v\"></r>", "r(a[k=v])"},
      {"stray end tag before the root ends the document", "</x><r/>", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Tree(c.xml), c.want);
  }
}

// The caller may bound the elements open at once: the limit itself is allowed, one more is not,
// and elements closed along the way free their places.
TEST(XMLParser, DepthLimit) {
  TXMLTree tree;
  // The first start tag names the root; b, c and d open below it.
  const std::string deep = "<a><b><c><d><e/></d></c></b></a>";
  EXPECT_NO_THROW(LoadXMLTree(deep, tree, 4));
  // The error names the element and the offset just after the start tag one too deep.
  try {
    LoadXMLTree(deep, tree, 3);
    ADD_FAILURE() << "no error";
  } catch (const bytes::EFormatError& e) {
    EXPECT_EQ(e.Structure(), "element");
    EXPECT_EQ(e.Offset(), 12u);
  }
  std::string wide = "<a>";
  for (int i = 0; i < 1000; ++i) {
    wide += "<b><c>x</c></b>";
  }
  wide += "</a>";
  EXPECT_NO_THROW(LoadXMLTree(wide, tree, 4));
  std::string unclosed;
  for (int i = 0; i < 100000; ++i) {
    unclosed += "<a>";
  }
  EXPECT_THROW(LoadXMLTree(unclosed, tree, 10), bytes::EFormatError);
}

TEST(XMLParser, StyleSheetDeclaration) {
  TXMLParser doc;
  Load(doc, "<?xml-stylesheet type=\"text/xsl\" HrEf=\"s.xsl\"?><r/>");
  EXPECT_EQ(doc.StyleSheet(), "s.xsl");
}

TEST(XMLParser, ItemOperations) {
  TXMLParser doc;
  int changes = 0;
  doc.XMLItemChanged = [&](TXMLParser&, TXMLItem&) { ++changes; };
  TXMLItem& root = doc.RootItem();
  TXMLItem* a = root.New();
  a->SetName("a");
  TXMLItem* b = root.New();
  b->SetName("B");
  TXMLItem* c = root.New();
  c->SetName("c");
  EXPECT_EQ(changes, 6);
  EXPECT_EQ(a->Parent(), &root);
  EXPECT_EQ(a->Document(), &doc);
  EXPECT_EQ(root.IndexOf(c), 2);
  EXPECT_EQ(root.IndexOfName("b"), 1);
  EXPECT_EQ(root.IndexOfName("a", 1), -1);
  root.Move(c, 0);
  EXPECT_EQ(root.IndexOf(c), 0);
  EXPECT_EQ(root.ItemByName("b"), b);
  // Looking for an absent name adds an empty item.
  TXMLItem* d = root.ItemByName("d");
  EXPECT_EQ(root.Count(), 4u);
  EXPECT_EQ(d->Name(), "d");
  root.Delete(1);
  EXPECT_EQ(root.SubItemCount(), 3u);
  EXPECT_EQ(root.IndexOf(a), -1);
  const int before = changes;
  root.Clear();
  EXPECT_EQ(changes, before); // clearing does not notify
  EXPECT_EQ(root.Count(), 0u);
  EXPECT_EQ(root.Name(), "");
}

TEST(XMLParser, EventsAndVetoes) {
  TXMLParser doc;
  std::vector<std::string> log;
  int changes = 0;
  doc.XMLItemChanged = [&](TXMLParser&, TXMLItem&) { ++changes; };
  doc.OnLoaded = [&](TXMLParser&) { log.push_back("loaded"); };
  doc.OnCleared = [&](TXMLParser&) { log.push_back("cleared"); };
  bool allowLoad = true;
  doc.BeforeLoad = [&](TXMLParser&, bool& allow) { allow = allowLoad; };
  bool allowClear = false;
  doc.BeforeClear = [&](TXMLParser&, bool& allow) { allow = allowClear; };

  Load(doc, "<r><a/></r>");
  EXPECT_EQ(changes, 0); // building fires no change events
  EXPECT_TRUE(doc.XMLItemChanged);
  allowLoad = false;
  Load(doc, "<s/>");
  EXPECT_EQ(Dump(doc.RootItem()), "r(a)");
  doc.Clear();
  EXPECT_EQ(Dump(doc.RootItem()), "r(a)");
  allowClear = true;
  doc.Clear();
  EXPECT_EQ(Dump(doc.RootItem()), "");
  EXPECT_EQ(log, (std::vector<std::string>{"loaded", "cleared"}));

  TXMLGhost ghost;
  ghost.Clear(); // no document: nothing happens
  ghost.SetPrimaryDocument(&doc);
  allowLoad = true;
  bytes::TMemoryStream stream;
  stream.Write("<g/>", 4);
  stream.SetPosition(0);
  ghost.LoadFromStream(stream);
  EXPECT_EQ(Dump(doc.RootItem()), "(g)");
}

TEST(XMLParser, LoadFromFileFallsBackForLongLines) {
  scv::test::TTempDir dir;
  // Multi-line file: read through the buffered tokenizer.
  std::string lines = "<?xml version=\"1.0\"?>\r\n<r>\r\n";
  for (int i = 0; i < 300; ++i) {
    lines += "  <i n=\"" + std::to_string(i) + "\">v" + std::to_string(i) + "</i>\r\n";
  }
  lines += "</r>\r\n";
  // One long line: the buffered tokenizer gives up, the whole-memory one reads it.
  std::string one = "<r>";
  for (int i = 0; i < 300; ++i) {
    one += "<i n=\"" + std::to_string(i) + "\">v" + std::to_string(i) + "</i>";
  }
  one += "</r>";
  for (const std::string* xml : {&lines, &one}) {
    const std::string path = dir.Write("t.xml", *xml);
    TXMLParser fromFile;
    fromFile.LoadFromFile(platform::ArgumentToWide(path));
    EXPECT_EQ(Dump(fromFile.RootItem()), Tree(*xml));
    EXPECT_EQ(fromFile.RootItem().SubItemCount(), 300u);
  }
  TXMLParser doc;
  EXPECT_THROW(doc.LoadFromFile(platform::ArgumentToWide(dir.File("missing.xml"))), EXMLFileError);
}

TEST(XMLParser, Writer) {
  TXMLParser doc;
  Load(doc, "<r a=\"x&amp;y\"><t>1 &lt; 2</t><e/></r>");
  TXMLItem* p = doc.RootItem().New();
  p->SetName("p");
  p->SetText("a\r\nb");
  doc.SetStyleSheet("s.xsl");
  bytes::TMemoryStream out;
  doc.SaveToStream(out, false);
  const std::string got(reinterpret_cast<const char*>(out.Data()), out.Size());
  EXPECT_EQ(got, "<?xml version=\"1.0\" encoding=\"ISO8859-1\" ?>\r\n"
                 "<?xml-stylesheet type=\"text/xsl\" href=\"s.xsl\"?>\r\n"
                 "  <r a=\"x&amp;y\">\r\n"
                 "    <t>\r\n"
                 "      1 &lt; 2\r\n"
                 "    </t>\r\n"
                 "    <e/>\r\n"
                 "    <p>\r\n"
                 "      a<br/>b\r\n"
                 "    </p>\r\n"
                 "  </r>\r\n");
  // Without line breaks every element keeps the root's indent; a style sheet suppresses the
  // style-sheet line.
  doc.SetCrLfInAsString(false);
  bytes::TMemoryStream flat;
  doc.SaveToStream(flat, true);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(flat.Data()), flat.Size()),
            "<?xml version=\"1.0\" encoding=\"ISO8859-1\" ?>\r\n"
            "  <r a=\"x&amp;y\">  <t>  1 &lt; 2  </t>  <e/>  <p>  a<br/>b  </p>  </r>");
  // What the writer stores reads back as the same tree (a stored line break would read back
  // as an element, so the item holding one is left out).
  doc.RootItem().Delete(2);
  doc.SetCrLfInAsString(true);
  scv::test::TTempDir dir;
  doc.SaveToFile(platform::ArgumentToWide(dir.File("x.xml")));
  TXMLParser back;
  back.LoadFromFile(platform::ArgumentToWide(dir.File("x.xml")));
  EXPECT_EQ(Dump(back.RootItem()), Dump(doc.RootItem()));
  EXPECT_EQ(back.StyleSheet(), "s.xsl");
  doc.SaveToFile(platform::ArgumentToWide(dir.File("x.XsL")));
  EXPECT_EQ(scv::test::ReadFileBytes(dir.File("x.XsL")).find("xml-stylesheet"), std::string::npos);
}

TEST(XMLParser, DeepNestingNeedsNoStack) {
  constexpr int kDepth = 200000;
  std::string xml;
  xml.reserve(kDepth * 7 + 16);
  for (int i = 0; i < kDepth; ++i) {
    xml += "<a>";
  }
  xml += "x";
  for (int i = 0; i < kDepth; ++i) {
    xml += "</a>";
  }
  TXMLTree tree;
  LoadXMLTree(xml, tree);
  EXPECT_EQ(tree.NodeCount(), static_cast<std::size_t>(kDepth));
  TXMLParser doc;
  Load(doc, xml);
  const TXMLItem* item = &doc.RootItem();
  int depth = 1;
  while (item->SubItemCount() != 0) {
    item = item->SubItems(0);
    ++depth;
  }
  EXPECT_EQ(depth, kDepth);
  EXPECT_EQ(item->Text(), "x");
  bytes::TMemoryStream out;
  doc.SetCrLfInAsString(false);
  doc.SaveToStream(out, true);
  EXPECT_GT(out.Size(), static_cast<std::size_t>(kDepth) * 9);
  doc.Clear(); // destroys the chain without recursion
}

TEST(XMLParser, CompactTreeMatchesItemTree) {
  const std::string xml =
      "<worksheet><dimension ref=\"A1:B2\"/><sheetData><row r=\"1\"><c r=\"A1\" t=\"s\">"
      "<v>0</v></c></row></sheetData></worksheet>";
  TXMLTree tree;
  LoadXMLTree(xml, tree);
  const auto& root = tree.Node(TXMLTree::Root());
  EXPECT_EQ(root.name, "worksheet");
  const std::uint32_t dim = tree.ChildByName(TXMLTree::Root(), "DIMENSION");
  ASSERT_NE(dim, TXMLTree::kNone);
  EXPECT_TRUE(tree.HasParam(tree.Node(dim), "REF"));
  EXPECT_EQ(tree.ParamValue(tree.Node(dim), "ref"), "A1:B2");
  EXPECT_EQ(tree.ChildByName(TXMLTree::Root(), "cols"), TXMLTree::kNone);
}

TEST(XMLParser, CompactTreeAttributesEqualTheGeneralRules) {
  // Random tags over the characters the attribute rules react to: the tree's direct reading
  // must give the lines the general rules give.
  std::mt19937 rng(11);
  const std::string alphabet = "ab= \"\"&lt;;/\r\nAB";
  for (int round = 0; round < 5000; ++round) {
    std::string tag = "<e ";
    const int len = static_cast<int>(rng() % 24);
    for (int k = 0; k < len; ++k) {
      tag += alphabet[rng() % alphabet.size()];
    }
    tag += rng() % 2 ? "/>" : ">";
    std::string_view cleaned = tag;
    std::string noPairs;
    if (RemoveLinePairs(tag, noPairs)) {
      cleaned = noPairs;
    }
    TParamList want;
    ParseTagParams(cleaned, want);
    TXMLTree tree;
    LoadXMLTree(tag, tree);
    const auto& root = tree.Node(TXMLTree::Root());
    std::string_view element = root.name;
    std::uint32_t node = TXMLTree::Root();
    if (element != "e") {
      node = root.firstChild; // an empty-element tag hangs below the unnamed root
      ASSERT_NE(node, TXMLTree::kNone) << tag;
    }
    const auto& n = tree.Node(node);
    std::vector<std::string> got;
    for (std::uint32_t k = 0; k < n.paramCount; ++k) {
      got.push_back(tree.ParamLine(n, k));
    }
    std::vector<std::string> expected;
    for (std::size_t k = 0; k < want.Count(); ++k) {
      expected.push_back(want[k]);
    }
    ASSERT_EQ(got, expected) << "tag [" << tag << "]";
  }
}

} // namespace
} // namespace scv::xml
