// An in-memory converter host for the filter library fuzzers: one conversion through the
// three exports, reading the text in small pieces as the bridge would.
#pragma once

#include "ScvConverter.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>

namespace scv::fuzz {

struct TFuzzHost {
  ConverterHost host{}; // first member: the callbacks find the bytes from its address
  AppDataType appData{};
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
  std::size_t pos = 0;

  TFuzzHost(const std::uint8_t* d, std::size_t n) : data(d), size(n) {
    host.size = sizeof(ConverterHost);
    host.appData = &appData;
    host.HostGetSize = [](ConverterHost* h, uint32_t* low, uint32_t* high) -> int32_t {
      auto& m = *reinterpret_cast<TFuzzHost*>(h);
      *low = static_cast<uint32_t>(m.size);
      *high = 0;
      m.pos = 0;
      return SCV_HOST_OK;
    };
    host.HostSeek = [](ConverterHost* h, int32_t* offset, int32_t, int32_t origin) -> int32_t {
      auto& m = *reinterpret_cast<TFuzzHost*>(h);
      const std::int64_t base = origin == 0   ? 0
                                : origin == 1 ? static_cast<std::int64_t>(m.pos)
                                              : static_cast<std::int64_t>(m.size);
      const std::int64_t to = base + *offset;
      m.pos = to < 0 ? 0 : static_cast<std::size_t>(to);
      return SCV_HOST_OK;
    };
    host.HostRead = [](ConverterHost* h, void* buffer, int32_t count, int32_t* got) -> int32_t {
      auto& m = *reinterpret_cast<TFuzzHost*>(h);
      const std::size_t left = m.pos < m.size ? m.size - m.pos : 0;
      const std::size_t take =
          count < 0 ? 0 : std::min<std::size_t>(left, static_cast<std::size_t>(count));
      if (take > 0) {
        std::memcpy(buffer, std::span(m.data, m.size).subspan(m.pos).data(), take);
      }
      m.pos += take;
      *got = static_cast<int32_t>(take);
      return SCV_HOST_OK;
    };
    host.HostQueryText = [](ConverterHost*, char* destination, int32_t) -> int32_t {
      *destination = '\0';
      return 0;
    };
    host.HostGetCodePage = [](ConverterHost*) -> int32_t { return SCV_CODEPAGE_UTF8; };
    appData.fileHandle = 3;
    appData.codePage = SCV_CODEPAGE_UTF8;
  }
};

// Runs one conversion; the text must be valid UTF-8 or the process aborts.
inline void RunConversion(const std::uint8_t* data, std::size_t size) {
  TFuzzHost host(data, size);
  std::string text;
  if (CreateConverter(&host.host) == 0) {
    char buffer[4096];
    int32_t count = 0;
    while (ReadConverter(&host.host, buffer, sizeof buffer, &count) == 0 && count > 0) {
      text.append(buffer, static_cast<std::size_t>(count));
    }
  }
  CloseConverter(&host.host);
  std::size_t i = 0;
  while (i < text.size()) {
    const auto b = static_cast<unsigned char>(text[i]);
    const std::size_t n = b < 0x80         ? 1
                          : (b >> 5) == 6  ? 2
                          : (b >> 4) == 14 ? 3
                          : (b >> 3) == 30 ? 4
                                           : 0;
    if (n == 0 || i + n > text.size()) {
      __builtin_trap();
    }
    for (std::size_t k = 1; k < n; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
        __builtin_trap();
      }
    }
    i += n;
  }
}

} // namespace scv::fuzz
