// The HTML converter library as scvcmd loads it: a small front that opens the libxml2 back
// end (scvhtm_engine.so) on the first conversion, so runs that never see HTML do not pay for
// loading libxml2 and its dependencies.
#include <ScvConverter.h>
#include <ScvEngineLoader.h>

namespace {

struct TEngine {
  CreateConverterProc create = nullptr;
  ReadConverterProc read = nullptr;
  CloseConverterProc close = nullptr;
};

const TEngine& Engine() {
  static const TEngine engine = [] {
    const void* anchor = reinterpret_cast<const void*>(&Engine);
    TEngine e;
    e.create = reinterpret_cast<CreateConverterProc>(
        scv::plugins::LoadEngineSymbol(anchor, "scvhtm_engine.so", SCV_EXPORT_CREATE));
    e.read = reinterpret_cast<ReadConverterProc>(
        scv::plugins::LoadEngineSymbol(anchor, "scvhtm_engine.so", SCV_EXPORT_READ));
    e.close = reinterpret_cast<CloseConverterProc>(
        scv::plugins::LoadEngineSymbol(anchor, "scvhtm_engine.so", SCV_EXPORT_CLOSE));
    if (e.create == nullptr || e.read == nullptr || e.close == nullptr) {
      e = TEngine{};
    }
    return e;
  }();
  return engine;
}

constexpr int32_t kEngineMissing = 1;

} // namespace

extern "C" {

SCV_EXPORT int32_t SCV_STDCALL CreateConverter(ConverterHost* host) {
  try {
    const TEngine& e = Engine();
    return e.create != nullptr ? e.create(host) : kEngineMissing;
  } catch (...) {
    return kEngineMissing;
  }
}

SCV_EXPORT int32_t SCV_STDCALL ReadConverter(ConverterHost* host, char* buffer,
                                             int32_t capacity, int32_t* count) {
  try {
    const TEngine& e = Engine();
    if (e.read == nullptr) {
      if (count != nullptr) {
        *count = 0;
      }
      return kEngineMissing;
    }
    return e.read(host, buffer, capacity, count);
  } catch (...) {
    return kEngineMissing;
  }
}

SCV_EXPORT int32_t SCV_STDCALL CloseConverter(ConverterHost* host) {
  try {
    const TEngine& e = Engine();
    return e.close != nullptr ? e.close(host) : 0;
  } catch (...) {
    return 0;
  }
}

} // extern "C"
