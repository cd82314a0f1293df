// Worksheet substream reading: cell records into row entries.
#include "spreadsheet/KvXlsWSD.h"

#include "spreadsheet/KvXlsBRCell.h"

namespace scv::spreadsheet {

namespace {

// Adds each cell to the row list, and the characters of text cells to the sheet's texts.
struct TRowListSink {
  TWorkSheetData8& sheet;
  bool Add(std::uint32_t row, const TXlsCell& cell) {
    sheet.rows.AddCell(row, cell);
    return true;
  }
  bool AddText(std::uint32_t row, const TXlsCell& cell, std::string_view text) {
    TXlsCell stored = cell;
    stored.SetIsst(static_cast<std::uint32_t>(sheet.texts.Count()));
    sheet.texts.Append(text);
    sheet.rows.AddCell(row, stored);
    return true;
  }
};

// Number of cell entries the substream at the stream's position will create (within the
// budget), found by walking its record headers only, so the cell array is allocated once.
std::size_t CountCells(TBiffStream stream, const TReadBudget& budget) {
  std::size_t cells = 0;
  std::size_t bytes = 0;
  std::size_t embedded = 0;
  bool first = true;
  TRecordHeader header;
  while (cells < budget.cells && stream.ReadHeader(header)) {
    bytes += kRecordHeaderSize + header.length;
    if (bytes > budget.bytes) {
      break;
    }
    const std::size_t body = stream.BodySize(header);
    if (IsBofId(header.id) && !first) {
      ++embedded;
    }
    first = false;
    if (header.id == kIdEof) {
      if (embedded == 0) {
        break;
      }
      --embedded;
      stream.SkipBody(header);
      continue;
    }
    if (embedded != 0) {
      stream.SkipBody(header);
      continue;
    }
    switch (header.id) {
    case kIdLabelSst:
    case kIdNumber:
    case kIdRk:
    case kIdBlank:
    case kIdFormula:
    case kIdFormula3:
    case kIdFormula4:
    case kIdLabel:
    case kIdRString:
    case kIdBoolErr:
    case kIdBlank2:
    case kIdInteger2:
    case kIdNumber2:
    case kIdLabel2:
    case kIdBoolErr2:
      ++cells; // at most one cell each (some only in some versions)
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

void ReadWorksheet(TBiffStream& stream, const TBiffContext& context, TWorkSheetData8& sheet,
                   TReadBudget& budget) {
  sheet.rows.Reserve(CountCells(stream, budget));
  TRowListSink sink{sheet};
  ReadCellRecords(stream, context, sink, budget);
  sheet.rows.Finalize();
}

} // namespace scv::spreadsheet
