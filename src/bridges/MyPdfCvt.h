// The PDF bridge: loads scvpdf and turns its text into the ConversionResult.
#pragma once

#include "cvtbase/KvCvtBase.h"

#include <cstdint>
#include <string>

namespace scv::bridges {

// Loads the library and looks up its export (program initialisation); nothing is reported.
void InitializePdfBridge();
// Releases the buffer and unloads the library (program finalisation).
void FinalizePdfBridge();

// Extractor entry for PDF with its seven further parameters.
std::int32_t PdfToText(const std::u16string& fileName, std::int32_t byteLimit,
                       TConversionResult& result, std::int32_t codePage, std::int32_t option5,
                       std::int32_t option6, std::int32_t layout, std::int32_t option8,
                       std::int32_t mode, const char* text10, const char* text11);

} // namespace scv::bridges
