// The rows of a worksheet: row entries in order of their first cell, each with its cells.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "spreadsheet/KvXlsCell.h"

namespace scv::spreadsheet {

struct TRowEntry {
  std::uint32_t row = 0;
  std::vector<TXlsCell> cells; // in record order
};

// Row list. A cell goes to the row entry a binary search over the list finds for its row; when
// the search finds none, a new entry is appended. Cells that arrive in ascending row order (as
// workbooks store them) thus give one entry per row in ascending order. Out of order, the search
// runs over an unsorted list and may miss an existing entry of the row, which then gets a second
// entry (written as a line of its own); that outcome is part of the layout and is kept exactly.
class TRowList {
public:
  void AddCell(const TXlsCell& cell);

  const std::vector<TRowEntry>& Rows() const { return rows_; }
  std::size_t CellCount() const { return cellCount_; }

private:
  TRowEntry& FindOrAppend(std::uint32_t row);

  std::vector<TRowEntry> rows_;
  // While every appended row index is above the previous one, entries are unique and sorted, so
  // the binary search can be short-cut by the last entry used; once not, it runs every time.
  bool ascending_ = true;
  std::size_t lastUsed_ = 0;
  std::size_t cellCount_ = 0;
};

} // namespace scv::spreadsheet
