// CRC-32 by slicing-by-16: sixteen 256-entry tables let the loop fold 16 input bytes per step
// with independent look-ups, several times faster than the bytewise form.
#include "ooxml/Crc32.h"

#include <array>
#include <cstring>

namespace scv::ooxml {
namespace {

constexpr std::uint32_t kPolynomial = 0xEDB88320u;
constexpr std::size_t kSlices = 16;

using TCrcTables = std::array<std::array<std::uint32_t, 256>, kSlices>;

constexpr TCrcTables MakeTables() {
  TCrcTables t{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int k = 0; k < 8; ++k) {
      c = (c & 1) != 0 ? (c >> 1) ^ kPolynomial : c >> 1;
    }
    t[0][i] = c;
  }
  for (std::size_t s = 1; s < kSlices; ++s) {
    for (std::uint32_t i = 0; i < 256; ++i) {
      const std::uint32_t prev = t[s - 1][i];
      t[s][i] = (prev >> 8) ^ t[0][prev & 0xFF];
    }
  }
  return t;
}

constexpr TCrcTables kTables = MakeTables();

inline std::uint32_t LoadLe32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}

} // namespace

std::uint32_t Crc32Bytewise(std::uint32_t crc, std::span<const std::uint8_t> bytes) {
  crc = ~crc;
  for (const std::uint8_t b : bytes) {
    crc = (crc >> 8) ^ kTables[0][(crc ^ b) & 0xFF];
  }
  return ~crc;
}

std::uint32_t Crc32Update(std::uint32_t crc, std::span<const std::uint8_t> bytes) {
  crc = ~crc;
  const std::uint8_t* p = bytes.data();
  std::size_t n = bytes.size();
  // NOLINTBEGIN(cppcoreguidelines-pro-bounds-pointer-arithmetic): bounded by n.
  while (n >= kSlices) {
    const std::uint32_t a = LoadLe32(p) ^ crc;
    const std::uint32_t b = LoadLe32(p + 4);
    const std::uint32_t c = LoadLe32(p + 8);
    const std::uint32_t d = LoadLe32(p + 12);
    crc = kTables[15][a & 0xFF] ^ kTables[14][(a >> 8) & 0xFF] ^ kTables[13][(a >> 16) & 0xFF] ^
          kTables[12][a >> 24] ^ kTables[11][b & 0xFF] ^ kTables[10][(b >> 8) & 0xFF] ^
          kTables[9][(b >> 16) & 0xFF] ^ kTables[8][b >> 24] ^ kTables[7][c & 0xFF] ^
          kTables[6][(c >> 8) & 0xFF] ^ kTables[5][(c >> 16) & 0xFF] ^ kTables[4][c >> 24] ^
          kTables[3][d & 0xFF] ^ kTables[2][(d >> 8) & 0xFF] ^ kTables[1][(d >> 16) & 0xFF] ^
          kTables[0][d >> 24];
    p += kSlices;
    n -= kSlices;
  }
  while (n != 0) {
    crc = (crc >> 8) ^ kTables[0][(crc ^ *p) & 0xFF];
    ++p;
    --n;
  }
  // NOLINTEND(cppcoreguidelines-pro-bounds-pointer-arithmetic)
  return ~crc;
}

} // namespace scv::ooxml
