// The streaming walkers' sinks: the tree-building rules run over a part and call these, and
// each keeps only what its text needs.
#pragma once

#include "bytes/FormatError.h"
#include "ooxml/OfficeXCvt.h"
#include "ooxml/SheetLayout.h"
#include "ooxml/WalkSupport.h"
#include "platform/Memory.h"
#include "xml/XMLBuild.h"
#include "xml/XMLParser.h"
#include "xml/XMLTokenizer.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace scv::ooxml {

// what its text needs (the current row, the shared string being read), so a part costs its
// own bytes and little more. They give the text the tree walk gives; the few shapes whose
// text depends on what comes later (an element renamed after it started, a dimension after
// the sheet data, a text run holding elements that write text) make them give up (GaveUp()
// turns true and the tree builder stops), and the part is then read into the tree.

// Attributes matter to most elements only for xml:space="preserve"; a tag that does not hold
// the letters "preserve" (in any case) cannot produce that value, since entity decoding only
// ever produces punctuation and line ends.
bool MayPreserveSpace(std::string_view tag);

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
  bool GaveUp() const { return gaveUp_; }

protected:
  struct TEntry {
    TRole role{};
    bool named = false;
    bool blank = true;
    bool hasValue = false;                         // the first "v" (shared strings: child) was seen
    bool hasInline = false;                        // the first "is" was seen
    bool first = false;                            // shared strings: the item's first child
    std::uint32_t keep = xml::TXMLTree::kNone;     // node in the current cell's tree
    std::uint32_t lastKept = xml::TXMLTree::kNone; // its last child node there
    std::size_t start = 0;                         // text size when a text run began
    xml::TXMLTree* attrs = nullptr;                // where this tag's attributes went
    std::uint32_t attrIndex = 0;
  };

  void BeginStack(TRole rootRole) {
    stack_.clear();
    stack_.emplace_back();
    stack_.back().role = rootRole;
    stack_.back().named = true; // the root starts with an empty name and takes one rename
    rootRenamed_ = false;
    gaveUp_ = false;
  }
  // The text depends on what comes later: the part is to be read into the tree.
  void GiveUp() { gaveUp_ = true; }
  // Records a name; true for an element's first name. The root's second name (its first real
  // one) also counts as first; any other rename needs the tree (the sink gives up, false).
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
    GiveUp();
    return false;
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
  bool gaveUp_ = false;
};

// Word-processing and slide text: runs of text, paragraph ends, and (in documents) breaks,
// TABs and non-breaking hyphens, written as the elements go by.
enum class TTextRole : std::uint8_t {
  kOther,
  kRun,
  kParagraph,
  kTab
};

class TTextSink : public TStreamSinkBase<TTextRole> {
public:
  // The text of a part is in practice no longer than the part (each piece stands for at least
  // as many bytes of markup), so its room is set aside once: no copies as it grows, and pages
  // never written are never touched.
  TTextSink(bool word, std::size_t partSize) : word_(word) { text_.reserve(partSize); }
  // Sets the room aside once the part's stated size is known. Only a hint: a refusal leaves the
  // text to grow as it goes.
  void ReserveText(std::uint64_t partSize) {
    try {
      text_.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(partSize, gOfficeXTextLimit)));
      platform::AdviseLargeBuffer(text_.data(), text_.capacity());
    } catch (const std::bad_alloc&) {
    }
  }

  void Begin() {
    BeginStack(TTextRole::kOther);
    openRuns_ = 0;
  }
  void SetName(std::uint32_t /*node*/, std::string_view name, bool /*stable*/) {
    const bool first = Name(name);
    TEntry& e = Top();
    const TTextName kind = Classify(name);
    if (!first) {
      // The root named late: its text would come before what its children wrote.
      if (kind != TTextName::kOther && kind != TTextName::kParagraph) {
        GiveUp();
        return;
      }
      e.role = kind == TTextName::kParagraph ? TTextRole::kParagraph : TTextRole::kOther;
      return;
    }
    switch (kind) {
    case TTextName::kRun:
      CheckGrowth(text_, 0);
      e.role = TTextRole::kRun;
      e.start = text_.size();
      ++openRuns_;
      break;
    case TTextName::kParagraph:
      e.role = TTextRole::kParagraph;
      break;
    case TTextName::kBreak:
      CheckGrowth(text_, 2);
      text_ += "\r\n";
      break;
    case TTextName::kTab:
      e.role = TTextRole::kTab;
      break;
    case TTextName::kHyphen:
      text_ += '-';
      break;
    case TTextName::kOther:
      break;
    }
  }
  bool SetTagParams(std::uint32_t /*node*/, std::string_view tag, bool stable) {
    const bool tab = Top().role == TTextRole::kTab;
    if (!tab && openRuns_ == 0) {
      // Whether a tag keeps spaces decides how the text after it is read; text is gathered
      // only inside a run, and before any run a run's own start tag decides again. So outside
      // every run the answer does not matter and the tag is not searched for it.
      Top().attrs = nullptr;
      return true;
    }
    return ScratchParams(tag, stable, tab);
  }
  bool TagDone(std::uint32_t /*node*/) {
    TEntry& e = Top();
    if (e.role == TTextRole::kTab) {
      if (e.attrs->Node(e.attrIndex).paramCount == 0) {
        text_ += '\t';
      }
      e.role = TTextRole::kOther; // a later rename is refused anyway
    }
    // DrawingML runs keep their spaces as if xml:space="preserve" were set.
    return Preserves() || (!word_ && e.role == TTextRole::kRun);
  }
  bool KeepsText() { return Top().role == TTextRole::kRun; }
  void SetText(std::uint32_t /*node*/, std::string_view text, bool /*stable*/) {
    const TEntry& e = Top();
    if (e.role != TTextRole::kRun) {
      return;
    }
    if (text_.size() != e.start) {
      GiveUp(); // elements inside the run wrote text that belongs after it
      return;
    }
    CheckGrowth(text_, text.size());
    text_ += text;
  }
  void Close(std::uint32_t /*node*/) {
    const TTextRole role = Pop().role;
    if (role == TTextRole::kParagraph) {
      text_ += "\r\n";
    } else if (role == TTextRole::kRun) {
      --openRuns_;
    }
  }
  std::string Finish() { return std::move(text_); }
  // The element name whose spaces are kept whatever its attributes say (none in documents).
  std::string_view PreservingName() const { return word_ ? std::string_view() : "a:t"; }

protected:
  // The text so far, for sinks that leave some of it out again.
  std::size_t TextSize() const { return text_.size(); }
  std::string& MutableText() { return text_; }

private:
  // What an element's name means to the text; the names compare exactly.
  enum class TTextName : std::uint8_t {
    kOther,
    kRun,
    kParagraph,
    kBreak,
    kTab,
    kHyphen
  };
  TTextName Classify(std::string_view name) const {
    if (word_) {
      if (name == "w:t") {
        return TTextName::kRun;
      }
      if (name == "w:p") {
        return TTextName::kParagraph;
      }
      if (name == "w:br") {
        return TTextName::kBreak;
      }
      if (name == "w:tab") {
        return TTextName::kTab;
      }
      return name == "w:noBreakHyphen" ? TTextName::kHyphen : TTextName::kOther;
    }
    if (name == "a:t") {
      return TTextName::kRun;
    }
    if (name == "a:p") {
      return TTextName::kParagraph;
    }
    return name == "a:br" ? TTextName::kBreak : TTextName::kOther;
  }

  bool word_;
  std::size_t openRuns_ = 0; // open elements whose role is a run
  std::string text_;
};

// A worksheet: the first "dimension" and "sheetData" children of the root (by local name), and
// the rows of the sheet data fed to the layout as they go by: each row as its tag ends, each
// cell as it ends, with its first "v" and its first inline string "is" (its "t" children and
// the "t" children of its "r" runs).
enum class TSheetRole : std::uint8_t {
  kOther,
  kRoot,
  kDimension,
  kSheetData,
  kRow,
  kCell,
  kValue,
  kInline,
  kInlineRun,
  kInlineText
};

// The layout takes the rows and cells: TSheetLayout (the grid of the default text) or
// TAllTextLayout (the workbook's all-text mode); its TSource is what it renders cells with.
template <typename Layout> class TSheetSinkOf : public TStreamSinkBase<TSheetRole> {
public:
  using TSource = typename Layout::TSource;
  explicit TSheetSinkOf(const TSource& source) : shared_(source) {}

  void Begin() { BeginStack(TSheetRole::kRoot); }
  void SetName(std::uint32_t /*node*/, std::string_view name, bool /*stable*/) {
    if (!Name(name)) {
      return; // the root: its name plays no part
    }
    TEntry& e = Top();
    TEntry& parent = Parent();
    switch (parent.role) {
    case TSheetRole::kRoot:
      if (!haveDimension_ && xml::SameTextAscii(LocalName(name), "dimension")) {
        haveDimension_ = true;
        e.role = TSheetRole::kDimension;
      } else if (!haveData_ && xml::SameTextAscii(LocalName(name), "sheetData")) {
        haveData_ = true;
        e.role = TSheetRole::kSheetData;
        if (!layout_) {
          layout_.emplace(shared_, 0, 0); // a dimension after the rows may widen it later
        }
      }
      break;
    case TSheetRole::kSheetData:
      if (layout_->Accepting()) {
        e.role = TSheetRole::kRow; // begins at its tag's end, once its attributes are known
        isRow_ = LocalName(name) == "row";
      }
      break;
    case TSheetRole::kRow:
      e.role = TSheetRole::kCell;
      isCell_ = LocalName(name) == "c";
      cellTree_.Clear();
      e.keep = cellTree_.AddNode(xml::TXMLTree::kNone, xml::TXMLTree::kNone);
      break;
    case TSheetRole::kCell:
      if (!parent.hasValue && LocalName(name) == "v") {
        parent.hasValue = true;
        Keep(e, TSheetRole::kValue, parent, "v");
      } else if (!parent.hasInline && LocalName(name) == "is") {
        parent.hasInline = true;
        Keep(e, TSheetRole::kInline, parent, "is");
      }
      break;
    case TSheetRole::kInline:
      if (LocalName(name) == "t") {
        Keep(e, TSheetRole::kInlineText, parent, "t");
      } else if (LocalName(name) == "r") {
        Keep(e, TSheetRole::kInlineRun, parent, "r");
      }
      break;
    case TSheetRole::kInlineRun:
      if (LocalName(name) == "t") {
        Keep(e, TSheetRole::kInlineText, parent, "t");
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
        std::int32_t lastRow = 0;
        std::int32_t lastCol = 0;
        LastCellOf(scratch_.ParamValue(n, "ref"), lastRow, lastCol);
        if (!layout_) {
          layout_.emplace(shared_, lastRow, lastCol);
        } else if ((lastRow > kSheetMaxRow || lastCol > kSheetMaxColumn) && layout_->Clipped()) {
          GiveUp(); // rows went by that this dimension would have shown
          return false;
        }
      }
      e.role = TSheetRole::kOther;
    }
    const bool preserve = Preserves();
    if (e.role == TSheetRole::kRow) {
      if (e.blank) {
        // The next start tag renames a row with a blank name, attributes and all; the row is
        // known only then.
        GiveUp();
        return false;
      }
      if (!layout_->BeginRow(TCompactAccess{scratch_}, e.attrIndex, isRow_)) {
        e.role = TSheetRole::kOther; // places nothing: its children are no cells
      }
    }
    return preserve;
  }
  bool KeepsText() {
    const TSheetRole role = Top().role;
    return role == TSheetRole::kValue || role == TSheetRole::kInlineText;
  }
  void SetText(std::uint32_t /*node*/, std::string_view text, bool stable) {
    const TEntry& e = Top();
    if (e.role == TSheetRole::kValue || e.role == TSheetRole::kInlineText) {
      cellTree_.SetText(e.keep, text, stable);
    }
  }
  void Close(std::uint32_t /*node*/) {
    const TEntry e = Pop();
    if (e.role == TSheetRole::kCell) {
      layout_->AddCell(TCompactAccess{cellTree_}, e.keep, isCell_);
    } else if (e.role == TSheetRole::kRow) {
      layout_->EndRow();
    }
  }
  // Without sheet data (and without a dimension with a reference) the sheet has no text at
  // all. A dimension after the rows that lies beyond the sheet's largest row or column, when
  // the layout left out rows or cells, makes the walk give up (see TagDone).
  std::string Finish() { return layout_ ? layout_->Finish() : std::string(); }
  std::string_view PreservingName() const { return {}; }

  // A row of plain markup, read straight from the bytes: tags back to back (no white space,
  // comments, declarations or line ends between or inside them), cells whose children are
  // empty-element tags or tags holding at most one text, no xml:space anywhere. Such a row
  // reads as these functions read it; anything else is left to the general rules.
  bool ReadContent(xml::TXMLLargeTokenizer& tok);

private:
  // The element joins the current cell's tree as the last child of its parent's node, under
  // a fixed name.
  void Keep(TEntry& e, TSheetRole role, TEntry& parent, std::string_view name) {
    e.role = role;
    e.keep = cellTree_.AddNode(parent.keep, parent.lastKept);
    parent.lastKept = e.keep;
    cellTree_.SetName(e.keep, name, true);
  }

  const TSource& shared_;
  xml::TXMLTree cellTree_; // the current cell with its first value and inline string
  std::optional<Layout> layout_;
  bool haveDimension_ = false;
  bool haveData_ = false;
  bool isRow_ = false;  // the current row's local name is "row"
  bool isCell_ = false; // the current cell's local name is "c"
  std::string decoded_;
};

using TSheetSink = TSheetSinkOf<TSheetLayout>;

// The shared-string table: for every child of the root, its entry (see SharedStringText): the
// texts of its "t" children and of the "t" children of its "r" runs, or, when it has neither,
// the text of its first child.
enum class TStringRole : std::uint8_t {
  kOther,
  kRoot,
  kItem,
  kText, // a "t" child of the item
  kRun,  // an "r" child of the item
  kRunText
};

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
    TEntry& e = Top();
    TEntry& parent = Parent();
    const std::string_view local = LocalName(name);
    if (parent.role == TStringRole::kRoot) {
      e.role = TStringRole::kItem;
      first_.clear();
      joined_.clear();
      hasJoined_ = false;
    } else if (parent.role == TStringRole::kItem) {
      e.first = !parent.hasValue;
      parent.hasValue = true;
      if (local == "t" || local == "r") {
        hasJoined_ = true;
        e.role = local == "t" ? TStringRole::kText : TStringRole::kRun;
      }
    } else if (parent.role == TStringRole::kRun && local == "t") {
      e.role = TStringRole::kRunText;
    }
  }
  bool SetTagParams(std::uint32_t /*node*/, std::string_view tag, bool stable) {
    return ScratchParams(tag, stable, false);
  }
  bool TagDone(std::uint32_t /*node*/) { return Preserves(); }
  bool KeepsText() {
    const TEntry& e = Top();
    return e.first || e.role == TStringRole::kText || e.role == TStringRole::kRunText;
  }
  void SetText(std::uint32_t /*node*/, std::string_view text, bool /*stable*/) {
    const TEntry& e = Top();
    if (e.first) {
      first_.assign(text);
    }
    if (e.role == TStringRole::kText || e.role == TStringRole::kRunText) {
      joined_.append(text);
    }
  }
  void Close(std::uint32_t /*node*/) {
    if (Pop().role == TStringRole::kItem) {
      const std::string& text = hasJoined_ ? joined_ : first_;
      const std::string_view entry = DecodeSheetEscapes(text, decoded_) ? decoded_ : text;
      if (strings_.Footprint() + entry.size() > limit_) {
        throw bytes::EFormatError("shared string", strings_.Count(),
                                  "the list would hold more than " + std::to_string(limit_) +
                                      " bytes");
      }
      strings_.Add(entry);
    }
  }
  std::string Finish() { return {}; } // the strings are the result
  std::string_view PreservingName() const { return {}; }

private:
  TSharedStrings& strings_;
  std::size_t limit_;
  std::string first_;  // the item's first child's text
  std::string joined_; // the item's "t" texts and runs' "t" texts
  bool hasJoined_ = false;
  std::string decoded_;
};

} // namespace scv::ooxml
