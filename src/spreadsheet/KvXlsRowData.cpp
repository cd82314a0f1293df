// Row lookup and cell insertion for a worksheet.
#include "spreadsheet/KvXlsRowData.h"

namespace scv::spreadsheet {

TRowEntry& TRowList::FindOrAppend(std::uint32_t row) {
  if (!rows_.empty()) {
    if (ascending_) {
      // Sorted and unique: the search result is the one entry with this row, if any.
      if (rows_[lastUsed_].row == row) {
        return rows_[lastUsed_];
      }
      if (row > rows_.back().row) {
        rows_.push_back(TRowEntry{row, {}});
        lastUsed_ = rows_.size() - 1;
        return rows_.back();
      }
    }
    std::ptrdiff_t low = 0;
    std::ptrdiff_t high = static_cast<std::ptrdiff_t>(rows_.size()) - 1;
    while (low <= high) {
      const std::ptrdiff_t middle = low + (high - low) / 2;
      const std::uint32_t at = rows_[static_cast<std::size_t>(middle)].row;
      if (row == at) {
        lastUsed_ = static_cast<std::size_t>(middle);
        return rows_[lastUsed_];
      }
      if (row > at) {
        low = middle + 1;
      } else {
        high = middle - 1;
      }
    }
    if (row <= rows_.back().row) {
      ascending_ = false;
    }
  }
  rows_.push_back(TRowEntry{row, {}});
  lastUsed_ = rows_.size() - 1;
  return rows_.back();
}

void TRowList::AddCell(const TXlsCell& cell) {
  FindOrAppend(cell.row).cells.push_back(cell);
  ++cellCount_;
}

} // namespace scv::spreadsheet
