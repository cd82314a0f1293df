// scvhlp: the WinHelp converter library behind the text-filter interface. The whole input is read
// through the host callbacks when the conversion starts; ReadConverter hands out the UTF-8
// text in pieces.
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>

#include "ScvConverter.h"
#include "hlp/HlpReader.h"

namespace {

// Inputs beyond this are refused rather than held in memory.
constexpr std::uint32_t kMaxInputBytes = 1u << 30;
constexpr std::int32_t kReadChunk = 1 << 20;

struct TConversion {
  std::string text;
  std::size_t offset = 0;
};

// One conversion runs at a time in a process; it lives from CreateConverter to CloseConverter.
std::unique_ptr<TConversion>& Current() {
  static std::unique_ptr<TConversion> conversion;
  return conversion;
}

bool ReadInput(ConverterHost* host, std::string& bytes) {
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
    if (host->HostRead(host, bytes.data() + done, want, &got) != SCV_HOST_OK || got < 0) {
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

} // namespace

extern "C" SCV_EXPORT int32_t SCV_STDCALL CreateConverter(ConverterHost* host) {
  try {
    Current().reset();
    std::string input;
    if (!ReadInput(host, input)) {
      return 1;
    }
    auto conversion = std::make_unique<TConversion>();
    conversion->text = scv::hlp::HlpToUtf8(
        std::span(reinterpret_cast<const std::uint8_t*>(input.data()), input.size()));
    Current() = std::move(conversion);
    return 0;
  } catch (...) {
    Current().reset();
    return 1;
  }
}

extern "C" SCV_EXPORT int32_t SCV_STDCALL ReadConverter(ConverterHost* /*host*/, char* buffer,
                                                        int32_t capacity, int32_t* count) {
  try {
    if (count == nullptr) {
      return 1;
    }
    *count = 0;
    TConversion* conversion = Current().get();
    if (conversion == nullptr || capacity < 0 || (buffer == nullptr && capacity > 0)) {
      return 1;
    }
    const std::size_t left = conversion->text.size() - conversion->offset;
    const std::size_t n = left < static_cast<std::size_t>(capacity) ? left
                                                                    : static_cast<std::size_t>(capacity);
    if (n > 0) {
      std::memcpy(buffer, conversion->text.data() + conversion->offset, n);
      conversion->offset += n;
    }
    *count = static_cast<int32_t>(n);
    return 0;
  } catch (...) {
    return 1;
  }
}

extern "C" SCV_EXPORT int32_t SCV_STDCALL CloseConverter(ConverterHost* /*host*/) {
  Current().reset();
  return 0;
}
