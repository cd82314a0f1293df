// Imploded data (method 6): a sliding dictionary of 4 or 8 KB whose literals, lengths and
// distance high bits are coded with Shannon-Fano trees stored at the start of the data.
#include "codecs/LegacyCodecs.h"

#include <algorithm>
#include <array>
#include <vector>

namespace scv::codecs {
namespace {

constexpr unsigned kMaxTreeBits = 16;
constexpr std::uint16_t kNoSymbol = 0xFFFF;

// A decoding table indexed by the next `bits` input bits (first bit lowest).
struct TTree {
  unsigned bits = 0;
  std::vector<std::uint16_t> symbol; // kNoSymbol for unused codes
  std::vector<std::uint8_t> length;
};

// Reads one stored tree of `count` values and builds its table. False for a malformed tree.
bool ReadTree(legacy::TLsbBitReader& in, unsigned count, TTree& tree) {
  const unsigned bytes = in.Read(8) + 1;
  std::vector<std::uint8_t> lengths;
  lengths.reserve(count);
  for (unsigned i = 0; i < bytes; ++i) {
    const unsigned b = in.Read(8);
    const unsigned repeat = (b >> 4) + 1;
    const unsigned len = (b & 0xF) + 1;
    if (lengths.size() + repeat > count) {
      return false;
    }
    lengths.insert(lengths.end(), repeat, static_cast<std::uint8_t>(len));
  }
  if (lengths.size() != count || in.Overrun()) {
    return false;
  }
  // Codes are handed out from the longest length down (stable order among equal lengths),
  // as 16-bit values aligned to the top; the first bit sent is the top bit.
  std::vector<std::uint16_t> order(count);
  for (unsigned i = 0; i < count; ++i) {
    order[i] = static_cast<std::uint16_t>(i);
  }
  std::stable_sort(order.begin(), order.end(),
                   [&](std::uint16_t a, std::uint16_t b) { return lengths[a] < lengths[b]; });
  const unsigned maxLen = lengths[order[count - 1]];
  tree.bits = maxLen;
  tree.symbol.assign(std::size_t{1} << maxLen, kNoSymbol);
  tree.length.assign(std::size_t{1} << maxLen, 0);
  std::uint32_t code = 0;
  std::uint32_t increment = 0;
  unsigned lastLen = 0;
  for (unsigned k = count; k-- > 0;) {
    const unsigned sym = order[k];
    code += increment;
    if (code > 0xFFFF) {
      return false; // more codes than the lengths allow
    }
    if (lengths[sym] != lastLen) {
      lastLen = lengths[sym];
      increment = 1u << (kMaxTreeBits - lastLen);
    }
    // The code's top `len` bits, first bit sent lowest in the table index.
    const unsigned len = lengths[sym];
    const std::uint32_t top = code >> (kMaxTreeBits - len);
    std::uint32_t reversed = 0;
    for (unsigned b = 0; b < len; ++b) {
      reversed |= ((top >> b) & 1u) << (len - 1 - b);
    }
    for (std::size_t i = reversed; i < tree.symbol.size(); i += std::size_t{1} << len) {
      if (tree.symbol[i] != kNoSymbol) {
        return false; // codes collide
      }
      tree.symbol[i] = static_cast<std::uint16_t>(sym);
      tree.length[i] = static_cast<std::uint8_t>(len);
    }
  }
  return true;
}

// Decodes one symbol: peeks the table's bits, then gives back those the code did not use.
class TTreeDecoder {
public:
  explicit TTreeDecoder(std::span<const std::uint8_t> input) : input_(input) {}
  std::uint32_t Bits(unsigned n) {
    Fill(n);
    const auto v = static_cast<std::uint32_t>(bits_ & ((std::uint64_t{1} << n) - 1));
    bits_ >>= n;
    count_ -= n;
    return v;
  }
  // kNoSymbol for an unused code.
  std::uint16_t Decode(const TTree& tree) {
    Fill(tree.bits);
    const std::size_t i = bits_ & ((std::uint64_t{1} << tree.bits) - 1);
    const std::uint16_t sym = tree.symbol[i];
    if (sym != kNoSymbol) {
      bits_ >>= tree.length[i];
      count_ -= tree.length[i];
    }
    return sym;
  }
  // True when bits beyond the input were used.
  bool Overrun() const { return count_ < fed_ * 8; }
  void StartAfter(std::size_t consumed) { pos_ = consumed; }

private:
  void Fill(unsigned n) {
    while (count_ < n) {
      std::uint64_t b = 0;
      if (pos_ < input_.size()) {
        b = input_[pos_];
      } else {
        ++fed_;
      }
      ++pos_;
      bits_ |= b << count_;
      count_ += 8;
    }
  }
  std::span<const std::uint8_t> input_;
  std::size_t pos_ = 0;
  std::uint64_t bits_ = 0;
  unsigned count_ = 0;
  std::size_t fed_ = 0;
};

} // namespace

TInflateResult Explode(std::span<const std::uint8_t> input, bytes::TMemoryStream& out,
                       std::uint64_t size, std::uint16_t flags) {
  TInflateResult result;
  const bool bigDictionary = (flags & 0x0002) != 0;
  const bool literalTree = (flags & 0x0004) != 0;
  legacy::TLsbBitReader header(input);
  TTree literals;
  TTree lengths;
  TTree distances;
  if ((literalTree && !ReadTree(header, 256, literals)) || !ReadTree(header, 64, lengths) ||
      !ReadTree(header, 64, distances)) {
    result.status = header.Overrun() ? TInflateStatus::kTruncated : TInflateStatus::kBadData;
    return result;
  }
  // The trees are whole bytes; the coded data starts at the next byte.
  TTreeDecoder in(input);
  in.StartAfter(header.Consumed());
  const unsigned minMatch = literalTree ? 3 : 2;
  const unsigned lowDistanceBits = bigDictionary ? 7 : 6;
  legacy::TOutputSink sink(out, size);
  while (!sink.Full()) {
    if (in.Bits(1) != 0) {
      std::uint32_t c = 0;
      if (literalTree) {
        const std::uint16_t sym = in.Decode(literals);
        if (sym == kNoSymbol) {
          result.status = TInflateStatus::kBadData;
          break;
        }
        c = sym;
      } else {
        c = in.Bits(8);
      }
      if (in.Overrun()) {
        result.status = TInflateStatus::kTruncated;
        break;
      }
      sink.Put(static_cast<std::uint8_t>(c));
      continue;
    }
    const std::uint32_t low = in.Bits(lowDistanceBits);
    const std::uint16_t high = in.Decode(distances);
    const std::uint16_t lengthCode = high == kNoSymbol ? kNoSymbol : in.Decode(lengths);
    if (lengthCode == kNoSymbol) {
      result.status = in.Overrun() ? TInflateStatus::kTruncated : TInflateStatus::kBadData;
      break;
    }
    std::size_t length = std::size_t{lengthCode} + minMatch;
    if (lengthCode == 63) {
      length += in.Bits(8);
    }
    if (in.Overrun()) {
      result.status = TInflateStatus::kTruncated;
      break;
    }
    const std::size_t distance = (std::size_t{high} << lowDistanceBits | low) + 1;
    for (std::size_t k = 0; k < length && sink.Put(sink.Back(distance)); ++k) {
    }
  }
  sink.Commit();
  result.produced = sink.Written();
  result.consumed = input.size();
  return result;
}

} // namespace scv::codecs
