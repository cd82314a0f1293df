// The HTML converter library as scvcmd loads it: a small front that opens the libxml2 back
// end (scvhtm_engine.so) on the first conversion, so runs that never see HTML do not pay for
// loading libxml2 and its dependencies.
#include <ScvConverter.h>
#include <ScvEngineLoader.h>
#include <pthread.h>

namespace {

constexpr int32_t kEngineMissing = 1;

CreateConverterProc EngineCreate = nullptr;
ReadConverterProc EngineRead = nullptr;
CloseConverterProc EngineClose = nullptr;
pthread_once_t EngineOnce = PTHREAD_ONCE_INIT;

void LoadEngine() {
  const void* anchor = reinterpret_cast<const void*>(&LoadEngine);
  auto create = reinterpret_cast<CreateConverterProc>(
      scv::plugins::LoadEngineSymbol(anchor, "scvhtm_engine.so", SCV_EXPORT_CREATE));
  auto read = reinterpret_cast<ReadConverterProc>(
      scv::plugins::LoadEngineSymbol(anchor, "scvhtm_engine.so", SCV_EXPORT_READ));
  auto close = reinterpret_cast<CloseConverterProc>(
      scv::plugins::LoadEngineSymbol(anchor, "scvhtm_engine.so", SCV_EXPORT_CLOSE));
  if (create != nullptr && read != nullptr && close != nullptr) {
    EngineCreate = create;
    EngineRead = read;
    EngineClose = close;
  }
}

} // namespace

extern "C" {

SCV_EXPORT int32_t SCV_STDCALL CreateConverter(ConverterHost* host) {
  pthread_once(&EngineOnce, &LoadEngine);
  return EngineCreate != nullptr ? EngineCreate(host) : kEngineMissing;
}

SCV_EXPORT int32_t SCV_STDCALL ReadConverter(ConverterHost* host, char* buffer, int32_t capacity,
                                             int32_t* count) {
  pthread_once(&EngineOnce, &LoadEngine);
  if (EngineRead == nullptr) {
    if (count != nullptr) {
      *count = 0;
    }
    return kEngineMissing;
  }
  return EngineRead(host, buffer, capacity, count);
}

SCV_EXPORT int32_t SCV_STDCALL CloseConverter(ConverterHost* host) {
  pthread_once(&EngineOnce, &LoadEngine);
  return EngineClose != nullptr ? EngineClose(host) : 0;
}

} // extern "C"
