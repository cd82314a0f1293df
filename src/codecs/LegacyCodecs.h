// Decoders of the early ZIP compression methods: shrinking (LZW), reducing (follower sets with
// run-length expansion) and imploding (Shannon-Fano coded sliding dictionary).
#pragma once

#include "bytes/MemoryStream.h"
#include "codecs/Inflate.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

namespace scv::codecs {

// Method 1. Codes of 9 to 13 bits; the data ends with the input. Writing stops at `limit`
// (status kOutputLimit when more would follow).
TInflateResult Unshrink(std::span<const std::uint8_t> input, bytes::TMemoryStream& out,
                        std::uint64_t limit);

// Methods 2 to 5 (compression factor 1 to 4). The format has no end mark: exactly `size`
// bytes are produced unless the input runs out first (kTruncated).
TInflateResult Unreduce(std::span<const std::uint8_t> input, bytes::TMemoryStream& out,
                        std::uint64_t size, unsigned factor);

// Method 6. `flags` are the entry's general-purpose flags (bit 1: 8 KB dictionary, bit 2:
// literals coded with a third tree). Exactly `size` bytes are produced unless the input runs
// out (kTruncated) or a tree is invalid (kBadData).
TInflateResult Explode(std::span<const std::uint8_t> input, bytes::TMemoryStream& out,
                       std::uint64_t size, std::uint16_t flags);

namespace legacy {

// Bits least significant first, as all three methods store them. Reading past the end gives
// zero bits and sets the overrun mark.
class TLsbBitReader {
public:
  explicit TLsbBitReader(std::span<const std::uint8_t> input) : input_(input) {}
  std::uint32_t Read(unsigned n) {
    while (count_ < n) {
      std::uint32_t b = 0;
      if (pos_ < input_.size()) {
        b = input_[pos_];
      } else {
        overrun_ = true;
      }
      ++pos_;
      bits_ |= std::uint64_t{b} << count_;
      count_ += 8;
    }
    const auto v = static_cast<std::uint32_t>(bits_ & ((std::uint64_t{1} << n) - 1));
    bits_ >>= n;
    count_ -= n;
    return v;
  }
  bool Overrun() const { return overrun_; }
  // True when every input bit has been read (only padding may remain).
  bool AtEnd() const { return pos_ >= input_.size() && count_ < 8; }
  std::size_t Consumed() const { return pos_ < input_.size() ? pos_ : input_.size(); }

private:
  std::span<const std::uint8_t> input_;
  std::size_t pos_ = 0;
  std::uint64_t bits_ = 0;
  unsigned count_ = 0;
  bool overrun_ = false;
};

// Appends bytes to a memory stream at its position, growing it geometrically, up to a limit;
// the bytes written form the history that back-references read.
class TOutputSink {
public:
  TOutputSink(bytes::TMemoryStream& out, std::uint64_t limit) : out_(out) {
    start_ = out.Position();
    pos_ = start_;
    end_ = start_ + static_cast<std::size_t>(
                        std::min<std::uint64_t>(limit, bytes::TMemoryStream::kMaxSize - start_));
    base_ =
        std::span(out.Reserve(start_ + std::min<std::size_t>(end_ - start_, kFirstRoom), start_),
                  out.Capacity());
  }
  bool Full() const { return pos_ >= end_; }
  std::size_t Written() const { return pos_ - start_; }
  // Stores one byte; false (nothing stored) when the limit is reached.
  bool Put(std::uint8_t b) {
    if (pos_ >= end_) {
      return false;
    }
    if (pos_ >= base_.size()) {
      base_ = std::span(
          out_.Reserve(std::min(end_, std::max(pos_ + 1, start_ + 2 * (base_.size() - start_))),
                       pos_),
          out_.Capacity());
    }
    base_[pos_++] = b;
    return true;
  }
  // The byte `distance` back (1 = the last one written); zero before the start.
  std::uint8_t Back(std::size_t distance) const {
    return distance <= pos_ - start_ ? base_[pos_ - distance] : 0;
  }
  void Commit() { out_.Commit(pos_); }

private:
  static constexpr std::size_t kFirstRoom = std::size_t{64} * 1024;

  bytes::TMemoryStream& out_;
  std::span<std::uint8_t> base_; // the stream's whole storage
  std::size_t start_ = 0;
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
};

} // namespace legacy

} // namespace scv::codecs
