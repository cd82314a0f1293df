// The worksheet grid the sheet walkers fill: rows and cells placed by their references, in the
// order they come, and the number rules of the references.
#pragma once

#include "ooxml/OfficeXCvt.h"
#include "ooxml/WalkSupport.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace scv::ooxml {

// Row number of a row's "r": an integer, or else its leading decimal digits.
std::int32_t LenientInt(std::string_view text);

// Last row and column of a dimension's "ref": the cell after its colon, or the whole value.
void LastCellOf(std::string_view ref, std::int32_t& lastRow, std::int32_t& lastCol);

// An element name without its prefix: what follows the last ":".
inline std::string_view LocalName(std::string_view name) {
  // Names are short: a plain loop from the end beats a library search.
  for (std::size_t i = name.size(); i > 0; --i) {
    if (name[i - 1] == ':') {
      return name.substr(i);
    }
  }
  return name;
}

// Decodes the escapes "_xHHHH_" of spreadsheet strings (four hexadecimal digits, a UTF-16
// code unit; a high and a low surrogate in a row form one character) to UTF-8. An escape of
// 0 or of an unpaired surrogate stays as written. False (out untouched) when there is none.
bool DecodeEscapesIn(std::string_view text, std::string& out);
inline bool DecodeSheetEscapes(std::string_view text, std::string& out) {
  // Values are mostly short numbers: a plain look for the underscore first.
  for (const char c : text) {
    if (c == '_') {
      return DecodeEscapesIn(text, out);
    }
  }
  return false;
}

// The text of a string item (a shared string, or a cell's inline string): the texts of its
// "t" children and of the "t" children of its "r" runs, in order; phonetic runs ("rPh") and
// everything else left out. Names compare by their local part.
template <typename Access>
void AppendItemText(const Access& access, typename Access::TRef item, std::string& out) {
  for (auto c = access.FirstChild(item); !access.Done(c); access.Next(c)) {
    const auto child = access.Get(c);
    const std::string_view name = LocalName(access.Name(child));
    if (name == "t") {
      out += access.Text(child);
    } else if (name == "r") {
      for (auto t = access.FirstChild(child); !access.Done(t); access.Next(t)) {
        if (LocalName(access.Name(access.Get(t))) == "t") {
          out += access.Text(access.Get(t));
        }
      }
    }
  }
}

// A shared-string item's entry: the joined texts of its "t" children and runs when it has
// any, else the text of its first child (empty without children); escapes decoded.
template <typename Access>
void SharedStringText(const Access& access, typename Access::TRef item, std::string& out) {
  out.clear();
  bool joined = false;
  for (auto c = access.FirstChild(item); !access.Done(c); access.Next(c)) {
    const std::string_view name = LocalName(access.Name(access.Get(c)));
    if (name == "t" || name == "r") {
      joined = true;
      break;
    }
  }
  std::string text;
  if (joined) {
    AppendItemText(access, item, text);
  } else if (const auto first = access.FirstChild(item); !access.Done(first)) {
    text = access.Text(access.Get(first));
  }
  if (!DecodeSheetEscapes(text, out)) {
    out = std::move(text);
  }
}

// The largest row and column a worksheet can have; rows and cells beyond both these and the
// dimension are not shown.
inline constexpr std::int32_t kSheetMaxRow = 1048576;
inline constexpr std::int32_t kSheetMaxColumn = 16384;

// A cell of a tree as the layouts read it: an inline string's text (t="inlineStr" and an "is"
// child, escapes decoded into decoded), or valueText(type, the first "v"'s text) when it has a
// "v", or empty. scratch and decoded are the caller's buffers, which the result may view.
template <typename Access, typename ValueText>
std::string_view TreeCellValue(const Access& access, typename Access::TRef cell,
                               std::string& scratch, std::string& decoded, ValueText valueText) {
  auto value = Access::kNull;
  auto inlineString = Access::kNull;
  for (auto c = access.FirstChild(cell); !access.Done(c); access.Next(c)) {
    const std::string_view name = access.Name(access.Get(c));
    if (value == Access::kNull && (name == "v" || LocalName(name) == "v")) {
      value = access.Get(c);
    } else if (inlineString == Access::kNull && LocalName(name) == "is") {
      inlineString = access.Get(c);
    }
  }
  const TCellType type = access.CellType(cell);
  if (inlineString != Access::kNull && type.inlineString) {
    scratch.clear();
    AppendItemText(access, inlineString, scratch);
    return DecodeSheetEscapes(scratch, decoded) ? decoded : scratch;
  }
  if (value == Access::kNull) {
    return {};
  }
  const std::string_view v = access.Text(value);
  return valueText(type, &v);
}

// The worksheet as a grid from A1 to the last cell present (or the dimension's last cell, when
// that lies beyond the sheet's largest). The layout walks rows and cells in their order and
// matches them to grid positions: a row or cell that does not fall on the next position is
// tried again for the following one, so one out of order (or beyond the grid) leaves the rest
// of its sheet or row empty. A row or cell without a number is the one after the previous.
// Empty positions contribute only line ends and TABs, which the trimming after each row and at
// the end removes when nothing follows them; so the text is built from the rows and cells
// present, with the line ends of empty rows added only when a later row has text. Rows are
// given one at a time, in order, so the layout serves the tree walk and the streaming walk
// alike.
// A cell of a tree placed by a layout's PlaceCell, through its "r" when it has one; valueOf()
// gives its value, asked only for a cell that is placed.
template <typename Layout, typename Access, typename ValueOf>
void PlaceTreeCell(Layout& layout, const Access& access, typename Access::TRef cell, bool isCell,
                   ValueOf valueOf) {
  if (!access.HasParam(cell, "r")) {
    layout.PlaceCell(nullptr, isCell, valueOf);
    return;
  }
  const std::string_view ref = access.ParamValue(cell, "r");
  layout.PlaceCell(&ref, isCell, valueOf);
}

class TSheetLayout {
public:
  using TSource = TSharedStrings;
  TSheetLayout(const TSharedStrings& shared, std::int32_t lastRow, std::int32_t lastCol)
      : shared_(shared), lastRow_(std::max(lastRow, kSheetMaxRow)),
        lastCol_(std::max(lastCol, kSheetMaxColumn)) {}

  // Whether a further row can still place text (otherwise the rest of the sheet is empty).
  bool Accepting() const { return !stopped_ && r_ <= lastRow_; }
  // A row or cell was left out for lying beyond the sheet's largest row or column.
  bool Clipped() const { return clipped_; }

  // A row begins: false when it places nothing (no number and not a "row": passed over; a
  // number out of order or beyond the grid: the rest of the sheet stays empty), and then it
  // gets no cells. isRow: the element's local name is "row".
  template <typename Access>
  bool BeginRow(const Access& access, typename Access::TRef row, bool isRow) {
    if (!access.HasParam(row, "r")) {
      return PlaceRow(nullptr, isRow);
    }
    const std::string_view ref = access.ParamValue(row, "r");
    return PlaceRow(&ref, isRow);
  }
  // The same from a row's "r" (null when it has none).
  bool PlaceRow(const std::string_view* ref, bool isRow) {
    std::int64_t rowNumber = 0;
    if (!NumberRow(ref, isRow, rowNumber)) {
      return false;
    }
    previousRow_ = rowNumber;
    if (rowNumber < r_ || rowNumber > lastRow_) {
      clipped_ = clipped_ || rowNumber > lastRow_;
      stopped_ = true; // never matches: every remaining grid row is empty
      return false;
    }
    pendingLines_ += static_cast<std::size_t>(rowNumber - r_);
    r_ = rowNumber + 1;
    rowStart_ = text_.size();
    k_ = 1;
    previousCol_ = 0;
    cellsDone_ = false;
    return true;
  }
  // Whether PlaceRow would place the row, without placing it.
  bool WouldPlaceRow(const std::string_view* ref, bool isRow) const {
    std::int64_t rowNumber = 0;
    return !stopped_ && NumberRow(ref, isRow, rowNumber) && rowNumber >= r_ &&
           rowNumber <= lastRow_;
  }

  // The row's cells, in order; one out of order or beyond the grid ends the row's text.
  // isCell: the element's local name is "c".
  template <typename Access>
  void AddCell(const Access& access, typename Access::TRef cell, bool isCell) {
    PlaceTreeCell(*this, access, cell, isCell, [&] { return CellValue(access, cell); });
  }
  // The same from a cell's "r" (null when it has none) and what gives its value, asked only
  // for a cell that is placed.
  template <typename ValueOf>
  void PlaceCell(const std::string_view* ref, bool isCell, ValueOf valueOf) {
    if (cellsDone_) {
      return; // nothing more of this row is shown, numbered or not
    }
    std::int64_t col = 0;
    if (ref != nullptr) {
      std::int32_t cellRow = 0;
      std::int32_t c = 0;
      CellRefToRowCol(*ref, cellRow, c);
      col = c;
    } else if (isCell) {
      col = previousCol_ + 1;
    } else {
      return;
    }
    previousCol_ = col;
    if (col < k_ || col > lastCol_) {
      clipped_ = clipped_ || col > lastCol_;
      cellsDone_ = true;
      return;
    }
    const auto gap = static_cast<std::size_t>(col - k_);
    CheckGrowth(text_, gap);
    if (gap == 1) {
      text_.push_back('\t'); // the usual gap: the cell after the previous one
    } else if (gap != 0) {
      text_.append(gap, '\t');
    }
    const std::string_view value = valueOf();
    CheckGrowth(text_, value.size() + 1);
    text_ += value;
    text_ += '\t';
    k_ = col + 1;
  }
  // What a cell shows from its type and its first "v" (null without one): a shared string, or
  // the value with its escapes decoded when the cell states a type.
  std::string_view ValueText(const TCellType& type, const std::string_view* v) {
    if (v == nullptr) {
      return {};
    }
    if (type.shared) {
      return SharedStringAt(shared_, *v);
    }
    return type.stated && DecodeSheetEscapes(*v, decoded_) ? std::string_view(decoded_) : *v;
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

  // The layout's state, to take back rows and cells read ahead on a guess.
  struct TRowMark {
    std::size_t size;
    std::int64_t r;
    std::int64_t previousRow;
    bool stopped;
    bool clipped;
    std::size_t pendingLines;
    std::size_t rowStart;
    std::int64_t k;
    std::int64_t previousCol;
    bool cellsDone;
  };
  TRowMark MarkRow() const {
    return {text_.size(),  r_,        previousRow_, stopped_,     clipped_,
            pendingLines_, rowStart_, k_,           previousCol_, cellsDone_};
  }
  void RewindRow(const TRowMark& mark) {
    text_.resize(mark.size);
    r_ = mark.r;
    previousRow_ = mark.previousRow;
    stopped_ = mark.stopped;
    clipped_ = mark.clipped;
    pendingLines_ = mark.pendingLines;
    rowStart_ = mark.rowStart;
    k_ = mark.k;
    previousCol_ = mark.previousCol;
    cellsDone_ = mark.cellsDone;
  }

  std::string Finish() {
    TrimTrailingLineEnds(text_);
    text_ += "\r\n";
    return std::move(text_);
  }

private:
  // What a cell shows: an inline string's text (t="inlineStr" and an "is" child), a shared
  // string (t="s"), or else the text of its first "v", escapes decoded when the cell states a
  // type (a number cell, without one, holds no string to escape).
  template <typename Access>
  std::string_view CellValue(const Access& access, typename Access::TRef cell) {
    return TreeCellValue(
        access, cell, scratch_, decoded_,
        [this](const TCellType& type, const std::string_view* v) { return ValueText(type, v); });
  }

  // The number of a row: its "r", or the one after the previous for a "row" without one;
  // false for another element without "r".
  bool NumberRow(const std::string_view* ref, bool isRow, std::int64_t& rowNumber) const {
    if (ref != nullptr) {
      rowNumber = LenientInt(*ref);
    } else if (isRow) {
      rowNumber = previousRow_ + 1;
    } else {
      return false;
    }
    return true;
  }

  const TSharedStrings& shared_;
  std::int32_t lastRow_;
  std::int32_t lastCol_;
  std::int64_t r_ = 1; // next grid row
  std::int64_t previousRow_ = 0;
  bool stopped_ = false;
  bool clipped_ = false;
  std::size_t pendingLines_ = 0; // line ends of rows whose text is still to come
  std::size_t rowStart_ = 0;     // where the current row's text begins
  std::int64_t k_ = 1;           // next grid column of the current row
  std::int64_t previousCol_ = 0; // column of the row's previous cell
  bool cellsDone_ = false;       // the current row takes no more cells
  std::string text_;
  std::string scratch_;
  std::string decoded_;
};

} // namespace scv::ooxml
