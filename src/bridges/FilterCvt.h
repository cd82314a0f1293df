// The text-filter bridge: HTML, Windows help and RTF through converter libraries.
#pragma once

#include "cvtbase/KvCvtBase.h"

#include <cstdint>
#include <string>

namespace scv::bridges {

// Loads scvhlp, scvhtm and scvrtf (program initialisation) and unloads them at the end.
// scvhtm.ini in the current folder (after loading) and in the program's folder (at the end)
// is deleted only when it was not there before the HTML library was loaded: only a file the
// library made is removed, never a user's.
void InitializeFilterBridge();
// programDirectory ends in "/".
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
