// The PDF text library as scvcmd loads it: a small front that opens the poppler back end
// (scvpdf_engine.so) on the first conversion, so runs that never see a PDF do not pay for it.
#include <ScvConverter.h>
#include <ScvEngineLoader.h>

namespace {

// Returned when the back end cannot be loaded: the file could not be read.
constexpr int32_t kEngineMissing = -2;

FnPdfScvProc Engine() {
  static const FnPdfScvProc engine = reinterpret_cast<FnPdfScvProc>(
      scv::plugins::LoadEngineSymbol(reinterpret_cast<const void*>(&Engine),
                                     "scvpdf_engine.so", SCV_EXPORT_PDF));
  return engine;
}

} // namespace

extern "C" SCV_EXPORT int32_t SCV_CDECL fnPdfScv(const uint16_t* fileName,
                                                 int32_t fileNameBytes, PdfTextSink sink,
                                                 int32_t option4, int32_t option5, int32_t s1,
                                                 int32_t option7, int32_t s2, int32_t mode9,
                                                 const char* text10, const char* text11) {
  try {
    const FnPdfScvProc engine = Engine();
    if (engine == nullptr) {
      return kEngineMissing;
    }
    return engine(fileName, fileNameBytes, sink, option4, option5, s1, option7, s2, mode9,
                  text10, text11);
  } catch (...) {
    return kEngineMissing;
  }
}
