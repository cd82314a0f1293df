// CRC-32 by carry-less multiplication where the processor has it (x86-64 PCLMULQDQ): the
// data is folded 64 bytes at a time into four 128-bit accumulators, which are then folded into
// one and finished with the table. Elsewhere, and for short pieces, slicing-by-16: sixteen
// 256-entry tables fold 16 input bytes per step with independent look-ups.
#include "zip/Crc32.h"

#include "bytes/ByteCursor.h"

#include <array>
#include <cstring>
#include <span>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define SCV_CRC_CLMUL 1
#endif

namespace scv::zip {
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

std::uint32_t SlicedUpdate(std::uint32_t crc, std::span<const std::uint8_t> bytes);

#ifdef SCV_CRC_CLMUL

// x^n mod P in the plain (not reflected) form: bit d is the coefficient of x^d.
constexpr std::uint32_t PowerModP(unsigned n) {
  std::uint32_t r = 1; // x^0
  for (unsigned i = 0; i < n; ++i) {
    const bool carry = (r & 0x80000000u) != 0;
    r <<= 1;
    if (carry) {
      r ^= 0x04C11DB7u;
    }
  }
  return r;
}

// A remainder as the folding multiplier: the coefficient of x^d sits at bit 63 - d, the
// order in which the data's bits arrive in a register.
constexpr std::uint64_t Reflect64(std::uint32_t v) {
  std::uint64_t r = 0;
  for (unsigned d = 0; d < 32; ++d) {
    if (((v >> d) & 1u) != 0) {
      r |= std::uint64_t{1} << (63 - d);
    }
  }
  return r;
}

// Multipliers that move a 128-bit chunk forward by k chunks: the chunk's first (higher) half
// by x^(128k + 64), its second half by x^(128k); one less each, because a carry-less product
// of two reflected values comes out shifted by one place.
struct TFoldConstant {
  std::uint64_t high;
  std::uint64_t low;
};
constexpr TFoldConstant FoldBy(unsigned k) {
  return {Reflect64(PowerModP(128 * k + 63)), Reflect64(PowerModP(128 * k - 1))};
}
constexpr TFoldConstant kFold1 = FoldBy(1);
constexpr TFoldConstant kFold4 = FoldBy(4);

__attribute__((target("pclmul,sse4.1"))) inline __m128i Fold(__m128i x, __m128i k) {
  return _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11));
}

// Needs n >= 64. Returns the raw (not inverted) CRC state after all n bytes.
__attribute__((target("pclmul,sse4.1"))) std::uint32_t
ClmulUpdate(std::uint32_t state, const std::uint8_t* p, std::size_t n) {
  // NOLINTBEGIN(cppcoreguidelines-pro-bounds-pointer-arithmetic): bounded by n.
  auto load = [](const std::uint8_t* q) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
  };
  const __m128i k4 =
      _mm_set_epi64x(static_cast<long long>(kFold4.low), static_cast<long long>(kFold4.high));
  const __m128i k1 =
      _mm_set_epi64x(static_cast<long long>(kFold1.low), static_cast<long long>(kFold1.high));
  // The running state enters as the first 32 bits of the data.
  __m128i x0 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(static_cast<int>(state)));
  __m128i x1 = load(p + 16);
  __m128i x2 = load(p + 32);
  __m128i x3 = load(p + 48);
  p += 64;
  n -= 64;
  while (n >= 64) {
    x0 = _mm_xor_si128(Fold(x0, k4), load(p));
    x1 = _mm_xor_si128(Fold(x1, k4), load(p + 16));
    x2 = _mm_xor_si128(Fold(x2, k4), load(p + 32));
    x3 = _mm_xor_si128(Fold(x3, k4), load(p + 48));
    p += 64;
    n -= 64;
  }
  __m128i x = _mm_xor_si128(Fold(x0, k1), x1);
  x = _mm_xor_si128(Fold(x, k1), x2);
  x = _mm_xor_si128(Fold(x, k1), x3);
  while (n >= 16) {
    x = _mm_xor_si128(Fold(x, k1), load(p));
    p += 16;
    n -= 16;
  }
  // The folded chunk has the CRC of everything so far; finish it and the tail by table.
  std::array<std::uint8_t, 16> last{};
  _mm_storeu_si128(reinterpret_cast<__m128i*>(last.data()), x);
  state = ~SlicedUpdate(~0u, last);
  return ~SlicedUpdate(~state, std::span(p, n));
  // NOLINTEND(cppcoreguidelines-pro-bounds-pointer-arithmetic)
}

bool HaveClmul() {
  static const bool have = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
  return have;
}

#endif

} // namespace

std::uint32_t Crc32Bytewise(std::uint32_t crc, std::span<const std::uint8_t> bytes) {
  crc = ~crc;
  for (const std::uint8_t b : bytes) {
    crc = (crc >> 8) ^ kTables[0][(crc ^ b) & 0xFF];
  }
  return ~crc;
}

std::uint32_t Crc32Update(std::uint32_t crc, std::span<const std::uint8_t> bytes) {
#ifdef SCV_CRC_CLMUL
  if (bytes.size() >= 256 && HaveClmul()) {
    return ~ClmulUpdate(~crc, bytes.data(), bytes.size());
  }
#endif
  return SlicedUpdate(crc, bytes);
}

namespace {

std::uint32_t SlicedUpdate(std::uint32_t crc, std::span<const std::uint8_t> bytes) {
  crc = ~crc;
  std::size_t i = 0;
  for (; bytes.size() - i >= kSlices; i += kSlices) {
    const auto p = bytes.subspan(i, kSlices);
    const std::uint32_t a = bytes::LoadU32(p) ^ crc;
    const std::uint32_t b = bytes::LoadU32(p.subspan(4));
    const std::uint32_t c = bytes::LoadU32(p.subspan(8));
    const std::uint32_t d = bytes::LoadU32(p.subspan(12));
    crc = kTables[15][a & 0xFF] ^ kTables[14][(a >> 8) & 0xFF] ^ kTables[13][(a >> 16) & 0xFF] ^
          kTables[12][a >> 24] ^ kTables[11][b & 0xFF] ^ kTables[10][(b >> 8) & 0xFF] ^
          kTables[9][(b >> 16) & 0xFF] ^ kTables[8][b >> 24] ^ kTables[7][c & 0xFF] ^
          kTables[6][(c >> 8) & 0xFF] ^ kTables[5][(c >> 16) & 0xFF] ^ kTables[4][c >> 24] ^
          kTables[3][d & 0xFF] ^ kTables[2][(d >> 8) & 0xFF] ^ kTables[1][(d >> 16) & 0xFF] ^
          kTables[0][d >> 24];
  }
  for (; i < bytes.size(); ++i) {
    crc = (crc >> 8) ^ kTables[0][(crc ^ bytes[i]) & 0xFF];
  }
  return ~crc;
}

} // namespace

} // namespace scv::zip
