// Fuzzes the HTML converter library through its exports, the way the filter bridge drives it:
// the input is the document, served through host callbacks; the text is read back in small
// pieces.
#include <ScvConverter.h>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>

namespace {

struct TFuzzHost {
  ConverterHost host{};
  AppDataType appData{};
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
  std::size_t pos = 0;
};

// The host record leads the struct, so the callbacks find the rest from its address.
static_assert(offsetof(TFuzzHost, host) == 0);

TFuzzHost* Self(ConverterHost* host) {
  return reinterpret_cast<TFuzzHost*>(host);
}

int32_t SCV_STDCALL GetSize(ConverterHost* host, uint32_t* low, uint32_t* high) {
  *low = static_cast<uint32_t>(Self(host)->size);
  *high = 0;
  Self(host)->pos = 0;
  return SCV_HOST_OK;
}

int32_t SCV_STDCALL Seek(ConverterHost* host, int32_t* offset, int32_t, int32_t origin) {
  TFuzzHost* self = Self(host);
  const long long base = origin == 1   ? static_cast<long long>(self->pos)
                         : origin == 2 ? static_cast<long long>(self->size)
                                       : 0;
  const long long next = base + *offset;
  if (next >= 0) {
    self->pos = static_cast<std::size_t>(next);
  }
  return SCV_HOST_OK;
}

int32_t SCV_STDCALL Read(ConverterHost* host, void* buffer, int32_t count, int32_t* got) {
  TFuzzHost* self = Self(host);
  const std::size_t left = self->pos < self->size ? self->size - self->pos : 0;
  const std::size_t n = count > 0 && static_cast<std::size_t>(count) < left
                            ? static_cast<std::size_t>(count)
                            : (count > 0 ? left : 0);
  if (n > 0) {
    std::memcpy(buffer, std::span(self->data, self->size).subspan(self->pos).data(), n);
  }
  self->pos += n;
  *got = static_cast<int32_t>(n);
  return SCV_HOST_OK;
}

int32_t SCV_STDCALL QueryText(ConverterHost*, char* destination, int32_t) {
  *destination = 0;
  return 0;
}

int32_t SCV_STDCALL GetCodePage(ConverterHost* host) {
  return host->appData->codePage;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > (1u << 20)) {
    return 0;
  }
  TFuzzHost h;
  h.data = data;
  h.size = size;
  h.appData.fileHandle = 3;
  h.appData.codePage = SCV_CODEPAGE_UTF8;
  h.host.size = sizeof(ConverterHost);
  h.host.appData = &h.appData;
  h.host.HostGetSize = &GetSize;
  h.host.HostSeek = &Seek;
  h.host.HostRead = &Read;
  h.host.HostQueryText = &QueryText;
  h.host.HostGetCodePage = &GetCodePage;

  if (CreateConverter(&h.host) == 0) {
    char piece[97];
    std::size_t total = 0;
    for (;;) {
      int32_t count = 0;
      if (ReadConverter(&h.host, piece, sizeof piece, &count) != 0 || count <= 0) {
        break;
      }
      if (count > static_cast<int32_t>(sizeof piece)) {
        __builtin_trap(); // a piece larger than the buffer offered
      }
      total += static_cast<std::size_t>(count);
      if (total > 64 * size + 4096) {
        __builtin_trap(); // more text than the document could hold
      }
    }
  }
  CloseConverter(&h.host);
  return 0;
}
