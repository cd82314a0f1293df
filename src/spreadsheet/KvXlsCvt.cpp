// Excel 97-2003 workbooks to tab-separated text: the extractor entry, the layout of the
// worksheets and the closing encoding step.
#include "spreadsheet/KvXlsCvt.h"

#include "platform/CodePage.h"
#include "platform/LocaleInfo.h"
#include "platform/Memory.h"
#include "spreadsheet/KvXlsCellText.h"
#include "spreadsheet/KvXlsGlobal.h"
#include "storage/MappedFile.h"
#include "storage/TDocFile_U1.h"

#include <limits>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

namespace scv::spreadsheet {

namespace {

// A rough size of the text per cell, so that large sheets grow the buffer a few times only.
constexpr std::size_t kBytesPerCellGuess = 10;

// The TABs that bring the column counter up to a cell's column.
void AppendTabs(const TXlsCell& cell, std::uint32_t& column, std::string& out) {
  if (column < cell.column) {
    if (cell.column - column == 1) {
      out.push_back('\t'); // the usual step, cheaper than a counted append
    } else {
      out.append(cell.column - column, '\t');
    }
    column = cell.column;
  }
}

// What a sheet's cells are written with: its formatting and the workbook's shared strings.
struct TCellSource {
  const TStyleData& style;
  const TSharedStrings& strings;
};

// The text of a cell of a kind other than number and shared string.
[[gnu::noinline]] void AppendOtherCell(const TCellSource& source, const TXlsCell& cell,
                                       std::string& out) {
  switch (cell.kind) {
  case kCellFormula: // a formula's number shows through its format like any number
    source.style.AppendNumber(out, cell.value, cell.ixfe);
    break;
  case kCellBoolean:
    out.append(BooleanText(cell.value != 0));
    break;
  case kCellError:
    out.append(ErrorText(static_cast<std::uint8_t>(cell.value)));
    break;
  default:
    break;
  }
}

// Appends one cell's text after the TABs that bring the column counter up to its column. Cells
// of kind 4 bring their own characters (AppendTextCell). Inline, with the two kinds nearly
// every cell has: it runs once per cell.
[[gnu::always_inline]] inline void AppendCell(const TCellSource& source, const TXlsCell& cell,
                                              std::uint32_t& column, std::string& out) {
  AppendTabs(cell, column, out);
  if (cell.kind == kCellNumber) [[likely]] {
    source.style.AppendNumber(out, cell.value, cell.ixfe);
  } else if (cell.kind == kCellString) {
    if (cell.Isst() < source.strings.Count()) {
      out.append(source.strings.At(cell.Isst()));
    }
  } else {
    AppendOtherCell(source, cell, out);
  }
}

void AppendTextCell(const TXlsCell& cell, std::string_view text, std::uint32_t& column,
                    std::string& out) {
  AppendTabs(cell, column, out);
  out.append(text);
}

void AppendRows(const TCellSource& source, const TWorkSheetData8& sheet, std::string& out) {
  const TRowList& rows = sheet.rows;
  for (std::size_t r = 0; r < rows.RowCount(); ++r) {
    std::uint32_t column = 0;
    for (const TXlsCell& cell : rows.Cells(r)) {
      if (cell.kind == kCellText) {
        AppendTextCell(cell, cell.Isst() < sheet.texts.Count() ? sheet.texts.At(cell.Isst()) : "",
                       column, out);
      } else {
        AppendCell(source, cell, column, out);
      }
    }
    out.append("\r\n");
  }
}

void AppendSheetName(const TWorkSheetData8& sheet, std::string& out) {
  AppendUtf16AsUtf8(out, sheet.boundSheet.stName.rgb);
  out.append("\r\n");
}

// Writes cells as they are read. While rows only ascend, each new row is a new row entry and
// every cell belongs to the last one, so the lines come out exactly as from a row list; a cell
// for an earlier row stops the loop, and the sheet is read again into a row list.
struct TLayoutSink {
  TCellSource source;
  std::string& out;
  bool open = false;
  std::uint32_t row = 0;
  std::uint32_t column = 0;

  bool Add(std::uint32_t cellRow, const TXlsCell& cell) {
    if (!NextRow(cellRow)) {
      return false;
    }
    AppendCell(source, cell, column, out);
    return true;
  }
  bool AddText(std::uint32_t cellRow, const TXlsCell& cell, std::string_view text) {
    if (!NextRow(cellRow)) {
      return false;
    }
    AppendTextCell(cell, text, column, out);
    return true;
  }
  // Moves to the cell's row (a new line for a later one); false for an earlier row.
  bool NextRow(std::uint32_t cellRow) {
    if (!open) {
      open = true;
      row = cellRow;
    } else if (cellRow != row) {
      if (cellRow < row) {
        return false;
      }
      out.append("\r\n");
      row = cellRow;
      column = 0;
    }
    return true;
  }
  void Finish() {
    if (open) {
      out.append("\r\n");
    }
  }
};

// Reads the worksheet at its lbPlyPos (up to its substream's end, when it has one) and appends
// its rows.
void AppendWorksheetRows(const TWorkBookData& data, const TWorkSheetData8& sheet,
                         const TBiffStream& whole, TReadBudget& budget, std::string& out) {
  TBiffStream stream = whole.First(sheet.substreamEnd);
  const std::size_t start = sheet.boundSheet.lbPlyPos;
  if (start >= stream.Size()) {
    return;
  }
  const std::size_t mark = out.size();
  const TReadBudget before = budget;
  stream.Seek(start);
  const TSheetFormatting formatting(data, sheet);
  TLayoutSink sink{{formatting.Style(), data.sharedStrings}, out};
  if (ReadCellRecords(stream, formatting.Context(), sink, budget)) {
    sink.Finish();
    return;
  }
  out.resize(mark);
  budget = before;
  stream.Seek(start);
  TWorkSheetData8 stored;
  ReadWorksheet(stream, formatting.Context(), stored, budget);
  AppendRows({formatting.Style(), data.sharedStrings}, stored, out);
}

// Number of line breaks that are not CR LF (a lone CR or a lone LF), each of which becomes one
// byte longer when line ends are normalised to CR LF.
std::size_t CountLoneBreaks(std::string_view text) {
  std::size_t lone = 0;
  while (!text.empty()) {
    const std::size_t lineLength = text.find('\n');
    const bool hasLf = lineLength != std::string_view::npos;
    const std::string_view line = text.substr(0, lineLength);
    // Every CR of the line, except one directly before its LF, is lone.
    for (std::size_t cr = line.find('\r'); cr != std::string_view::npos;
         cr = line.find('\r', cr + 1)) {
      if (!hasLf || cr + 1 != line.size()) {
        ++lone;
      }
    }
    if (!hasLf) {
      break;
    }
    if (line.empty() || line.back() != '\r') {
      ++lone;
    }
    text.remove_prefix(lineLength + 1);
  }
  return lone;
}

// Line ends normalised to CR LF, without a copy when the text has none to change.
void NormalizeLineEnds(std::string& text) {
  if (CountLoneBreaks(text) != 0) {
    text = AdjustLineEnds(text, kLineEndCrLf);
  }
}

void AppendUtf16Le(std::string& out, std::u16string_view units) {
  const std::size_t start = out.size();
  out.resize(start + 2 * units.size());
  const std::span<char> bytes = std::span<char>(out).subspan(start);
  std::size_t k = 0;
  for (const char16_t u : units) {
    bytes[k++] = static_cast<char>(u & 0xFF);
    bytes[k++] = static_cast<char>(u >> 8);
  }
}

// The opened compound file and its workbook stream, kept open while the stream's bytes are
// parsed in place, run by run of consecutive sectors; or a file that is a workbook stream
// itself.
struct TOpenWorkbook {
  std::unique_ptr<storage::TDocFileStorage> storage;
  std::unique_ptr<storage::TDocFileStream> stream; // null without "Workbook" and "Book"
  std::vector<TStreamRun> runs;                    // the stream's runs, views of the file
  std::shared_ptr<const void> bareOwner;           // a bare stream's file bytes
  std::span<const std::uint8_t> bare;

  TBiffStream Records() const {
    if (bareOwner) {
      return TBiffStream(bare);
    }
    return TBiffStream(std::span<const TStreamRun>(runs));
  }
};

// Excel 2.x-4.0 wrote worksheets as plain files, and other programs write BIFF5/8 streams
// without a compound file around them: such a file starts with a BOF record.
bool StartsWithBof(std::span<const std::uint8_t> bytes) {
  return bytes.size() >= kRecordHeaderSize + 4 && IsBofId(bytes::LoadU16At(bytes, 0)) &&
         bytes::LoadU16At(bytes, 2) >= 4;
}

// Opens the compound file and its "Workbook" stream, or failing that its "Book" stream; or a
// file that is a bare workbook stream. Returns 0 or the failure code of the open.
std::int32_t OpenWorkbook(const std::u16string& fileName, TOpenWorkbook& book) {
  const std::int32_t check = storage::CheckStorageFile(fileName);
  if (check == kResultBadFormat) {
    book.bareOwner = storage::LoadInputFile(fileName, book.bare);
    if (!book.bareOwner || !StartsWithBof(book.bare)) {
      book.bareOwner.reset();
      return kResultBadFormat;
    }
    return 0;
  }
  if (check != 0) {
    return check;
  }
  book.storage = storage::OpenStorageFile(fileName, storage::kStgmReadShareExclusive);
  if (!book.storage || !book.storage->LastError().empty()) {
    return kResultOpenError;
  }
  book.stream = book.storage->OpenStream(u"Workbook", storage::kStgmReadShareExclusive);
  if (!book.stream) {
    book.stream = book.storage->OpenStream(u"Book", storage::kStgmReadShareExclusive);
  }
  if (book.stream) {
    book.runs = MakeStreamRuns(book.stream->Spans(0, book.stream->StreamSize()));
  }
  return 0;
}

} // namespace

namespace {

void AppendWorkbookText(const TWorkBookData& data, std::string& out) {
  std::size_t cells = 0;
  for (const auto& sheet : data.sheets) {
    cells += sheet.rows.CellCount();
  }
  out.reserve(out.size() + cells * kBytesPerCellGuess + 64);
  platform::AdviseLargeBuffer(out.data(), out.capacity());
  for (const auto& sheet : data.sheets) {
    AppendSheetName(sheet, out);
    const TSheetFormatting formatting(data, sheet);
    AppendRows({formatting.Style(), data.sharedStrings}, sheet, out);
    out.append("\r\n");
  }
}

} // namespace

std::string LayoutWorkbook(const TWorkBookData& data) {
  std::string out;
  AppendWorkbookText(data, out);
  return out;
}

std::int32_t ExtractWorkbookText(std::span<const std::uint8_t> workbookStream, std::string& text,
                                 bool bareStream) {
  return ExtractWorkbookText(TBiffStream(workbookStream), text, bareStream);
}

std::int32_t ExtractWorkbookText(const TBiffStream& workbookStream, std::string& text,
                                 bool bareStream) {
  auto data = std::make_unique<TWorkBookData>();
  // The worksheets are read after the globals and written as they are read, so their cells
  // need not be stored; the text is the same as laying out fully read workbook data.
  ReadWorkbookGlobals(workbookStream, *data, false);
  if (data->encrypted) {
    return kResultEncrypted;
  }
  if (data->sheets.empty() && (bareStream || data->context.biff <= kBiff4)) {
    // A file that starts with a BOF but holds no worksheet (a chart, a macro sheet, a
    // workspace of links, a workbook whose sheets cannot be found) has no text to give, and an
    // empty success would hide that.
    return kResultBadFormat;
  }
  text.reserve(text.size() + workbookStream.Size());
  platform::AdviseLargeBuffer(text.data(), text.capacity());
  TReadBudget budget = TReadBudget::ForStream(workbookStream.Size());
  for (const auto& sheet : data->sheets) {
    AppendSheetName(sheet, text);
    AppendWorksheetRows(*data, sheet, workbookStream, budget, text);
    text.append("\r\n");
  }
  return 0;
}

bool DecodeMeasuredUtf8(std::string_view utf8, std::u16string& out) {
  const std::span<const std::uint8_t> s(reinterpret_cast<const std::uint8_t*>(utf8.data()),
                                        utf8.size());
  const std::size_t n = s.size();
  // Measure first: the count of code units, and whether every sequence is whole.
  std::size_t units = 0;
  for (std::size_t i = 0; i < n;) {
    const std::uint8_t lead = s[i];
    if (lead < 0x80) {
      ++units;
      ++i;
      continue;
    }
    const std::size_t follow = (lead >= 0xF0 && lead <= 0xF4) ? 3 : (lead & 0x20) == 0 ? 1 : 2;
    if (n - i - 1 < follow) {
      return false;
    }
    for (std::size_t k = 1; k <= follow; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) {
        return false;
      }
    }
    if (follow == 3) {
      const std::uint32_t cp = (std::uint32_t{lead} & 0x07) << 18 |
                               (std::uint32_t{s[i + 1]} & 0x3F) << 12 |
                               (std::uint32_t{s[i + 2]} & 0x3F) << 6 | (s[i + 3] & 0x3F);
      if (cp > 0x10FFFF) {
        return false;
      }
      units += 2;
    } else {
      ++units;
    }
    i += follow + 1;
  }

  const std::size_t start = out.size();
  out.resize(start + units);
  const std::span<char16_t> dst = std::span<char16_t>(out).subspan(start);
  std::size_t p = 0;
  for (std::size_t i = 0; i < n;) {
    const std::uint32_t lead = s[i];
    if (lead < 0x80) {
      dst[p++] = static_cast<char16_t>(lead);
      ++i;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      const std::uint32_t cp = (lead & 0x07) << 18 | (std::uint32_t{s[i + 1]} & 0x3F) << 12 |
                               (std::uint32_t{s[i + 2]} & 0x3F) << 6 | (s[i + 3] & 0x3F);
      // Values below U+10000 written this way still take the surrogate form of cp - 0x10000.
      const std::uint32_t v = cp - 0x10000;
      dst[p++] = static_cast<char16_t>(0xD800 + ((v >> 10) & 0x3FF));
      dst[p++] = static_cast<char16_t>(0xDC00 + (v & 0x3FF));
      i += 4;
    } else if ((lead & 0x20) == 0) {
      dst[p++] = static_cast<char16_t>(((lead & 0x3F) << 6) | (s[i + 1] & 0x3F));
      i += 2;
    } else {
      dst[p++] = static_cast<char16_t>(
          ((lead << 12) | ((std::uint32_t{s[i + 1]} & 0x3F) << 6) | (s[i + 2] & 0x3F)) & 0xFFFF);
      i += 3;
    }
  }
  return true;
}

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// The closing step on text that, for 65001, already starts with the byte-order mark (so the
// usual case stores the text without another copy).
std::int32_t StoreText(std::string& text, std::size_t bomSize, std::int32_t codePage,
                       TConversionResult& result) {
  std::string bytes;
  if (codePage == platform::kCpUtf8) {
    if (CountLoneBreaks(std::string_view(text).substr(bomSize)) != 0) {
      std::string adjusted(kUtf8Bom);
      adjusted.append(AdjustLineEnds(std::string_view(text).substr(bomSize), kLineEndCrLf));
      text.swap(adjusted);
    }
    bytes.swap(text);
  } else {
    NormalizeLineEnds(text);
    if (codePage == 0) {
      const std::int32_t ansi = platform::GetACP();
      if (ansi == platform::kCpUtf8) {
        bytes.swap(text);
      } else {
        bytes = platform::WideToMultiByte(ansi, platform::Utf8ToWide(text));
      }
    } else {
      std::u16string wide;
      if (!DecodeMeasuredUtf8(text, wide)) {
        return kResultBadUtf8;
      }
      std::string().swap(text);
      wide.push_back(u'\0');
      if (codePage == platform::kCpUtf16Le) {
        bytes.reserve(2 + 2 * wide.size());
        bytes.append("\xFF\xFE");
        AppendUtf16Le(bytes, wide);
      } else {
        bytes = ToCodePage(codePage, wide);
      }
    }
  }
  if (bytes.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
    return kResultBadFormat; // the count would not fit the result value
  }
  return AppendToResult(bytes, result);
}

} // namespace

std::int32_t StoreWorkbookText(std::string_view utf8, std::int32_t codePage,
                               TConversionResult& result) {
  std::string text;
  std::size_t bomSize = 0;
  if (codePage == platform::kCpUtf8) {
    text.reserve(utf8.size() + kUtf8Bom.size());
    text.append(kUtf8Bom);
    bomSize = kUtf8Bom.size();
  }
  text.append(utf8);
  return StoreText(text, bomSize, codePage, result);
}

std::int32_t ExtractSpreadsheet(const std::u16string& fileName, std::int32_t /*byteLimit*/,
                                TConversionResult& result, std::int32_t codePage) {
  // For UTF-8 output the byte-order mark goes first, so the text never needs moving.
  std::string text;
  const std::size_t bomSize = codePage == platform::kCpUtf8 ? kUtf8Bom.size() : 0;
  try {
    TOpenWorkbook book;
    const std::int32_t opened = OpenWorkbook(fileName, book);
    if (opened != 0) {
      return opened;
    }
    text.append(kUtf8Bom.substr(0, bomSize));
    const std::int32_t extracted =
        ExtractWorkbookText(book.Records(), text, book.bareOwner != nullptr);
    if (extracted != 0) {
      return extracted;
    }
  } catch (...) {
    return kResultBadFormat;
  }
  try {
    return StoreText(text, bomSize, codePage, result);
  } catch (...) {
    return kResultBadFormat;
  }
}

} // namespace scv::spreadsheet
