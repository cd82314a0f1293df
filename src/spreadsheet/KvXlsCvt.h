// Excel 97-2003 workbooks to tab-separated text.
#pragma once

#include <cstdint>
#include <string>

#include "frontend/KvCvtBase.h"

namespace scv::spreadsheet {

// Extractor entry for XLS.
std::int32_t ExtractSpreadsheet(const std::u16string& fileName, std::int32_t byteLimit,
                                TConversionResult& result, std::int32_t codePage);

} // namespace scv::spreadsheet
