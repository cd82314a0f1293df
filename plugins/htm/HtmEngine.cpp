// The HTML converter back end: reads the document through the host callbacks, decodes it,
// renders its text and hands the text out in pieces.
#include <ScvConverter.h>

#include <cstring>
#include <memory>
#include <string>

#include "HtmlEncoding.h"
#include "HtmlRender.h"

namespace {

// The one conversion a host runs at a time, from CreateConverter to CloseConverter.
struct TConversion {
  std::string text;
  std::size_t pos = 0;
};
std::unique_ptr<TConversion> Current;

constexpr int32_t kFailed = 1;

// Reads the whole input through the host. False when the host has no file or a read fails.
bool ReadInput(ConverterHost* host, std::string& bytes) {
  if (host == nullptr || host->HostGetSize == nullptr || host->HostRead == nullptr) {
    return false;
  }
  uint32_t low = 0;
  uint32_t high = 0;
  if (host->HostGetSize(host, &low, &high) != SCV_HOST_OK) {
    return false;
  }
  // The size only sizes the first allocation; the reads decide how much there is. A bogus
  // size cannot make us allocate more than a sane first guess.
  const std::uint64_t size = std::uint64_t{high} << 32 | low;
  constexpr std::uint64_t kMaxReserve = 1ull << 30;
  bytes.reserve(static_cast<std::size_t>(size < kMaxReserve ? size : kMaxReserve));
  constexpr int32_t kBlock = 1 << 20;
  for (;;) {
    const std::size_t old = bytes.size();
    bytes.resize(old + kBlock);
    int32_t got = 0;
    if (host->HostRead(host, bytes.data() + old, kBlock, &got) != SCV_HOST_OK || got < 0) {
      return false;
    }
    bytes.resize(old + static_cast<std::size_t>(got < kBlock ? got : kBlock));
    if (got == 0) {
      return true;
    }
  }
}

} // namespace

extern "C" {

SCV_EXPORT int32_t SCV_STDCALL CreateConverter(ConverterHost* host) {
  try {
    Current.reset();
    std::string bytes;
    if (!ReadInput(host, bytes)) {
      return kFailed;
    }
    const scv::htm::TEncoding encoding = scv::htm::DetectEncoding(bytes);
    std::string utf8 = scv::htm::DecodeToUtf8(bytes, encoding);
    std::string().swap(bytes);
    auto conversion = std::make_unique<TConversion>();
    conversion->text = scv::htm::RenderHtml(std::move(utf8));
    Current = std::move(conversion);
    return 0;
  } catch (...) {
    Current.reset();
    return kFailed;
  }
}

SCV_EXPORT int32_t SCV_STDCALL ReadConverter(ConverterHost* /*host*/, char* buffer,
                                             int32_t capacity, int32_t* count) {
  if (count == nullptr) {
    return kFailed;
  }
  *count = 0;
  if (!Current) {
    return kFailed;
  }
  const std::string& text = Current->text;
  std::size_t n = text.size() - Current->pos;
  if (n == 0) {
    return 0;
  }
  if (capacity <= 0 || buffer == nullptr) {
    return kFailed;
  }
  if (n > static_cast<std::size_t>(capacity)) {
    n = static_cast<std::size_t>(capacity);
    // End the piece on a character boundary, so each piece is UTF-8 on its own.
    std::size_t cut = n;
    while (cut > 0 && (static_cast<unsigned char>(text[Current->pos + cut]) & 0xC0) == 0x80) {
      --cut;
    }
    if (cut > 0) {
      n = cut;
    }
  }
  std::memcpy(buffer, text.data() + Current->pos, n);
  Current->pos += n;
  *count = static_cast<int32_t>(n);
  return 0;
}

SCV_EXPORT int32_t SCV_STDCALL CloseConverter(ConverterHost* /*host*/) {
  Current.reset();
  return 0;
}

} // extern "C"
