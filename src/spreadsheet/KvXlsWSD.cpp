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

} // namespace

void ReadWorksheet(TBiffStream& stream, TWorkSheetData8& sheet, TReadBudget& budget) {
  TRowList& rows = sheet.rows;
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
      cell.row = rec.rw;
      cell.column = rec.col;
      cell.ixfe = rec.ixfe;
      cell.isst = rec.isst;
      rows.AddCell(cell);
      break;
    }
    case kIdNumber: {
      TNumber rec;
      ReadNumber(body, header.id, rec);
      if (!TakeCell(budget)) {
        return;
      }
      cell.kind = kCellNumber;
      cell.row = rec.rw;
      cell.column = rec.col;
      cell.ixfe = rec.ixfe;
      cell.value = DecodeNumber(rec.num);
      rows.AddCell(cell);
      break;
    }
    case kIdRk: {
      TRk rec;
      ReadRk(body, header.id, rec);
      if (!TakeCell(budget)) {
        return;
      }
      cell.kind = kCellNumber;
      cell.row = rec.rw;
      cell.column = rec.col;
      cell.ixfe = rec.ixfe;
      cell.value = DecodeRk(rec.rk);
      rows.AddCell(cell);
      break;
    }
    case kIdMulRk: {
      TMulRK rec;
      ReadMulRK(body, header.id, rec);
      cell.kind = kCellNumber;
      cell.row = rec.rw;
      for (std::size_t i = 0; i < rec.count; ++i) {
        if (!TakeCell(budget)) {
          return;
        }
        const TRkRec pair = rec.At(i);
        cell.column = rec.colFirst + static_cast<std::uint32_t>(i);
        cell.ixfe = pair.ixfe;
        cell.value = DecodeRk(pair.rk);
        rows.AddCell(cell);
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
      cell.row = rec.rw;
      cell.column = rec.col;
      cell.ixfe = rec.ixfe;
      rows.AddCell(cell);
      break;
    }
    case kIdMulBlank: {
      TMulBlank rec;
      ReadMulBlank(body, header.id, rec);
      cell.kind = kCellBlank;
      cell.row = rec.rw;
      for (std::size_t i = 0; i < rec.count; ++i) {
        if (!TakeCell(budget)) {
          return;
        }
        cell.column = rec.colFirst + static_cast<std::uint32_t>(i);
        cell.ixfe = rec.At(i);
        rows.AddCell(cell);
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
      cell.row = rec.rw;
      cell.column = rec.col;
      cell.ixfe = rec.ixfe;
      cell.value = DecodeFormulaValue(rec.val);
      cell.flags = static_cast<std::uint8_t>(((rec.grbit & 0x01) != 0 ? kCellAlwaysCalc : 0) |
                                             ((rec.grbit & 0x08) != 0 ? kCellSharedFormula : 0));
      rows.AddCell(cell);
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

} // namespace scv::spreadsheet
