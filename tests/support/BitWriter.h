// Bit-level writer for building Deflate and legacy ZIP test streams, plus a small Deflate
// encoder (stored, fixed and dynamic blocks) to produce reference data in tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace scv::test {

// Writes values least significant bit first, as Deflate and the ZIP methods pack them.
class TBitWriter {
public:
  // The low n bits of value (n <= 32), first bit lowest.
  void Put(std::uint32_t value, unsigned n);
  // A Huffman code of n bits, most significant bit first (Deflate's code order).
  void PutCode(std::uint32_t code, unsigned n);
  // Pads with zero bits to the next byte.
  void Align();
  void PutByte(std::uint8_t b) { Put(b, 8); }
  std::size_t BitCount() const { return bytes_.size() * 8 - (8 - used_); }
  // The bytes written (the last one padded with zero bits).
  const std::vector<std::uint8_t>& Bytes() const { return bytes_; }
  std::string String() const { return {bytes_.begin(), bytes_.end()}; }

private:
  std::vector<std::uint8_t> bytes_;
  unsigned used_ = 8; // bits used in the last byte (8: start a new one)
};

enum class TDeflateMode {
  kStored,  // stored blocks of at most 65535 bytes
  kFixed,   // fixed Huffman codes, greedy matches
  kDynamic, // dynamic Huffman codes (lengths limited to 15), greedy matches
};

// Compresses data into a raw Deflate stream. `blockSize` splits the input into blocks.
std::vector<std::uint8_t> DeflateEncode(std::span<const std::uint8_t> data, TDeflateMode mode,
                                        std::size_t blockSize = 1 << 16);
std::string DeflateEncode(std::string_view data, TDeflateMode mode,
                          std::size_t blockSize = 1 << 16);

// n zero bytes as one fixed-code block of longest matches: a tiny stream that expands
// about 160-fold, for size-limit tests.
std::vector<std::uint8_t> DeflateRunOfZeros(std::size_t n);

// head, then `times` copies of unit (at most 32 KB), then tail, as one fixed-code block whose
// copies are longest matches one unit back: markup that expands about 170-fold.
std::vector<std::uint8_t> DeflateRepeat(std::string_view head, std::string_view unit,
                                        std::size_t times, std::string_view tail);

// Canonical code lengths (at most maxLength bits) for the given symbol frequencies; symbols
// with frequency 0 get length 0. At least two symbols get codes when any has a frequency.
std::vector<std::uint8_t> HuffmanLengths(std::span<const std::uint32_t> freq, unsigned maxLength);
// The canonical codes for code lengths (Deflate's rule).
std::vector<std::uint32_t> CanonicalCodes(std::span<const std::uint8_t> lengths);

} // namespace scv::test
