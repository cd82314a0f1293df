// CRC-32 (the ZIP/IEEE 802.3 polynomial, reflected 0xEDB88320).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace scv::zip {

// Continues a CRC over more bytes: start with crc = 0; Crc32Update(Crc32Update(0, a), b) is
// the CRC of a followed by b.
std::uint32_t Crc32Update(std::uint32_t crc, std::span<const std::uint8_t> bytes);

inline std::uint32_t Crc32(std::span<const std::uint8_t> bytes) {
  return Crc32Update(0, bytes);
}

// The plain one-byte-at-a-time form, kept as the reference the fast path is checked against.
std::uint32_t Crc32Bytewise(std::uint32_t crc, std::span<const std::uint8_t> bytes);

} // namespace scv::zip
