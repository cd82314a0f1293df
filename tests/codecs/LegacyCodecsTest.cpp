#include "codecs/LegacyCodecs.h"

#include "support/BitWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>
#include <string>
#include <vector>

namespace scv::codecs {
namespace {

using test::TBitWriter;

std::span<const std::uint8_t> Bytes(const std::vector<std::uint8_t>& v) {
  return v;
}
std::string Text(const bytes::TMemoryStream& s) {
  return {reinterpret_cast<const char*>(s.Data()), s.Size()};
}

// Text with many repeats at short and long distances, and some DLE (144) bytes.
std::string SampleText(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  const char* words[] = {"alpha ", "beta ", "gamma ", "delta\r\n", "\x90", "epsilon ", "zz"};
  std::string s;
  while (s.size() < n) {
    if (rng() % 10 == 0 && s.size() > 600) {
      const std::size_t from = s.size() - 1 - rng() % 600;
      s += s.substr(from, 5 + rng() % 40);
    } else {
      s += words[rng() % 7];
    }
  }
  s.resize(n);
  return s;
}

// Longest earlier match at position i within `window` bytes back (brute force; test data is
// small).
std::pair<std::size_t, std::size_t> FindMatch(const std::string& s, std::size_t i,
                                              std::size_t window, std::size_t maxLen) {
  std::size_t bestLen = 0;
  std::size_t bestDist = 0;
  for (std::size_t d = 1; d <= window && d <= i; ++d) {
    std::size_t len = 0;
    while (len < maxLen && i + len < s.size() && s[i + len - d] == s[i + len]) {
      ++len;
    }
    if (len > bestLen) {
      bestLen = len;
      bestDist = d;
    }
  }
  return {bestLen, bestDist};
}

// A reducing encoder: run expansion codes first, then follower sets built from the most
// frequent successors (of varying sizes, so every index width is used).
std::vector<std::uint8_t> Reduce(const std::string& data, unsigned factor) {
  const unsigned mask = 0xFFu >> factor;
  const std::size_t window = std::size_t{1} << (8 + factor);
  std::vector<std::uint8_t> mid;
  for (std::size_t i = 0; i < data.size();) {
    auto [len, dist] = FindMatch(data, i, window, mask + 255 + 3);
    const std::size_t high = (dist - 1) >> 8;
    if (len >= 4 && !(high == 0 && len - 3 == 0)) {
      const std::size_t l = len - 3;
      const unsigned v =
          static_cast<unsigned>(high << (8 - factor) | std::min<std::size_t>(l, mask));
      mid.push_back(144);
      mid.push_back(static_cast<std::uint8_t>(v));
      if (l >= mask) {
        mid.push_back(static_cast<std::uint8_t>(l - mask));
      }
      mid.push_back(static_cast<std::uint8_t>((dist - 1) & 0xFF));
      i += len;
    } else {
      const auto c = static_cast<std::uint8_t>(data[i]);
      mid.push_back(c);
      if (c == 144) {
        mid.push_back(0);
      }
      ++i;
    }
  }
  std::array<std::array<unsigned, 256>, 256> freq{};
  unsigned last = 0;
  for (const auto c : mid) {
    ++freq[last][c];
    last = c;
  }
  std::array<std::vector<std::uint8_t>, 256> sets;
  for (unsigned j = 0; j < 256; ++j) {
    std::vector<unsigned> order;
    for (unsigned c = 0; c < 256; ++c) {
      if (freq[j][c] != 0) {
        order.push_back(c);
      }
    }
    std::stable_sort(order.begin(), order.end(),
                     [&](unsigned a, unsigned b) { return freq[j][a] > freq[j][b]; });
    order.resize(std::min<std::size_t>(order.size(), 1 + j % 32)); // sizes 1..32
    sets[j].assign(order.begin(), order.end());
  }
  TBitWriter w;
  for (int j = 255; j >= 0; --j) {
    w.Put(static_cast<std::uint32_t>(sets[static_cast<std::size_t>(j)].size()), 6);
    for (const auto c : sets[static_cast<std::size_t>(j)]) {
      w.Put(c, 8);
    }
  }
  last = 0;
  for (const auto c : mid) {
    const auto& set = sets[last];
    if (set.empty()) {
      w.Put(c, 8);
    } else {
      const auto it = std::find(set.begin(), set.end(), c);
      if (it == set.end()) {
        w.Put(1, 1);
        w.Put(c, 8);
      } else {
        unsigned bits = 1;
        while ((1u << bits) < set.size()) {
          ++bits;
        }
        w.Put(0, 1);
        w.Put(static_cast<std::uint32_t>(it - set.begin()), bits);
      }
    }
    last = c;
  }
  return w.Bytes();
}

// An imploding encoder with flat trees (every literal 8 bits, every length and distance code
// 6 bits); with equal lengths symbol s gets the code (count - 1 - s).
std::vector<std::uint8_t> Implode(const std::string& data, std::uint16_t flags) {
  const bool big = (flags & 2) != 0;
  const bool literalTree = (flags & 4) != 0;
  const unsigned minMatch = literalTree ? 3 : 2;
  const unsigned lowBits = big ? 7 : 6;
  TBitWriter w;
  if (literalTree) {
    w.Put(15, 8); // 16 bytes follow
    for (int i = 0; i < 16; ++i) {
      w.Put(0xF7, 8); // 16 values of length 8
    }
  }
  for (int tree = 0; tree < 2; ++tree) {
    w.Put(3, 8);
    for (int i = 0; i < 4; ++i) {
      w.Put(0xF5, 8); // 16 values of length 6
    }
  }
  const std::size_t window = big ? 8192 : 4096;
  for (std::size_t i = 0; i < data.size();) {
    auto [len, dist] = FindMatch(data, i, window, minMatch + 63 + 255);
    if (len >= minMatch) {
      w.Put(0, 1);
      const std::size_t d = dist - 1;
      w.Put(static_cast<std::uint32_t>(d & ((1u << lowBits) - 1)), lowBits);
      w.PutCode(static_cast<std::uint32_t>(63 - (d >> lowBits)), 6);
      const std::size_t code = std::min<std::size_t>(len - minMatch, 63);
      w.PutCode(static_cast<std::uint32_t>(63 - code), 6);
      if (code == 63) {
        w.Put(static_cast<std::uint32_t>(len - minMatch - 63), 8);
      }
      i += len;
    } else {
      w.Put(1, 1);
      const auto c = static_cast<std::uint8_t>(data[i]);
      if (literalTree) {
        w.PutCode(255u - c, 8);
      } else {
        w.Put(c, 8);
      }
      ++i;
    }
  }
  return w.Bytes();
}

TEST(LegacyCodecs, UnreduceAllFactors) {
  const std::string data = SampleText(6000, 1) + std::string(700, 'r') + SampleText(3000, 2);
  for (unsigned factor = 1; factor <= 4; ++factor) {
    SCOPED_TRACE(factor);
    const auto packed = Reduce(data, factor);
    bytes::TMemoryStream out;
    const TInflateResult r = Unreduce(Bytes(packed), out, data.size(), factor);
    EXPECT_EQ(r.status, TInflateStatus::kDone);
    EXPECT_TRUE(Text(out) == data);
    // Cut input: what was decoded stays, the status says truncated.
    bytes::TMemoryStream cut;
    const auto half = std::vector<std::uint8_t>(
        packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(packed.size() / 2));
    EXPECT_EQ(Unreduce(Bytes(half), cut, data.size(), factor).status, TInflateStatus::kTruncated);
    EXPECT_EQ(data.substr(0, cut.Size()), Text(cut));
  }
}

TEST(LegacyCodecs, ExplodeAllDictionaryAndTreeVariants) {
  const std::string data = SampleText(12000, 3) + std::string(400, 'q') + SampleText(5000, 4);
  for (const std::uint16_t flags :
       {std::uint16_t{0}, std::uint16_t{2}, std::uint16_t{4}, std::uint16_t{6}}) {
    SCOPED_TRACE(flags);
    const auto packed = Implode(data, flags);
    bytes::TMemoryStream out;
    const TInflateResult r = Explode(Bytes(packed), out, data.size(), flags);
    EXPECT_EQ(r.status, TInflateStatus::kDone);
    EXPECT_TRUE(Text(out) == data);
  }
}

// Back-references before the start of the output read zeros in both dictionary methods.
TEST(LegacyCodecs, ReferencesBeforeStartReadZeros) {
  TBitWriter r;
  for (int j = 0; j < 256; ++j) {
    r.Put(0, 6); // no follower sets
  }
  for (const unsigned c : {65u, 144u, 0x12u, 9u}) { // "A", then DLE: length 2 + 3 from 266 back
    r.Put(c, 8);
  }
  bytes::TMemoryStream out;
  EXPECT_EQ(Unreduce(r.Bytes(), out, 6, 4).status, TInflateStatus::kDone);
  EXPECT_EQ(Text(out), std::string("A\0\0\0\0\0", 6));

  TBitWriter w; // two trees, 4 KB: a match of length 2 at distance 100
  for (int tree = 0; tree < 2; ++tree) {
    w.Put(3, 8);
    for (int i = 0; i < 4; ++i) {
      w.Put(0xF5, 8);
    }
  }
  w.Put(0, 1);
  w.Put(99 & 63, 6);
  w.PutCode(63 - (99 >> 6), 6);
  w.PutCode(63 - 0, 6);
  bytes::TMemoryStream out2;
  EXPECT_EQ(Explode(w.Bytes(), out2, 2, 0).status, TInflateStatus::kDone);
  EXPECT_EQ(Text(out2), std::string(2, '\0'));
}

TEST(LegacyCodecs, UnshrinkHandMadeStreams) {
  struct Case {
    const char* name;
    std::vector<unsigned> codes; // 9-bit codes
    std::uint64_t limit;
    TInflateStatus want;
    std::string output;
  };
  const std::vector<Case> cases = {
      {"literals", {'a', 'b', 'c'}, 100, TInflateStatus::kDone, "abc"},
      {"new code used", {'a', 'b', 257, 258}, 100, TInflateStatus::kDone, "ababba"},
      {"code defined by itself", {'a', 257, 258}, 100, TInflateStatus::kDone, "aaaaaa"},
      {"undefined code", {'a', 300}, 100, TInflateStatus::kBadData, "a"},
      {"first code not a literal", {257}, 100, TInflateStatus::kBadData, ""},
      {"unknown control", {'a', 256, 7}, 100, TInflateStatus::kBadData, "a"},
      {"partial clear then reuse",
       {'a', 'b', 'c', 256, 2, 'd', 257},
       100,
       TInflateStatus::kDone,
       "abcdcd"},
      {"limit", {'a', 'b', 257, 258}, 4, TInflateStatus::kOutputLimit, "abab"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TBitWriter w;
    for (const unsigned code : c.codes) {
      w.Put(code, 9);
    }
    bytes::TMemoryStream out;
    EXPECT_EQ(Unshrink(w.Bytes(), out, c.limit).status, c.want);
    EXPECT_EQ(Text(out), c.output);
  }
  // 256,1 widens the codes to 10 bits.
  TBitWriter w;
  w.Put('x', 9);
  w.Put(256, 9);
  w.Put(1, 9);
  w.Put('y', 10);
  w.Put(257, 10);
  bytes::TMemoryStream out;
  EXPECT_EQ(Unshrink(w.Bytes(), out, 100).status, TInflateStatus::kDone);
  EXPECT_EQ(Text(out), "xyxy");
}

// Garbage never makes a decoder run past its size or loop: every call returns within the
// test's time and writes at most the limit.
TEST(LegacyCodecs, SurviveGarbage) {
  std::mt19937 rng(5);
  for (int round = 0; round < 600; ++round) {
    std::vector<std::uint8_t> input(rng() % 3000);
    for (auto& b : input) {
      b = static_cast<std::uint8_t>(rng() % 4 == 0 ? 0xFF : rng());
    }
    const std::uint64_t limit = 1 + rng() % 20000;
    bytes::TMemoryStream a;
    Unshrink(Bytes(input), a, limit);
    ASSERT_LE(a.Size(), limit);
    bytes::TMemoryStream b;
    Unreduce(Bytes(input), b, limit, 1 + round % 4);
    ASSERT_LE(b.Size(), limit);
    bytes::TMemoryStream c;
    Explode(Bytes(input), c, limit, static_cast<std::uint16_t>(round % 8));
    ASSERT_LE(c.Size(), limit);
  }
}

} // namespace
} // namespace scv::codecs
