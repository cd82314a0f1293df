// One cell of a worksheet as read from its cell record.
#pragma once

#include <cstdint>

namespace scv::spreadsheet {

// Cell kinds.
inline constexpr std::uint8_t kCellBlank = 0;
inline constexpr std::uint8_t kCellString = 1;  // shared string, isst
inline constexpr std::uint8_t kCellNumber = 2;  // NUMBER, RK or MULRK value
inline constexpr std::uint8_t kCellFormula = 3; // cached number result of a formula
inline constexpr std::uint8_t kCellText = 4;    // own characters: value indexes the sheet's texts
inline constexpr std::uint8_t kCellBoolean = 5; // value 0 or 1
inline constexpr std::uint8_t kCellError = 6;   // value is the error code

// grbit flags of a formula cell kept in TXlsCell::flags.
inline constexpr std::uint8_t kCellAlwaysCalc = 0x01;
inline constexpr std::uint8_t kCellSharedFormula = 0x02;

// 16 bytes, as large sheets hold millions of cells. The row is kept by the cell's row entry.
// value holds the number (kind 2), the formula value (kind 3), the string index isst (kind 1)
// or the index of the cell's own text (kind 4; every 32-bit index is exact in a double), the
// boolean (kind 5) or the error code (kind 6).
struct TXlsCell {
  double value = 0;
  std::uint32_t column = 0; // MULRK and MULBLANK: colFirst + position, so it may pass 65535
  std::uint16_t ixfe = 0;
  std::uint8_t kind = kCellBlank;
  std::uint8_t flags = 0;

  std::uint32_t Isst() const { return static_cast<std::uint32_t>(value); }
  void SetIsst(std::uint32_t isst) { value = isst; }
};

static_assert(sizeof(TXlsCell) == 16);

} // namespace scv::spreadsheet
