// Record loop over the workbook globals.
#include "spreadsheet/KvXlsGlobal.h"

#include "platform/CodePage.h"
#include "spreadsheet/KvXlsBSheet8.h"
#include "spreadsheet/KvXlsCellText.h"

#include <deque>
#include <string>

namespace scv::spreadsheet {

namespace {

// Collects the SST body and the bodies of the CONTINUE records right after it, decodes them and
// replaces the workbook's strings. The stream is positioned at the SST body and is left there.
void ReadSstRecord(TBiffStream& stream, const TRecordHeader& header, TWorkBookData& data) {
  const std::size_t bodyStart = stream.Position();
  // The bodies are decoded together, so a body that crosses from one run of the stream into the
  // next is assembled in a buffer of its own (empty for those read in place; a deque keeps each
  // where it is).
  std::deque<std::vector<std::uint8_t>> assembled(1);
  const TKvMemoryStream first{stream.Body(header, assembled.back()), 0};
  std::vector<TKvMemoryStream> segments;
  stream.SkipBody(header);
  TRecordHeader next;
  while (stream.ReadHeader(next) && next.id == kIdContinue) {
    segments.push_back(TKvMemoryStream{stream.Body(next, assembled.emplace_back()), 0});
    stream.SkipBody(next);
  }
  stream.Seek(bodyStart);

  TSstHeader sst;
  data.sharedStrings.Clear();
  data.sstComplete = ReadSharedStrings(first, segments, sst, data.sharedStrings);
  data.cstTotal = sst.cstTotal;
  data.cstUnique = sst.cstUnique;
}

// FORMAT with an 8-bit count and 8-bit characters in the workbook's code page, after `skip`
// leading bytes: BIFF5 ifmt (2); BIFF4 2 unused bytes; BIFF2-3 none.
std::string ByteFormatText(std::span<const std::uint8_t> body, std::size_t skip,
                           std::int32_t codePage) {
  std::string text;
  if (body.size() <= skip) {
    return text;
  }
  bytes::TByteCursor cur(body.subspan(skip));
  const std::uint8_t cch = cur.ReadU8();
  AppendCodePageText(text, cur.Take(cch < cur.Remaining() ? cch : cur.Remaining()), codePage);
  return text;
}

constexpr std::size_t kXfIfmtOffset = 2;

// BIFF2 cells name their number format themselves (6 bits); XF n stands for format n.
constexpr std::uint16_t kBiff2Formats = 64;

// Applies the formatting records of one substream (CODEPAGE, DATEMODE, XF, FORMAT) to a style
// and context, in the layouts of the context's BIFF version. BIFF2-4 FORMAT records are
// numbered by their order in the substream.
struct TFormattingReader {
  TStyleData& style;
  TBiffContext& context;
  std::uint16_t formatCount = 0;

  // False (nothing applied) for any other record.
  bool Apply(std::uint16_t id, std::span<const std::uint8_t> body) {
    const std::uint8_t biff = context.biff;
    switch (id) {
    case kIdCodePage:
      context.codePage = TextCodePage(bytes::LoadU16At(body, 0));
      return true;
    case kIdDateMode:
      style.SetDate1904(bytes::LoadU16At(body, 0) == 1);
      return true;
    case kIdXF:
      if (biff >= kBiff5) {
        style.AppendXF(body.size() >= kXfIfmtOffset + 2 ? bytes::LoadU16At(body, kXfIfmtOffset)
                                                        : 0);
      }
      return true;
    case kIdXF3:
    case kIdXF4:
      // ifnt (1), ifmt (1), ...
      if (biff == kBiff3 || biff == kBiff4) {
        style.AppendXF(body.size() >= 2 ? body[1] : 0);
      }
      return true;
    case kIdFormat2:
      if (biff <= kBiff3) {
        style.ResetFormat(formatCount);
        style.ClassifyFormat(formatCount++, ByteFormatText(body, 0, context.codePage));
      }
      return true;
    case kIdFormat:
      if (biff == kBiff4) {
        // Numbered by their order, like BIFF2-3; the leading 2 bytes are not used.
        style.ResetFormat(formatCount);
        style.ClassifyFormat(formatCount++, ByteFormatText(body, 2, context.codePage));
      } else if (biff == kBiff5) {
        style.ClassifyFormat(bytes::LoadU16At(body, 0), ByteFormatText(body, 2, context.codePage));
      } else {
        style.HandleFormat(body, context.codePage);
      }
      return true;
    default:
      return false;
    }
  }
};

bool IsFormattingRecord(std::uint16_t id) {
  return id == kIdCodePage || id == kIdDateMode || id == kIdXF || id == kIdXF3 || id == kIdXF4 ||
         id == kIdFormat2 || id == kIdFormat;
}

// Reads one worksheet's substream at `position` into a new sheet of the workbook.
// A sheet of an Excel 4.0 workbook brings its own formatting records and ends where its walk
// ended (substreamEnd).
void AddSheet(TBiffStream& stream, TBoundSheet8 sheet, bool read, TReadBudget& budget,
              TWorkBookData& data, std::vector<std::uint8_t> ownFormatting = {},
              std::size_t substreamEnd = 0) {
  TWorkSheetData8 sheetData;
  sheetData.ownFormatting = std::move(ownFormatting);
  sheetData.substreamEnd = substreamEnd;
  if (read && sheet.lbPlyPos < stream.Size()) {
    TBiffStream sheetStream = stream.First(substreamEnd);
    sheetStream.Seek(sheet.lbPlyPos);
    const TSheetFormatting formatting(data, sheetData);
    ReadWorksheet(sheetStream, formatting.Context(), sheetData, budget);
  }
  sheetData.boundSheet = std::move(sheet);
  data.sheets.push_back(std::move(sheetData));
}

// True when a SHEETHDR record starts at position and its name's count byte is there.
bool IsSheetHdrAt(const TBiffStream& stream, std::size_t position) {
  if (position >= stream.Size() || stream.Size() - position < kRecordHeaderSize + 5) {
    return false;
  }
  TBiffStream probe = stream;
  probe.Seek(position);
  TRecordHeader header;
  return probe.ReadHeader(header) && header.id == kIdSheetHdr && header.length >= 5;
}

// One sheet substream of an Excel 4.0 workbook, walked from its BOF: whether it is a
// worksheet, its formatting records, and where the walk ended (after its EOF, at the next
// sheet's header, or at the end of the stream).
struct TBundledSheet {
  bool worksheet = false;
  std::vector<std::uint8_t> formatting;
  std::size_t end = 0;
  bool budgetOut = false;
};

TBundledSheet WalkBundledSheet(TBiffStream stream, std::size_t start, TReadBudget& budget) {
  TBundledSheet sheet;
  stream.Seek(start);
  std::size_t open = 0; // substreams begun and not ended: 1 is the sheet itself
  TRecordHeader header;
  while (stream.ReadHeader(header)) {
    const std::size_t at = stream.Position() - kRecordHeaderSize;
    const std::size_t walked = kRecordHeaderSize + header.length;
    if (budget.bytes < walked) {
      budget = TReadBudget{0, 0};
      sheet.budgetOut = true;
      break;
    }
    budget.bytes -= walked;
    const auto body = stream.Body(header);
    if (open == 0) {
      // The substream must begin with its BOF; only worksheets are laid out.
      if (!IsBofId(header.id)) {
        stream.Seek(at);
        break;
      }
      sheet.worksheet = bytes::LoadU16At(body, 2) == kBofWorksheet;
      open = 1;
    } else if (header.id == kIdSheetHdr) {
      stream.Seek(at); // the next sheet begins: this one lacks its EOF
      break;
    } else if (IsBofId(header.id)) {
      ++open; // a chart or other substream embedded in the sheet
    } else if (header.id == kIdEof) {
      if (--open == 0) {
        stream.SkipBody(header);
        break;
      }
    } else if (open == 1 && sheet.worksheet && IsFormattingRecord(header.id)) {
      // The record as stored: its header (id and length, little-endian) and its body.
      const std::uint8_t head[kRecordHeaderSize] = {static_cast<std::uint8_t>(header.id & 0xFF),
                                                    static_cast<std::uint8_t>(header.id >> 8),
                                                    static_cast<std::uint8_t>(header.length & 0xFF),
                                                    static_cast<std::uint8_t>(header.length >> 8)};
      sheet.formatting.insert(sheet.formatting.end(), std::begin(head), std::end(head));
      sheet.formatting.insert(sheet.formatting.end(), body.begin(), body.end());
    }
    stream.SkipBody(header);
  }
  sheet.end = stream.Position();
  return sheet;
}

// The sheets of an Excel 4.0 workbook. After the globals, each sheet substream follows a
// SHEETHDR record: the substream's size in bytes (4), then the sheet's name as an 8-bit count
// and 8-bit characters in the workbook's code page. The first header is where the globals'
// SHEETSOFFSET record says, or else right after the globals. Each next header is the one right
// after the sheet's EOF, or else the one the declared size reaches. Every header lies beyond the
// previous sheet's BOF, so the walk ends; the read budget bounds what it reads.
void ReadBundledSheets(TBiffStream& stream, TWorkBookData& data, std::size_t sheetsOffset,
                       std::size_t globalsEnd, bool readSheets, TReadBudget& budget) {
  std::size_t pos =
      sheetsOffset >= globalsEnd && IsSheetHdrAt(stream, sheetsOffset) ? sheetsOffset : globalsEnd;
  while (IsSheetHdrAt(stream, pos)) {
    stream.Seek(pos);
    TRecordHeader header;
    stream.ReadHeader(header);
    const auto body = stream.Body(header);
    const std::uint32_t size = bytes::LoadU32At(body, 0);
    const std::size_t start = pos + kRecordHeaderSize + body.size();
    TBundledSheet walk = WalkBundledSheet(stream, start, budget);
    if (walk.worksheet) {
      TBoundSheet8 sheet;
      sheet.lbPlyPos = static_cast<std::uint32_t>(start);
      const auto name = body.subspan(4);
      const std::size_t cch = name[0] < name.size() - 1 ? name[0] : name.size() - 1;
      std::string utf8;
      AppendCodePageText(utf8, name.subspan(1, cch), data.context.codePage);
      sheet.stName.rgb = platform::Utf8ToWide(utf8);
      sheet.stName.cch = static_cast<std::uint8_t>(cch);
      AddSheet(stream, std::move(sheet), readSheets, budget, data, std::move(walk.formatting),
               walk.end);
    }
    if (walk.budgetOut) {
      break;
    }
    if (IsSheetHdrAt(stream, walk.end)) {
      pos = walk.end;
    } else if (size <= stream.Size() - start && size != 0 && IsSheetHdrAt(stream, start + size)) {
      pos = start + size;
    } else {
      break;
    }
  }
}

} // namespace

void ReadWorkbookGlobals(std::span<const std::uint8_t> bytes, TWorkBookData& data,
                         bool readSheets) {
  ReadWorkbookGlobals(TBiffStream(bytes), data, readSheets);
}

void ReadWorkbookGlobals(const TBiffStream& whole, TWorkBookData& data, bool readSheets) {
  TBiffStream stream = whole.First(0);
  TReadBudget budget = TReadBudget::ForStream(stream.Size());
  bool first = true;
  bool singleSheet = false;
  std::size_t singleSheetPos = 0;
  bool workbook4 = false;       // the globals of an Excel 4.0 workbook
  std::size_t sheetsOffset = 0; // its SHEETSOFFSET
  std::size_t globalsEnd = 0;   // where its globals end
  TFormattingReader formatting{data.styleData, data.context};
  TRecordHeader header;
  while (stream.ReadHeader(header)) {
    const auto body = stream.Body(header);
    const std::uint8_t biff = data.context.biff;
    if (header.id == kIdEof) {
      stream.SkipBody(header);
      globalsEnd = stream.Position();
      break;
    }
    if (IsBofId(header.id)) {
      if (first) {
        // The first BOF sets the layout of every record; BIFF2-4 files and bare worksheets
        // hold one sheet, which is this substream.
        data.context.biff = BiffVersionOfBof(header.id, body);
        const std::uint16_t dt = bytes::LoadU16At(body, 2);
        singleSheet = dt == kBofWorksheet;
        workbook4 = data.context.biff == kBiff4 && dt == kBofWorkbook4;
        singleSheetPos = stream.Position() - kRecordHeaderSize;
        if (data.context.biff == kBiff2) {
          for (std::uint16_t k = 0; k < kBiff2Formats; ++k) {
            data.styleData.AppendXF(k);
          }
        }
      }
      if (header.id == kIdBof) {
        ReadBof(body, header.id, data.bof);
      }
      first = false;
      stream.SkipBody(header);
      continue;
    }
    first = false;
    if (formatting.Apply(header.id, body)) {
      stream.SkipBody(header);
      continue;
    }
    switch (header.id) {
    case kIdFilePass:
      // Everything after FILEPASS is encrypted; nothing of it is read.
      data.encrypted = true;
      return;
    case kIdBoundSheet8: {
      if (singleSheet || biff <= kBiff4) {
        break; // BIFF2-4 find their sheets otherwise
      }
      TBoundSheet8 sheet;
      if (biff == kBiff5) {
        ReadBoundSheet5(body, header.id, sheet, data.context.codePage);
      } else {
        ReadBoundSheet8(body, header.id, sheet);
      }
      if (sheet.dt == kSheetWorksheet) {
        AddSheet(stream, std::move(sheet), readSheets, budget, data);
      }
      break;
    }
    case kIdSheetsOffset:
      if (workbook4) {
        sheetsOffset = bytes::LoadU32At(body, 0);
      }
      break;
    case kIdSst:
      ReadSstRecord(stream, header, data);
      break;
    default:
      break;
    }
    if (workbook4 && header.id == kIdSheetHdr) {
      // The first sheet's header: the globals lack their EOF and end here.
      globalsEnd = stream.Position() - kRecordHeaderSize;
      break;
    }
    stream.SkipBody(header);
  }
  if (workbook4) {
    ReadBundledSheets(stream, data, sheetsOffset, globalsEnd, readSheets, budget);
  }
  if (singleSheet) {
    TBoundSheet8 sheet;
    sheet.lbPlyPos = static_cast<std::uint32_t>(singleSheetPos);
    sheet.stName.rgb = u"Sheet1";
    sheet.stName.cch = static_cast<std::uint8_t>(sheet.stName.rgb.size());
    AddSheet(stream, std::move(sheet), readSheets, budget, data);
  }
}

TSheetFormatting::TSheetFormatting(const TWorkBookData& data, const TWorkSheetData8& sheet)
    : style_(&data.styleData), context_(&data.context) {
  if (sheet.ownFormatting.empty()) {
    return;
  }
  own_.emplace(TOwn{data.styleData, data.context});
  own_->style.ClearXFs();
  TFormattingReader reader{own_->style, own_->context};
  TBiffStream records(sheet.ownFormatting);
  TRecordHeader header;
  while (records.ReadHeader(header)) {
    reader.Apply(header.id, records.Body(header));
    records.SkipBody(header);
  }
  style_ = &own_->style;
  context_ = &own_->context;
}

} // namespace scv::spreadsheet
