// Reduced data (methods 2 to 5): follower-set coded bytes, then run expansion with DLE (144)
// escapes whose length and distance split depends on the compression factor.
#include "codecs/LegacyCodecs.h"

#include <array>

namespace scv::codecs {
namespace {

constexpr std::uint8_t kDle = 144;

// Bits needed for an index into a follower set of n characters (n - 1 as the largest value),
// never fewer than one.
unsigned IndexBits(unsigned n) {
  unsigned bits = 1;
  while ((1u << bits) < n) {
    ++bits;
  }
  return bits;
}

} // namespace

TInflateResult Unreduce(std::span<const std::uint8_t> input, bytes::TMemoryStream& out,
                        std::uint64_t size, unsigned factor) {
  TInflateResult result;
  if (factor < 1 || factor > 4) {
    result.status = TInflateStatus::kBadData;
    return result;
  }
  legacy::TLsbBitReader bits(input);
  // Follower sets, stored from S(255) down to S(0): a 6-bit count, then the characters.
  std::array<std::array<std::uint8_t, 64>, 256> followers{};
  std::array<std::uint8_t, 256> followerCount{};
  for (int j = 255; j >= 0; --j) {
    const unsigned n = bits.Read(6);
    followerCount[static_cast<std::size_t>(j)] = static_cast<std::uint8_t>(n);
    for (unsigned k = 0; k < n; ++k) {
      followers[static_cast<std::size_t>(j)][k] = static_cast<std::uint8_t>(bits.Read(8));
    }
  }
  legacy::TOutputSink sink(out, size);
  const unsigned lengthMask = 0xFFu >> factor;
  unsigned state = 0;
  unsigned last = 0;
  unsigned v = 0;
  std::size_t len = 0;
  while (!sink.Full()) {
    // First stage: one byte from the follower-set coding.
    unsigned c = 0;
    const unsigned n = followerCount[last];
    if (n == 0 || bits.Read(1) != 0) {
      c = bits.Read(8);
    } else {
      const unsigned i = bits.Read(IndexBits(n));
      if (i >= n) {
        result.status = TInflateStatus::kBadData;
        break;
      }
      c = followers[last][i];
    }
    if (bits.Overrun()) {
      result.status = TInflateStatus::kTruncated;
      break;
    }
    last = c;
    // Second stage: run expansion.
    if (state == 0) {
      if (c == kDle) {
        state = 1;
      } else {
        sink.Put(static_cast<std::uint8_t>(c));
      }
    } else if (state == 1) {
      if (c == 0) {
        sink.Put(kDle);
        state = 0;
      } else {
        v = c;
        len = v & lengthMask;
        state = len == lengthMask ? 2 : 3;
      }
    } else if (state == 2) {
      len += c;
      state = 3;
    } else {
      const std::size_t distance = (std::size_t{v >> (8 - factor)} << 8) + c + 1;
      for (std::size_t k = 0; k < len + 3 && sink.Put(sink.Back(distance)); ++k) {
      }
      state = 0;
    }
  }
  sink.Commit();
  result.produced = sink.Written();
  result.consumed = bits.Consumed();
  return result;
}

} // namespace scv::codecs
