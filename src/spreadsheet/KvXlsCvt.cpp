// Excel 97-2003 workbooks to tab-separated text: the extractor entry, the layout of the
// worksheets and the closing encoding step.
#include "spreadsheet/KvXlsCvt.h"

#include <limits>
#include <memory>
#include <vector>

#include "platform/CodePage.h"
#include "platform/LocaleInfo.h"
#include "spreadsheet/KvXlsGlobal.h"
#include "storage/TDocFile_U1.h"

namespace scv::spreadsheet {

namespace {

// A rough size of the text per cell, so that large sheets grow the buffer a few times only.
constexpr std::size_t kBytesPerCellGuess = 10;

void AppendSheet(const TWorkBookData& data, const TWorkSheetData8& sheet, std::string& out) {
  AppendUtf16AsUtf8(out, sheet.boundSheet.stName.rgb);
  out.append("\r\n");
  const TSharedStrings& strings = data.sharedStrings;
  for (const TRowEntry& row : sheet.rows.Rows()) {
    std::uint32_t column = 0;
    for (const TXlsCell& cell : row.cells) {
      if (column < cell.column) {
        out.append(cell.column - column, '\t');
        column = cell.column;
      }
      switch (cell.kind) {
      case kCellString:
        if (cell.isst < strings.Count()) {
          out.append(strings.At(cell.isst));
        }
        break;
      case kCellNumber:
        data.styleData.AppendNumber(out, cell.value, cell.ixfe);
        break;
      case kCellFormula:
        AppendGeneral(out, cell.value);
        break;
      default:
        break;
      }
    }
    out.append("\r\n");
  }
  out.append("\r\n");
}

void AppendUtf16Le(std::string& out, std::u16string_view units) {
  const std::size_t start = out.size();
  out.resize(start + 2 * units.size());
  char* p = out.data() + start;
  for (const char16_t u : units) {
    *p++ = static_cast<char>(u & 0xFF);
    *p++ = static_cast<char>(u >> 8);
  }
}

// Reads the workbook stream of a compound file; empty when it has neither "Workbook" nor "Book".
// Returns 0 or the failure code of the open.
std::int32_t ReadWorkbookStream(const std::u16string& fileName, std::vector<std::uint8_t>& bytes) {
  const std::int32_t check = storage::CheckStorageFile(fileName);
  if (check != 0) {
    return check;
  }
  const auto storageFile = storage::OpenStorageFile(fileName, storage::kStgmReadShareExclusive);
  if (!storageFile || !storageFile->LastError().empty()) {
    return kResultOpenError;
  }
  auto stream = storageFile->OpenStream(u"Workbook", storage::kStgmReadShareExclusive);
  if (!stream) {
    stream = storageFile->OpenStream(u"Book", storage::kStgmReadShareExclusive);
  }
  if (stream) {
    bytes = stream->ReadAll();
  }
  return 0;
}

} // namespace

std::string LayoutWorkbook(const TWorkBookData& data) {
  std::size_t cells = 0;
  for (const auto& sheet : data.sheets) {
    cells += sheet.rows.CellCount();
  }
  std::string out;
  out.reserve(cells * kBytesPerCellGuess + 64);
  for (const auto& sheet : data.sheets) {
    AppendSheet(data, sheet, out);
  }
  return out;
}

std::int32_t ExtractWorkbookText(std::span<const std::uint8_t> workbookStream, std::string& text) {
  auto data = std::make_unique<TWorkBookData>();
  ReadWorkbookGlobals(workbookStream, *data);
  if (data->encrypted) {
    text.clear();
    return kResultEncrypted;
  }
  text = LayoutWorkbook(*data);
  return 0;
}

bool DecodeMeasuredUtf8(std::string_view utf8, std::u16string& out) {
  const auto* s = reinterpret_cast<const std::uint8_t*>(utf8.data());
  const std::size_t n = utf8.size();
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
  char16_t* p = out.data() + start;
  for (std::size_t i = 0; i < n;) {
    const std::uint32_t lead = s[i];
    if (lead < 0x80) {
      *p++ = static_cast<char16_t>(lead);
      ++i;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      const std::uint32_t cp = (lead & 0x07) << 18 | (std::uint32_t{s[i + 1]} & 0x3F) << 12 |
                               (std::uint32_t{s[i + 2]} & 0x3F) << 6 | (s[i + 3] & 0x3F);
      // Values below U+10000 written this way still take the surrogate form of cp - 0x10000.
      const std::uint32_t v = cp - 0x10000;
      *p++ = static_cast<char16_t>(0xD800 + ((v >> 10) & 0x3FF));
      *p++ = static_cast<char16_t>(0xDC00 + (v & 0x3FF));
      i += 4;
    } else if ((lead & 0x20) == 0) {
      *p++ = static_cast<char16_t>(((lead & 0x3F) << 6) | (s[i + 1] & 0x3F));
      i += 2;
    } else {
      *p++ = static_cast<char16_t>(
          ((lead << 12) | ((std::uint32_t{s[i + 1]} & 0x3F) << 6) | (s[i + 2] & 0x3F)) & 0xFFFF);
      i += 3;
    }
  }
  return true;
}

std::int32_t StoreWorkbookText(std::string_view utf8, std::int32_t codePage,
                               TConversionResult& result) {
  const std::string text = AdjustLineEnds(utf8, kLineEndCrLf);
  std::string bytes;
  if (codePage == platform::kCpUtf8) {
    bytes.reserve(text.size() + 3);
    bytes.append("\xEF\xBB\xBF");
    bytes.append(text);
  } else if (codePage == 0) {
    const std::int32_t ansi = platform::GetACP();
    bytes = ansi == platform::kCpUtf8
                ? text
                : platform::WideToMultiByte(ansi, platform::Utf8ToWide(text));
  } else {
    std::u16string wide;
    if (!DecodeMeasuredUtf8(text, wide)) {
      return kResultBadUtf8;
    }
    wide.push_back(u'\0');
    if (codePage == platform::kCpUtf16Le) {
      bytes.reserve(2 + 2 * wide.size());
      bytes.append("\xFF\xFE");
      AppendUtf16Le(bytes, wide);
    } else {
      bytes = ToCodePage(codePage, wide);
    }
  }
  if (bytes.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
    return kResultBadFormat; // the count would not fit the result value
  }
  return AppendToResult(bytes, result);
}

std::int32_t ExtractSpreadsheet(const std::u16string& fileName, std::int32_t /*byteLimit*/,
                                TConversionResult& result, std::int32_t codePage) {
  std::string text;
  try {
    std::vector<std::uint8_t> bytes;
    const std::int32_t opened = ReadWorkbookStream(fileName, bytes);
    if (opened != 0) {
      return opened;
    }
    const std::int32_t extracted = ExtractWorkbookText(bytes, text);
    if (extracted != 0) {
      return extracted;
    }
  } catch (...) {
    return kResultBadFormat;
  }
  try {
    return StoreWorkbookText(text, codePage, result);
  } catch (...) {
    return kResultBadFormat;
  }
}

} // namespace scv::spreadsheet
