// Office Open XML packages (docx, xlsx, pptx) to text: the package driver, the walkers for
// word-processing parts, worksheets and slides, and the final encoding.
#include "ooxml/OfficeXCvt.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string>

#include "codecs/Inflate.h"
#include "bytes/MemoryStream.h"
#include "xml/XMLBuild.h"
#include "xml/XMLParser.h"
#include "zip/ZipReader.h"
#include "platform/CodePage.h"
#include "platform/FileIo.h"
#include "platform/LocaleInfo.h"
#include "platform/StrToInt.h"

namespace scv::ooxml {

namespace {

std::size_t gTextLimit = kDefaultOfficeXTextLimit;
// Largest part read into memory; a larger entry counts as not extracted.
std::uint64_t gPartLimit = std::uint64_t{1} << 30;
std::size_t gPieceSize = codecs::TInflateStream::kDefaultPieceSize;
// A part read whole into the tree, or an entry decoded whole, may hold this many bytes per
// byte of the archive, and at least the floor: the tree costs up to about 16 bytes per byte
// of markup.
constexpr std::uint64_t kTreeCeilingFloor = std::uint64_t{16} << 20;
constexpr std::uint64_t kTreeCeilingPerByte = 16;
// What a streaming walk may hold beyond its output, in bytes per byte of the archive and at
// least the floor: the shared-string list (texts and 16 bytes for each), one token, and the
// open elements (about kOpenElementBytes each). More fails the conversion.
constexpr std::uint64_t kWalkCeilingFloor = std::uint64_t{64} << 20;
constexpr std::uint64_t kWalkCeilingPerByte = 64;
constexpr std::uint64_t kOpenElementBytes = 128;

// The module-wide objects: one ZIP reader, one document with its forwarder, the shared
// strings, and the compact tree parts are read into.
struct TOfficeXModule {
  zip::TZipReader zip;
  // Most bytes of a part read whole into the tree (see ReadPart).
  std::uint64_t treeCeiling = 0;
  // Most bytes a streaming walk may hold beyond its output (see kWalkCeilingFloor).
  std::uint64_t walkCeiling = 0;
  xml::TXMLParser document;
  xml::TXMLGhost ghost;
  TSharedStrings sharedStrings;
  xml::TXMLTree tree;

  TOfficeXModule() { ghost.SetPrimaryDocument(&document); }
  ~TOfficeXModule() { ghost.SetPrimaryDocument(nullptr); }
  TOfficeXModule(const TOfficeXModule&) = delete;
  TOfficeXModule& operator=(const TOfficeXModule&) = delete;
};

std::unique_ptr<TOfficeXModule>& ModuleSlot() {
  static std::unique_ptr<TOfficeXModule> module;
  return module;
}

TOfficeXModule& Module() {
  auto& slot = ModuleSlot();
  if (!slot) {
    slot = std::make_unique<TOfficeXModule>();
  }
  return *slot;
}

void CheckGrowth(const std::string& text, std::size_t more) {
  if (more > gTextLimit || text.size() > gTextLimit - more) {
    throw EPartFormatError("Text too large");
  }
}

// ---------------------------------------------------------------------------------------------
// Tree access for the walkers: the compact tree and the item tree read the same way.

struct TCompactAccess {
  const xml::TXMLTree& tree;
  using TRef = std::uint32_t;
  static constexpr TRef kNull = xml::TXMLTree::kNone;

  std::string_view Name(TRef n) const { return tree.Node(n).name; }
  std::string_view Text(TRef n) const { return tree.Node(n).text; }
  bool HasParams(TRef n) const { return tree.Node(n).paramCount != 0; }
  bool HasParam(TRef n, std::string_view name) const { return tree.HasParam(tree.Node(n), name); }
  std::string_view ParamValue(TRef n, std::string_view name) const {
    return tree.ParamValue(tree.Node(n), name);
  }
  bool HasLine(TRef n, std::string_view line) const {
    return tree.HasParamLine(tree.Node(n), line);
  }
  TRef ChildByName(TRef n, std::string_view name) const { return tree.ChildByName(n, name); }

  // Children in order: a cursor that is the child itself.
  struct TCursor {
    TRef node;
  };
  TCursor FirstChild(TRef n) const { return {tree.Node(n).firstChild}; }
  bool Done(const TCursor& c) const { return c.node == kNull; }
  TRef Get(const TCursor& c) const { return c.node; }
  void Next(TCursor& c) const { c.node = tree.Node(c.node).nextSibling; }
};

struct TItemAccess {
  using TRef = const xml::TXMLItem*;
  static constexpr TRef kNull = nullptr;

  std::string_view Name(TRef n) const { return n->Name(); }
  std::string_view Text(TRef n) const { return n->Text(); }
  bool HasParams(TRef n) const { return n->Params().Count() != 0; }
  bool HasParam(TRef n, std::string_view name) const { return n->Params().IndexOfName(name) >= 0; }
  std::string_view ParamValue(TRef n, std::string_view name) const {
    return n->Params().Value(name);
  }
  bool HasLine(TRef n, std::string_view line) const { return n->Params().IndexOf(line) >= 0; }
  TRef ChildByName(TRef n, std::string_view name) const {
    // Looking only: an absent element reads as an empty one, so nothing is added.
    const std::ptrdiff_t i = n->IndexOfName(name, 0);
    return i < 0 ? nullptr : n->SubItems(static_cast<std::size_t>(i));
  }

  struct TCursor {
    TRef parent;
    std::size_t index;
  };
  TCursor FirstChild(TRef n) const { return {n, 0}; }
  bool Done(const TCursor& c) const { return c.index >= c.parent->SubItemCount(); }
  TRef Get(const TCursor& c) const { return c.parent->SubItems(c.index); }
  void Next(TCursor& c) const { ++c.index; }
};

// Depth-first walk without recursion: onEnter before an element's children, onLeave after.
template <typename Access, typename Enter, typename Leave>
void Walk(const Access& access, typename Access::TRef root, Enter onEnter, Leave onLeave) {
  using TCursor = typename Access::TCursor;
  std::vector<std::pair<typename Access::TRef, TCursor>> stack;
  onEnter(root);
  stack.emplace_back(root, access.FirstChild(root));
  while (!stack.empty()) {
    auto& [node, cursor] = stack.back();
    if (access.Done(cursor)) {
      const auto leaving = node;
      stack.pop_back();
      onLeave(leaving);
      continue;
    }
    const auto child = access.Get(cursor);
    access.Next(cursor);
    onEnter(child);
    stack.emplace_back(child, access.FirstChild(child));
  }
}

template <typename Access> std::string WordText(const Access& access, typename Access::TRef root) {
  std::string text;
  if (root == Access::kNull) {
    return text;
  }
  Walk(
      access, root,
      [&](auto n) {
        const std::string_view name = access.Name(n);
        if (name == "w:br") {
          text += "\r\n";
        } else if (name == "w:t") {
          CheckGrowth(text, access.Text(n).size());
          text += access.Text(n);
        } else if (name == "w:tab" && !access.HasParams(n)) {
          text += '\t';
        } else if (name == "w:noBreakHyphen") {
          text += '-';
        }
      },
      [&](auto n) {
        if (access.Name(n) == "w:p") {
          text += "\r\n";
        }
      });
  return text;
}

template <typename Access>
std::string SlideText(const Access& access, typename Access::TRef root) {
  std::string text;
  if (root == Access::kNull) {
    return text;
  }
  Walk(
      access, root,
      [&](auto n) {
        if (access.Name(n) == "a:t") {
          CheckGrowth(text, access.Text(n).size());
          text += access.Text(n);
        }
      },
      [&](auto n) {
        if (access.Name(n) == "a:p") {
          text += "\r\n";
        }
      });
  return text;
}

// Row number of a row's "r": an integer, or else its leading decimal digits.
std::int32_t LenientInt(std::string_view text) {
  std::int32_t value = 0;
  if (StrToInt32(text, value)) {
    return value;
  }
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') {
    ++i;
  }
  std::int64_t v = 0;
  const std::size_t first = i;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    v = v * 10 + (text[i] - '0');
    if (v > std::numeric_limits<std::int32_t>::max()) {
      throw EPartFormatError("Number out of range");
    }
    ++i;
  }
  if (i == first) {
    throw EPartFormatError("Not a number");
  }
  return static_cast<std::int32_t>(v);
}

// The worksheet as a grid from A1 to the dimension's last cell. The layout walks rows and
// cells in their order and matches them to grid positions: a row or cell that does not fall
// on the next position is tried again for the following one, so one out of order (or beyond
// the grid) leaves the rest of its sheet or row empty. Empty positions contribute only line
// ends and TABs, which the trimming after each row and at the end removes when nothing follows
// them; so the text is built from the rows and cells present, with the line ends of empty rows
// added only when a later row has text. Rows are given one at a time, in order, so the layout
// serves the tree walk and the streaming walk alike.
class TSheetLayout {
public:
  TSheetLayout(const TSharedStrings& shared, std::int32_t lastRow, std::int32_t lastCol)
      : shared_(shared), lastRow_(lastRow), lastCol_(lastCol) {}

  // Whether a further row can still place text (otherwise the rest of the sheet is empty).
  bool Accepting() const { return !stopped_ && r_ <= lastRow_; }

  // A row begins: false when it places nothing (no number: passed over; a number out of
  // order or beyond the grid: the rest of the sheet stays empty), and then it gets no cells.
  template <typename Access> bool BeginRow(const Access& access, typename Access::TRef row) {
    if (!access.HasParam(row, "r")) {
      return false;
    }
    const std::int32_t rowNumber = LenientInt(access.ParamValue(row, "r"));
    if (rowNumber < r_ || rowNumber > lastRow_) {
      stopped_ = true; // never matches: every remaining grid row is empty
      return false;
    }
    pendingLines_ += static_cast<std::size_t>(rowNumber - r_);
    r_ = std::int64_t{rowNumber} + 1;
    rowStart_ = text_.size();
    k_ = 1;
    cellsDone_ = lastCol_ < 1;
    return true;
  }

  // The row's cells, in order; one out of order or beyond the grid ends the row's text.
  template <typename Access> void AddCell(const Access& access, typename Access::TRef cell) {
    if (cellsDone_ || !access.HasParam(cell, "r")) {
      return;
    }
    std::int32_t cellRow = 0;
    std::int32_t col = 0;
    CellRefToRowCol(access.ParamValue(cell, "r"), cellRow, col);
    if (col < k_ || col > lastCol_) {
      cellsDone_ = true;
      return;
    }
    const auto gap = static_cast<std::size_t>(col - k_);
    CheckGrowth(text_, gap);
    text_.append(gap, '\t');
    for (auto v = access.FirstChild(cell); !access.Done(v); access.Next(v)) {
      if (access.Name(access.Get(v)) == "v") {
        const std::string_view value = access.HasLine(cell, "t=s")
                                           ? SharedStringAt(shared_, access.Text(access.Get(v)))
                                           : access.Text(access.Get(v));
        CheckGrowth(text_, value.size() + 1);
        text_ += value;
        break;
      }
    }
    text_ += '\t';
    k_ = std::int64_t{col} + 1;
  }

  // The row ends: its trailing TABs go, and the line ends of the empty rows before it come in
  // front of it once it has text.
  void EndRow() {
    std::size_t end = text_.size();
    while (end > rowStart_ && text_[end - 1] == '\t') {
      --end;
    }
    text_.resize(end);
    if (end == rowStart_) {
      ++pendingLines_;
      return;
    }
    if (pendingLines_ != 0) {
      CheckGrowth(text_, 2 * pendingLines_);
      text_.insert(rowStart_, 2 * pendingLines_, '\n');
      for (std::size_t i = 0; i < pendingLines_; ++i) {
        text_[rowStart_ + 2 * i] = '\r';
      }
    }
    pendingLines_ = 1;
  }

  // The cells of a row so far, to take back cells read ahead on a guess.
  struct TRowMark {
    std::size_t size;
    std::int64_t k;
    bool cellsDone;
  };
  TRowMark MarkRow() const { return {text_.size(), k_, cellsDone_}; }
  void RewindRow(const TRowMark& mark) {
    text_.resize(mark.size);
    k_ = mark.k;
    cellsDone_ = mark.cellsDone;
  }

  std::string Finish() {
    TrimTrailingLineEnds(text_);
    text_ += "\r\n";
    return std::move(text_);
  }

private:
  const TSharedStrings& shared_;
  std::int32_t lastRow_;
  std::int32_t lastCol_;
  std::int64_t r_ = 1;              // next grid row
  bool stopped_ = false;
  std::size_t pendingLines_ = 0;    // line ends of rows whose text is still to come
  std::size_t rowStart_ = 0;        // where the current row's text begins
  std::int64_t k_ = 1;              // next grid column of the current row
  bool cellsDone_ = false;          // the current row takes no more cells
  std::string text_;
};

// Last row and column of a dimension's "ref": the cell after its colon, or the whole value.
void LastCellOf(std::string_view ref, std::int32_t& lastRow, std::int32_t& lastCol) {
  if (const std::size_t colon = ref.find(':'); colon != std::string_view::npos) {
    ref = ref.substr(colon + 1);
  }
  CellRefToRowCol(ref, lastRow, lastCol);
}

template <typename Access>
std::string SheetText(const Access& access, typename Access::TRef root,
                      const TSharedStrings& shared) {
  using TRef = typename Access::TRef;
  if (root == Access::kNull) {
    return {};
  }
  const TRef dimension = access.ChildByName(root, "dimension");
  if (dimension == Access::kNull || !access.HasParam(dimension, "ref")) {
    return {};
  }
  std::int32_t lastRow = 0;
  std::int32_t lastCol = 0;
  LastCellOf(access.ParamValue(dimension, "ref"), lastRow, lastCol);
  TSheetLayout layout(shared, lastRow, lastCol);
  const TRef data = access.ChildByName(root, "sheetData");
  if (data != Access::kNull) {
    for (auto rows = access.FirstChild(data); !access.Done(rows) && layout.Accepting();
         access.Next(rows)) {
      const TRef row = access.Get(rows);
      if (layout.BeginRow(access, row)) {
        for (auto cells = access.FirstChild(row); !access.Done(cells); access.Next(cells)) {
          layout.AddCell(access, access.Get(cells));
        }
        layout.EndRow();
      }
    }
  }
  return layout.Finish();
}

// ---------------------------------------------------------------------------------------------
// Streaming walkers: the tree-building rules run over the part, and each walker keeps only
// what its text needs (the current row, the shared string being read), so a part costs its
// own bytes and little more. They give the text the tree walk gives; the few shapes whose
// text depends on what comes later (an element renamed after it started, a dimension after
// the sheet data, a text run holding elements that write text) make them give up, and the
// part is then read into the tree.

struct TNeedTree {};

// Attributes matter to most elements only for xml:space="preserve"; a tag that does not hold
// the letters "preserve" (in any case) cannot produce that value, since entity decoding only
// ever produces punctuation and line ends.
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

// The open elements, innermost last, with a role each; attribute storage for the current tag.
template <typename TRole> class TStreamSinkBase {
public:
  bool BlankName(std::uint32_t /*node*/) const { return stack_.back().blank; }
  std::uint32_t AddChild(std::uint32_t /*parent*/, std::uint32_t /*lastChild*/) {
    stack_.emplace_back();
    return static_cast<std::uint32_t>(stack_.size() - 1);
  }
  void SetParams(std::uint32_t /*node*/, const xml::TParamList& params) {
    stack_.back().attrs->SetParams(stack_.back().attrIndex, params);
  }
  void SetStyleSheet(std::string_view /*reference*/) {}

protected:
  struct TEntry {
    TRole role{};
    bool named = false;
    bool blank = true;
    bool hasValue = false;                // the first "v" (shared strings: child) was seen
    std::uint32_t keep = xml::TXMLTree::kNone; // node in the current cell's tree
    std::size_t start = 0;                // text size when a text run began
    xml::TXMLTree* attrs = nullptr;            // where this tag's attributes went
    std::uint32_t attrIndex = 0;
  };

  void BeginStack(TRole rootRole) {
    stack_.clear();
    stack_.emplace_back();
    stack_.back().role = rootRole;
    stack_.back().named = true; // the root starts with an empty name and takes one rename
    rootRenamed_ = false;
  }
  // Records a name; true for an element's first name. The root's second name (its first real
  // one) also counts as first; any other rename needs the tree.
  bool Name(std::string_view name) {
    TEntry& e = stack_.back();
    e.blank = xml::IsBlankText(name);
    if (!e.named) {
      e.named = true;
      return true;
    }
    if (stack_.size() == 1 && !rootRenamed_) {
      rootRenamed_ = true;
      return false;
    }
    throw TNeedTree{};
  }
  // Reads the tag's attributes into the scratch tree when needed (or always when `need`).
  bool ScratchParams(std::string_view tag, bool stable, bool need) {
    TEntry& e = stack_.back();
    if (!need && !MayPreserveSpace(tag)) {
      e.attrs = nullptr;
      return true;
    }
    scratch_.Clear();
    e.attrs = &scratch_;
    e.attrIndex = scratch_.AddNode(xml::TXMLTree::kNone, xml::TXMLTree::kNone);
    return scratch_.SetTagParams(e.attrIndex, tag, stable);
  }
  bool Preserves() const {
    const TEntry& e = stack_.back();
    return e.attrs != nullptr && e.attrs->PreservesSpace(e.attrIndex);
  }
  TEntry& Top() { return stack_.back(); }
  TEntry& Parent() { return stack_[stack_.size() - 2]; }
  bool AtRoot() const { return stack_.size() == 1; }
  TEntry Pop() {
    TEntry e = stack_.back();
    stack_.pop_back();
    return e;
  }

  xml::TXMLTree scratch_;

private:
  std::vector<TEntry> stack_;
  bool rootRenamed_ = false;
};

// Word-processing and slide text: runs of text, paragraph ends, and (in documents) breaks,
// TABs and non-breaking hyphens, written as the elements go by.
enum class TTextRole : std::uint8_t { kOther, kRun, kParagraph, kTab };

class TTextSink : public TStreamSinkBase<TTextRole> {
public:
  // The text of a part is in practice no longer than the part (each piece stands for at least
  // as many bytes of markup), so its room is set aside once: no copies as it grows, and pages
  // never written are never touched.
  TTextSink(bool word, std::size_t partSize) : word_(word) { text_.reserve(partSize); }

  void Begin() { BeginStack(TTextRole::kOther); }
  void SetName(std::uint32_t /*node*/, std::string_view name, bool /*stable*/) {
    const bool first = Name(name);
    TEntry& e = Top();
    const bool run = name == (word_ ? "w:t" : "a:t");
    const bool writes =
        run || (word_ && (name == "w:br" || name == "w:tab" || name == "w:noBreakHyphen"));
    if (!first) {
      // The root named late: its text would come before what its children wrote.
      if (writes) {
        throw TNeedTree{};
      }
      e.role = name == (word_ ? "w:p" : "a:p") ? TTextRole::kParagraph : TTextRole::kOther;
      return;
    }
    if (run) {
      CheckGrowth(text_, 0);
      e.role = TTextRole::kRun;
      e.start = text_.size();
    } else if (name == (word_ ? "w:p" : "a:p")) {
      e.role = TTextRole::kParagraph;
    } else if (word_ && name == "w:br") {
      text_ += "\r\n";
    } else if (word_ && name == "w:tab") {
      e.role = TTextRole::kTab;
    } else if (word_ && name == "w:noBreakHyphen") {
      text_ += '-';
    }
  }
  bool SetTagParams(std::uint32_t /*node*/, std::string_view tag, bool stable) {
    return ScratchParams(tag, stable, Top().role == TTextRole::kTab);
  }
  bool TagDone(std::uint32_t /*node*/) {
    TEntry& e = Top();
    if (e.role == TTextRole::kTab) {
      if (e.attrs->Node(e.attrIndex).paramCount == 0) {
        text_ += '\t';
      }
      e.role = TTextRole::kOther; // a later rename is refused anyway
    }
    return Preserves();
  }
  bool KeepsText() { return Top().role == TTextRole::kRun; }
  void SetText(std::uint32_t /*node*/, std::string_view text, bool /*stable*/) {
    const TEntry& e = Top();
    if (e.role != TTextRole::kRun) {
      return;
    }
    if (text_.size() != e.start) {
      throw TNeedTree{}; // elements inside the run wrote text that belongs after it
    }
    CheckGrowth(text_, text.size());
    text_ += text;
  }
  void Close(std::uint32_t /*node*/) {
    if (Pop().role == TTextRole::kParagraph) {
      text_ += "\r\n";
    }
  }
  std::string Finish() { return std::move(text_); }

private:
  bool word_;
  std::string text_;
};

// A worksheet: the first "dimension" and "sheetData" children of the root, and the rows of
// the sheet data fed to the layout as they go by: each row as its tag ends, each cell with its
// first "v" as the cell ends.
enum class TSheetRole : std::uint8_t { kOther, kRoot, kDimension, kSheetData, kRow, kCell, kValue };

class TSheetSink : public TStreamSinkBase<TSheetRole> {
public:
  explicit TSheetSink(const TSharedStrings& shared) : shared_(shared) {}

  void Begin() { BeginStack(TSheetRole::kRoot); }
  void SetName(std::uint32_t /*node*/, std::string_view name, bool /*stable*/) {
    if (!Name(name)) {
      return; // the root: its name plays no part
    }
    TEntry& e = Top();
    TEntry& parent = Parent();
    switch (parent.role) {
    case TSheetRole::kRoot:
      if (!haveDimension_ && xml::SameTextAscii(name, "dimension")) {
        haveDimension_ = true;
        e.role = TSheetRole::kDimension;
      } else if (!haveData_ && xml::SameTextAscii(name, "sheetData")) {
        haveData_ = true;
        e.role = TSheetRole::kSheetData;
        rowsSkipped_ = !layout_;
      }
      break;
    case TSheetRole::kSheetData:
      if (layout_ && layout_->Accepting()) {
        e.role = TSheetRole::kRow; // begins at its tag's end, once its attributes are known
      }
      break;
    case TSheetRole::kRow:
      e.role = TSheetRole::kCell;
      cellTree_.Clear();
      e.keep = cellTree_.AddNode(xml::TXMLTree::kNone, xml::TXMLTree::kNone);
      break;
    case TSheetRole::kCell:
      if (!parent.hasValue && name == "v") {
        parent.hasValue = true;
        e.role = TSheetRole::kValue;
        e.keep = cellTree_.AddNode(parent.keep, xml::TXMLTree::kNone);
        cellTree_.SetName(e.keep, "v", true);
      }
      break;
    default:
      break;
    }
  }
  bool SetTagParams(std::uint32_t /*node*/, std::string_view tag, bool stable) {
    TEntry& e = Top();
    if (e.role == TSheetRole::kCell) {
      e.attrs = &cellTree_;
      e.attrIndex = e.keep;
      return cellTree_.SetTagParams(e.keep, tag, stable);
    }
    return ScratchParams(tag, stable,
                         e.role == TSheetRole::kDimension || e.role == TSheetRole::kRow);
  }
  bool TagDone(std::uint32_t /*node*/) {
    TEntry& e = Top();
    if (e.role == TSheetRole::kDimension) {
      const xml::TXMLTree::TNode& n = scratch_.Node(e.attrIndex);
      if (scratch_.HasParam(n, "ref")) {
        if (rowsSkipped_) {
          throw TNeedTree{}; // the rows went by before the grid was known
        }
        std::int32_t lastRow = 0;
        std::int32_t lastCol = 0;
        LastCellOf(scratch_.ParamValue(n, "ref"), lastRow, lastCol);
        layout_.emplace(shared_, lastRow, lastCol);
      }
      e.role = TSheetRole::kOther;
    }
    const bool preserve = Preserves();
    if (e.role == TSheetRole::kRow) {
      if (e.blank) {
        // The next start tag renames a row with a blank name, attributes and all; the row is
        // known only then.
        throw TNeedTree{};
      }
      if (!layout_->BeginRow(TCompactAccess{scratch_}, e.attrIndex)) {
        e.role = TSheetRole::kOther; // places nothing: its children are no cells
      }
    }
    return preserve;
  }
  bool KeepsText() { return Top().role == TSheetRole::kValue; }
  void SetText(std::uint32_t /*node*/, std::string_view text, bool stable) {
    const TEntry& e = Top();
    if (e.role == TSheetRole::kValue) {
      cellTree_.SetText(e.keep, text, stable);
    }
  }
  void Close(std::uint32_t /*node*/) {
    const TEntry e = Pop();
    if (e.role == TSheetRole::kCell) {
      layout_->AddCell(TCompactAccess{cellTree_}, e.keep);
    } else if (e.role == TSheetRole::kRow) {
      layout_->EndRow();
    }
  }
  // Without a dimension that has a "ref" the sheet has no text at all.
  std::string Finish() { return layout_ ? layout_->Finish() : std::string(); }

  // A row of plain markup, read straight from the bytes: tags back to back (no white space,
  // comments, declarations or line ends between or inside them), cells whose children are
  // empty-element tags or tags holding at most one text, no xml:space anywhere. Such a row
  // reads as these functions read it; anything else is left to the general rules.
  bool ReadContent(xml::TXMLLargeTokenizer& tok) {
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
      if (xml::IsBlankText(xml::TagName(tag))) {
        return fail();
      }
      cellTree_.Clear();
      const std::uint32_t cell = cellTree_.AddNode(xml::TXMLTree::kNone, xml::TXMLTree::kNone);
      if (!cellTree_.SetTagParams(cell, tag, true) || cellTree_.PreservesSpace(cell)) {
        return fail();
      }
      if (kind == xml::TTokenKind::kEmptyTag) {
        layout_->AddCell(TCompactAccess{cellTree_}, cell);
        continue;
      }
      bool hasValue = false;
      for (;;) {
        if (!nextTag()) {
          return fail();
        }
        if (kind == xml::TTokenKind::kEndTag) {
          layout_->AddCell(TCompactAccess{cellTree_}, cell);
          break; // closes the cell
        }
        const std::string_view name = xml::TagName(tag);
        if (xml::IsBlankText(name) || MayPreserveSpace(tag)) {
          return fail();
        }
        std::uint32_t value = xml::TXMLTree::kNone;
        if (!hasValue && name == "v") {
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

private:
  const TSharedStrings& shared_;
  xml::TXMLTree cellTree_; // the current cell with its first value
  std::optional<TSheetLayout> layout_;
  bool haveDimension_ = false;
  bool haveData_ = false;
  bool rowsSkipped_ = false;
  std::string decoded_;
};

// The shared-string table: for every child of the root, the text of its first child.
enum class TStringRole : std::uint8_t { kOther, kRoot, kItem, kFirst };

class TSharedStringSink : public TStreamSinkBase<TStringRole> {
public:
  // The list may hold up to `limit` bytes (see TSharedStrings::Footprint).
  explicit TSharedStringSink(TSharedStrings& strings,
                             std::size_t limit = std::numeric_limits<std::size_t>::max())
      : strings_(strings), limit_(limit) {}

  void Begin() { BeginStack(TStringRole::kRoot); }
  void SetName(std::uint32_t /*node*/, std::string_view name, bool /*stable*/) {
    if (!Name(name)) {
      return;
    }
    TEntry& parent = Parent();
    if (parent.role == TStringRole::kRoot) {
      Top().role = TStringRole::kItem;
      text_.clear();
    } else if (parent.role == TStringRole::kItem && !parent.hasValue) {
      parent.hasValue = true;
      Top().role = TStringRole::kFirst;
    }
  }
  bool SetTagParams(std::uint32_t /*node*/, std::string_view tag, bool stable) {
    return ScratchParams(tag, stable, false);
  }
  bool TagDone(std::uint32_t /*node*/) { return Preserves(); }
  bool KeepsText() { return Top().role == TStringRole::kFirst; }
  void SetText(std::uint32_t /*node*/, std::string_view text, bool /*stable*/) {
    if (Top().role == TStringRole::kFirst) {
      text_.assign(text);
    }
  }
  void Close(std::uint32_t /*node*/) {
    if (Pop().role == TStringRole::kItem) {
      if (strings_.Footprint() + text_.size() > limit_) {
        throw EPartFormatError("Shared strings too large");
      }
      strings_.Add(text_);
    }
  }
  std::string Finish() { return {}; } // the strings are the result

private:
  TSharedStrings& strings_;
  std::size_t limit_;
  std::string text_;
};

// The shared strings of a tree: the first child's text of every child of the root.
void SharedStringsFromTree(const xml::TXMLTree& tree, TSharedStrings& strings) {
  strings.Clear();
  if (tree.NodeCount() == 0) {
    return;
  }
  for (std::uint32_t si = tree.Node(xml::TXMLTree::Root()).firstChild; si != xml::TXMLTree::kNone;
       si = tree.Node(si).nextSibling) {
    const std::uint32_t first = tree.Node(si).firstChild;
    strings.Add(first == xml::TXMLTree::kNone ? std::string_view{} : tree.Node(first).text);
  }
}

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

// Walks the part through the sink, over the bytes as they stand (pieceSize 0) or in pieces.
template <typename Sink> void StreamWalk(std::string_view xml, std::size_t pieceSize, Sink& sink) {
  if (pieceSize == 0) {
    xml::TXMLLargeTokenizer tok(xml);
    xml::BuildTree(tok, sink);
  } else {
    TSplitPieces pieces(xml, pieceSize);
    xml::TXMLLargeTokenizer tok(pieces);
    xml::BuildTree(tok, sink);
  }
}

// The text of one part read as it streams by, or through the tree when the streaming walk
// gives up.
template <typename Sink, typename TreeText>
std::string StreamPartText(std::string_view xml, std::size_t pieceSize, Sink& sink,
                           xml::TXMLTree& tree, TreeText treeText) {
  try {
    StreamWalk(xml, pieceSize, sink);
    return sink.Finish();
  } catch (const TNeedTree&) {
  }
  xml::LoadXMLTree(xml, tree);
  std::string text = treeText(tree);
  tree.Clear();
  return text;
}

std::string TextXmlText(std::string_view xml, bool word, xml::TXMLTree& tree, std::size_t pieceSize) {
  TTextSink sink(word, pieceSize == 0 ? xml.size() : 0);
  return StreamPartText(xml, pieceSize, sink, tree, [&](const xml::TXMLTree& t) {
    return word ? WordPartText(t) : SlidePartText(t);
  });
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Public helpers

void TSharedStrings::Add(std::string_view text) {
  spans_.emplace_back(bytes_.size(), text.size());
  bytes_.append(text);
}

const TSharedStrings& SharedStrings() { return Module().sharedStrings; }

void SetOfficeXTextLimit(std::size_t limit) { gTextLimit = limit; }
void SetOfficeXPartLimit(std::uint64_t limit) { gPartLimit = limit; }
void SetOfficeXPieceSize(std::size_t size) { gPieceSize = size; }

bool StrToInt32(std::string_view text, std::int32_t& value) {
  return platform::TryStrToInt(text, value);
}

void CellRefToRowCol(std::string_view ref, std::int32_t& row, std::int32_t& col) {
  row = 0;
  col = 0;
  std::size_t firstDigit = 0;
  while (firstDigit < ref.size() && (ref[firstDigit] < '0' || ref[firstDigit] > '9')) {
    ++firstDigit;
  }
  if (firstDigit == 0 || firstDigit == ref.size()) {
    return;
  }
  row = LenientInt(ref.substr(firstDigit));
  // Base 26 with A = 1 .. Z = 26; other characters count by their distance from "A", and
  // the sum wraps at 32 bits.
  std::uint32_t c = 0;
  for (std::size_t i = 0; i < firstDigit; ++i) {
    c = c * 26u + static_cast<std::uint32_t>(static_cast<unsigned char>(ref[i])) - ('A' - 1u);
  }
  col = static_cast<std::int32_t>(c);
}

std::string_view SharedStringAt(const TSharedStrings& shared, std::string_view index) {
  std::int32_t n = 0;
  if (!StrToInt32(index, n) || n < 0 || static_cast<std::size_t>(n) >= shared.Count()) {
    return {};
  }
  return shared.At(static_cast<std::size_t>(n));
}

void TrimTrailingTabs(std::string& text) {
  std::size_t end = text.size();
  while (end > 0 && text[end - 1] == '\t') {
    --end;
  }
  text.resize(end);
}

void TrimTrailingLineEnds(std::string& text) {
  std::size_t end = text.size();
  while (end > 0 && (text[end - 1] == '\r' || text[end - 1] == '\n')) {
    --end;
  }
  text.resize(end);
}

std::string WordPartText(const xml::TXMLTree& tree) {
  return tree.NodeCount() == 0 ? std::string() : WordText(TCompactAccess{tree}, xml::TXMLTree::Root());
}
std::string SlidePartText(const xml::TXMLTree& tree) {
  return tree.NodeCount() == 0 ? std::string() : SlideText(TCompactAccess{tree}, xml::TXMLTree::Root());
}
std::string SheetPartText(const xml::TXMLTree& tree, const TSharedStrings& shared) {
  return tree.NodeCount() == 0 ? std::string()
                               : SheetText(TCompactAccess{tree}, xml::TXMLTree::Root(), shared);
}
void SharedStringsXml(std::string_view xml, TSharedStrings& strings, xml::TXMLTree& tree,
                      std::size_t pieceSize) {
  strings.Clear();
  try {
    TSharedStringSink sink(strings);
    StreamWalk(xml, pieceSize, sink);
    return;
  } catch (const TNeedTree&) {
    strings.Clear();
  }
  xml::LoadXMLTree(xml, tree);
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
std::string WordPartText(const xml::TXMLItem* item) { return WordText(TItemAccess{}, item); }
std::string SlidePartText(const xml::TXMLItem* item) { return SlideText(TItemAccess{}, item); }
std::string SheetPartText(const xml::TXMLItem* root, const TSharedStrings& shared) {
  return SheetText(TItemAccess{}, root, shared);
}

// ---------------------------------------------------------------------------------------------
// Encoding

namespace {

// UTF-8 to UTF-16 as the extractor decodes it: a byte with its top bit set takes three
// continuation bytes when it lies from F0 to F4, else one when its bit 5 is clear and two when
// set; missing or wrong continuation bytes, and four-byte values beyond U+10FFFF, fail.
bool DecodeOfficeXUtf8(std::string_view text, std::u16string& out) {
  out.clear();
  out.reserve(text.size() + 1);
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n;) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
      out += static_cast<char16_t>(lead);
      ++i;
      continue;
    }
    const std::size_t need = lead >= 0xF0 && lead <= 0xF4 ? 3 : ((lead & 0x20) == 0 ? 1 : 2);
    if (need > n - i - 1) {
      return false;
    }
    std::uint32_t c[3] = {0, 0, 0};
    for (std::size_t k = 0; k < need; ++k) {
      const auto b = static_cast<unsigned char>(text[i + 1 + k]);
      if ((b & 0xC0) != 0x80) {
        return false;
      }
      c[k] = b & 0x3Fu;
    }
    if (need == 1) {
      out += static_cast<char16_t>(((lead & 0x3Fu) << 6) | c[0]);
    } else if (need == 2) {
      out += static_cast<char16_t>(((std::uint32_t{lead} << 12) | (c[0] << 6) | c[1]) & 0xFFFFu);
    } else {
      const std::uint32_t v = ((lead & 0x07u) << 18) | (c[0] << 12) | (c[1] << 6) | c[2];
      if (v > 0x10FFFF) {
        return false;
      }
      if (v < 0x10000) {
        // An over-long form of a character below U+10000 has no surrogate pair; it stands
        // for the character itself.
        out += static_cast<char16_t>(v);
      } else {
        out += static_cast<char16_t>(0xD800 + ((v - 0x10000) >> 10));
        out += static_cast<char16_t>(0xDC00 + ((v - 0x10000) & 0x3FF));
      }
    }
    i += need + 1;
  }
  return true;
}

} // namespace

bool EncodeOfficeXText(std::string_view utf8, std::int32_t codePage, std::string& out) {
  out.clear();
  if (codePage == platform::kCpUtf8) {
    out.reserve(utf8.size() + 3);
    out.append("\xEF\xBB\xBF");
    out.append(utf8);
    return true;
  }
  if (codePage == 0) {
    out = platform::WideToMultiByte(platform::GetACP(), platform::Utf8ToWide(utf8));
    return true;
  }
  std::u16string wide;
  if (!DecodeOfficeXUtf8(utf8, wide)) {
    return false;
  }
  wide += u'\0';
  if (codePage == platform::kCpUtf16Le) {
    out.reserve(2 + 2 * wide.size());
    out.append("\xFF\xFE");
    for (const char16_t u : wide) {
      out += static_cast<char>(u & 0xFF);
      out += static_cast<char>(u >> 8);
    }
    return true;
  }
  out = ToCodePage(codePage, wide);
  return true;
}

// ---------------------------------------------------------------------------------------------
// Driver

namespace {

// The bytes of a part, a piece at a time: the entries of a first name and, when none of them
// extracted completely, those of a second name behind them (the bytes of entries that fail
// stay, as whole extraction keeps them).
class TPartPieces final : public xml::TXMLPieceSource {
public:
  TPartPieces(zip::TZipReader& zip, std::string_view first, std::string_view second)
      : zip_(zip), second_(second) {
    Guard([&] { zip_.OpenPart(first); });
  }
  ~TPartPieces() override { zip_.ClosePart(); }
  TPartPieces(const TPartPieces&) = delete;
  TPartPieces& operator=(const TPartPieces&) = delete;

  std::string_view NextPiece() override {
    std::span<const std::uint8_t> piece;
    Guard([&] {
      piece = zip_.NextPiece();
      while (piece.empty() && !second_.empty()) {
        const std::string_view next = second_;
        second_ = {};
        if (zip_.PartExtracted() != 0) {
          break;
        }
        zip_.OpenPart(next);
        piece = zip_.NextPiece();
      }
    });
    size_ += piece.size();
    return {reinterpret_cast<const char*>(piece.data()), piece.size()};
  }
  // Reads what the walk left, so that every entry's outcome is known.
  void Finish() {
    while (!NextPiece().empty()) {
    }
  }
  // After Finish: an entry of the name read last (the second only when the first had none)
  // extracted completely.
  bool Found() const { return zip_.PartExtracted() > 0; }
  bool Empty() const { return size_ == 0; }
  // The archive itself failed (the failure is the conversion's, not the walk's).
  bool Failed() const { return failed_; }

private:
  template <typename F> void Guard(F f) {
    try {
      f();
    } catch (...) {
      failed_ = true;
      throw;
    }
  }

  zip::TZipReader& zip_;
  std::string_view second_;
  std::uint64_t size_ = 0;
  bool failed_ = false;
};

// One part read: whether an entry of it extracted completely, whether it had bytes at all,
// and its text (meaningful only when found and not empty).
struct TPartRead {
  bool found = false;
  bool empty = true;
  std::string text;
};

// Reads a part (the second name only when the first extracts nothing) as it streams by,
// through the sink. The shapes the streaming walk gives up on are extracted whole and read
// into the tree by treeText instead. A part none of whose entries extracts completely does
// not count, so the walk's own failures matter only for a part that is found.
template <typename Sink, typename TreeText>
TPartRead ReadPart(TOfficeXModule& m, std::string_view first, std::string_view second,
                   Sink& sink, TreeText treeText) {
  TPartRead read;
  {
    TPartPieces pieces(m.zip, first, second);
    bool needTree = false;
    try {
      xml::TXMLLargeTokenizer tok(pieces, m.walkCeiling);
      xml::BuildTree(tok, sink, m.walkCeiling / kOpenElementBytes);
      read.text = sink.Finish();
    } catch (const TNeedTree&) {
      needTree = true;
    } catch (...) {
      if (pieces.Failed()) {
        throw;
      }
      const std::exception_ptr walkError = std::current_exception();
      pieces.Finish();
      if (pieces.Found()) {
        std::rethrow_exception(walkError);
      }
      return read;
    }
    if (!needTree) {
      pieces.Finish();
      read.found = pieces.Found();
      read.empty = pieces.Empty();
      return read;
    }
  }
  // The tree costs many times the markup it holds, so the part is read whole only up to a
  // ceiling set by the input's size; a larger part found complete fails the conversion.
  bytes::TMemoryStream stream;
  bool overCeiling = false;
  {
    TPartPieces pieces(m.zip, first, second);
    for (std::string_view piece = pieces.NextPiece(); !piece.empty();
         piece = pieces.NextPiece()) {
      if (piece.size() > m.treeCeiling - std::min<std::uint64_t>(stream.Size(), m.treeCeiling)) {
        overCeiling = true;
        stream.Release();
        pieces.Finish();
        break;
      }
      stream.Write(piece.data(), piece.size());
    }
    read.found = pieces.Found();
    read.empty = pieces.Empty();
  }
  read.text.clear();
  if (read.found && overCeiling) {
    throw EPartFormatError("Part too large to read whole");
  }
  if (read.found && !read.empty) {
    m.tree.Clear();
    xml::LoadXMLTree(std::string_view(reinterpret_cast<const char*>(stream.Data()), stream.Size()),
                m.tree, m.walkCeiling / kOpenElementBytes); // the tree keeps views into it
    read.text = treeText(m.tree);
    m.tree.Clear();
  }
  return read;
}

void ReadSharedStrings(TOfficeXModule& m) {
  TSharedStrings& strings = m.sharedStrings;
  strings.Clear();
  TSharedStringSink sink(strings, m.walkCeiling);
  const TPartRead read =
      ReadPart(m, "xl\\sharedStrings.xml", {}, sink, [&](const xml::TXMLTree& tree) {
        SharedStringsFromTree(tree, strings);
        return std::string();
      });
  if (!read.found || read.empty) {
    strings.Clear();
  }
}

// Worksheets or slides: every number below the archive's entry count, in ascending order.
bool ReadNumberedParts(TOfficeXModule& m, std::string& text, std::string_view prefix,
                       std::string_view header, bool sheets) {
  bool missing = true;
  const std::size_t count = m.zip.Count();
  std::string name;
  for (std::size_t n = 0; n < count; ++n) {
    m.ghost.Clear();
    m.tree.Clear();
    name.assign(prefix).append(std::to_string(n)).append(".xml");
    TPartRead read;
    if (sheets) {
      TSheetSink sink(m.sharedStrings);
      read = ReadPart(m, name, {}, sink,
                      [&](const xml::TXMLTree& t) { return SheetPartText(t, m.sharedStrings); });
    } else {
      TTextSink sink(false, 0);
      read = ReadPart(m, name, {}, sink, [](const xml::TXMLTree& t) { return SlidePartText(t); });
    }
    if (!read.found) {
      continue;
    }
    missing = false;
    if (read.empty) {
      continue;
    }
    const std::string number = std::to_string(n);
    CheckGrowth(text, header.size() + number.size() + 3 + read.text.size());
    text.append(header).append(number).append(":\r\n").append(read.text);
  }
  return missing;
}

// A CR not followed by LF, or an LF not preceded by CR.
bool HasLoneLineBreak(std::string_view text) {
  std::size_t i = 0;
  while (true) {
    const std::size_t cr = text.find('\r', i);
    const std::size_t lf = text.find('\n', i);
    if (cr == std::string_view::npos && lf == std::string_view::npos) {
      return false;
    }
    if (lf < cr || cr + 1 >= text.size() || text[cr + 1] != '\n') {
      return true;
    }
    i = cr + 2;
  }
}

std::int32_t Convert(const std::u16string& fileName, TConversionResult& result,
                     std::int32_t lineEndOption, std::int32_t packageKind,
                     std::int32_t codePage) {
  const std::string path = platform::WideToPath(fileName);
  if (!platform::FileExists(path) || platform::IsDirectory(path)) {
    return kResultNotFound;
  }
  TOfficeXModule& m = Module();
  try {
    m.zip.SetEntrySizeLimit(gPartLimit);
    m.zip.SetPieceSize(gPieceSize);
    m.zip.SetZipName(fileName);
    m.zip.ReadZip();
  } catch (...) {
    return kResultOpenError;
  }
  m.treeCeiling = std::max(kTreeCeilingFloor, kTreeCeilingPerByte * m.zip.ArchiveSize());
  m.zip.SetWholeEntryLimit(m.treeCeiling); // entries of the legacy methods are decoded whole
  m.walkCeiling = std::max(kWalkCeilingFloor, kWalkCeilingPerByte * m.zip.ArchiveSize());
  if (m.zip.Count() == 0) {
    return kResultBadFormat;
  }
  std::string text;
  bool missing = false;
  {
    switch (packageKind) {
    case kPackageDocument: {
      // The second name is read only when the first extracts nothing, behind whatever bytes
      // the first left.
      TTextSink sink(true, 0);
      TPartRead read = ReadPart(m, "word\\document.xml", "word\\wordDocument.xml", sink,
                                [](const xml::TXMLTree& t) { return WordPartText(t); });
      missing = !read.found;
      text = std::move(read.text);
      break;
    }
    case kPackageWorkbook:
      ReadSharedStrings(m);
      missing = ReadNumberedParts(m, text, "xl\\worksheets\\sheet", "sheet", true);
      break;
    case kPackagePresentation:
      missing = ReadNumberedParts(m, text, "ppt\\slides\\slide", "slide", false);
      break;
    default:
      missing = true;
    }
  }
  if (missing) {
    return kResultBadFormat;
  }
  const TLineEndStyle style = LineEndStyleFromOption(lineEndOption);
  std::string adjusted;
  if (style == kLineEndCrLf && !HasLoneLineBreak(text)) {
    adjusted.swap(text); // already CR LF throughout: normalising would copy it unchanged
  } else {
    adjusted = AdjustLineEnds(text, style);
    std::string().swap(text);
  }
  std::string output;
  if (codePage == platform::kCpUtf8) {
    // The mark goes in front of the text in place instead of into a second copy.
    adjusted.insert(0, "\xEF\xBB\xBF");
    output.swap(adjusted);
  } else if (!EncodeOfficeXText(adjusted, codePage, output)) {
    return kResultBadUtf8;
  }
  std::string().swap(adjusted);
  if (output.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()) - 1) {
    return kResultBadFormat;
  }
  return AppendToResult(output, result);
}

} // namespace

std::int32_t OfficeXToText(const std::u16string& fileName, TConversionResult& result,
                           std::int32_t lineEndOption, std::int32_t packageKind,
                           std::int32_t codePage) {
  try {
    return Convert(fileName, result, lineEndOption, packageKind, codePage);
  } catch (...) {
    // A part that cannot be read (a stored entry ending early, a number that is none, text
    // beyond the limit, memory exhaustion) ends the extraction.
    if (ModuleSlot()) {
      ModuleSlot()->tree.Clear();
    }
    return kResultBadFormat;
  }
}

std::int32_t DocxToText(const std::u16string& fileName, std::int32_t /*byteLimit*/,
                        TConversionResult& result, std::int32_t codePage) {
  return OfficeXToText(fileName, result, 0, kPackageDocument, codePage);
}
std::int32_t XlsxToText(const std::u16string& fileName, std::int32_t /*byteLimit*/,
                        TConversionResult& result, std::int32_t codePage) {
  return OfficeXToText(fileName, result, 0, kPackageWorkbook, codePage);
}
std::int32_t PptxToText(const std::u16string& fileName, std::int32_t /*byteLimit*/,
                        TConversionResult& result, std::int32_t codePage) {
  return OfficeXToText(fileName, result, 0, kPackagePresentation, codePage);
}

void InitializeOfficeX() { Module(); }

void FinalizeOfficeX() { ModuleSlot().reset(); }

} // namespace scv::ooxml
