// Fuzzes the XML reader: the compact tree and the walkers over it, the item tree with its
// writer, and the buffered tokenizer against the whole-memory one (same tokens, or an error).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ooxml/MemoryStream.h"
#include "ooxml/OfficeXCvt.h"
#include "ooxml/XMLParser.h"
#include "ooxml/XMLTokenizer.h"

namespace {

constexpr std::size_t kMaxInput = 256u << 10;

struct TToken {
  scv::ooxml::TTokenKind kind;
  std::string text;
  bool operator==(const TToken&) const = default;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxInput) {
    return 0;
  }
  using namespace scv::ooxml;
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
  } catch (const EPartFormatError&) {
  }

  // The item tree reads the same and walks to the same texts; the writer copes with it.
  TXMLParser doc;
  TMemoryStream stream;
  stream.Write(xml.data(), xml.size());
  stream.SetPosition(0);
  doc.LoadFromStream(stream);
  std::string itemTexts;
  try {
    itemTexts = WordPartText(&doc.RootItem()) + SlidePartText(&doc.RootItem()) +
                SheetPartText(&doc.RootItem(), shared);
  } catch (const EPartFormatError&) {
  }
  if (itemTexts != texts) {
    __builtin_trap();
  }
  TMemoryStream saved;
  doc.SaveToStream(saved, (size & 1) != 0);

  // Both tokenizers give the same tokens for whatever the buffered one accepts.
  const bool preserve = size > 0 && (data[0] & 1) != 0;
  std::vector<TToken> large;
  {
    TXMLLargeTokenizer tok(xml);
    while (tok.Kind() != TTokenKind::kEnd) {
      large.push_back({tok.Kind(), std::string(tok.Token())});
      tok.NextToken(preserve);
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
