// Worksheet data: a sheet's BoundSheet8 and its rows, read from the sheet's substream.
#pragma once

#include "spreadsheet/KvXlsBOF.h"
#include "spreadsheet/KvXlsBRCell.h"
#include "spreadsheet/KvXlsBSheet8.h"
#include "spreadsheet/KvXlsCellText.h"
#include "spreadsheet/KvXlsRowData.h"
#include "spreadsheet/KvXlsSST.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace scv::spreadsheet {

struct TWorkSheetData8 {
  TBoundSheet8 boundSheet;
  TRowList rows;
  TSharedStrings texts; // the characters of the sheet's kind 4 cells, by their index
  // Formatting records (CODEPAGE, DATEMODE, FORMAT, XF; header and body each) of a sheet that
  // keeps its own formatting, as every sheet of an Excel 4.0 workbook does; empty for the sheets
  // that use the workbook's.
  std::vector<std::uint8_t> ownFormatting;
  // Where the sheet's substream ends when the stream goes on with records of other sheets that
  // the sheet must not read, as after an Excel 4.0 workbook sheet without EOF; 0: no such end.
  std::size_t substreamEnd = 0;
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
void ReadWorksheet(TBiffStream& stream, const TBiffContext& context, TWorkSheetData8& sheet,
                   TReadBudget& budget);

namespace detail {

// BIFF2 cells carry 3 attribute bytes where later versions have ixfe; the second holds the
// number format index in its low 6 bits, and the workbook's XF list maps each index to itself.
inline std::uint16_t Biff2FormatIndex(std::span<const std::uint8_t> body) {
  return body.size() > 5 ? static_cast<std::uint16_t>(body[5] & 0x3F) : 0;
}

// The STRING record that holds a formula's string result follows the FORMULA record, after
// the SHRFMLA, ARRAY or TABLE record the formula may own. Appends its text and returns true;
// false when another record comes first (the cell is then empty).
inline bool ReadFormulaString(TBiffStream after, const TBiffContext& context, std::string& out) {
  const bool biff2 = context.biff == kBiff2;
  TRecordHeader header;
  for (int k = 0; k < 3 && after.ReadHeader(header); ++k) {
    const auto body = after.Body(header);
    after.SkipBody(header);
    if (header.id == (biff2 ? kIdString2 : kIdString)) {
      ReadCellString(body, 0, biff2 ? 1 : 2, context, after, out);
      return true;
    }
    if (header.id != kIdShrFmla && header.id != kIdArray && header.id != kIdTable &&
        header.id != kIdArray2 && header.id != kIdTable2) {
      return false;
    }
  }
  return false;
}

// Walks past the records of a substream embedded in a sheet, whose BOF was just read, up to its
// matching EOF (nested BOF and EOF records counted, not recursed into). False when the budget
// ran out, which ends the sheet.
inline bool SkipEmbeddedSubstream(TBiffStream& stream, TReadBudget& budget) {
  std::size_t open = 1;
  TRecordHeader header;
  while (open != 0 && stream.ReadHeader(header)) {
    const std::size_t walked = kRecordHeaderSize + header.length;
    if (budget.bytes < walked) {
      budget = TReadBudget{0, 0};
      stream.SeekToEnd();
      return false;
    }
    budget.bytes -= walked;
    if (header.id == kIdEof) {
      --open;
    } else if (IsBofId(header.id)) {
      ++open;
    }
    stream.SkipBody(header);
  }
  return true;
}

} // namespace detail

// The record loop of ReadWorksheet, handing each cell with its row to sink.Add(row, cell) in
// record order, and each kind 4 cell with its characters to sink.AddText(row, cell, text). They
// return false to stop the loop, which then returns false; otherwise the loop ends at EOF, at
// the end of the stream or when the budget runs out, and returns true.
//
// A BOF record after the first one starts a substream embedded in the sheet (a chart, or any
// other): its records up to the matching EOF belong to it and give no cells, and the sheet goes
// on after it. Nesting is counted, not recursed into.
template <class TSink>
bool ReadCellRecords(TBiffStream& stream, const TBiffContext& context, TSink& sink,
                     TReadBudget& budget) {
  const auto takeCell = [&budget] {
    if (budget.cells == 0) {
      return false;
    }
    --budget.cells;
    return true;
  };
  const bool biff2 = context.biff == kBiff2;
  std::string text;
  const std::size_t start = stream.Position();
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
    case kIdFormula:
    case kIdFormula3:
    case kIdFormula4: {
      // BIFF2 (id 0x0006 only): rw, col, 3 attribute bytes, then the value at offset 7.
      const bool attrs = biff2 && header.id == kIdFormula;
      TFormula rec;
      ReadFormula(body, kIdFormula, rec);
      std::array<std::uint8_t, 8> val{};
      for (std::size_t k = 0; k < 8; ++k) {
        const std::size_t at = (attrs ? 7 : 6) + k;
        val[k] = at < body.size() ? body[at] : 0;
      }
      const TFormulaResult result = DecodeFormulaResult(val);
      cell.kind = result.kind;
      cell.value = result.value;
      cell.column = rec.col;
      cell.ixfe = attrs ? detail::Biff2FormatIndex(body) : rec.ixfe;
      cell.flags = static_cast<std::uint8_t>(((rec.grbit & 0x01) != 0 ? kCellAlwaysCalc : 0) |
                                             ((rec.grbit & 0x08) != 0 ? kCellSharedFormula : 0));
      if (cell.kind == kCellText) {
        stream.SkipBody(header);
        text.clear();
        if (!detail::ReadFormulaString(stream, context, text)) {
          cell.kind = kCellBlank;
        }
        if (!takeCell()) {
          return true;
        }
        if (!(cell.kind == kCellText ? sink.AddText(rec.rw, cell, text) : sink.Add(rec.rw, cell))) {
          return false;
        }
        continue;
      }
      row = rec.rw;
      break;
    }
    case kIdLabel:
    case kIdRString:
    case kIdLabel2: {
      // rw, col, ixfe (BIFF2: 3 attribute bytes), then the string.
      const bool attrs = header.id == kIdLabel2;
      if (attrs != biff2) {
        stream.SkipBody(header); // 0x0004 is a cell only in BIFF2, 0x0204 only after it
        continue;
      }
      TBlank rec;
      ReadBlank(body, kIdBlank, rec);
      TBiffStream after = stream;
      after.SkipBody(header);
      text.clear();
      ReadCellString(body, attrs ? 7 : 6, attrs ? 1 : 2, context, after, text);
      cell.kind = kCellText;
      cell.column = rec.col;
      cell.ixfe = attrs ? detail::Biff2FormatIndex(body) : rec.ixfe;
      if (!takeCell()) {
        return true;
      }
      if (!sink.AddText(rec.rw, cell, text)) {
        return false;
      }
      stream.SkipBody(header);
      continue;
    }
    case kIdBoolErr:
    case kIdBoolErr2: {
      // rw, col, ixfe (BIFF2: 3 attribute bytes), bBoolErr, fError.
      const bool attrs = header.id == kIdBoolErr2;
      if (attrs != biff2) {
        stream.SkipBody(header);
        continue;
      }
      TBlank rec;
      ReadBlank(body, kIdBlank, rec);
      const std::size_t at = attrs ? 7 : 6;
      const std::uint8_t value = at < body.size() ? body[at] : 0;
      const bool error = at + 1 < body.size() && body[at + 1] != 0;
      cell.kind = error ? kCellError : kCellBoolean;
      cell.value = error ? value : (value != 0 ? 1.0 : 0.0);
      cell.column = rec.col;
      cell.ixfe = attrs ? detail::Biff2FormatIndex(body) : rec.ixfe;
      row = rec.rw;
      break;
    }
    case kIdBlank2:
    case kIdNumber2:
    case kIdInteger2: {
      // rw, col, 3 attribute bytes; NUMBER a double, INTEGER an unsigned 16-bit value.
      if (!biff2) {
        stream.SkipBody(header);
        continue;
      }
      TBlank rec;
      ReadBlank(body, kIdBlank, rec);
      cell.column = rec.col;
      cell.ixfe = detail::Biff2FormatIndex(body);
      if (header.id == kIdNumber2) {
        std::array<std::uint8_t, 8> num{};
        for (std::size_t k = 0; k < 8; ++k) {
          num[k] = 7 + k < body.size() ? body[7 + k] : 0;
        }
        cell.kind = kCellNumber;
        cell.value = DecodeNumber(num);
      } else if (header.id == kIdInteger2) {
        cell.kind = kCellNumber;
        cell.value = bytes::LoadU16At(body, 7);
      }
      row = rec.rw;
      break;
    }
    case kIdEof:
      stream.SeekToEnd();
      return true;
    default: // the sheet's BOF, and every record without cell text
      stream.SkipBody(header);
      if (IsBofId(header.id) && stream.Position() != start + kRecordHeaderSize + header.length) {
        if (!detail::SkipEmbeddedSubstream(stream, budget)) {
          return true;
        }
      }
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
