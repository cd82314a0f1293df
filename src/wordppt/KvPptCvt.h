// PowerPoint 97-2003 binary presentations to text.
#pragma once

#include <cstdint>
#include <string>

#include "frontend/KvCvtBase.h"

namespace scv::wordppt {

// Extractor entry for PPT.
std::int32_t PptToText(const std::u16string& fileName, std::int32_t byteLimit,
                       TConversionResult& result, std::int32_t codePage);

} // namespace scv::wordppt
