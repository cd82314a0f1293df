// Bounded little-endian reader over an untrusted byte buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace scv::bytes {

// Reads little-endian values from a borrowed buffer. A read that needs more bytes than remain
// fails: it returns 0, does not move, and marks the cursor failed for good (sticky), so a parser
// reads its fixed fields straight through and checks Ok() once.
class TByteCursor {
public:
  TByteCursor() = default;
  explicit TByteCursor(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

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

  // Moves to an absolute offset; fails (sticky) beyond the end.
  bool SeekTo(std::size_t offset) {
    if (failed_ || offset > bytes_.size()) {
      failed_ = true;
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
      return TByteCursor();
    }
    const std::size_t avail = bytes_.size() - offset;
    return TByteCursor(bytes_.subspan(offset, len < avail ? len : avail));
  }

  bool Ok() const { return !failed_; }
  std::size_t Offset() const { return pos_; }
  std::size_t Size() const { return bytes_.size(); }
  std::size_t Remaining() const { return bytes_.size() - pos_; }
  std::span<const std::uint8_t> Bytes() const { return bytes_; }

private:
  bool Need(std::size_t n) {
    if (failed_ || n > Remaining()) {
      failed_ = true;
      return false;
    }
    return true;
  }

  std::span<const std::uint8_t> bytes_;
  std::size_t pos_ = 0;
  bool failed_ = false;
};

// Little-endian loads from a buffer the caller has checked to hold the bytes.
inline std::uint16_t LoadU16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
inline std::uint32_t LoadU32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}

} // namespace scv::bytes
