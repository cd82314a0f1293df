// The HTML converter back end: reads the document through the host callbacks, decodes it,
// renders its text and hands the text out in pieces.
#include "HtmlEncoding.h"
#include "HtmlRender.h"
#include "platform/Memory.h"

#include <ScvConverter.h>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>

namespace {

// The one conversion a host runs at a time, from CreateConverter to CloseConverter.
struct TConversion {
  std::string text;
  std::size_t pos = 0;
};
std::unique_ptr<TConversion> Current;

constexpr int32_t kFailed = 1;

// A buffer from platform::AllocateLargeBuffer: a large one is backed by huge pages whole.
struct TFreeBuffer {
  void operator()(char* p) const { std::free(p); } // NOLINT(cppcoreguidelines-owning-memory)
};
using TBuffer = std::unique_ptr<char[], TFreeBuffer>;

TBuffer AllocateBuffer(std::size_t size) {
  TBuffer buffer(static_cast<char*>(scv::platform::AllocateLargeBuffer(size)));
  if (!buffer) {
    throw std::bad_alloc();
  }
  return buffer;
}

// Reads the whole input through the host. False when the host has no file or a read fails.
struct TInput {
  TBuffer data;
  std::size_t size = 0;
};

bool ReadInput(ConverterHost* host, TInput& input) {
  if (host == nullptr || host->HostGetSize == nullptr || host->HostRead == nullptr) {
    return false;
  }
  uint32_t low = 0;
  uint32_t high = 0;
  if (host->HostGetSize(host, &low, &high) != SCV_HOST_OK) {
    return false;
  }
  // The size only sizes the buffer; the reads decide how much there is. A bogus size cannot
  // make us allocate more than a sane first guess, and a file that grew is read to its end.
  const std::uint64_t size = std::uint64_t{high} << 32 | low;
  constexpr std::uint64_t kMaxGuess = 1ull << 30;
  std::size_t capacity = static_cast<std::size_t>(size < kMaxGuess ? size : kMaxGuess) + 1;
  TBuffer buffer = AllocateBuffer(capacity);
  std::size_t used = 0;
  for (;;) {
    if (used == capacity) {
      const std::size_t bigger = capacity * 2;
      TBuffer grown = AllocateBuffer(bigger);
      std::memcpy(grown.get(), buffer.get(), used);
      buffer = std::move(grown);
      capacity = bigger;
    }
    constexpr std::size_t kMaxRead = 1u << 30;
    const std::size_t room = capacity - used < kMaxRead ? capacity - used : kMaxRead;
    int32_t got = 0;
    if (host->HostRead(host, buffer.get() + used, static_cast<int32_t>(room), &got) !=
            SCV_HOST_OK ||
        got < 0) {
      return false;
    }
    if (got == 0) {
      break;
    }
    used += static_cast<std::size_t>(got) < room ? static_cast<std::size_t>(got) : room;
  }
  input.data = std::move(buffer);
  input.size = used;
  return true;
}

} // namespace

extern "C" {

SCV_EXPORT int32_t SCV_STDCALL CreateConverter(ConverterHost* host) {
  try {
    Current.reset();
    TInput input;
    if (!ReadInput(host, input)) {
      return kFailed;
    }
    const std::string_view bytes(input.data.get(), input.size);
    const scv::htm::TEncoding encoding = scv::htm::DetectEncoding(bytes);
    auto conversion = std::make_unique<TConversion>();
    // Most pages are clean UTF-8 already: they go to the parser as read.
    if (encoding.parserReady) {
      conversion->text = scv::htm::RenderHtml(bytes);
    } else {
      std::string utf8 = scv::htm::DecodeToUtf8(bytes, encoding);
      input = TInput{};
      conversion->text = scv::htm::RenderHtml(utf8);
    }
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
  text.copy(buffer, n, Current->pos);
  Current->pos += n;
  *count = static_cast<int32_t>(n);
  return 0;
}

SCV_EXPORT int32_t SCV_STDCALL CloseConverter(ConverterHost* /*host*/) {
  Current.reset();
  return 0;
}

} // extern "C"
