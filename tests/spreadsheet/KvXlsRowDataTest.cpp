// Row list: the cell grouping of the optimised list against a plain model of the row search.
#include "spreadsheet/KvXlsRowData.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace scv::spreadsheet {
namespace {

// The row list as a list of row entries with their own cell lists and a plain binary search.
struct TModelRow {
  std::uint32_t row;
  std::vector<std::uint32_t> cells; // cell ids
};

void ModelAdd(std::vector<TModelRow>& rows, std::uint32_t row, std::uint32_t id) {
  std::ptrdiff_t low = 0;
  std::ptrdiff_t high = static_cast<std::ptrdiff_t>(rows.size()) - 1;
  while (low <= high) {
    const std::ptrdiff_t middle = low + (high - low) / 2;
    auto& at = rows[static_cast<std::size_t>(middle)];
    if (row == at.row) {
      at.cells.push_back(id);
      return;
    }
    if (row > at.row) {
      low = middle + 1;
    } else {
      high = middle - 1;
    }
  }
  rows.push_back(TModelRow{row, {id}});
}

TEST(KvXlsRowData, GroupsCellsAsTheRowSearchDoes) {
  std::mt19937 rng(12345);
  struct Pattern {
    const char* name;
    int rowSpread;   // rows drawn from 0..rowSpread
    int disorderPct; // share of cells that jump to a random row
  };
  const Pattern patterns[] = {
      {"ascending", 0, 0}, {"few jumps", 50, 2}, {"many jumps", 30, 40}, {"random", 8, 100}};
  for (const Pattern& p : patterns) {
    for (int trial = 0; trial < 40; ++trial) {
      SCOPED_TRACE(std::string(p.name) + " trial " + std::to_string(trial));
      TRowList list;
      std::vector<TModelRow> model;
      std::uint32_t current = 0;
      const int cells = 1 + static_cast<int>(rng() % 300);
      for (int i = 0; i < cells; ++i) {
        std::uint32_t row = current;
        if (p.rowSpread > 0 && static_cast<int>(rng() % 100) < p.disorderPct) {
          row = static_cast<std::uint32_t>(rng() % static_cast<std::uint32_t>(p.rowSpread + 1));
        } else if (rng() % 4 == 0) {
          current += static_cast<std::uint32_t>(1 + rng() % 3);
          row = current;
        }
        TXlsCell cell;
        cell.value = i;
        list.AddCell(row, cell);
        ModelAdd(model, row, static_cast<std::uint32_t>(i));
      }
      list.Finalize();
      ASSERT_EQ(list.RowCount(), model.size());
      ASSERT_EQ(list.CellCount(), static_cast<std::size_t>(cells));
      for (std::size_t r = 0; r < model.size(); ++r) {
        ASSERT_EQ(list.Row(r).row, model[r].row);
        const auto got = list.Cells(r);
        ASSERT_EQ(got.size(), model[r].cells.size());
        for (std::size_t k = 0; k < got.size(); ++k) {
          ASSERT_EQ(got[k].value, model[r].cells[k]);
        }
      }
    }
  }
}

} // namespace
} // namespace scv::spreadsheet
