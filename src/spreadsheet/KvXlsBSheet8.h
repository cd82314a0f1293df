// BoundSheet8 records: a sheet's name, type and the offset of its substream.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace scv::spreadsheet {

// Sheet types of the BoundSheet8 dt field.
inline constexpr std::uint8_t kSheetWorksheet = 0; // worksheet or dialog sheet
inline constexpr std::uint8_t kSheetMacro = 1;
inline constexpr std::uint8_t kSheetChart = 2;
inline constexpr std::uint8_t kSheetVbaModule = 6;

// cch (1), options (1; bit 0 fHighByte), rgb (cch or 2 x cch bytes). The characters are kept
// as UTF-16 code units (1-byte characters widened with a zero high byte).
struct TShortXLUnicodeString {
  std::uint8_t cch = 0;
  std::uint8_t options = 0;
  std::u16string rgb;
};

// lbPlyPos (4, stream offset of the sheet's BOF), hsState (1), dt (1), stName.
struct TBoundSheet8 {
  static constexpr std::uint16_t kId = 0x0085;
  std::uint32_t lbPlyPos = 0;
  std::uint8_t hsState = 0;
  std::uint8_t dt = 0;
  TShortXLUnicodeString stName;
};

// Reads a BoundSheet8 body. False (nothing read) for another id. Missing bytes of the fixed
// fields read as zero; the name is cut to the characters that exist.
bool ReadBoundSheet8(std::span<const std::uint8_t> body, std::uint16_t id, TBoundSheet8& sheet);

// The older layout of workbooks whose BOF says 0x0500: lbPlyPos (4), hsState (1), dt (1),
// cch (1) and cch bytes in the workbook's code page, with no options byte. Reading such a
// name with the newer layout would take its first character for the options byte.
bool ReadBoundSheet5(std::span<const std::uint8_t> body, std::uint16_t id, TBoundSheet8& sheet,
                     std::int32_t codePage = 1252);

// The sheet name as UTF-8.
std::string SheetNameUtf8(const TBoundSheet8& sheet);

} // namespace scv::spreadsheet
