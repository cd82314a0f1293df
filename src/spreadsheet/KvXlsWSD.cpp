// Worksheet substream reading: cell records into row entries.
#include "spreadsheet/KvXlsWSD.h"

#include "spreadsheet/KvXlsBRCell.h"

namespace scv::spreadsheet {

namespace {

// Adds each cell to the row list.
struct TRowListSink {
  TRowList& rows;
  bool Add(std::uint32_t row, const TXlsCell& cell) {
    rows.AddCell(row, cell);
    return true;
  }
};

// Number of cell entries the substream at the stream's position will create (within the
// budget), found by walking its record headers only, so the cell array is allocated once.
std::size_t CountCells(TBiffStream stream, const TReadBudget& budget) {
  std::size_t cells = 0;
  std::size_t bytes = 0;
  TRecordHeader header;
  while (cells < budget.cells && stream.ReadHeader(header) && header.id != kIdEof) {
    bytes += kRecordHeaderSize + header.length;
    if (bytes > budget.bytes) {
      break;
    }
    const std::size_t body = stream.Body(header).size();
    switch (header.id) {
    case kIdLabelSst:
    case kIdNumber:
    case kIdRk:
    case kIdBlank:
    case kIdFormula:
      ++cells;
      break;
    case kIdMulRk:
      cells += body < 6 ? 0 : (body - 6) / 6;
      break;
    case kIdMulBlank:
      cells += body < 6 ? 0 : (body - 6) / 2;
      break;
    default:
      break;
    }
    stream.SkipBody(header);
  }
  return cells < budget.cells ? cells : budget.cells;
}

} // namespace

void ReadWorksheet(TBiffStream& stream, TWorkSheetData8& sheet, TReadBudget& budget) {
  sheet.rows.Reserve(CountCells(stream, budget));
  TRowListSink sink{sheet.rows};
  ReadCellRecords(stream, sink, budget);
  sheet.rows.Finalize();
}

} // namespace scv::spreadsheet
