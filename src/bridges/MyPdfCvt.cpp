// The PDF bridge: loads scvpdf and turns its text into the ConversionResult.
#include "bridges/MyPdfCvt.h"

#include "bridges/BridgeText.h"
#include "platform/DynamicLibrary.h"

#include <ScvConverter.h>
#include <limits>
#include <string>

namespace scv::bridges {
namespace {

// Module state: the library, its entry point and the text it has delivered so far. The
// buffer keeps its memory from one conversion to the next and is released at the end.
platform::TDynamicLibrary PdfLibrary;
FnPdfScvProc PdfEntry = nullptr;
std::string PdfText;
bool PdfSinkFailed = false;

// Receives the library's UTF-8 text in call order. It runs inside the library's code, so
// nothing may escape it: a failed allocation is remembered and turns the run into a failure
// rather than a silently shortened text.
void SCV_CDECL PdfTextSink(const char* data, std::int32_t count) noexcept {
  if (count <= 0 || data == nullptr || PdfSinkFailed) {
    return;
  }
  try {
    PdfText.append(data, static_cast<std::size_t>(count));
  } catch (...) {
    PdfSinkFailed = true;
  }
}

// Library argument 9 from the mode value.
std::int32_t ModeArgument(std::int32_t mode) {
  if (mode == 1) {
    return 3;
  }
  if (mode == 2) {
    return 1;
  }
  return 2;
}

// Calls the library and encodes what it delivered; the caller has checked the entry point.
std::int32_t RunPdfLibrary(const std::u16string& fileName, TConversionResult& result,
                           std::int32_t codePage, std::int32_t option5, std::int32_t option6,
                           std::int32_t layout, std::int32_t option8, std::int32_t mode,
                           const char* text10, const char* text11) {
  PdfText.clear();
  PdfSinkFailed = false;

  // The library wants the name zero-terminated and its length in bytes, terminator excluded.
  constexpr std::size_t kMaxNameUnits = std::numeric_limits<std::int32_t>::max() / 2;
  const std::size_t units = fileName.size() < kMaxNameUnits ? fileName.size() : kMaxNameUnits;
  const std::int32_t s1 = layout == 1 ? 1 : 0;
  const std::int32_t s2 = layout == 2 ? 1 : 0;
  const char* const kEmpty = "";
  const std::int32_t rc = PdfEntry(
      reinterpret_cast<const std::uint16_t*>(fileName.c_str()),
      static_cast<std::int32_t>(units * 2), &PdfTextSink, option5, option6, s1, option8, s2,
      ModeArgument(mode), text10 != nullptr ? text10 : kEmpty, text11 != nullptr ? text11 : kEmpty);
  if (rc == SCV_PDF_OPEN_ERROR) {
    return kResultOpenError;
  }
  if (rc == SCV_PDF_ENCRYPTED) {
    return kResultEncrypted;
  }
  if (rc != SCV_PDF_OK || PdfSinkFailed) {
    return kResultBadFormat;
  }
  if (PdfText.empty()) {
    return 0;
  }
  return AppendToResult(EncodeLibraryText(PdfText, codePage, true), result);
}

} // namespace

void InitializePdfBridge() {
  if (!PdfLibrary.Load("scvpdf.dll")) {
    return;
  }
  PdfEntry = reinterpret_cast<FnPdfScvProc>(PdfLibrary.Symbol(SCV_EXPORT_PDF));
}

void FinalizePdfBridge() {
  std::string().swap(PdfText);
  PdfEntry = nullptr;
  PdfLibrary.Unload();
}

std::int32_t PdfToText(const std::u16string& fileName, std::int32_t /*byteLimit*/,
                       TConversionResult& result, std::int32_t codePage, std::int32_t option5,
                       std::int32_t option6, std::int32_t layout, std::int32_t option8,
                       std::int32_t mode, const char* text10, const char* text11) {
  if (PdfEntry == nullptr) {
    return kResultLibraryMissing;
  }
  try {
    return RunPdfLibrary(fileName, result, codePage, option5, option6, layout, option8, mode,
                         text10, text11);
  } catch (...) {
    return kResultBadFormat; // out of memory while encoding the text
  }
}

} // namespace scv::bridges
