// Bounded little-endian reader over an untrusted byte buffer: the one checked cursor every
// parser reads through, and checked loads at an offset for random access.
#pragma once

#include "bytes/FormatError.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

namespace scv::bytes {

// Reads little-endian values from a borrowed buffer. A read that needs more bytes than remain
// fails: it returns 0, does not move, and marks the cursor failed for good (sticky), so a parser
// reads its fixed fields straight through and checks Ok() once. The first failure is recorded
// (where, how many bytes were wanted, how many there were) for the error that reports it;
// `base` is the buffer's offset in the whole input, so that the offsets reported are the
// input's.
class TByteCursor {
public:
  TByteCursor() = default;
  explicit TByteCursor(std::span<const std::uint8_t> bytes, std::uint64_t base = 0)
      : bytes_(bytes), base_(base) {}

  std::uint8_t ReadU8() {
    if (!Need(1)) {
      return 0;
    }
    return bytes_[pos_++];
  }

  std::uint16_t ReadU16() {
    if (!Need(2)) {
      return 0;
    }
    const auto p = bytes_.subspan(pos_, 2);
    pos_ += 2;
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
  }

  std::uint32_t ReadU32() {
    if (!Need(4)) {
      return 0;
    }
    const auto p = bytes_.subspan(pos_, 4);
    pos_ += 4;
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[3]} << 24;
  }

  std::uint64_t ReadU64() {
    if (!Need(8)) {
      return 0;
    }
    const std::uint64_t lo = ReadU32();
    const std::uint64_t hi = ReadU32();
    return lo | hi << 32;
  }

  std::int16_t ReadI16() { return static_cast<std::int16_t>(ReadU16()); }
  std::int32_t ReadI32() { return static_cast<std::int32_t>(ReadU32()); }

  double ReadF64() {
    const std::uint64_t bits = ReadU64();
    double value = 0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }

  // Moves on by n bytes; fails (sticky) when fewer remain.
  bool Skip(std::size_t n) {
    if (!Need(n)) {
      return false;
    }
    pos_ += n;
    return true;
  }

  // Moves to an offset of the buffer; fails (sticky) beyond the end.
  bool SeekTo(std::size_t offset) {
    if (failed_ || offset > bytes_.size()) {
      Fail(offset > pos_ ? offset - pos_ : 0);
      return false;
    }
    pos_ = offset;
    return true;
  }

  // The next n bytes, consumed; empty and failed when fewer remain.
  std::span<const std::uint8_t> Take(std::size_t n) {
    if (!Need(n)) {
      return {};
    }
    const auto p = bytes_.subspan(pos_, n);
    pos_ += n;
    return p;
  }

  // A sub-cursor over bytes [offset, offset + len) of the whole buffer, cut to what exists.
  TByteCursor Slice(std::size_t offset, std::size_t len) const {
    if (offset > bytes_.size()) {
      return TByteCursor({}, base_ + bytes_.size());
    }
    const std::size_t avail = bytes_.size() - offset;
    return TByteCursor(bytes_.subspan(offset, len < avail ? len : avail), base_ + offset);
  }

  bool Ok() const { return !failed_; }
  std::size_t Offset() const { return pos_; }
  std::size_t Size() const { return bytes_.size(); }
  std::size_t Remaining() const { return bytes_.size() - pos_; }
  std::span<const std::uint8_t> Bytes() const { return bytes_; }
  // The bytes from the position on.
  std::span<const std::uint8_t> Rest() const { return bytes_.subspan(pos_); }
  // Offset of the position in the whole input.
  std::uint64_t InputOffset() const { return base_ + pos_; }

  // The first failure: its offset in the input, the bytes the read wanted there and the bytes
  // there were (all 0 while the cursor is Ok).
  std::uint64_t FailedAt() const { return failedAt_; }
  std::size_t FailedWanted() const { return failedWanted_; }
  std::size_t FailedHad() const { return failedHad_; }
  // "needed N bytes at offset O, had M" (empty while the cursor is Ok).
  std::string FailureText() const {
    if (!failed_) {
      return {};
    }
    std::string text("needed ");
    text.append(std::to_string(failedWanted_)).append(" bytes at offset ");
    text.append(std::to_string(failedAt_)).append(", had ").append(std::to_string(failedHad_));
    return text;
  }
  // Throws EFormatError naming the structure when a read failed.
  void Check(std::string_view structure) const {
    if (failed_) {
      throw EFormatError(structure, failedAt_, FailureText());
    }
  }

private:
  bool Need(std::size_t n) {
    if (failed_ || n > Remaining()) {
      Fail(n);
      return false;
    }
    return true;
  }
  void Fail(std::size_t wanted) {
    if (!failed_) {
      failed_ = true;
      failedAt_ = base_ + pos_;
      failedWanted_ = wanted;
      failedHad_ = Remaining();
    }
  }

  std::span<const std::uint8_t> bytes_;
  std::uint64_t base_ = 0;
  std::size_t pos_ = 0;
  bool failed_ = false;
  std::uint64_t failedAt_ = 0;
  std::size_t failedWanted_ = 0;
  std::size_t failedHad_ = 0;
};

// Little-endian values from the first bytes of a span the caller has checked to hold them
// (the hot loops whose bounds are settled once for many values).
inline std::uint16_t LoadU16(std::span<const std::uint8_t> b) {
  return static_cast<std::uint16_t>(b[0] | b[1] << 8);
}
inline std::uint32_t LoadU32(std::span<const std::uint8_t> b) {
  return std::uint32_t{b[0]} | std::uint32_t{b[1]} << 8 | std::uint32_t{b[2]} << 16 |
         std::uint32_t{b[3]} << 24;
}

// Little-endian values at an offset of a buffer, for random access to fixed fields: bytes
// beyond the end of the buffer read as zero (a field cut short keeps the bytes it has).
inline std::uint32_t LoadPartialAt(std::span<const std::uint8_t> b, std::uint64_t offset,
                                   unsigned size) {
  std::uint32_t value = 0;
  for (unsigned i = 0; i < size && offset < b.size() && i < b.size() - offset; ++i) {
    value |= std::uint32_t{b[static_cast<std::size_t>(offset) + i]} << (8 * i);
  }
  return value;
}
inline std::uint16_t LoadU16At(std::span<const std::uint8_t> b, std::uint64_t offset) {
  if (offset <= b.size() && b.size() - offset >= 2) {
    return LoadU16(b.subspan(static_cast<std::size_t>(offset)));
  }
  return static_cast<std::uint16_t>(LoadPartialAt(b, offset, 2));
}
inline std::uint32_t LoadU32At(std::span<const std::uint8_t> b, std::uint64_t offset) {
  if (offset <= b.size() && b.size() - offset >= 4) {
    return LoadU32(b.subspan(static_cast<std::size_t>(offset)));
  }
  return LoadPartialAt(b, offset, 4);
}

} // namespace scv::bytes
