// Office Open XML packages (docx, xlsx, pptx) to text.
#pragma once

#include <cstdint>
#include <string>

#include "frontend/KvCvtBase.h"

namespace scv::ooxml {

std::int32_t DocxToText(const std::u16string& fileName, std::int32_t byteLimit,
                        TConversionResult& result, std::int32_t codePage);
std::int32_t XlsxToText(const std::u16string& fileName, std::int32_t byteLimit,
                        TConversionResult& result, std::int32_t codePage);
std::int32_t PptxToText(const std::u16string& fileName, std::int32_t byteLimit,
                        TConversionResult& result, std::int32_t codePage);

// Module-wide objects: created before the program body, released after it.
void InitializeOfficeX();
void FinalizeOfficeX();

} // namespace scv::ooxml
