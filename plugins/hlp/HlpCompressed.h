// The value forms of help files read through the shared cursor: the compressed integers of
// topic records and zero-terminated strings.
#pragma once

#include "bytes/ByteCursor.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace scv::hlp {

// Compressed integers of topic records: one byte (or two) with the low bit telling which.
inline std::uint32_t ReadCompressedU16(bytes::TByteCursor& cur) {
  const std::uint8_t b = cur.ReadU8();
  if ((b & 1) == 0) {
    return b / 2u;
  }
  return b / 2u + 128u * cur.ReadU8();
}
inline std::int32_t ReadCompressedI16(bytes::TByteCursor& cur) {
  const std::uint8_t b = cur.ReadU8();
  if ((b & 1) == 0) {
    return b / 2 - 64;
  }
  return b / 2 + 128 * cur.ReadU8() - 16384;
}
inline std::uint32_t ReadCompressedU32(bytes::TByteCursor& cur) {
  const std::uint16_t w = cur.ReadU16();
  if ((w & 1) == 0) {
    return w / 2u;
  }
  return w / 2u + 32768u * cur.ReadU16();
}
inline std::int32_t ReadCompressedI32(bytes::TByteCursor& cur) {
  const std::uint16_t w = cur.ReadU16();
  if ((w & 1) == 0) {
    return w / 2 - 16384;
  }
  return static_cast<std::int32_t>(w / 2 + 32768 * static_cast<std::int64_t>(cur.ReadU16()) -
                                   67108864);
}

// A zero-terminated string; without a terminator the rest of the bytes. A failed cursor gives
// an empty string.
inline std::string ReadStringZ(bytes::TByteCursor& cur) {
  if (!cur.Ok()) {
    return {};
  }
  const auto rest = cur.Rest();
  std::size_t n = 0;
  while (n < rest.size() && rest[n] != 0) {
    ++n;
  }
  std::string s(reinterpret_cast<const char*>(rest.data()), n);
  cur.Skip(n < rest.size() ? n + 1 : n);
  return s;
}

} // namespace scv::hlp
