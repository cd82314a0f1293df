// Row lookup and cell insertion for a worksheet.
#include "spreadsheet/KvXlsRowData.h"

namespace scv::spreadsheet {

std::size_t TRowList::FindOrAppend(std::uint32_t row) {
  if (!rows_.empty()) {
    if (ascending_) {
      // Sorted and unique: the search result is the one entry with this row, if any.
      if (rows_[lastUsed_].row == row) {
        return lastUsed_;
      }
      if (row > rows_.back().row) {
        rows_.push_back(TRowEntry{row, cells_.size(), 0});
        lastUsed_ = rows_.size() - 1;
        return lastUsed_;
      }
    }
    std::ptrdiff_t low = 0;
    std::ptrdiff_t high = static_cast<std::ptrdiff_t>(rows_.size()) - 1;
    while (low <= high) {
      const std::ptrdiff_t middle = low + (high - low) / 2;
      const std::uint32_t at = rows_[static_cast<std::size_t>(middle)].row;
      if (row == at) {
        lastUsed_ = static_cast<std::size_t>(middle);
        return lastUsed_;
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
  rows_.push_back(TRowEntry{row, cells_.size(), 0});
  lastUsed_ = rows_.size() - 1;
  return lastUsed_;
}

void TRowList::AddCell(std::uint32_t row, const TXlsCell& cell) {
  const std::size_t entry = FindOrAppend(row);
  if (!scattered_ && entry + 1 != rows_.size()) {
    // First cell for an earlier entry: from now on every cell records its entry.
    scattered_ = true;
    entryOfCell_.reserve(cells_.size() + 1);
    for (std::size_t e = 0; e < rows_.size(); ++e) {
      entryOfCell_.insert(entryOfCell_.end(), rows_[e].count, static_cast<std::uint32_t>(e));
    }
  }
  cells_.push_back(cell);
  ++rows_[entry].count;
  if (scattered_) {
    entryOfCell_.push_back(static_cast<std::uint32_t>(entry));
  }
}

void TRowList::Finalize() {
  if (!scattered_) {
    return;
  }
  // Counting sort by entry, stable within each entry.
  std::size_t next = 0;
  for (TRowEntry& e : rows_) {
    e.first = next;
    next += e.count;
  }
  std::vector<std::size_t> fill(rows_.size());
  for (std::size_t e = 0; e < rows_.size(); ++e) {
    fill[e] = rows_[e].first;
  }
  std::vector<TXlsCell> sorted(cells_.size());
  for (std::size_t i = 0; i < cells_.size(); ++i) {
    sorted[fill[entryOfCell_[i]]++] = cells_[i];
  }
  cells_.swap(sorted);
  std::vector<std::uint32_t>().swap(entryOfCell_);
  scattered_ = false;
  // Later cells may only continue the last entry contiguously; otherwise they scatter again.
}

} // namespace scv::spreadsheet
