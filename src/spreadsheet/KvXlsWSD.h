// Worksheet data: a sheet's BoundSheet8 and its rows, read from the sheet's substream.
#pragma once

#include "spreadsheet/KvXlsBOF.h"
#include "spreadsheet/KvXlsBRCell.h"
#include "spreadsheet/KvXlsBSheet8.h"
#include "spreadsheet/KvXlsRowData.h"

#include <cstddef>
#include <cstdint>

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

// The record loop of ReadWorksheet, handing each cell with its row to sink.Add(row, cell) in
// record order. Add returns false to stop the loop, which then returns false; otherwise the loop
// ends at EOF, at the end of the stream or when the budget runs out, and returns true.
template <class TSink> bool ReadCellRecords(TBiffStream& stream, TSink& sink, TReadBudget& budget) {
  const auto takeCell = [&budget] {
    if (budget.cells == 0) {
      return false;
    }
    --budget.cells;
    return true;
  };
  TRecordHeader header;
  while (stream.ReadHeader(header)) {
    const std::size_t walked = kRecordHeaderSize + header.length;
    if (budget.bytes < walked) {
      budget = TReadBudget{0, 0};
      stream.SeekToEnd();
      return true;
    }
    budget.bytes -= walked;
    const auto body = stream.Body(header);
    TXlsCell cell;
    std::uint32_t row = 0;
    switch (header.id) {
    case kIdLabelSst: {
      TLabelSst rec;
      ReadLabelSst(body, header.id, rec);
      cell.kind = kCellString;
      cell.column = rec.col;
      cell.ixfe = rec.ixfe;
      cell.SetIsst(rec.isst);
      row = rec.rw;
      break;
    }
    case kIdNumber: {
      TNumber rec;
      ReadNumber(body, header.id, rec);
      cell.kind = kCellNumber;
      cell.column = rec.col;
      cell.ixfe = rec.ixfe;
      cell.value = DecodeNumber(rec.num);
      row = rec.rw;
      break;
    }
    case kIdRk: {
      TRk rec;
      ReadRk(body, header.id, rec);
      cell.kind = kCellNumber;
      cell.column = rec.col;
      cell.ixfe = rec.ixfe;
      cell.value = DecodeRk(rec.rk);
      row = rec.rw;
      break;
    }
    case kIdMulRk: {
      TMulRK rec;
      ReadMulRK(body, header.id, rec);
      cell.kind = kCellNumber;
      for (std::size_t i = 0; i < rec.count; ++i) {
        if (!takeCell()) {
          return true;
        }
        const TRkRec pair = rec.At(i);
        cell.column = rec.colFirst + static_cast<std::uint32_t>(i);
        cell.ixfe = pair.ixfe;
        cell.value = DecodeRk(pair.rk);
        if (!sink.Add(rec.rw, cell)) {
          return false;
        }
      }
      stream.SkipBody(header);
      continue;
    }
    case kIdBlank: {
      TBlank rec;
      ReadBlank(body, header.id, rec);
      cell.kind = kCellBlank;
      cell.column = rec.col;
      cell.ixfe = rec.ixfe;
      row = rec.rw;
      break;
    }
    case kIdMulBlank: {
      TMulBlank rec;
      ReadMulBlank(body, header.id, rec);
      cell.kind = kCellBlank;
      for (std::size_t i = 0; i < rec.count; ++i) {
        if (!takeCell()) {
          return true;
        }
        cell.column = rec.colFirst + static_cast<std::uint32_t>(i);
        cell.ixfe = rec.At(i);
        if (!sink.Add(rec.rw, cell)) {
          return false;
        }
      }
      stream.SkipBody(header);
      continue;
    }
    case kIdFormula: {
      TFormula rec;
      ReadFormula(body, header.id, rec);
      cell.kind = kCellFormula;
      cell.column = rec.col;
      cell.ixfe = rec.ixfe;
      cell.value = DecodeFormulaValue(rec.val);
      cell.flags = static_cast<std::uint8_t>(((rec.grbit & 0x01) != 0 ? kCellAlwaysCalc : 0) |
                                             ((rec.grbit & 0x08) != 0 ? kCellSharedFormula : 0));
      row = rec.rw;
      break;
    }
    case kIdEof:
      stream.SeekToEnd();
      return true;
    default: // BOF and every record without cell text
      stream.SkipBody(header);
      continue;
    }
    // One cell from a single-cell record.
    if (!takeCell()) {
      return true;
    }
    if (!sink.Add(row, cell)) {
      return false;
    }
    stream.SkipBody(header);
  }
  return true;
}

} // namespace scv::spreadsheet
