// Worksheet data: a sheet's BoundSheet8 and its rows, read from the sheet's substream.
#pragma once

#include <cstddef>
#include <cstdint>

#include "spreadsheet/KvXlsBOF.h"
#include "spreadsheet/KvXlsBSheet8.h"
#include "spreadsheet/KvXlsRowData.h"

namespace scv::spreadsheet {

struct TWorkSheetData8 {
  TBoundSheet8 boundSheet;
  TRowList rows;
};

// Work allowed to all worksheet reads of one workbook together. Substreams of a well-formed
// workbook do not overlap, so reading each once walks at most the stream and creates at most one
// cell per two bytes of it. A sheet without EOF reads on into the sheets after it, and a hostile
// file can point many BoundSheet8 records at the same bytes; the budget keeps time and memory
// proportional to the stream however the offsets overlap. When it runs out, worksheet reading
// stops: the sheet being read keeps what it has, later sheets get no rows.
struct TReadBudget {
  std::size_t bytes = 0; // record bytes (headers included) the worksheet loops may walk
  std::size_t cells = 0; // cell entries they may create

  static TReadBudget ForStream(std::size_t streamSize) {
    return TReadBudget{8 * streamSize + kSlack, streamSize / 2 + kSlack};
  }
  static constexpr std::size_t kSlack = 1 << 16;
};

// Reads the cell records of the substream at the stream's position into the sheet, up to its
// EOF record or the end of the stream. The caller saves and restores the position.
void ReadWorksheet(TBiffStream& stream, TWorkSheetData8& sheet, TReadBudget& budget);

} // namespace scv::spreadsheet
