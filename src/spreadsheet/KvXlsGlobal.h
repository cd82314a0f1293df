// Workbook globals: the record loop over the globals substream and the workbook data it fills.
#pragma once

#include "spreadsheet/KvXlsBOF.h"
#include "spreadsheet/KvXlsSST.h"
#include "spreadsheet/KvXlsStyle.h"
#include "spreadsheet/KvXlsWSD.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace scv::spreadsheet {

struct TWorkBookData {
  std::uint32_t cstTotal = 0;
  std::uint32_t cstUnique = 0;
  // The last SST decoded all cstUnique strings (false: it ran out of data and kept what it had).
  bool sstComplete = true;
  TSharedStrings sharedStrings;
  std::vector<TWorkSheetData8> sheets; // worksheets in BoundSheet8 order
  TStyleData styleData;
  TBof bof;             // last BOF read in the globals
  TBiffContext context; // version of the first BOF, and the CODEPAGE record's code page
  // A FILEPASS record was met: the records after it are encrypted and were not read.
  bool encrypted = false;
};

// Reads the globals substream from position 0: BOF, CODEPAGE, DATEMODE, BoundSheet8 (each
// worksheet is read at once from its own substream), XF, FORMAT and SST with its CONTINUE
// records, up to the globals EOF or the end of the stream. Stops at a FILEPASS record and sets
// encrypted. Never throws for malformed data; allocation failures propagate. With readSheets
// false the worksheets are listed with their BoundSheet8 but not read (the caller reads them
// later with the same budget rules).
//
// A stream that starts with the BOF of a worksheet instead of the globals (every BIFF2-4 file,
// and bare BIFF5/8 worksheets) holds one sheet: its FORMAT and XF records are read from that
// substream, and it becomes the one sheet "Sheet1" at position 0. The globals of an Excel 4.0
// workbook (a BIFF4 BOF of type 0x0100) are followed by its sheets, each after a SHEETHDR
// record that names it; each keeps its own formatting records (TSheetFormatting).
void ReadWorkbookGlobals(std::span<const std::uint8_t> stream, TWorkBookData& data,
                         bool readSheets = true);
// The same over a stream walked from its runs (read from position 0 whatever its position).
void ReadWorkbookGlobals(const TBiffStream& stream, TWorkBookData& data, bool readSheets = true);

// The number formats, XF list and text code page a sheet is read and laid out with: the
// workbook's, or for a sheet with formatting records of its own (the sheets of an Excel 4.0
// workbook), the workbook's with the sheet's applied over them: its XF list and the numbering of
// its FORMAT records start afresh. Borrows data and sheet.
class TSheetFormatting {
public:
  TSheetFormatting(const TWorkBookData& data, const TWorkSheetData8& sheet);
  const TStyleData& Style() const { return *style_; }
  const TBiffContext& Context() const { return *context_; }

private:
  struct TOwn {
    TStyleData style;
    TBiffContext context;
  };
  std::optional<TOwn> own_;
  const TStyleData* style_;
  const TBiffContext* context_;
};

} // namespace scv::spreadsheet
