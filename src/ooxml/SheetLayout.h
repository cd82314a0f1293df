// The worksheet grid the sheet walkers fill: rows and cells placed by their references, in the
// order they come, and the number rules of the references.
#pragma once

#include "ooxml/OfficeXCvt.h"
#include "ooxml/WalkSupport.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace scv::ooxml {

// Row number of a row's "r": an integer, or else its leading decimal digits.
std::int32_t LenientInt(std::string_view text);

// Last row and column of a dimension's "ref": the cell after its colon, or the whole value.
void LastCellOf(std::string_view ref, std::int32_t& lastRow, std::int32_t& lastCol);

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
  std::int64_t r_ = 1; // next grid row
  bool stopped_ = false;
  std::size_t pendingLines_ = 0; // line ends of rows whose text is still to come
  std::size_t rowStart_ = 0;     // where the current row's text begins
  std::int64_t k_ = 1;           // next grid column of the current row
  bool cellsDone_ = false;       // the current row takes no more cells
  std::string text_;
};

} // namespace scv::ooxml
