// Record loop over the workbook globals.
#include "spreadsheet/KvXlsGlobal.h"

#include "platform/CodePage.h"
#include "spreadsheet/KvXlsBSheet8.h"

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

// FORMAT in the older layout: ifmt (2), cch (1), cch bytes in Windows-1252.
void HandleFormat5(std::span<const std::uint8_t> body, TStyleData& style) {
  bytes::TByteCursor cur(body);
  const std::uint16_t ifmt = cur.ReadU16();
  const std::uint8_t cch = cur.ReadU8();
  if (!cur.Ok()) {
    return;
  }
  const auto bytes = cur.Take(cch < cur.Remaining() ? cch : cur.Remaining());
  std::string text;
  AppendUtf16AsUtf8(
      text, platform::MultiByteToWide(
                platform::kCpWindows1252,
                std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size())));
  style.ClassifyFormat(ifmt, text);
}

constexpr std::size_t kXfIfmtOffset = 2;

} // namespace

void ReadWorkbookGlobals(std::span<const std::uint8_t> bytes, TWorkBookData& data,
                         bool readSheets) {
  TBiffStream stream(bytes);
  TReadBudget budget = TReadBudget::ForStream(bytes.size());
  bool biff5 = false;
  TRecordHeader header;
  while (stream.ReadHeader(header)) {
    const auto body = stream.Body(header);
    switch (header.id) {
    case kIdBof:
      ReadBof(body, header.id, data.bof);
      biff5 = data.bof.vers == kBiff5Version;
      break;
    case kIdEof:
      return;
    case kIdFilePass:
      // Everything after FILEPASS is encrypted; nothing of it is read.
      data.encrypted = true;
      return;
    case kIdBoundSheet8: {
      TBoundSheet8 sheet;
      if (biff5) {
        ReadBoundSheet5(body, header.id, sheet);
      } else {
        ReadBoundSheet8(body, header.id, sheet);
      }
      if (sheet.dt != kSheetWorksheet) {
        break;
      }
      TWorkSheetData8 sheetData;
      const std::size_t back = stream.Position();
      if (readSheets && sheet.lbPlyPos < stream.Size()) {
        stream.Seek(sheet.lbPlyPos);
        ReadWorksheet(stream, sheetData, budget);
        stream.Seek(back);
      }
      sheetData.boundSheet = std::move(sheet);
      data.sheets.push_back(std::move(sheetData));
      break;
    }
    case kIdXF: {
      const std::uint16_t ifmt =
          body.size() >= kXfIfmtOffset + 2 ? bytes::LoadU16At(body, kXfIfmtOffset) : 0;
      data.styleData.AppendXF(ifmt);
      break;
    }
    case kIdFormat:
      if (biff5) {
        HandleFormat5(body, data.styleData);
      } else {
        data.styleData.HandleFormat(body);
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
}

} // namespace scv::spreadsheet
