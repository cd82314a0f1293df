// The rows of a worksheet: row entries in order of their first cell, each with its cells.
#pragma once

#include "spreadsheet/KvXlsCell.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace scv::spreadsheet {

// One row entry: its row index and the range of its cells (in record order) in the list.
struct TRowEntry {
  std::uint32_t row = 0;
  std::size_t first = 0;
  std::size_t count = 0;
};

// Row list. A cell goes to the row entry that a binary search over the list finds for its row
// (low 0, high count - 1, middle rounded down); when the search finds none, a new entry is
// appended. Cells that arrive in ascending row order (as workbooks store them) thus give one
// entry per row in ascending order. Out of order, the search runs over an unsorted list and may
// miss an existing entry of the row, which then gets a second entry (written as a line of its
// own); that outcome is part of the layout and is kept exactly.
//
// All cells live in one array. While every cell goes to the last entry, each entry's cells are
// one contiguous run; once a cell goes to an earlier entry, each cell's entry is recorded and
// Finalize regroups the cells by entry, keeping their order within each entry.
class TRowList {
public:
  void AddCell(std::uint32_t row, const TXlsCell& cell);
  void Reserve(std::size_t cells) { cells_.reserve(cells); }
  // Groups the cells by entry; needed before Cells when cells came out of row order.
  void Finalize();

  std::size_t RowCount() const { return rows_.size(); }
  const TRowEntry& Row(std::size_t i) const { return rows_[i]; }
  // The cells of entry i, in record order. Valid after Finalize.
  std::span<const TXlsCell> Cells(std::size_t i) const {
    return std::span<const TXlsCell>(cells_).subspan(rows_[i].first, rows_[i].count);
  }
  std::size_t CellCount() const { return cells_.size(); }

private:
  std::size_t FindOrAppend(std::uint32_t row);

  std::vector<TRowEntry> rows_;
  std::vector<TXlsCell> cells_;
  std::vector<std::uint32_t> entryOfCell_; // only once cells left row order
  bool scattered_ = false;
  // While every appended row index is above the previous one, entries are unique and sorted, so
  // the binary search can be short-cut by the last entry used; once not, it runs every time.
  bool ascending_ = true;
  std::size_t lastUsed_ = 0;
};

} // namespace scv::spreadsheet
