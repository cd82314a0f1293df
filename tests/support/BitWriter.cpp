// Bit writer and a compact reference Deflate encoder for tests.
#include "support/BitWriter.h"

#include <algorithm>
#include <array>
#include <functional>
#include <queue>
#include <utility>

namespace scv::test {

void TBitWriter::Put(std::uint32_t value, unsigned n) {
  for (unsigned i = 0; i < n; ++i) {
    if (used_ == 8) {
      bytes_.push_back(0);
      used_ = 0;
    }
    if (((value >> i) & 1u) != 0) {
      bytes_.back() = static_cast<std::uint8_t>(bytes_.back() | (1u << used_));
    }
    ++used_;
  }
}

void TBitWriter::PutCode(std::uint32_t code, unsigned n) {
  for (unsigned i = n; i-- > 0;) {
    Put((code >> i) & 1u, 1);
  }
}

void TBitWriter::Align() {
  used_ = 8;
}

std::vector<std::uint8_t> HuffmanLengths(std::span<const std::uint32_t> freq, unsigned maxLength) {
  const std::size_t n = freq.size();
  std::vector<std::uint8_t> lengths(n, 0);
  std::vector<std::uint64_t> f(freq.begin(), freq.end());
  std::size_t used =
      static_cast<std::size_t>(std::count_if(f.begin(), f.end(), [](auto v) { return v != 0; }));
  if (used == 0) {
    return lengths;
  }
  if (used == 1) { // a code needs two symbols: give the first free one a code too
    for (std::size_t i = 0; i < n; ++i) {
      if (f[i] == 0) {
        f[i] = 1;
        break;
      }
    }
  }
  for (;;) {
    // Plain Huffman over (weight, node); leaves are 0..n-1, inner nodes follow.
    using TNode = std::pair<std::uint64_t, std::size_t>;
    std::priority_queue<TNode, std::vector<TNode>, std::greater<>> queue;
    std::vector<std::size_t> parent(2 * n, 0);
    for (std::size_t i = 0; i < n; ++i) {
      if (f[i] != 0) {
        queue.emplace(f[i], i);
      }
    }
    std::size_t next = n;
    while (queue.size() > 1) {
      const auto a = queue.top();
      queue.pop();
      const auto b = queue.top();
      queue.pop();
      parent[a.second] = next;
      parent[b.second] = next;
      queue.emplace(a.first + b.first, next++);
    }
    const std::size_t root = queue.top().second;
    unsigned longest = 0;
    for (std::size_t i = 0; i < n; ++i) {
      if (f[i] == 0) {
        continue;
      }
      unsigned depth = 0;
      for (std::size_t k = i; k != root; k = parent[k]) {
        ++depth;
      }
      lengths[i] = static_cast<std::uint8_t>(depth);
      longest = std::max(longest, depth);
    }
    if (longest <= maxLength) {
      return lengths;
    }
    // Too deep: flatten the weights and try again.
    for (auto& v : f) {
      if (v != 0) {
        v = v / 2 + 1;
      }
    }
  }
}

std::vector<std::uint32_t> CanonicalCodes(std::span<const std::uint8_t> lengths) {
  std::array<std::uint32_t, 17> count{};
  for (const auto len : lengths) {
    ++count[len];
  }
  count[0] = 0;
  std::array<std::uint32_t, 17> next{};
  std::uint32_t code = 0;
  for (unsigned len = 1; len <= 16; ++len) {
    code = (code + count[len - 1]) << 1;
    next[len] = code;
  }
  std::vector<std::uint32_t> codes(lengths.size(), 0);
  for (std::size_t i = 0; i < lengths.size(); ++i) {
    if (lengths[i] != 0) {
      codes[i] = next[lengths[i]]++;
    }
  }
  return codes;
}

namespace {

constexpr std::array<std::uint16_t, 29> kLengthBase = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                                       15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                                       67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::array<std::uint8_t, 29> kLengthExtra = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                       2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::array<std::uint16_t, 30> kDistBase = {
    1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::array<std::uint8_t, 30> kDistExtra = {0, 0, 0,  0,  1,  1,  2,  2,  3,  3,
                                                     4, 4, 5,  5,  6,  6,  7,  7,  8,  8,
                                                     9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr std::array<std::uint8_t, 19> kCodeLenOrder = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                        11, 4,  12, 3, 13, 2, 14, 1, 15};

// A literal (len 0) or a match.
struct TToken {
  std::uint16_t len = 0;
  std::uint16_t dist = 0;
  std::uint8_t literal = 0;
};

unsigned LengthSymbol(unsigned len) {
  unsigned i = 28;
  while (kLengthBase[i] > len) {
    --i;
  }
  return i;
}
unsigned DistSymbol(unsigned dist) {
  unsigned i = 29;
  while (kDistBase[i] > dist) {
    --i;
  }
  return i;
}

// Greedy LZ77 with a hash of three bytes and a short chain, window 32 KB.
std::vector<TToken> Tokenize(std::span<const std::uint8_t> data, std::size_t from, std::size_t to) {
  std::vector<TToken> tokens;
  tokens.reserve((to - from) / 4);
  std::vector<std::int64_t> head(1 << 15, -1);
  std::vector<std::int64_t> prev(data.size(), -1);
  auto hash = [&](std::size_t i) {
    return ((data[i] << 10) ^ (data[i + 1] << 5) ^ data[i + 2]) & 0x7FFF;
  };
  // Seed the hash with the window before this block.
  const std::size_t seed = from > 32768 ? from - 32768 : 0;
  for (std::size_t i = seed; i < from && i + 2 < data.size(); ++i) {
    const auto h = static_cast<std::size_t>(hash(i));
    prev[i] = head[h];
    head[h] = static_cast<std::int64_t>(i);
  }
  std::size_t i = from;
  while (i < to) {
    unsigned bestLen = 0;
    std::size_t bestDist = 0;
    if (i + 2 < to) {
      const auto h = static_cast<std::size_t>(hash(i));
      std::int64_t cand = head[h];
      for (int chain = 0; chain < 16 && cand >= 0; ++chain) {
        const std::size_t c = static_cast<std::size_t>(cand);
        if (i - c > 32768) {
          break;
        }
        unsigned len = 0;
        while (len < 258 && i + len < to && data[c + len] == data[i + len]) {
          ++len;
        }
        if (len > bestLen) {
          bestLen = len;
          bestDist = i - c;
        }
        cand = prev[c];
      }
    }
    const std::size_t step = bestLen >= 3 ? bestLen : 1;
    for (std::size_t k = 0; k < step; ++k) {
      if (i + k + 2 < data.size()) {
        const auto h = static_cast<std::size_t>(hash(i + k));
        prev[i + k] = head[h];
        head[h] = static_cast<std::int64_t>(i + k);
      }
    }
    if (bestLen >= 3) {
      tokens.push_back(
          {static_cast<std::uint16_t>(bestLen), static_cast<std::uint16_t>(bestDist), 0});
    } else {
      tokens.push_back({0, 0, data[i]});
    }
    i += step;
  }
  return tokens;
}

void WriteTokens(TBitWriter& w, const std::vector<TToken>& tokens,
                 const std::vector<std::uint8_t>& litLens,
                 const std::vector<std::uint32_t>& litCodes,
                 const std::vector<std::uint8_t>& distLens,
                 const std::vector<std::uint32_t>& distCodes) {
  for (const TToken& t : tokens) {
    if (t.len == 0) {
      w.PutCode(litCodes[t.literal], litLens[t.literal]);
      continue;
    }
    const unsigned ls = LengthSymbol(t.len);
    w.PutCode(litCodes[257 + ls], litLens[257 + ls]);
    w.Put(t.len - kLengthBase[ls], kLengthExtra[ls]);
    const unsigned ds = DistSymbol(t.dist);
    w.PutCode(distCodes[ds], distLens[ds]);
    w.Put(t.dist - kDistBase[ds], kDistExtra[ds]);
  }
  w.PutCode(litCodes[256], litLens[256]);
}

void WriteDynamicHeader(TBitWriter& w, const std::vector<std::uint8_t>& litLens,
                        const std::vector<std::uint8_t>& distLens) {
  std::size_t nlen = 286;
  while (nlen > 257 && litLens[nlen - 1] == 0) {
    --nlen;
  }
  std::size_t ndist = 30;
  while (ndist > 1 && distLens[ndist - 1] == 0) {
    --ndist;
  }
  std::vector<std::uint8_t> all(litLens.begin(),
                                litLens.begin() + static_cast<std::ptrdiff_t>(nlen));
  all.insert(all.end(), distLens.begin(), distLens.begin() + static_cast<std::ptrdiff_t>(ndist));
  // Run-length code the lengths with 16 (repeat previous), 17 and 18 (zeros).
  struct TRun {
    unsigned sym, extra, bits;
  };
  std::vector<TRun> runs;
  for (std::size_t i = 0; i < all.size();) {
    std::size_t j = i;
    while (j < all.size() && all[j] == all[i]) {
      ++j;
    }
    std::size_t run = j - i;
    if (all[i] == 0) {
      while (run >= 11) {
        const std::size_t r = std::min<std::size_t>(run, 138);
        runs.push_back({18, static_cast<unsigned>(r - 11), 7});
        run -= r;
      }
      if (run >= 3) {
        runs.push_back({17, static_cast<unsigned>(run - 3), 3});
        run = 0;
      }
      for (; run > 0; --run) {
        runs.push_back({0, 0, 0});
      }
    } else {
      runs.push_back({all[i], 0, 0});
      --run;
      while (run >= 3) {
        const std::size_t r = std::min<std::size_t>(run, 6);
        runs.push_back({16, static_cast<unsigned>(r - 3), 2});
        run -= r;
      }
      for (; run > 0; --run) {
        runs.push_back({all[i], 0, 0});
      }
    }
    i = j;
  }
  std::vector<std::uint32_t> freq(19, 0);
  for (const auto& r : runs) {
    ++freq[r.sym];
  }
  const auto clLens = HuffmanLengths(freq, 7);
  const auto clCodes = CanonicalCodes(clLens);
  std::size_t ncode = 19;
  while (ncode > 4 && clLens[kCodeLenOrder[ncode - 1]] == 0) {
    --ncode;
  }
  w.Put(static_cast<std::uint32_t>(nlen - 257), 5);
  w.Put(static_cast<std::uint32_t>(ndist - 1), 5);
  w.Put(static_cast<std::uint32_t>(ncode - 4), 4);
  for (std::size_t i = 0; i < ncode; ++i) {
    w.Put(clLens[kCodeLenOrder[i]], 3);
  }
  for (const auto& r : runs) {
    w.PutCode(clCodes[r.sym], clLens[r.sym]);
    w.Put(r.extra, r.bits);
  }
}

} // namespace

std::vector<std::uint8_t> DeflateEncode(std::span<const std::uint8_t> data, TDeflateMode mode,
                                        std::size_t blockSize) {
  TBitWriter w;
  if (mode == TDeflateMode::kStored) {
    blockSize = std::min<std::size_t>(blockSize, 65535);
  }
  blockSize = std::max<std::size_t>(blockSize, 1);
  std::vector<TToken> all;
  if (mode != TDeflateMode::kStored) {
    all = Tokenize(data, 0, data.size());
  }
  std::size_t from = 0;
  std::size_t token = 0;
  do {
    std::size_t to = std::min(data.size(), from + blockSize);
    std::vector<TToken> tokens;
    if (mode != TDeflateMode::kStored) {
      // Whole tokens up to the block size (a match may carry the block a little further).
      std::size_t at = from;
      while (token < all.size() && at < to) {
        at += all[token].len == 0 ? 1 : all[token].len;
        tokens.push_back(all[token++]);
      }
      to = at;
    }
    const bool final = to == data.size();
    w.Put(final ? 1 : 0, 1);
    if (mode == TDeflateMode::kStored) {
      w.Put(0, 2);
      w.Align();
      const auto len = static_cast<std::uint32_t>(to - from);
      w.Put(len, 16);
      w.Put(len ^ 0xFFFFu, 16);
      for (std::size_t i = from; i < to; ++i) {
        w.PutByte(data[i]);
      }
    } else {
      std::vector<std::uint8_t> litLens(288, 0);
      std::vector<std::uint8_t> distLens(30, 0);
      if (mode == TDeflateMode::kFixed) {
        w.Put(1, 2);
        std::fill(litLens.begin(), litLens.begin() + 144, 8);
        std::fill(litLens.begin() + 144, litLens.begin() + 256, 9);
        std::fill(litLens.begin() + 256, litLens.begin() + 280, 7);
        std::fill(litLens.begin() + 280, litLens.end(), 8);
        std::fill(distLens.begin(), distLens.end(), 5);
      } else {
        w.Put(2, 2);
        std::vector<std::uint32_t> litFreq(286, 0);
        std::vector<std::uint32_t> distFreq(30, 0);
        litFreq[256] = 1;
        for (const TToken& t : tokens) {
          if (t.len == 0) {
            ++litFreq[t.literal];
          } else {
            ++litFreq[257 + LengthSymbol(t.len)];
            ++distFreq[DistSymbol(t.dist)];
          }
        }
        auto ll = HuffmanLengths(litFreq, 15);
        std::copy(ll.begin(), ll.end(), litLens.begin());
        distLens = HuffmanLengths(distFreq, 15);
        WriteDynamicHeader(w, litLens, distLens);
      }
      WriteTokens(w, tokens, litLens, CanonicalCodes(litLens), distLens, CanonicalCodes(distLens));
    }
    from = to;
  } while (from < data.size());
  return w.Bytes();
}

std::vector<std::uint8_t> DeflateRunOfZeros(std::size_t n) {
  TBitWriter w;
  w.Put(1, 1);
  w.Put(1, 2);
  if (n > 0) {
    w.PutCode(0x30, 8); // literal 0
    std::size_t left = n - 1;
    while (left >= 258) {
      w.PutCode(0xC5, 8); // length symbol 285: 258
      w.PutCode(0, 5);    // distance 1
      left -= 258;
    }
    for (; left > 0; --left) {
      w.PutCode(0x30, 8);
    }
  }
  w.PutCode(0, 7); // end of block
  return w.Bytes();
}

std::vector<std::uint8_t> DeflateRepeat(std::string_view head, std::string_view unit,
                                        std::size_t times, std::string_view tail) {
  std::vector<TToken> tokens;
  const auto literals = [&](std::string_view bytes) {
    for (const char c : bytes) {
      tokens.push_back({0, 0, static_cast<std::uint8_t>(c)});
    }
  };
  literals(head);
  if (times > 0 && !unit.empty()) {
    literals(unit);
    // Every later copy of the unit comes from one unit back, in matches of up to 258 bytes.
    std::size_t left = (times - 1) * unit.size();
    std::size_t phase = 0;
    while (left > 0) {
      std::size_t len = std::min<std::size_t>(left, 258);
      if (left - len == 1 || left - len == 2) {
        len -= 3; // leave no remainder too short for a match
      }
      if (len < 3) {
        tokens.push_back({0, 0, static_cast<std::uint8_t>(unit[phase])});
        len = 1;
      } else {
        tokens.push_back(
            {static_cast<std::uint16_t>(len), static_cast<std::uint16_t>(unit.size()), 0});
      }
      phase = (phase + len) % unit.size();
      left -= len;
    }
  }
  literals(tail);
  std::vector<std::uint8_t> litLens(288, 8);
  std::fill(litLens.begin() + 144, litLens.begin() + 256, 9);
  std::fill(litLens.begin() + 256, litLens.begin() + 280, 7);
  const std::vector<std::uint8_t> distLens(30, 5);
  TBitWriter w;
  w.Put(1, 1); // final
  w.Put(1, 2); // fixed codes
  WriteTokens(w, tokens, litLens, CanonicalCodes(litLens), distLens, CanonicalCodes(distLens));
  return w.Bytes();
}

std::string DeflateEncode(std::string_view data, TDeflateMode mode, std::size_t blockSize) {
  const auto bytes =
      DeflateEncode(std::span<const std::uint8_t>(
                        reinterpret_cast<const std::uint8_t*>(data.data()), data.size()),
                    mode, blockSize);
  return {bytes.begin(), bytes.end()};
}

} // namespace scv::test
