// Bounded little-endian reader over the bytes of a help file: reads past the end yield zero
// and mark the cursor failed, so a parser checks once after reading its fixed fields.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace scv::hlp {

class THlpCursor {
public:
  THlpCursor() = default;
  explicit THlpCursor(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

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
    const auto v = static_cast<std::uint16_t>(bytes_[pos_] | bytes_[pos_ + 1] << 8);
    pos_ += 2;
    return v;
  }
  std::int16_t ReadI16() { return static_cast<std::int16_t>(ReadU16()); }
  std::uint32_t ReadU32() {
    if (!Need(4)) {
      return 0;
    }
    const auto p = bytes_.subspan(pos_, 4);
    pos_ += 4;
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[3]} << 24;
  }
  std::int32_t ReadI32() { return static_cast<std::int32_t>(ReadU32()); }

  // Compressed integers of topic records: one byte (or two) with the low bit telling which.
  std::uint32_t ReadCompressedU16() {
    const std::uint8_t b = ReadU8();
    if ((b & 1) == 0) {
      return b / 2u;
    }
    return b / 2u + 128u * ReadU8();
  }
  std::int32_t ReadCompressedI16() {
    const std::uint8_t b = ReadU8();
    if ((b & 1) == 0) {
      return b / 2 - 64;
    }
    return b / 2 + 128 * ReadU8() - 16384;
  }
  std::uint32_t ReadCompressedU32() {
    const std::uint16_t w = ReadU16();
    if ((w & 1) == 0) {
      return w / 2u;
    }
    return w / 2u + 32768u * ReadU16();
  }
  std::int32_t ReadCompressedI32() {
    const std::uint16_t w = ReadU16();
    if ((w & 1) == 0) {
      return w / 2 - 16384;
    }
    return static_cast<std::int32_t>(w / 2 + 32768 * static_cast<std::int64_t>(ReadU16()) -
                                     67108864);
  }

  // A zero-terminated string; without a terminator the rest of the bytes.
  std::string ReadStringZ() {
    std::string s;
    while (pos_ < bytes_.size()) {
      const std::uint8_t c = bytes_[pos_++];
      if (c == 0) {
        return s;
      }
      s.push_back(static_cast<char>(c));
    }
    return s;
  }

  void Skip(std::size_t n) {
    if (Need(n)) {
      pos_ += n;
    }
  }
  void Seek(std::size_t pos) {
    if (pos > bytes_.size()) {
      failed_ = true;
      pos_ = bytes_.size();
      return;
    }
    pos_ = pos;
  }
  bool Ok() const { return !failed_; }
  std::size_t Offset() const { return pos_; }
  std::size_t Remaining() const { return bytes_.size() - pos_; }
  std::size_t Size() const { return bytes_.size(); }

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

} // namespace scv::hlp
