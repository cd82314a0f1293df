// Cell records of a worksheet substream and their values.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace scv::spreadsheet {

// RK value: bit 0 fX100, bit 1 fInt, bits 2..31 a signed 30-bit integer or the high 30 bits of
// a double. Inline: it runs once per number cell.
inline double DecodeRk(std::uint32_t rk) {
  double value = 0;
  if ((rk & 0x02) != 0) {
    value = static_cast<double>(static_cast<std::int32_t>(rk) >> 2);
  } else {
    const std::uint64_t bits = std::uint64_t{rk & 0xFFFFFFFCU} << 32;
    std::memcpy(&value, &bits, sizeof value);
  }
  if ((rk & 0x01) != 0) {
    value /= 100.0;
  }
  return value;
}

// An 8-byte IEEE double of a NUMBER record; bytes 6 and 7 both 0xFF give 0.
double DecodeNumber(std::span<const std::uint8_t, 8> num);

// FormulaValue (8 bytes): the cached double, or with bytes 6 and 7 both 0xFF a typed result in
// byte 0: 0 string and 3 blank give 0, 1 boolean and 2 error give byte 2. Other types give 0.
double DecodeFormulaValue(std::span<const std::uint8_t, 8> val);

// What a formula's cached value shows: a number (kCellFormula, value), a boolean (kCellBoolean,
// 0 or 1), an error (kCellError, the code), a string (kCellText; its characters are in the STRING
// record after the formula) or nothing (kCellBlank: a blank result or an unknown type).
struct TFormulaResult {
  std::uint8_t kind = 0;
  double value = 0;
};
TFormulaResult DecodeFormulaResult(std::span<const std::uint8_t, 8> val);

// LABELSST: rw, col, ixfe (2 each), isst (4).
struct TLabelSst {
  static constexpr std::uint16_t kId = 0x00FD;
  std::uint16_t rw = 0, col = 0, ixfe = 0;
  std::uint32_t isst = 0;
};

// NUMBER: rw, col, ixfe (2 each), num (8).
struct TNumber {
  static constexpr std::uint16_t kId = 0x0203;
  std::uint16_t rw = 0, col = 0, ixfe = 0;
  std::array<std::uint8_t, 8> num{};
};

// RK: rw, col, ixfe (2 each), rk (4).
struct TRk {
  static constexpr std::uint16_t kId = 0x027E;
  std::uint16_t rw = 0, col = 0, ixfe = 0;
  std::uint32_t rk = 0;
};

// One {ixfe, rk} pair of a MULRK.
struct TRkRec {
  std::uint16_t ixfe = 0;
  std::uint32_t rk = 0;
};

// MULRK: rw, colFirst (2 each), (length - 6) / 6 pairs of {ixfe (2), rk (4)}, colLast (2).
// The pairs stay in the record body and are read by index.
struct TMulRK {
  static constexpr std::uint16_t kId = 0x00BD;
  std::uint16_t rw = 0, colFirst = 0, colLast = 0;
  std::size_t count = 0;
  std::span<const std::uint8_t> rgrkrec;
  TRkRec At(std::size_t i) const;
};

// BLANK: rw, col, ixfe (2 each).
struct TBlank {
  static constexpr std::uint16_t kId = 0x0201;
  std::uint16_t rw = 0, col = 0, ixfe = 0;
};

// MULBLANK: rw, colFirst (2 each), (length - 6) / 2 ixfe values, colLast (2).
struct TMulBlank {
  static constexpr std::uint16_t kId = 0x00BE;
  std::uint16_t rw = 0, colFirst = 0, colLast = 0;
  std::size_t count = 0;
  std::span<const std::uint8_t> rgixfe;
  std::uint16_t At(std::size_t i) const;
};

// FORMULA: rw, col, ixfe (2 each), val (8), grbit (2; bit 0 fAlwaysCalc, bit 3 fShrFmla),
// chn (4), cce (2), then rgce and further data, which the text does not need.
struct TFormula {
  static constexpr std::uint16_t kId = 0x0006;
  std::uint16_t rw = 0, col = 0, ixfe = 0;
  std::array<std::uint8_t, 8> val{};
  std::uint16_t grbit = 0;
  std::uint32_t chn = 0;
  std::uint16_t cce = 0;
};

// Record readers over a body cut to the record length. Each returns false, reading nothing,
// for another id. Missing bytes of fixed fields read as zero; the entry counts of MULRK and
// MULBLANK come from the body length alone (odd leftovers are ignored).
bool ReadLabelSst(std::span<const std::uint8_t> body, std::uint16_t id, TLabelSst& rec);
bool ReadNumber(std::span<const std::uint8_t> body, std::uint16_t id, TNumber& rec);
bool ReadRk(std::span<const std::uint8_t> body, std::uint16_t id, TRk& rec);
bool ReadMulRK(std::span<const std::uint8_t> body, std::uint16_t id, TMulRK& rec);
bool ReadBlank(std::span<const std::uint8_t> body, std::uint16_t id, TBlank& rec);
bool ReadMulBlank(std::span<const std::uint8_t> body, std::uint16_t id, TMulBlank& rec);
bool ReadFormula(std::span<const std::uint8_t> body, std::uint16_t id, TFormula& rec);

} // namespace scv::spreadsheet
