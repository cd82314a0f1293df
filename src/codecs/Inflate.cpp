// Raw Deflate decoder. Huffman codes are decoded through two-level lookup tables (11 primary
// bits for literals/lengths, 8 for distances), bits come from a 64-bit buffer refilled eight
// bytes at a time, and the output buffer doubles as the history window, so a match is a copy
// inside one buffer. A fast loop runs while the input and the output have room for a whole
// symbol with refills; a checked loop handles the edges one symbol at a time.
#include "codecs/Inflate.h"

#include <algorithm>
#include <array>
#include <bit>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace scv::codecs {
namespace {

// NOLINTBEGIN(cppcoreguidelines-pro-bounds-pointer-arithmetic): the decoder's hot loops walk
// raw pointers; every pointer is checked against its buffer end before use.

// Table entry layout (32 bits):
//   bits 0-4   bits to consume at this table level
//   bits 8-11  extra bits that follow (length/distance), or index bits of a sub-table
//   bit 12     invalid code
//   bit 13     literal
//   bit 14     pointer to a sub-table
//   bit 15     end of block
//   bits 16-31 literal byte, length/distance base, or sub-table offset
constexpr std::uint32_t kInvalid = 1u << 12;
constexpr std::uint32_t kLiteral = 1u << 13;
constexpr std::uint32_t kSubTable = 1u << 14;
constexpr std::uint32_t kEndOfBlock = 1u << 15;
constexpr std::uint32_t kSpecial = kInvalid | kSubTable | kEndOfBlock;

constexpr unsigned kMaxCodeLength = 15;
constexpr unsigned kLitLenBits = 11;
constexpr unsigned kDistBits = 8;
constexpr unsigned kCodeLenBits = 7;
constexpr unsigned kNumLitLen = 288;
constexpr unsigned kNumDist = 32;
constexpr unsigned kNumCodeLen = 19;
// Every sub-table holds 2^(longest code - primary bits) entries; there are at most as many
// sub-tables as codes longer than the primary bits.
constexpr std::size_t kLitLenTableSize = (1u << kLitLenBits) + kNumLitLen * (1u << (15 - 11));
constexpr std::size_t kDistTableSize = (1u << kDistBits) + kNumDist * (1u << (15 - 8));
constexpr std::size_t kCodeLenTableSize = 1u << kCodeLenBits;

// Room the fast loop needs: one longest match plus the over-copy of the 16-byte chunks.
constexpr std::size_t kMaxMatch = 258;
constexpr std::size_t kCopySlack = 16;
constexpr std::size_t kFastInput = 16;

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
constexpr std::array<std::uint8_t, kNumCodeLen> kCodeLenOrder = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                                 11, 4,  12, 3, 13, 2, 14, 1, 15};

// Per-symbol entries before the consumed-bits field is added.
constexpr std::array<std::uint32_t, kNumLitLen> MakeLitLenSymbols() {
  std::array<std::uint32_t, kNumLitLen> s{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    s[i] = kLiteral | i << 16;
  }
  s[256] = kEndOfBlock;
  for (std::uint32_t i = 0; i < 29; ++i) {
    s[257 + i] = std::uint32_t{kLengthBase[i]} << 16 | std::uint32_t{kLengthExtra[i]} << 8;
  }
  s[286] = kInvalid;
  s[287] = kInvalid;
  return s;
}
constexpr std::array<std::uint32_t, kNumDist> MakeDistSymbols() {
  std::array<std::uint32_t, kNumDist> s{};
  for (std::uint32_t i = 0; i < 30; ++i) {
    s[i] = std::uint32_t{kDistBase[i]} << 16 | std::uint32_t{kDistExtra[i]} << 8;
  }
  s[30] = kInvalid;
  s[31] = kInvalid;
  return s;
}
constexpr std::array<std::uint32_t, kNumCodeLen> MakeCodeLenSymbols() {
  std::array<std::uint32_t, kNumCodeLen> s{};
  for (std::uint32_t i = 0; i < kNumCodeLen; ++i) {
    s[i] = i << 16;
  }
  return s;
}
constexpr auto kLitLenSymbols = MakeLitLenSymbols();
constexpr auto kDistSymbols = MakeDistSymbols();
constexpr auto kCodeLenSymbols = MakeCodeLenSymbols();

constexpr std::array<std::uint8_t, 256> MakeByteReverse() {
  std::array<std::uint8_t, 256> r{};
  for (unsigned i = 0; i < 256; ++i) {
    unsigned v = 0;
    for (unsigned b = 0; b < 8; ++b) {
      v |= ((i >> b) & 1u) << (7 - b);
    }
    r[i] = static_cast<std::uint8_t>(v);
  }
  return r;
}
constexpr auto kByteReverse = MakeByteReverse();

// The low `len` bits of `code` in reverse order.
inline std::uint32_t ReverseBits(std::uint32_t code, unsigned len) {
  const std::uint32_t r =
      std::uint32_t{kByteReverse[code & 0xFF]} << 8 | kByteReverse[(code >> 8) & 0xFF];
  return r >> (16 - len);
}

enum class TCodeKind {
  kCodeLengths, // the code-length code: must be complete (or empty)
  kLitLen,      // literal/length and distance codes: complete, or a single 1-bit code
  kDist,
};

// Builds a two-level decoding table for a canonical Huffman code. Rejects over-subscribed
// codes and incomplete ones (except a lone one-bit code and an empty code, whose unused
// entries decode as invalid). Returns false for a code that cannot be used.
bool BuildTable(const std::uint8_t* lengths, unsigned count, const std::uint32_t* symbols,
                unsigned primaryBits, std::uint32_t* table, TCodeKind kind) {
  std::array<std::uint16_t, kMaxCodeLength + 1> perLength{};
  for (unsigned s = 0; s < count; ++s) {
    ++perLength[lengths[s]];
  }
  perLength[0] = 0;
  unsigned maxLength = 0;
  for (unsigned len = 1; len <= kMaxCodeLength; ++len) {
    if (perLength[len] != 0) {
      maxLength = len;
    }
  }
  std::int32_t left = 1;
  for (unsigned len = 1; len <= kMaxCodeLength; ++len) {
    left = left * 2 - perLength[len];
    if (left < 0) {
      return false; // over-subscribed
    }
  }
  const std::size_t primarySize = std::size_t{1} << primaryBits;
  if (left > 0) {
    const bool allowed = maxLength == 0 || (kind != TCodeKind::kCodeLengths && maxLength == 1);
    if (!allowed) {
      return false;
    }
    std::fill(table, table + primarySize, kInvalid);
  }
  // Symbols ordered by code length, then by value: canonical codes increase along this order.
  std::array<std::uint16_t, kMaxCodeLength + 2> offsets{};
  for (unsigned len = 1; len <= kMaxCodeLength; ++len) {
    offsets[len + 1] = static_cast<std::uint16_t>(offsets[len] + perLength[len]);
  }
  const unsigned total = offsets[kMaxCodeLength + 1];
  std::array<std::uint16_t, kNumLitLen> sorted{};
  for (unsigned s = 0; s < count; ++s) {
    if (lengths[s] != 0) {
      sorted[offsets[lengths[s]]++] = static_cast<std::uint16_t>(s);
    }
  }
  const unsigned subBits = maxLength > primaryBits ? maxLength - primaryBits : 0;
  const std::size_t subSize = std::size_t{1} << subBits;
  std::size_t nextSub = primarySize;
  std::uint32_t code = 0;
  unsigned codeLength = 0;
  std::uint32_t currentPrefix = std::numeric_limits<std::uint32_t>::max();
  std::size_t currentSub = 0;
  // The primary table grows with the code lengths: a code of `len` bits is written once into
  // the first 2^len entries, and each step to a longer length copies the entries so far
  // behind themselves, which puts every shorter code into all the entries whose low bits are
  // its own. The first step starts from invalid entries, so nothing undefined is copied.
  unsigned builtBits = total == 0 ? primaryBits : std::min(lengths[sorted[0]] + 0u, primaryBits);
  if (left == 0) {
    std::fill(table, table + (std::size_t{1} << builtBits), kInvalid);
  }
  const auto growTo = [&](unsigned bits) {
    for (; builtBits < bits; ++builtBits) {
      const std::size_t size = std::size_t{1} << builtBits;
      std::copy(table, table + size, table + size);
    }
  };
  for (unsigned i = 0; i < total; ++i) {
    const unsigned sym = sorted[i];
    const unsigned len = lengths[sym];
    if (i != 0) {
      ++code;
    }
    code <<= (len - codeLength);
    codeLength = len;
    // Deflate sends codes most significant bit first; the bit buffer delivers them reversed.
    const std::uint32_t reversed = ReverseBits(code, len);
    const std::uint32_t entry = symbols[sym];
    if (len <= primaryBits) {
      growTo(len);
      table[reversed] = entry | len;
    } else {
      growTo(primaryBits);
      const std::uint32_t prefix = reversed & static_cast<std::uint32_t>(primarySize - 1);
      if (prefix != currentPrefix) {
        currentPrefix = prefix;
        currentSub = nextSub;
        nextSub += subSize;
        table[prefix] =
            kSubTable | primaryBits | subBits << 8 | static_cast<std::uint32_t>(currentSub) << 16;
      }
      const unsigned subLen = len - primaryBits;
      for (std::size_t k = reversed >> primaryBits; k < subSize; k += std::size_t{1} << subLen) {
        table[currentSub + k] = entry | subLen;
      }
    }
  }
  growTo(primaryBits);
  return true;
}

struct TFixedTables {
  std::array<std::uint32_t, kLitLenTableSize> litLen{};
  std::array<std::uint32_t, kDistTableSize> dist{};
  TFixedTables() {
    std::array<std::uint8_t, kNumLitLen> lengths{};
    std::fill(lengths.begin(), lengths.begin() + 144, std::uint8_t{8});
    std::fill(lengths.begin() + 144, lengths.begin() + 256, std::uint8_t{9});
    std::fill(lengths.begin() + 256, lengths.begin() + 280, std::uint8_t{7});
    std::fill(lengths.begin() + 280, lengths.end(), std::uint8_t{8});
    BuildTable(lengths.data(), kNumLitLen, kLitLenSymbols.data(), kLitLenBits, litLen.data(),
               TCodeKind::kLitLen);
    std::array<std::uint8_t, kNumDist> distLengths{};
    distLengths.fill(5);
    BuildTable(distLengths.data(), kNumDist, kDistSymbols.data(), kDistBits, dist.data(),
               TCodeKind::kDist);
  }
};

const TFixedTables& FixedTables() {
  static const TFixedTables tables;
  return tables;
}

inline std::uint64_t LoadLe64(const std::uint8_t* p) {
  std::uint64_t v = 0;
  std::memcpy(&v, p, sizeof v);
  if constexpr (std::endian::native == std::endian::big) {
    v = __builtin_bswap64(v);
  }
  return v;
}

inline std::uint64_t LowBits(std::uint64_t v, unsigned n) {
  return v & ((std::uint64_t{1} << n) - 1);
}

class TInflater {
public:
  TInflater(std::span<const std::uint8_t> input, bytes::TMemoryStream& out, std::uint64_t limit,
            std::uint64_t sizeHint)
      : inStart_(input.data()), in_(input.data()), inEnd_(input.data() + input.size()),
        stream_(out) {
    start_ = out.Position();
    const std::uint64_t room = bytes::TMemoryStream::kMaxSize - start_;
    limitEnd_ = start_ + static_cast<std::size_t>(std::min(limit, room));
    const std::uint64_t hint = std::min<std::uint64_t>(sizeHint, limitEnd_ - start_);
    base_ = out.Reserve(start_ + static_cast<std::size_t>(hint) + kCopySlack, start_);
    capEnd_ = out.Capacity();
    pos_ = start_;
  }

  TInflateResult Run() {
    const TInflateStatus status = Decode();
    stream_.Commit(pos_);
    return Result(status);
  }

  // Piece by piece: decoding pauses at the first symbol boundary at or after `pieceSize`
  // more bytes, and before each piece all but the last 32 KB (the farthest a match reaches
  // back) are dropped from the buffer.
  void SetPieceSize(std::size_t pieceSize) { pieceSize_ = pieceSize; }
  // The next piece; empty (with the final status set) once decoding stopped.
  std::span<const std::uint8_t> NextPiece(TInflateStatus& status) {
    if (stopped_) {
      status = stopStatus_;
      return {};
    }
    // The history moves to the front only when the next piece might not fit behind it,
    // which the buffer's room of two windows beyond a piece makes rare for small pieces.
    if (pos_ - start_ > kWindow && capEnd_ - pos_ < pieceSize_ + kMaxMatch + kCopySlack) {
      const std::size_t drop = pos_ - start_ - kWindow;
      std::memmove(base_ + start_, base_ + pos_ - kWindow, kWindow);
      dropped_ += drop;
      pos_ -= drop;
      limitEnd_ -= drop;
    }
    const std::size_t from = pos_;
    // Within a piece of the limit the limit itself stops decoding (a match at most beyond).
    pauseEnd_ =
        limitEnd_ - pos_ > pieceSize_ ? pos_ + pieceSize_ : std::numeric_limits<std::size_t>::max();
    status = Decode();
    if (status != TInflateStatus::kPaused) {
      stopped_ = true;
      stopStatus_ = status;
    }
    return {base_ + from, pos_ - from};
  }
  TInflateResult Result(TInflateStatus status) const {
    TInflateResult result;
    result.status = status;
    result.produced = dropped_ + pos_ - start_;
    const std::size_t taken = static_cast<std::size_t>(in_ - inStart_) + overrun_;
    const std::size_t unused = count_ / 8;
    result.consumed =
        std::min(taken > unused ? taken - unused : 0, static_cast<std::size_t>(inEnd_ - inStart_));
    return result;
  }

  static constexpr std::size_t kWindow = 32768;

private:
  enum class TBlock : std::uint8_t {
    kHeader,
    kStored,
    kFixed,
    kDynamic
  };

  // Decodes block after block until the stream ends, fails, reaches the limit or pauses.
  TInflateStatus Decode() {
    for (;;) {
      if (block_ == TBlock::kHeader) {
        if (final_) {
          return TInflateStatus::kDone;
        }
        if (!NeedBits(3)) {
          return TInflateStatus::kTruncated;
        }
        final_ = (bits_ & 1) != 0;
        const unsigned type = static_cast<unsigned>((bits_ >> 1) & 3);
        Drop(3);
        TInflateStatus status = TInflateStatus::kDone;
        if (type == 0) {
          status = StoredHeader();
          block_ = TBlock::kStored;
        } else if (type == 1) {
          block_ = TBlock::kFixed;
        } else if (type == 2) {
          status = ReadDynamicTables();
          block_ = TBlock::kDynamic;
        } else {
          status = TInflateStatus::kBadData;
        }
        if (status != TInflateStatus::kDone) {
          return status;
        }
      }
      TInflateStatus status = TInflateStatus::kDone;
      if (block_ == TBlock::kStored) {
        status = StoredCopy();
      } else if (block_ == TBlock::kFixed) {
        status = Codes(FixedTables().litLen.data(), FixedTables().dist.data());
      } else {
        status = Codes(litLen_.data(), dist_.data());
      }
      if (status != TInflateStatus::kDone) {
        return status;
      }
      block_ = TBlock::kHeader;
    }
  }

  // Tops the bit buffer up to at least 56 bits. Past the end of the input it feeds zero bytes
  // and counts them, so a decode that used them is recognised as truncated.
  void Refill() {
    if (inEnd_ - in_ >= 8) {
      bits_ |= LoadLe64(in_) << count_;
      in_ += (63 - count_) >> 3;
      count_ |= 56;
      return;
    }
    while (count_ <= 56) {
      if (in_ < inEnd_) {
        bits_ |= std::uint64_t{*in_} << count_;
        ++in_;
      } else {
        ++overrun_;
      }
      count_ += 8;
    }
  }
  // True when the buffer holds n real (not fed-in zero) bits.
  bool NeedBits(unsigned n) {
    if (count_ < n) {
      Refill();
    }
    return count_ >= n + overrun_ * 8;
  }
  // True while no fed-in zero bit has been consumed.
  bool Intact() const { return count_ >= overrun_ * 8; }
  void Drop(unsigned n) {
    bits_ >>= n;
    count_ -= n;
  }

  // Makes room for n more bytes at pos_ (n never crosses the limit).
  void Grow(std::size_t n) {
    const std::size_t want = pos_ + n + kCopySlack;
    if (want <= capEnd_) {
      return;
    }
    const std::size_t doubled =
        capEnd_ - start_ < (limitEnd_ - start_) / 2 ? start_ + (capEnd_ - start_) * 2 : limitEnd_;
    const std::size_t target = std::min(std::max(want, doubled), limitEnd_ + kCopySlack);
    base_ = stream_.Reserve(std::max(target, want), pos_);
    capEnd_ = stream_.Capacity();
  }

  // A stored block's length and its check; the bytes follow from the next whole byte.
  TInflateStatus StoredHeader() {
    // Whole bytes still in the bit buffer go back to the input.
    Drop(count_ & 7);
    if (overrun_ * 8 > count_) {
      return TInflateStatus::kTruncated;
    }
    in_ -= (count_ / 8) - overrun_;
    overrun_ = 0;
    bits_ = 0;
    count_ = 0;
    if (inEnd_ - in_ < 4) {
      in_ = inEnd_;
      return TInflateStatus::kTruncated;
    }
    const unsigned len = in_[0] | unsigned{in_[1]} << 8;
    const unsigned nlen = in_[2] | unsigned{in_[3]} << 8;
    in_ += 4;
    if ((len ^ 0xFFFFu) != nlen) {
      return TInflateStatus::kBadData;
    }
    storedLeft_ = len;
    return TInflateStatus::kDone;
  }

  TInflateStatus StoredCopy() {
    while (storedLeft_ != 0) {
      if (pos_ >= pauseEnd_) {
        return TInflateStatus::kPaused;
      }
      const std::size_t available = static_cast<std::size_t>(inEnd_ - in_);
      std::size_t n = std::min({storedLeft_, available, pauseEnd_ - pos_});
      bool limited = false;
      if (n > limitEnd_ - pos_) {
        n = limitEnd_ - pos_;
        limited = true;
      }
      Grow(n);
      if (n != 0) {
        std::memcpy(base_ + pos_, in_, n);
      }
      pos_ += n;
      in_ += n;
      storedLeft_ -= n;
      if (limited) {
        return TInflateStatus::kOutputLimit;
      }
      if (storedLeft_ != 0 && in_ == inEnd_) {
        return TInflateStatus::kTruncated;
      }
    }
    return TInflateStatus::kDone;
  }

  // Decodes one symbol with the given table (any level), consuming its code bits.
  static std::uint32_t Lookup(const std::uint32_t* table, unsigned primaryBits,
                              std::uint64_t bits) {
    std::uint32_t e = table[LowBits(bits, primaryBits)];
    if ((e & kSubTable) != 0) {
      const unsigned sub = (e >> 8) & 0xF;
      e = table[(e >> 16) + LowBits(bits >> primaryBits, sub)] + primaryBits;
    }
    return e;
  }

  TInflateStatus ReadDynamicTables() {
    if (!NeedBits(14)) {
      return TInflateStatus::kTruncated;
    }
    const unsigned nlen = static_cast<unsigned>(LowBits(bits_, 5)) + 257;
    const unsigned ndist = static_cast<unsigned>(LowBits(bits_ >> 5, 5)) + 1;
    const unsigned ncode = static_cast<unsigned>(LowBits(bits_ >> 10, 4)) + 4;
    Drop(14);
    if (nlen > 286 || ndist > 30) {
      return TInflateStatus::kBadData;
    }
    std::array<std::uint8_t, kNumCodeLen> codeLengths{};
    for (unsigned i = 0; i < ncode; ++i) {
      if (!NeedBits(3)) {
        return TInflateStatus::kTruncated;
      }
      codeLengths[kCodeLenOrder[i]] = static_cast<std::uint8_t>(bits_ & 7);
      Drop(3);
    }
    std::array<std::uint32_t, kCodeLenTableSize> codeLenTable{};
    if (!BuildTable(codeLengths.data(), kNumCodeLen, kCodeLenSymbols.data(), kCodeLenBits,
                    codeLenTable.data(), TCodeKind::kCodeLengths)) {
      return TInflateStatus::kBadData;
    }
    std::array<std::uint8_t, kNumLitLen + kNumDist> lengths{};
    unsigned n = 0;
    while (n < nlen + ndist) {
      Refill();
      const std::uint32_t e = codeLenTable[LowBits(bits_, kCodeLenBits)];
      if ((e & kInvalid) != 0) {
        return Intact() ? TInflateStatus::kBadData : TInflateStatus::kTruncated;
      }
      Drop(e & 0x1F);
      const unsigned sym = e >> 16;
      unsigned repeat = 0;
      std::uint8_t value = 0;
      if (sym < 16) {
        lengths[n++] = static_cast<std::uint8_t>(sym);
        if (!Intact()) {
          return TInflateStatus::kTruncated;
        }
        continue;
      }
      if (sym == 16) {
        if (n == 0) {
          return TInflateStatus::kBadData;
        }
        value = lengths[n - 1];
        repeat = 3 + static_cast<unsigned>(LowBits(bits_, 2));
        Drop(2);
      } else if (sym == 17) {
        repeat = 3 + static_cast<unsigned>(LowBits(bits_, 3));
        Drop(3);
      } else {
        repeat = 11 + static_cast<unsigned>(LowBits(bits_, 7));
        Drop(7);
      }
      if (!Intact()) {
        return TInflateStatus::kTruncated;
      }
      if (repeat > nlen + ndist - n) {
        return TInflateStatus::kBadData;
      }
      std::fill_n(lengths.begin() + n, repeat, value);
      n += repeat;
    }
    if (lengths[256] == 0) {
      return TInflateStatus::kBadData; // no end-of-block code
    }
    if (!BuildTable(lengths.data(), nlen, kLitLenSymbols.data(), kLitLenBits, litLen_.data(),
                    TCodeKind::kLitLen) ||
        !BuildTable(lengths.data() + nlen, ndist, kDistSymbols.data(), kDistBits, dist_.data(),
                    TCodeKind::kDist)) {
      return TInflateStatus::kBadData;
    }
    return TInflateStatus::kDone;
  }

  // Copies a match of `len` bytes from `dist` back; the fast form may write up to kCopySlack
  // bytes past the end, which the caller has room for.
  static void CopyMatchFast(std::uint8_t* out, std::size_t dist, std::size_t len) {
    const std::uint8_t* src = out - dist;
    std::uint8_t* const end = out + len;
    if (dist >= 16) {
      do {
        std::memcpy(out, src, 16);
        out += 16;
        src += 16;
      } while (out < end);
    } else if (dist >= 8) {
      do {
        std::memcpy(out, src, 8);
        out += 8;
        src += 8;
      } while (out < end);
    } else if (dist == 1) {
      std::memset(out, *src, len);
    } else {
      do {
        *out++ = *src++;
      } while (out < end);
    }
  }

  TInflateStatus Codes(const std::uint32_t* litLen, const std::uint32_t* dist) {
    for (;;) {
      // Fast loop: input for two refills, output for a longest match plus over-copy, and no
      // chance of crossing the limit.
      while (inEnd_ - in_ >= static_cast<std::ptrdiff_t>(kFastInput) &&
             limitEnd_ - pos_ >= kMaxMatch && capEnd_ - pos_ >= kMaxMatch + kCopySlack &&
             pos_ < pauseEnd_) {
        std::uint8_t* out = base_ + pos_;
        std::uint8_t* const outFastEnd =
            base_ + std::min({limitEnd_ - kMaxMatch, capEnd_ - kMaxMatch - kCopySlack, pauseEnd_});
        const std::uint8_t* const inFastEnd = inEnd_ - kFastInput;
        TInflateStatus status = TInflateStatus::kDone;
        bool blockEnd = false;
        do {
          Refill();
          std::uint32_t e = litLen[LowBits(bits_, kLitLenBits)];
          if ((e & kSubTable) != 0) {
            Drop(kLitLenBits);
            e = litLen[(e >> 16) + LowBits(bits_, (e >> 8) & 0xF)];
          }
          Drop(e & 0x1F);
          if ((e & kLiteral) != 0) {
            *out++ = static_cast<std::uint8_t>(e >> 16);
            // A second literal fits in the bits left after one refill.
            e = litLen[LowBits(bits_, kLitLenBits)];
            if ((e & kLiteral) == 0) {
              continue;
            }
            Drop(e & 0x1F);
            *out++ = static_cast<std::uint8_t>(e >> 16);
            continue;
          }
          if ((e & kSpecial) != 0) {
            if ((e & kEndOfBlock) != 0) {
              blockEnd = true;
            } else {
              status = TInflateStatus::kBadData;
            }
            break;
          }
          const std::size_t len = (e >> 16) + LowBits(bits_, (e >> 8) & 0xF);
          Drop((e >> 8) & 0xF);
          if (count_ < 28 + 15) {
            Refill();
          }
          std::uint32_t d = dist[LowBits(bits_, kDistBits)];
          if ((d & kSubTable) != 0) {
            Drop(kDistBits);
            d = dist[(d >> 16) + LowBits(bits_, (d >> 8) & 0xF)];
          }
          Drop(d & 0x1F);
          if ((d & kInvalid) != 0) {
            status = TInflateStatus::kBadData;
            break;
          }
          const std::size_t distance = (d >> 16) + LowBits(bits_, (d >> 8) & 0xF);
          Drop((d >> 8) & 0xF);
          if (distance > static_cast<std::size_t>(out - (base_ + start_))) {
            status = TInflateStatus::kBadData;
            break;
          }
          CopyMatchFast(out, distance, len);
          out += len;
        } while (out < outFastEnd && in_ < inFastEnd);
        pos_ = static_cast<std::size_t>(out - base_);
        if (blockEnd) {
          return TInflateStatus::kDone;
        }
        if (status != TInflateStatus::kDone) {
          return status;
        }
      }
      // Checked loop: one symbol, every bound tested.
      if (pos_ >= pauseEnd_) {
        return TInflateStatus::kPaused;
      }
      Refill();
      const std::uint32_t e = Lookup(litLen, kLitLenBits, bits_);
      Drop(e & 0x1F);
      if (!Intact()) {
        return TInflateStatus::kTruncated;
      }
      if ((e & kLiteral) != 0) {
        if (pos_ >= limitEnd_) {
          return TInflateStatus::kOutputLimit;
        }
        Grow(1);
        base_[pos_++] = static_cast<std::uint8_t>(e >> 16);
        continue;
      }
      if ((e & kEndOfBlock) != 0) {
        return TInflateStatus::kDone;
      }
      if ((e & kInvalid) != 0) {
        return TInflateStatus::kBadData;
      }
      const std::size_t len = (e >> 16) + LowBits(bits_, (e >> 8) & 0xF);
      Drop((e >> 8) & 0xF);
      Refill();
      const std::uint32_t d = Lookup(dist, kDistBits, bits_);
      Drop(d & 0x1F);
      if ((d & kInvalid) != 0) {
        return Intact() ? TInflateStatus::kBadData : TInflateStatus::kTruncated;
      }
      const std::size_t distance = (d >> 16) + LowBits(bits_, (d >> 8) & 0xF);
      Drop((d >> 8) & 0xF);
      if (!Intact()) {
        return TInflateStatus::kTruncated;
      }
      if (distance > pos_ - start_) {
        return TInflateStatus::kBadData;
      }
      const std::size_t n = std::min(len, limitEnd_ - pos_);
      Grow(n);
      const std::uint8_t* src = base_ + pos_ - distance;
      std::uint8_t* dst = base_ + pos_;
      for (std::size_t i = 0; i < n; ++i) {
        dst[i] = src[i];
      }
      pos_ += n;
      if (n < len) {
        return TInflateStatus::kOutputLimit;
      }
    }
  }

  const std::uint8_t* inStart_;
  const std::uint8_t* in_;
  const std::uint8_t* inEnd_;
  std::uint64_t bits_ = 0;
  unsigned count_ = 0;
  std::size_t overrun_ = 0; // zero bytes fed past the end of the input
  bytes::TMemoryStream& stream_;
  std::uint8_t* base_ = nullptr;
  std::size_t start_ = 0;
  std::size_t pos_ = 0;
  std::size_t limitEnd_ = 0;
  std::size_t capEnd_ = 0;
  // Decoding state between pieces.
  TBlock block_ = TBlock::kHeader;
  bool final_ = false;
  std::size_t storedLeft_ = 0;
  std::size_t pauseEnd_ = std::numeric_limits<std::size_t>::max();
  std::size_t pieceSize_ = 0;
  std::size_t dropped_ = 0; // bytes dropped from the front of the buffer
  bool stopped_ = false;
  TInflateStatus stopStatus_ = TInflateStatus::kDone;
  // The dynamic block's tables, left unfilled until its header builds them: BuildTable writes
  // every entry a decode can reach (the whole primary table, and each sub-table it points to),
  // and a block decodes only after both were built. Zeroing their 43 KB for every archive entry
  // opened cost a package of many small parts a fifth of its time.
  std::array<std::uint32_t, kLitLenTableSize> litLen_;
  std::array<std::uint32_t, kDistTableSize> dist_;
};

} // namespace

TInflateResult Inflate(std::span<const std::uint8_t> input, bytes::TMemoryStream& out,
                       std::uint64_t limit, std::uint64_t sizeHint) {
  auto inflater = std::make_unique<TInflater>(input, out, limit, sizeHint);
  return inflater->Run();
}

class TInflateStream::TImpl {
public:
  TImpl(std::span<const std::uint8_t> input, std::uint64_t limit, std::size_t pieceSize, bool ahead,
        TObserver observe)
      : inflater_(input, buffer_, limit, 2 * TInflater::kWindow + pieceSize + kMaxMatch),
        observe_(std::move(observe)) {
    inflater_.SetPieceSize(pieceSize);
    if (ahead) {
      try {
        worker_ = std::thread([this] { DecodeAhead(); });
        ahead_ = true;
      } catch (const std::system_error&) {
        // No thread to be had: the pieces are decoded as they are asked for.
      }
    }
  }
  ~TImpl() {
    if (ahead_) {
      {
        const std::lock_guard lock(mutex_);
        stop_ = true;
      }
      changed_.notify_all();
      worker_.join();
    }
  }
  TImpl(const TImpl&) = delete;
  TImpl& operator=(const TImpl&) = delete;

  std::span<const std::uint8_t> Next() {
    if (!ahead_) {
      const std::span<const std::uint8_t> piece = inflater_.NextPiece(status_);
      if (observe_ && !piece.empty()) {
        observe_(piece);
      }
      return piece;
    }
    std::unique_lock lock(mutex_);
    if (holding_) {
      if (slots_[reading_].size == 0) {
        return {}; // the last piece was the end
      }
      holding_ = false;
      --filled_;
      reading_ = (reading_ + 1) % kSlots;
      changed_.notify_all();
    }
    changed_.wait(lock, [&] { return filled_ != 0 || error_; });
    if (filled_ == 0) {
      std::rethrow_exception(error_);
    }
    holding_ = true;
    const TSlot& slot = slots_[reading_];
    result_ = slot.result;
    return {slot.bytes.get() + kRoomBefore, slot.size};
  }
  // In step with the pieces handed out, however far the decoding has gone ahead.
  TInflateResult Result() const { return ahead_ ? result_ : inflater_.Result(status_); }
  std::size_t RoomBefore() const { return ahead_ ? kRoomBefore : 0; }

private:
  static constexpr std::size_t kSlots = 3; // one with the caller, two decoded ahead
  struct TSlot {
    std::unique_ptr<std::uint8_t[]> bytes;
    std::size_t capacity = 0;
    std::size_t size = 0;
    TInflateResult result;
  };

  // The second thread: decodes into the free slots until the stream stops (the end is handed
  // over as an empty piece), a failure (handed over once the pieces before it are taken) or
  // the stream is dropped.
  void DecodeAhead() {
    std::size_t writing = 0;
    for (;;) {
      {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return stop_ || filled_ < kSlots; });
        if (stop_) {
          return;
        }
      }
      TSlot& slot = slots_[writing];
      try {
        TInflateStatus status = TInflateStatus::kPaused;
        const std::span<const std::uint8_t> piece = inflater_.NextPiece(status);
        if (piece.size() > slot.capacity) {
          slot.bytes = std::make_unique_for_overwrite<std::uint8_t[]>(kRoomBefore + piece.size());
          slot.capacity = piece.size();
        }
        std::copy(piece.begin(), piece.end(), slot.bytes.get() + kRoomBefore);
        slot.size = piece.size();
        if (observe_ && !piece.empty()) {
          observe_(piece);
        }
        slot.result = inflater_.Result(status);
      } catch (...) {
        const std::lock_guard lock(mutex_);
        error_ = std::current_exception();
        changed_.notify_all();
        return;
      }
      const bool end = slot.size == 0;
      {
        const std::lock_guard lock(mutex_);
        ++filled_;
      }
      changed_.notify_all();
      if (end) {
        return;
      }
      writing = (writing + 1) % kSlots;
    }
  }

  bytes::TMemoryStream buffer_; // declared first: the inflater writes into it
  TInflater inflater_;
  TInflateStatus status_ = TInflateStatus::kPaused;
  TObserver observe_;
  TInflateResult result_{TInflateStatus::kPaused, 0, 0};
  // Decoding ahead: the slots from `reading_` on, `filled_` of them, are decoded and not yet
  // given back (the first is the caller's while `holding_`); the guarded fields change only
  // under `mutex_`.
  bool ahead_ = false;
  std::array<TSlot, kSlots> slots_;
  std::size_t reading_ = 0;
  std::size_t filled_ = 0;
  bool holding_ = false;
  bool stop_ = false;
  std::exception_ptr error_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::thread worker_; // last: started once everything it uses exists
};

TInflateStream::TInflateStream(std::span<const std::uint8_t> input, std::uint64_t limit,
                               std::size_t pieceSize, bool ahead, TObserver observe)
    : impl_(std::make_unique<TImpl>(input, limit,
                                    std::clamp<std::size_t>(pieceSize, 1, kMaxPieceSize), ahead,
                                    std::move(observe))) {}
TInflateStream::~TInflateStream() = default;
std::size_t TInflateStream::RoomBefore() const {
  return impl_->RoomBefore();
}
std::span<const std::uint8_t> TInflateStream::Next() {
  return impl_->Next();
}
TInflateResult TInflateStream::Result() const {
  return impl_->Result();
}

// NOLINTEND(cppcoreguidelines-pro-bounds-pointer-arithmetic)

} // namespace scv::codecs
