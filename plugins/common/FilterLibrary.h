// The text-filter exports shared by our converter libraries: the whole input is read through
// the host callbacks when a conversion starts, and ReadConverter hands out the UTF-8 text in
// pieces. Each library includes this once, from the unit that defines its exports.
#pragma once

#include "ScvConverter.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>

namespace scv::plugin {

// Inputs beyond this are refused rather than held in memory.
inline constexpr std::uint32_t kMaxInputBytes = 1u << 30;
inline constexpr std::int32_t kReadChunk = 1 << 20;

struct TConversion {
  std::string text;
  std::size_t offset = 0;
};

// One conversion runs at a time in a process; it lives from CreateConverter to CloseConverter.
inline std::unique_ptr<TConversion>& Current() {
  static std::unique_ptr<TConversion> conversion;
  return conversion;
}

inline bool ReadInput(ConverterHost* host, std::string& bytes) {
  if (host == nullptr || host->HostGetSize == nullptr || host->HostRead == nullptr) {
    return false;
  }
  std::uint32_t low = 0;
  std::uint32_t high = 0;
  if (host->HostGetSize(host, &low, &high) != SCV_HOST_OK || high != 0 || low > kMaxInputBytes) {
    return false;
  }
  bytes.resize(low);
  std::size_t done = 0;
  while (done < bytes.size()) {
    const std::size_t left = bytes.size() - done;
    const auto want = static_cast<std::int32_t>(left < kReadChunk ? left : kReadChunk);
    std::int32_t got = 0;
    if (host->HostRead(host, std::span(bytes).subspan(done).data(), want, &got) != SCV_HOST_OK ||
        got < 0) {
      return false;
    }
    if (got == 0) {
      break; // the file shrank: convert what is there
    }
    done += static_cast<std::size_t>(got > want ? want : got);
  }
  bytes.resize(done);
  return true;
}

// CreateConverter: reads the input and converts it whole with convert(input) -> UTF-8 text.
// 0 on success, 1 when the input cannot be read or converted.
template <typename TConvert> std::int32_t CreateConversion(ConverterHost* host, TConvert convert) {
  try {
    Current().reset();
    std::string input;
    if (!ReadInput(host, input)) {
      return 1;
    }
    auto conversion = std::make_unique<TConversion>();
    conversion->text = convert(input);
    Current() = std::move(conversion);
    return 0;
  } catch (...) {
    Current().reset();
    return 1;
  }
}

// ReadConverter: the next piece of at most capacity bytes; *count 0 when the text is exhausted.
inline std::int32_t ReadConversion(char* buffer, std::int32_t capacity, std::int32_t* count) {
  if (count == nullptr) {
    return 1;
  }
  *count = 0;
  TConversion* conversion = Current().get();
  if (conversion == nullptr || capacity < 0 || (buffer == nullptr && capacity > 0)) {
    return 1;
  }
  const std::size_t left = conversion->text.size() - conversion->offset;
  const std::size_t n =
      left < static_cast<std::size_t>(capacity) ? left : static_cast<std::size_t>(capacity);
  if (n > 0) {
    std::memcpy(buffer, std::span(conversion->text).subspan(conversion->offset).data(), n);
    conversion->offset += n;
  }
  *count = static_cast<std::int32_t>(n);
  return 0;
}

inline std::int32_t CloseConversion() {
  Current().reset();
  return 0;
}

} // namespace scv::plugin
