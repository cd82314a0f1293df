#include "zip/Crc32.h"

#include "support/ZipBuilder.h"

#include <gtest/gtest.h>

#include <random>
#include <string_view>
#include <vector>

namespace scv::zip {
namespace {

std::span<const std::uint8_t> Bytes(std::string_view s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

TEST(Crc32, KnownValues) {
  struct Case {
    std::string_view name;
    std::string_view input;
    std::uint32_t want;
  };
  const Case cases[] = {
      {"empty", "", 0x00000000u},
      {"one byte", "a", 0xE8B7BE43u},
      {"check string", "123456789", 0xCBF43926u},
      {"pangram", "The quick brown fox jumps over the lazy dog", 0x414FA339u},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Crc32(Bytes(c.input)), c.want);
    EXPECT_EQ(Crc32Bytewise(0, Bytes(c.input)), c.want);
  }
}

// The fast paths (sliced tables, and carry-less folding from 256 bytes on) must agree with the
// bytewise form at every length and alignment, and when the data arrives in pieces.
TEST(Crc32, SlicedMatchesBytewiseAtAllLengthsAndSplits) {
  std::mt19937 rng(7);
  std::vector<std::uint8_t> data(3000);
  for (auto& b : data) {
    b = static_cast<std::uint8_t>(rng());
  }
  for (std::size_t offset = 0; offset < 17; ++offset) {
    for (std::size_t len = 0; offset + len <= data.size(); len += len < 300 ? 7 : 61) {
      const auto piece = std::span<const std::uint8_t>(data).subspan(offset, len);
      ASSERT_EQ(Crc32(piece), Crc32Bytewise(0, piece)) << offset << "/" << len;
    }
  }
  const std::span<const std::uint8_t> all(data);
  const std::uint32_t whole = Crc32(all);
  for (std::size_t split = 0; split <= data.size(); split += 13) {
    EXPECT_EQ(Crc32Update(Crc32(all.first(split)), all.subspan(split)), whole) << split;
  }
  const std::string text(data.begin(), data.end());
  EXPECT_EQ(whole, test::ReferenceCrc32(text));
}

} // namespace
} // namespace scv::zip
