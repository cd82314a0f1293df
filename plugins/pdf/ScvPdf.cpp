// The PDF text library as scvcmd loads it: a small front that opens the poppler back end
// (scvpdf_engine.so) on the first conversion, so runs that never see a PDF do not pay for it.
#include <ScvConverter.h>
#include <ScvEngineLoader.h>
#include <pthread.h>

namespace {

// Returned when the back end cannot be loaded: the file could not be read.
constexpr int32_t kEngineMissing = -2;

FnPdfScvProc EngineEntry = nullptr;
pthread_once_t EngineOnce = PTHREAD_ONCE_INIT;

void LoadEngine() {
  EngineEntry = reinterpret_cast<FnPdfScvProc>(scv::plugins::LoadEngineSymbol(
      reinterpret_cast<const void*>(&LoadEngine), "scvpdf_engine.so", SCV_EXPORT_PDF));
}

} // namespace

extern "C" SCV_EXPORT int32_t SCV_CDECL fnPdfScv(const uint16_t* fileName, int32_t fileNameBytes,
                                                 PdfTextSink sink, int32_t option4, int32_t option5,
                                                 int32_t s1, int32_t option7, int32_t s2,
                                                 int32_t mode9, const char* text10,
                                                 const char* text11) {
  pthread_once(&EngineOnce, &LoadEngine);
  if (EngineEntry == nullptr) {
    return kEngineMissing;
  }
  return EngineEntry(fileName, fileNameBytes, sink, option4, option5, s1, option7, s2, mode9,
                     text10, text11);
}
