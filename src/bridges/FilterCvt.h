// The text-filter bridge: HTML, Windows help and RTF through converter libraries.
#pragma once

#include "cvtbase/KvCvtBase.h"

#include <cstdint>
#include <string>

namespace scv::bridges {

// Loads scvhlp, scvhtm and scvrtf (program initialisation) and unloads them at the end.
void InitializeFilterBridge();
// programDirectory ends in "/"; scvhtm.ini is deleted there.
void FinalizeFilterBridge(const std::string& programDirectory);

std::int32_t HlpToText(const std::u16string& fileName, std::int32_t byteLimit,
                       TConversionResult& result, std::int32_t codePage);
std::int32_t HtmToText(const std::u16string& fileName, std::int32_t byteLimit,
                       TConversionResult& result, std::int32_t codePage);
std::int32_t RtfToText(const std::u16string& fileName, std::int32_t byteLimit,
                       TConversionResult& result, std::int32_t codePage);

// True when the file begins with the five bytes "{\rtf".
bool IsRtfFile(const std::u16string& fileName);

} // namespace scv::bridges
