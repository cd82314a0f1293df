// BoundSheet8 record reading and sheet names.
#include "spreadsheet/KvXlsBSheet8.h"

#include "bytes/ByteCursor.h"
#include "platform/CodePage.h"
#include "spreadsheet/KvXlsCellText.h"
#include "spreadsheet/KvXlsSST.h"

namespace scv::spreadsheet {

using bytes::TByteCursor;

bool ReadBoundSheet8(std::span<const std::uint8_t> body, std::uint16_t id, TBoundSheet8& sheet) {
  if (id != TBoundSheet8::kId) {
    return false;
  }
  TByteCursor cur(body);
  sheet = TBoundSheet8{};
  sheet.lbPlyPos = cur.ReadU32();
  sheet.hsState = cur.ReadU8();
  sheet.dt = cur.ReadU8();
  sheet.stName.cch = cur.ReadU8();
  sheet.stName.options = cur.ReadU8();
  if (!cur.Ok()) {
    return true;
  }
  const bool highByte = (sheet.stName.options & 0x01) != 0;
  std::size_t count = sheet.stName.cch;
  const std::size_t fit = highByte ? cur.Remaining() / 2 : cur.Remaining();
  if (count > fit) {
    count = fit;
  }
  sheet.stName.rgb.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    sheet.stName.rgb.push_back(highByte ? static_cast<char16_t>(cur.ReadU16())
                                        : static_cast<char16_t>(cur.ReadU8()));
  }
  return true;
}

bool ReadBoundSheet5(std::span<const std::uint8_t> body, std::uint16_t id, TBoundSheet8& sheet,
                     std::int32_t codePage) {
  if (id != TBoundSheet8::kId) {
    return false;
  }
  TByteCursor cur(body);
  sheet = TBoundSheet8{};
  sheet.lbPlyPos = cur.ReadU32();
  sheet.hsState = cur.ReadU8();
  sheet.dt = cur.ReadU8();
  sheet.stName.cch = cur.ReadU8();
  if (!cur.Ok()) {
    return true;
  }
  const std::size_t count = sheet.stName.cch < cur.Remaining() ? sheet.stName.cch : cur.Remaining();
  const auto bytes = cur.Take(count);
  std::string utf8;
  AppendCodePageText(utf8, bytes, codePage);
  sheet.stName.rgb = platform::Utf8ToWide(utf8);
  return true;
}

std::string SheetNameUtf8(const TBoundSheet8& sheet) {
  std::string name;
  AppendUtf16AsUtf8(name, sheet.stName.rgb);
  return name;
}

} // namespace scv::spreadsheet
