// Shrunk data (method 1): LZW with codes growing from 9 to 13 bits on the encoder's command
// (256, 1) and partial clearing of leaf codes (256, 2) instead of a full reset.
#include "codecs/LegacyCodecs.h"

#include <array>
#include <vector>

namespace scv::codecs {
namespace {

constexpr unsigned kMinBits = 9;
constexpr unsigned kMaxBits = 13;
constexpr unsigned kCodes = 1u << kMaxBits;
constexpr unsigned kControl = 256;
constexpr unsigned kFirstFree = 257;
constexpr std::uint16_t kFree = 0xFFFF; // prefix mark of an unused code

} // namespace

TInflateResult Unshrink(std::span<const std::uint8_t> input, bytes::TMemoryStream& out,
                        std::uint64_t limit) {
  TInflateResult result;
  legacy::TLsbBitReader bits(input);
  legacy::TOutputSink sink(out, limit);
  // Each code >= 257 is a known code (prefix) plus one byte (suffix).
  std::vector<std::uint16_t> prefix(kCodes, kFree);
  std::vector<std::uint8_t> suffix(kCodes, 0);
  std::vector<std::uint8_t> text(kCodes); // one decoded string, built backwards
  unsigned codeBits = kMinBits;
  unsigned nextFree = kFirstFree;
  int previous = -1;
  std::uint8_t previousFirst = 0;

  auto advanceFree = [&]() {
    while (nextFree < kCodes && prefix[nextFree] != kFree) {
      ++nextFree;
    }
  };

  // A code's string into the end of `text`; returns its start, or kCodes when the code chain
  // is broken (an unused code or a loop).
  auto expand = [&](unsigned code) -> std::size_t {
    std::size_t at = kCodes;
    while (code >= kFirstFree) {
      if (prefix[code] == kFree || at == 1) {
        return kCodes;
      }
      text[--at] = suffix[code];
      code = prefix[code];
    }
    if (code == kControl) {
      return kCodes;
    }
    text[--at] = static_cast<std::uint8_t>(code);
    return at;
  };

  while (!bits.AtEnd()) {
    const unsigned code = bits.Read(codeBits);
    if (bits.Overrun()) {
      break; // the last code was padding
    }
    if (code == kControl) {
      const unsigned command = bits.Read(codeBits);
      if (bits.Overrun()) {
        break;
      }
      if (command == 1) {
        if (codeBits < kMaxBits) {
          ++codeBits;
        }
      } else if (command == 2) {
        // Partial clear: every code that is no other code's prefix becomes free.
        std::vector<bool> isPrefix(kCodes, false);
        for (unsigned c = kFirstFree; c < kCodes; ++c) {
          if (prefix[c] != kFree) {
            isPrefix[prefix[c]] = true;
          }
        }
        for (unsigned c = kFirstFree; c < kCodes; ++c) {
          if (!isPrefix[c]) {
            prefix[c] = kFree;
          }
        }
        nextFree = kFirstFree;
        advanceFree();
      } else {
        result.status = TInflateStatus::kBadData;
        break;
      }
      continue;
    }
    std::size_t start = kCodes;
    bool selfReference = false;
    if (previous < 0) {
      if (code > 255) {
        result.status = TInflateStatus::kBadData;
        break;
      }
      start = expand(code);
    } else if (code >= kFirstFree && prefix[code] == kFree) {
      // The code being defined right now: the previous string plus its own first byte.
      if (code != nextFree) {
        result.status = TInflateStatus::kBadData;
        break;
      }
      selfReference = true;
      start = expand(static_cast<unsigned>(previous));
    } else {
      start = expand(code);
    }
    if (start == kCodes) {
      result.status = TInflateStatus::kBadData;
      break;
    }
    const std::uint8_t first = text[start];
    if (previous >= 0 && nextFree < kCodes) {
      // New code: the previous string plus the first byte of this one.
      prefix[nextFree] = static_cast<std::uint16_t>(previous);
      suffix[nextFree] = selfReference ? previousFirst : first;
      advanceFree();
    }
    bool full = false;
    for (std::size_t i = start; i < kCodes && !full; ++i) {
      full = !sink.Put(text[i]);
    }
    if (selfReference && !full) {
      full = !sink.Put(previousFirst);
    }
    if (full) {
      result.status = TInflateStatus::kOutputLimit;
      break;
    }
    previous = static_cast<int>(code);
    previousFirst = selfReference ? previousFirst : first;
  }
  sink.Commit();
  result.produced = sink.Written();
  result.consumed = bits.Consumed();
  return result;
}

} // namespace scv::codecs
