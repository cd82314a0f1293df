// The streaming walkers: a part's text straight from its bytes as they stream by, through the
// sinks, or through the tree when a sink gives up.
#include "ooxml/OfficeXCvt.h"
#include "ooxml/SheetLayout.h"
#include "ooxml/StreamSinks.h"
#include "ooxml/WalkSupport.h"
#include "ooxml/WorkbookAllText.h"
#include "xml/XMLBuild.h"
#include "xml/XMLParser.h"
#include "xml/XMLTagParams.h"
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

namespace {

// name == short constant, compared in line: the scan below runs it for every row, cell and
// value, where a call to the library's comparison costs as much as the rest of the test.
template <std::size_t N> bool IsName(std::string_view name, const char (&constant)[N]) {
  if (name.size() != N - 1) {
    return false;
  }
  for (std::size_t i = 0; i + 1 < N; ++i) {
    if (name[i] != constant[i]) {
      return false;
    }
  }
  return true;
}

// The "r", "t" and "s" of a row or cell tag whose attributes have the plain form (name="value"
// pairs one space apart, at most xml::kMaxPlainParams, none of "r", "t" and "s" twice), read as the
// tree would read them: an empty value stays as its two quotes. False for any other tag.
// Its name is the tag's (see xml::TagName); a tag whose attributes set xml:space="preserve" is
// refused too, since its text keeps its spaces.
struct TPlainTag {
  std::string_view name;
  bool hasRef = false;
  std::string_view ref;
  TCellType type;
};

bool ReadPlainTag(std::string_view tag, TPlainTag& out) {
  out = TPlainTag();
  std::size_t space = 0;
  while (space < tag.size() && tag[space] != ' ') {
    ++space;
  }
  if (space == tag.size()) {
    out.name = xml::TagName(tag);
    return true;
  }
  out.name = tag.substr(1, space - 1);
  std::size_t stop = tag.size() - 1; // the tag's '>'
  if (stop > space + 1 && tag[stop - 1] == '/') {
    --stop;
  }
  if (stop <= space + 1) {
    return true;
  }
  const std::string_view text = tag.substr(space + 1, stop - space - 1);
  const std::size_t n = text.size();
  std::size_t i = 0;
  bool hasType = false;
  for (std::size_t count = 0;; ++count) {
    const std::size_t nameStart = i;
    while (i < n && xml::kPlainName[static_cast<unsigned char>(text[i])]) {
      ++i;
    }
    if (count == xml::kMaxPlainParams || i == nameStart || i + 1 >= n || text[i] != '=' ||
        text[i + 1] != '"') {
      return false;
    }
    const std::size_t nameSize = i - nameStart;
    i += 2;
    const std::size_t valueStart = i;
    while (i < n && xml::kPlainValue[static_cast<unsigned char>(text[i])]) {
      ++i;
    }
    if (i >= n || text[i] != '"') {
      return false;
    }
    const std::string_view value =
        i == valueStart ? text.substr(valueStart - 1, 2) : text.substr(valueStart, i - valueStart);
    ++i;
    if (nameSize == 9 && xml::SameTextAscii(text.substr(nameStart, 9), "xml:space") &&
        xml::SameTextAscii(value, "preserve")) {
      return false;
    }
    if (nameSize == 1) {
      const unsigned c = static_cast<unsigned char>(text[nameStart]) | 0x20u;
      if (c == 'r') {
        if (out.hasRef) {
          return false;
        }
        out.hasRef = true;
        out.ref = value;
      } else if (c == 't') {
        if (hasType) {
          return false;
        }
        hasType = true;
        out.type.stated = true;
        out.type.value = value;
        out.type.shared = xml::SameTextAscii(value, "s");
        out.type.inlineString = xml::SameTextAscii(value, "inlineStr");
      } else if (c == 's') {
        if (out.type.style.data() != nullptr) {
          return false;
        }
        out.type.style = value;
      }
    }
    if (i == n) {
      return true;
    }
    if (text[i] != ' ' || i + 1 >= n) {
      return false;
    }
    ++i;
  }
}

} // namespace

// Flattened: the scan is the cost of a worksheet, and the layout it fills differs by mode, so
// the compiler would otherwise leave its small string and layout steps out of line.
template <typename Layout>
[[gnu::flatten]] bool TSheetSinkOf<Layout>::ReadContent(xml::TXMLLargeTokenizer& tok) {
  if (Top().role != TSheetRole::kRow) {
    return false;
  }
  const std::string_view data = tok.Data();
  std::size_t p = tok.Position();
  std::string_view tag;
  xml::TTokenKind kind = xml::TTokenKind::kEnd;
  // The tag at p, if it is one the general rules would read as it stands.
  const auto nextTag = [&]() {
    if (p >= data.size() || data[p] != '<') {
      return false;
    }
    const void* hit = std::memchr(data.data() + p + 1, '>', data.size() - p - 1);
    if (hit == nullptr) {
      return false;
    }
    const std::size_t end =
        static_cast<std::size_t>(static_cast<const char*>(hit) - data.data()) + 1;
    tag = data.substr(p, end - p);
    if (tag[1] == '!' || tag[1] == '?' || std::memchr(tag.data(), '\n', tag.size()) != nullptr) {
      return false;
    }
    kind = xml::PlainTagKind(tag);
    p = end;
    return true;
  };
  // The cells of the open row through its end tag; false when something in it needs the
  // general rules (the layout is then to be rewound).
  const auto readCells = [&]() {
    for (;;) {
      if (!nextTag()) {
        return false;
      }
      if (kind == xml::TTokenKind::kEndTag) {
        return true; // closes the row, whatever its name
      }
      TPlainTag cell;
      if (!ReadPlainTag(tag, cell) || xml::IsBlankText(cell.name)) {
        return false;
      }
      const bool isCell = IsName(LocalName(cell.name), "c");
      const std::string_view* ref = cell.hasRef ? &cell.ref : nullptr;
      if (kind == xml::TTokenKind::kEmptyTag) {
        layout_->PlaceCell(ref, isCell, [&] { return layout_->ValueText(cell.type, nullptr); });
        continue;
      }
      bool hasValue = false;
      std::string_view value;
      for (;;) {
        if (!nextTag()) {
          return false;
        }
        if (kind == xml::TTokenKind::kEndTag) {
          layout_->PlaceCell(ref, isCell, [&] {
            return layout_->ValueText(cell.type, hasValue ? &value : nullptr);
          });
          break; // closes the cell
        }
        const std::string_view name = xml::TagName(tag);
        // A tag with attributes may preserve its text's spaces (its name then stops short of
        // the tag's end).
        if (xml::IsBlankText(name) || (name.size() + 2 < tag.size() && MayPreserveSpace(tag))) {
          return false;
        }
        const bool isValue = !hasValue && (IsName(name, "v") || IsName(LocalName(name), "v"));
        if (isValue) {
          hasValue = true; // the first "v", with or without text
          value = {};
        }
        if (kind == xml::TTokenKind::kEmptyTag) {
          continue;
        }
        if (p < data.size() && data[p] != '<') {
          // One text: it starts with a visible character, runs to the next '<' and loses
          // its trailing blanks; line ends and zero bytes are left to the general rules.
          if (static_cast<unsigned char>(data[p]) <= 32) {
            return false;
          }
          std::size_t stop = p;
          while (stop < data.size() && data[stop] != '<') {
            const char c = data[stop];
            if (c == '\0' || c == '\r' || c == '\n') {
              return false;
            }
            ++stop;
          }
          if (stop == data.size()) {
            return false;
          }
          std::size_t last = stop;
          while (last > p && static_cast<unsigned char>(data[last - 1]) < 33) {
            --last;
          }
          if (isValue) {
            const std::string_view text = data.substr(p, last - p);
            value = xml::DecodeEntitiesInto(text, decoded_) ? std::string_view(decoded_) : text;
          }
          p = stop;
        }
        if (!nextTag() || kind != xml::TTokenKind::kEndTag) {
          return false;
        }
      }
    }
  };
  // The row the general rules opened.
  typename Layout::TRowMark mark = layout_->MarkRow();
  if (!readCells()) {
    layout_->RewindRow(mark);
    return false;
  }
  Close(0);
  // The rows after it, as long as they are plain: each is placed here only when it would be
  // placed, so that one left to the general rules finds the layout as they would.
  for (;;) {
    const std::size_t rowAt = p;
    TPlainTag row;
    if (!nextTag() || kind == xml::TTokenKind::kEndTag || !layout_->Accepting()) {
      p = rowAt;
      break;
    }
    if (!ReadPlainTag(tag, row) || xml::IsBlankText(row.name)) {
      p = rowAt;
      break;
    }
    const bool isRow = IsName(LocalName(row.name), "row");
    const std::string_view* ref = row.hasRef ? &row.ref : nullptr;
    if (!layout_->WouldPlaceRow(ref, isRow)) {
      p = rowAt;
      break;
    }
    mark = layout_->MarkRow();
    layout_->PlaceRow(ref, isRow);
    if (kind == xml::TTokenKind::kEndTag || kind == xml::TTokenKind::kEmptyTag) {
      layout_->EndRow();
      continue;
    }
    if (!readCells()) {
      layout_->RewindRow(mark);
      p = rowAt;
      break;
    }
    layout_->EndRow();
  }
  tok.ResumeAt(p);
  return true;
}

template bool TSheetSinkOf<TSheetLayout>::ReadContent(xml::TXMLLargeTokenizer& tok);
template bool TSheetSinkOf<TAllTextLayout>::ReadContent(xml::TXMLLargeTokenizer& tok);

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
