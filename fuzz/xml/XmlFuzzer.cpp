// Fuzzes the XML reader: the compact tree and the walkers over it, the streaming walkers
// against them, the item tree with its writer, and the buffered tokenizer against the
// whole-memory one (same tokens, or an error).
#include "bytes/FormatError.h"
#include "bytes/MemoryStream.h"
#include "ooxml/OfficeXCvt.h"
#include "ooxml/WalkSupport.h"
#include "xml/XMLParser.h"
#include "xml/XMLTokenizer.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::size_t kMaxInput = 256u << 10;

struct TToken {
  scv::xml::TTokenKind kind;
  std::string text;
  bool operator==(const TToken&) const = default;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxInput) {
    return 0;
  }
  using namespace scv::ooxml;
  using namespace scv::xml;
  const std::string_view xml(reinterpret_cast<const char*>(data), size);
  SetOfficeXTextLimit(std::size_t{8} << 20);

  TXMLTree tree;
  LoadXMLTree(xml, tree);
  TSharedStrings shared;
  shared.Add("a");
  shared.Add("");
  std::string texts;
  try {
    texts = WordPartText(tree) + SlidePartText(tree) + SheetPartText(tree, shared);
  } catch (const scv::bytes::EFormatError&) {
  }

  // The item tree reads the same and walks to the same texts; the writer copes with it.
  TXMLParser doc;
  scv::bytes::TMemoryStream stream;
  stream.Write(xml.data(), xml.size());
  stream.SetPosition(0);
  doc.LoadFromStream(stream);
  std::string itemTexts;
  try {
    itemTexts = WordPartText(&doc.RootItem()) + SlidePartText(&doc.RootItem()) +
                SheetPartText(&doc.RootItem(), shared);
  } catch (const scv::bytes::EFormatError&) {
  }
  if (itemTexts != texts) {
    __builtin_trap();
  }
  scv::bytes::TMemoryStream saved;
  doc.SaveToStream(saved, (size & 1) != 0);

  // The streaming walkers give what the tree walk gives, failures included.
  const auto outcome = [](auto walk) {
    try {
      return walk();
    } catch (const scv::bytes::EFormatError&) {
      return std::string("<failed>");
    }
  };
  // They do so over the bytes as they stand and read in pieces of a size the input picks.
  // Slides read their runs with their spaces kept, so their tree is loaded that way.
  TXMLTree slideTree;
  LoadXMLTree(xml, slideTree, std::numeric_limits<std::size_t>::max(), "a:t");
  TXMLTree spare;
  const std::size_t piece = size > 0 ? 1 + static_cast<unsigned char>(xml.back()) % 16 : 0;
  if (outcome([&] { return WordPartText(tree); }) !=
          outcome([&] { return WordXmlText(xml, spare); }) ||
      outcome([&] { return SlidePartText(slideTree); }) !=
          outcome([&] { return SlideXmlText(xml, spare, piece); }) ||
      outcome([&] { return SheetPartText(tree, shared); }) !=
          outcome([&] { return SheetXmlText(xml, shared, spare); }) ||
      outcome([&] { return SheetPartText(tree, shared); }) !=
          outcome([&] { return SheetXmlText(xml, shared, spare, piece); }) ||
      outcome([&] { return WordPartText(tree); }) !=
          outcome([&] { return WordXmlText(xml, spare, piece); })) {
    __builtin_trap();
  }
  TSharedStrings streamed;
  SharedStringsXml(xml, streamed, spare, piece);
  TSharedStrings fromTree;
  SharedStringsFromTree(tree, fromTree);
  if (fromTree.Count() != streamed.Count()) {
    __builtin_trap();
  }
  for (std::size_t i = 0; i < streamed.Count(); ++i) {
    if (streamed.At(i) != fromTree.At(i)) {
      __builtin_trap();
    }
  }

  // Both tokenizers give the same tokens for whatever the buffered one accepts.
  const bool preserve = size > 0 && (static_cast<unsigned char>(xml.front()) & 1) != 0;
  std::vector<TToken> large;
  {
    TXMLLargeTokenizer tok(xml);
    while (tok.Kind() != TTokenKind::kEnd) {
      large.push_back({tok.Kind(), std::string(tok.Token())});
      tok.NextToken(preserve);
    }
  }
  // The windowed tokenizer gives them too, whatever the pieces.
  {
    struct TPieces final : TXMLPieceSource {
      std::string_view rest;
      std::size_t size;
      std::string_view NextPiece() override {
        const std::string_view p = rest.substr(0, size);
        rest.remove_prefix(p.size());
        return p;
      }
    } pieces;
    pieces.rest = xml;
    pieces.size = piece == 0 ? 1 : piece;
    TXMLLargeTokenizer tok(pieces);
    std::size_t i = 0;
    while (tok.Kind() != TTokenKind::kEnd) {
      // A long ignored token keeps only its tail in the window.
      const bool ignored = tok.Kind() == TTokenKind::kComment ||
                           tok.Kind() == TTokenKind::kInstruction ||
                           tok.Kind() == TTokenKind::kDocType;
      if (i >= large.size() || large[i].kind != tok.Kind() ||
          (!ignored && large[i].text != tok.Token())) {
        __builtin_trap();
      }
      ++i;
      tok.NextToken(preserve);
    }
    if (i != large.size()) {
      __builtin_trap();
    }
  }
  std::vector<TToken> buffered;
  stream.SetPosition(0);
  TMemoryByteSource source(stream);
  try {
    TXMLTokenizer tok(source);
    while (tok.Kind() != TTokenKind::kEnd) {
      buffered.push_back({tok.Kind(), std::string(tok.Token())});
      tok.NextToken(preserve);
    }
  } catch (const EParserError&) {
    return 0;
  }
  if (buffered != large) {
    __builtin_trap();
  }
  return 0;
}
