// The streaming walkers' sinks: the tree-building rules run over a part and call these, and
// each keeps only what its text needs.
#pragma once

#include "bytes/FormatError.h"
#include "ooxml/OfficeXCvt.h"
#include "ooxml/SheetLayout.h"
#include "ooxml/WalkSupport.h"
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
    bool hasValue = false;                     // the first "v" (shared strings: child) was seen
    std::uint32_t keep = xml::TXMLTree::kNone; // node in the current cell's tree
    std::size_t start = 0;                     // text size when a text run began
    xml::TXMLTree* attrs = nullptr;            // where this tag's attributes went
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
        GiveUp();
        return;
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
      GiveUp(); // elements inside the run wrote text that belongs after it
      return;
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
enum class TSheetRole : std::uint8_t {
  kOther,
  kRoot,
  kDimension,
  kSheetData,
  kRow,
  kCell,
  kValue
};

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
          GiveUp(); // the rows went by before the grid was known
          return false;
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
        GiveUp();
        return false;
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
  bool ReadContent(xml::TXMLLargeTokenizer& tok);

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
enum class TStringRole : std::uint8_t {
  kOther,
  kRoot,
  kItem,
  kFirst
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
        throw bytes::EFormatError("shared string", strings_.Count(),
                                  "the list would hold more than " + std::to_string(limit_) +
                                      " bytes");
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

} // namespace scv::ooxml
