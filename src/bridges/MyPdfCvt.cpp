// The PDF bridge: loads scvpdf and turns its text into the ConversionResult.
#include "bridges/MyPdfCvt.h"

namespace scv::bridges {

void InitializePdfBridge() {}
void FinalizePdfBridge() {}

std::int32_t PdfToText(const std::u16string&, std::int32_t, TConversionResult&, std::int32_t,
                       std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                       const char*, const char*) {
  return kResultLibraryMissing; // not built yet
}

} // namespace scv::bridges
