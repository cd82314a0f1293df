// Worksheet substream reading: cell records into row entries.
#include "spreadsheet/KvXlsWSD.h"

#include "spreadsheet/KvXlsBRCell.h"

namespace scv::spreadsheet {

namespace {

bool TakeCell(TReadBudget& budget) {
  if (budget.cells == 0) {
    return false;
  }
  --budget.cells;
  return true;
}

void ReadCellRecords(TBiffStream& stream, TRowList& rows, TReadBudget& budget) {
  TRecordHeader header;
  while (stream.ReadHeader(header)) {
    const std::size_t walked = kRecordHeaderSize + header.length;
    if (budget.bytes < walked) {
      budget.bytes = 0;
      budget.cells = 0;
      stream.SeekToEnd();
      return;
    }
    budget.bytes -= walked;
    const auto body = stream.Body(header);
    TXlsCell cell;
    switch (header.id) {
    case kIdLabelSst: {
      TLabelSst rec;
      ReadLabelSst(body, header.id, rec);
      if (!TakeCell(budget)) {
        return;
      }
      cell.kind = kCellString;
      cell.column = rec.col;
      cell.ixfe = rec.ixfe;
      cell.SetIsst(rec.isst);
      rows.AddCell(rec.rw, cell);
      break;
    }
    case kIdNumber: {
      TNumber rec;
      ReadNumber(body, header.id, rec);
      if (!TakeCell(budget)) {
        return;
      }
      cell.kind = kCellNumber;
      cell.column = rec.col;
      cell.ixfe = rec.ixfe;
      cell.value = DecodeNumber(rec.num);
      rows.AddCell(rec.rw, cell);
      break;
    }
    case kIdRk: {
      TRk rec;
      ReadRk(body, header.id, rec);
      if (!TakeCell(budget)) {
        return;
      }
      cell.kind = kCellNumber;
      cell.column = rec.col;
      cell.ixfe = rec.ixfe;
      cell.value = DecodeRk(rec.rk);
      rows.AddCell(rec.rw, cell);
      break;
    }
    case kIdMulRk: {
      TMulRK rec;
      ReadMulRK(body, header.id, rec);
      cell.kind = kCellNumber;
      for (std::size_t i = 0; i < rec.count; ++i) {
        if (!TakeCell(budget)) {
          return;
        }
        const TRkRec pair = rec.At(i);
        cell.column = rec.colFirst + static_cast<std::uint32_t>(i);
        cell.ixfe = pair.ixfe;
        cell.value = DecodeRk(pair.rk);
        rows.AddCell(rec.rw, cell);
      }
      break;
    }
    case kIdBlank: {
      TBlank rec;
      ReadBlank(body, header.id, rec);
      if (!TakeCell(budget)) {
        return;
      }
      cell.kind = kCellBlank;
      cell.column = rec.col;
      cell.ixfe = rec.ixfe;
      rows.AddCell(rec.rw, cell);
      break;
    }
    case kIdMulBlank: {
      TMulBlank rec;
      ReadMulBlank(body, header.id, rec);
      cell.kind = kCellBlank;
      for (std::size_t i = 0; i < rec.count; ++i) {
        if (!TakeCell(budget)) {
          return;
        }
        cell.column = rec.colFirst + static_cast<std::uint32_t>(i);
        cell.ixfe = rec.At(i);
        rows.AddCell(rec.rw, cell);
      }
      break;
    }
    case kIdFormula: {
      TFormula rec;
      ReadFormula(body, header.id, rec);
      if (!TakeCell(budget)) {
        return;
      }
      cell.kind = kCellFormula;
      cell.column = rec.col;
      cell.ixfe = rec.ixfe;
      cell.value = DecodeFormulaValue(rec.val);
      cell.flags = static_cast<std::uint8_t>(((rec.grbit & 0x01) != 0 ? kCellAlwaysCalc : 0) |
                                             ((rec.grbit & 0x08) != 0 ? kCellSharedFormula : 0));
      rows.AddCell(rec.rw, cell);
      break;
    }
    case kIdEof:
      stream.SeekToEnd();
      return;
    default: // BOF and every record without cell text
      break;
    }
    stream.SkipBody(header);
  }
}

} // namespace

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

void ReadWorksheet(TBiffStream& stream, TWorkSheetData8& sheet, TReadBudget& budget) {
  sheet.rows.Reserve(CountCells(stream, budget));
  ReadCellRecords(stream, sheet.rows, budget);
  sheet.rows.Finalize();
}

} // namespace scv::spreadsheet
