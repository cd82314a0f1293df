// BOF record of the workbook globals and of each sheet substream.
#include "spreadsheet/KvXlsBOF.h"

namespace scv::spreadsheet {

bool ReadBof(std::span<const std::uint8_t> body, std::uint16_t id, TBof& bof) {
  if (id != TBof::kId) {
    return false;
  }
  TByteCursor cur(body);
  bof = TBof{};
  bof.vers = cur.ReadU16();
  if (bof.vers != kBiff8Version) {
    return true;
  }
  bof.dt = cur.ReadU16();
  bof.rupBuild = cur.ReadU16();
  bof.rupYear = cur.ReadU16();
  bof.flags = cur.ReadU32();
  bof.verLowestBiff = cur.ReadU8();
  bof.verLastXLSaved = static_cast<std::uint8_t>(cur.ReadU16() & 0xFF);
  return true;
}

} // namespace scv::spreadsheet
