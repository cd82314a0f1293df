// Record loop over the workbook globals.
#include "spreadsheet/KvXlsGlobal.h"

#include "spreadsheet/KvXlsBSheet8.h"
#include "spreadsheet/KvXlsCellText.h"

#include <string>

namespace scv::spreadsheet {

namespace {

// Collects the SST body and the bodies of the CONTINUE records right after it, decodes them and
// replaces the workbook's strings. The stream is positioned at the SST body and is left there.
void ReadSstRecord(TBiffStream& stream, const TRecordHeader& header, TWorkBookData& data) {
  const std::size_t bodyStart = stream.Position();
  const TKvMemoryStream first{stream.Body(header), 0};
  std::vector<TKvMemoryStream> segments;
  stream.SkipBody(header);
  TRecordHeader next;
  while (stream.ReadHeader(next) && next.id == kIdContinue) {
    segments.push_back(TKvMemoryStream{stream.Body(next), 0});
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

// Reads one worksheet's substream at `position` into a new sheet of the workbook.
void AddSheet(TBiffStream& stream, TBoundSheet8 sheet, bool read, TReadBudget& budget,
              TWorkBookData& data) {
  TWorkSheetData8 sheetData;
  const std::size_t back = stream.Position();
  if (read && sheet.lbPlyPos < stream.Size()) {
    stream.Seek(sheet.lbPlyPos);
    ReadWorksheet(stream, data.context, sheetData, budget);
    stream.Seek(back);
  }
  sheetData.boundSheet = std::move(sheet);
  data.sheets.push_back(std::move(sheetData));
}

} // namespace

void ReadWorkbookGlobals(std::span<const std::uint8_t> bytes, TWorkBookData& data,
                         bool readSheets) {
  TBiffStream stream(bytes);
  TReadBudget budget = TReadBudget::ForStream(bytes.size());
  bool first = true;
  bool singleSheet = false;
  std::size_t singleSheetPos = 0;
  std::uint16_t formatCount = 0; // BIFF2-4 number FORMAT records in order
  TRecordHeader header;
  while (stream.ReadHeader(header)) {
    const auto body = stream.Body(header);
    const std::uint8_t biff = data.context.biff;
    if (header.id == kIdEof) {
      break;
    }
    if (IsBofId(header.id)) {
      if (first) {
        // The first BOF sets the layout of every record; BIFF2-4 files and bare worksheets
        // hold one sheet, which is this substream.
        data.context.biff = BiffVersionOfBof(header.id, body);
        const std::uint16_t dt = bytes::LoadU16At(body, 2);
        singleSheet = dt == kBofWorksheet;
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
    switch (header.id) {
    case kIdFilePass:
      // Everything after FILEPASS is encrypted; nothing of it is read.
      data.encrypted = true;
      return;
    case kIdCodePage:
      data.context.codePage = TextCodePage(bytes::LoadU16At(body, 0));
      break;
    case kIdDateMode:
      data.styleData.SetDate1904(bytes::LoadU16At(body, 0) == 1);
      break;
    case kIdBoundSheet8: {
      if (singleSheet) {
        break;
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
    case kIdXF:
      if (biff >= kBiff5) {
        data.styleData.AppendXF(
            body.size() >= kXfIfmtOffset + 2 ? bytes::LoadU16At(body, kXfIfmtOffset) : 0);
      }
      break;
    case kIdXF3:
    case kIdXF4:
      // ifnt (1), ifmt (1), ...
      if (biff == kBiff3 || biff == kBiff4) {
        data.styleData.AppendXF(body.size() >= 2 ? body[1] : 0);
      }
      break;
    case kIdFormat2:
      if (biff <= kBiff3) {
        data.styleData.ResetFormat(formatCount);
        data.styleData.ClassifyFormat(formatCount++,
                                      ByteFormatText(body, 0, data.context.codePage));
      }
      break;
    case kIdFormat:
      if (biff == kBiff4) {
        // Numbered by their order, like BIFF2-3; the leading 2 bytes are not used.
        data.styleData.ResetFormat(formatCount);
        data.styleData.ClassifyFormat(formatCount++,
                                      ByteFormatText(body, 2, data.context.codePage));
      } else if (biff == kBiff5) {
        data.styleData.ClassifyFormat(bytes::LoadU16At(body, 0),
                                      ByteFormatText(body, 2, data.context.codePage));
      } else {
        data.styleData.HandleFormat(body, data.context.codePage);
      }
      break;
    case kIdSst:
      ReadSstRecord(stream, header, data);
      break;
    default:
      break;
    }
    stream.SkipBody(header);
  }
  if (singleSheet) {
    TBoundSheet8 sheet;
    sheet.lbPlyPos = static_cast<std::uint32_t>(singleSheetPos);
    sheet.stName.rgb = u"Sheet1";
    sheet.stName.cch = static_cast<std::uint8_t>(sheet.stName.rgb.size());
    AddSheet(stream, std::move(sheet), readSheets, budget, data);
  }
}

} // namespace scv::spreadsheet
