// The streaming walkers: a part's text straight from its bytes as they stream by, through the
// sinks, or through the tree when a sink gives up.
#include "ooxml/OfficeXCvt.h"
#include "ooxml/StreamSinks.h"
#include "xml/XMLBuild.h"
#include "xml/XMLParser.h"
#include "xml/XMLTokenizer.h"

#include <cstring>
#include <limits>
#include <string>
#include <string_view>

namespace scv::ooxml {

bool MayPreserveSpace(std::string_view tag) {
  if (tag.size() < 8) {
    return false;
  }
  const std::size_t last = tag.size() - 8; // last place the word can start
  std::size_t i = 0;
  // Eight places at a time: does any byte read 'p' or 'P'? (OR 0x20 maps exactly those two
  // to 0x70; the zero-byte test may flag a place next to a real hit, which the check sorts out.)
  constexpr std::uint64_t kOnes = 0x0101010101010101u;
  for (; i + 8 <= last + 1; i += 8) {
    std::uint64_t word = 0;
    std::memcpy(&word, tag.data() + i, 8);
    const std::uint64_t x = (word | (kOnes * 0x20)) ^ (kOnes * 0x70);
    if (((x - kOnes) & ~x & (kOnes * 0x80)) == 0) {
      continue;
    }
    for (std::size_t j = i; j < i + 8; ++j) {
      if (xml::SameTextAscii(tag.substr(j, 8), "preserve")) {
        return true;
      }
    }
  }
  for (; i <= last; ++i) {
    if (xml::SameTextAscii(tag.substr(i, 8), "preserve")) {
      return true;
    }
  }
  return false;
}

bool TSheetSink::ReadContent(xml::TXMLLargeTokenizer& tok) {
  if (Top().role != TSheetRole::kRow) {
    return false;
  }
  const std::string_view data = tok.Data();
  const TSheetLayout::TRowMark mark = layout_->MarkRow();
  std::size_t p = tok.Position();
  std::string_view tag;
  xml::TTokenKind kind = xml::TTokenKind::kEnd;
  // The tag at p, if it is one the general rules would read as it stands.
  const auto nextTag = [&]() {
    if (p >= data.size() || data[p] != '<') {
      return false;
    }
    // Tags are short: a plain loop beats library searches here.
    std::size_t gt = p + 1;
    while (gt < data.size() && data[gt] != '>') {
      if (data[gt] == '\n') {
        return false;
      }
      ++gt;
    }
    if (gt == data.size()) {
      return false;
    }
    const std::size_t end = gt + 1;
    tag = data.substr(p, end - p);
    kind = xml::TagKind(tag);
    p = end;
    return kind == xml::TTokenKind::kStartTag || kind == xml::TTokenKind::kEmptyTag ||
           kind == xml::TTokenKind::kEndTag;
  };
  const auto fail = [&]() {
    layout_->RewindRow(mark);
    return false;
  };
  for (;;) {
    if (!nextTag()) {
      return fail();
    }
    if (kind == xml::TTokenKind::kEndTag) {
      break; // closes the row, whatever its name
    }
    const std::string_view cellName = xml::TagName(tag);
    if (xml::IsBlankText(cellName)) {
      return fail();
    }
    cellTree_.Clear();
    const std::uint32_t cell = cellTree_.AddNode(xml::TXMLTree::kNone, xml::TXMLTree::kNone);
    if (!cellTree_.SetTagParams(cell, tag, true) || cellTree_.PreservesSpace(cell)) {
      return fail();
    }
    const bool isCell = LocalName(cellName) == "c";
    if (kind == xml::TTokenKind::kEmptyTag) {
      layout_->AddCell(TCompactAccess{cellTree_}, cell, isCell);
      continue;
    }
    bool hasValue = false;
    for (;;) {
      if (!nextTag()) {
        return fail();
      }
      if (kind == xml::TTokenKind::kEndTag) {
        layout_->AddCell(TCompactAccess{cellTree_}, cell, isCell);
        break; // closes the cell
      }
      const std::string_view name = xml::TagName(tag);
      if (xml::IsBlankText(name) || MayPreserveSpace(tag)) {
        return fail();
      }
      std::uint32_t value = xml::TXMLTree::kNone;
      if (!hasValue && LocalName(name) == "v") {
        hasValue = true;
        value = cellTree_.AddNode(cell, xml::TXMLTree::kNone);
        cellTree_.SetName(value, "v", true);
      }
      if (kind == xml::TTokenKind::kEmptyTag) {
        continue;
      }
      if (p < data.size() && data[p] != '<') {
        // One text: it starts with a visible character, runs to the next '<' and loses
        // its trailing blanks; line ends and zero bytes are left to the general rules.
        if (static_cast<unsigned char>(data[p]) <= 32) {
          return fail();
        }
        std::size_t stop = p;
        while (stop < data.size() && data[stop] != '<') {
          const char c = data[stop];
          if (c == '\0' || c == '\r' || c == '\n') {
            return fail();
          }
          ++stop;
        }
        if (stop == data.size()) {
          return fail();
        }
        std::size_t last = stop;
        while (last > p && static_cast<unsigned char>(data[last - 1]) < 33) {
          --last;
        }
        const std::string_view text = data.substr(p, last - p);
        if (value != xml::TXMLTree::kNone) {
          if (xml::DecodeEntitiesInto(text, decoded_)) {
            cellTree_.SetText(value, decoded_, false);
          } else {
            cellTree_.SetText(value, text, true);
          }
        }
        p = stop;
      }
      if (!nextTag() || kind != xml::TTokenKind::kEndTag) {
        return fail();
      }
    }
  }
  tok.ResumeAt(p);
  Close(0);
  return true;
}

namespace {

// Bytes in memory handed out in pieces of a fixed size, as an archive's parts come.
class TSplitPieces final : public xml::TXMLPieceSource {
public:
  TSplitPieces(std::string_view bytes, std::size_t pieceSize)
      : rest_(bytes), pieceSize_(pieceSize) {}
  std::string_view NextPiece() override {
    const std::string_view piece = rest_.substr(0, pieceSize_);
    rest_.remove_prefix(piece.size());
    return piece;
  }

private:
  std::string_view rest_;
  std::size_t pieceSize_;
};

// Walks the part through the sink, over the bytes as they stand (pieceSize 0) or in pieces;
// false when the sink gave up.
template <typename Sink>
bool StreamWalk(std::string_view markup, std::size_t pieceSize, Sink& sink) {
  if (pieceSize == 0) {
    xml::TXMLLargeTokenizer tok(markup);
    return xml::BuildTree(tok, sink);
  }
  TSplitPieces pieces(markup, pieceSize);
  xml::TXMLLargeTokenizer tok(pieces);
  return xml::BuildTree(tok, sink);
}

// The text of one part read as it streams by, or through the tree when the streaming walk
// gives up.
template <typename Sink, typename TreeText>
std::string StreamPartText(std::string_view markup, std::size_t pieceSize, Sink& sink,
                           xml::TXMLTree& tree, TreeText treeText) {
  if (StreamWalk(markup, pieceSize, sink)) {
    return sink.Finish();
  }
  xml::LoadXMLTree(markup, tree, std::numeric_limits<std::size_t>::max(), sink.PreservingName());
  std::string text = treeText(tree);
  tree.Clear();
  return text;
}

std::string TextXmlText(std::string_view xml, bool word, xml::TXMLTree& tree,
                        std::size_t pieceSize) {
  TTextSink sink(word, pieceSize == 0 ? xml.size() : 0);
  return StreamPartText(xml, pieceSize, sink, tree, [&](const xml::TXMLTree& t) {
    return word ? WordPartText(t) : SlidePartText(t);
  });
}

} // namespace

void SharedStringsXml(std::string_view markup, TSharedStrings& strings, xml::TXMLTree& tree,
                      std::size_t pieceSize) {
  strings.Clear();
  TSharedStringSink sink(strings);
  if (StreamWalk(markup, pieceSize, sink)) {
    return;
  }
  strings.Clear();
  xml::LoadXMLTree(markup, tree);
  SharedStringsFromTree(tree, strings);
  tree.Clear();
}

std::string WordXmlText(std::string_view xml, xml::TXMLTree& tree, std::size_t pieceSize) {
  return TextXmlText(xml, true, tree, pieceSize);
}
std::string SlideXmlText(std::string_view xml, xml::TXMLTree& tree, std::size_t pieceSize) {
  return TextXmlText(xml, false, tree, pieceSize);
}
std::string SheetXmlText(std::string_view xml, const TSharedStrings& shared, xml::TXMLTree& tree,
                         std::size_t pieceSize) {
  TSheetSink sink(shared);
  return StreamPartText(xml, pieceSize, sink, tree,
                        [&](const xml::TXMLTree& t) { return SheetPartText(t, shared); });
}

} // namespace scv::ooxml
